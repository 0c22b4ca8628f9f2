// The one record of a loader run. Every text starts empty, every flag false
// and every handle null; the start-up sequence owns it from the first step
// to the end of the process.
#pragma once
#include "loader/settings.h"
#include "platform/platform.h"

struct MissingRuntimeDialog;

struct LoaderState {
    // The unpacked settings lines; live from their unpacking until just
    // before the viewer launch.
    PublicationSettings settings;
    // Settings line 1; caption of messages 4 to 6 and of the missing-runtime dialog.
    Text title;
    // Settings line 3: decimal version the publication needs, and the name of
    // the registry value that marks a runtime of another version as compatible.
    Text requiredVersion;
    // Settings line 2: the runtime's subkey under SOFTWARE\KOViewer\.
    Text runtimeKeyName;
    // Temporary file that receives the packed runtime, later the unpacked installer.
    Text packedRuntimePath;
    // Temporary folder + settings line 9: the unpacked runtime module.
    Text runtimePath;
    // Arguments passed to the viewer: ` -p "<loader path>"` and the user's arguments.
    Text viewerCommandLine;
    // The runtime's registry key, open only while one lookup runs.
    RegistryKey registryKey = nullptr;
    // A usable runtime module is known and viewerPath names it.
    bool runtimeAvailable = false;
    // The runtime to launch is a temporary copy: wait for the viewer, then delete it.
    bool runtimeTemporary = false;
    // The publication carries the runtime module as resource "RUN".
    bool runtimeEmbedded = false;
    // Path of the runtime module that will be launched.
    Text viewerPath;
    // The missing-runtime dialog while it is built and shown.
    MissingRuntimeDialog* missingRuntimeDialog = nullptr;
    // The splash window, null when none is shown.
    WindowHandle splashWindow = nullptr;
};
