#include "loader/startup.h"

#include "loader/discovery.h"
#include "loader/launch.h"
#include "loader/messages.h"
#include "loader/missing_runtime.h"
#include "loader/provisioning.h"
#include "packed/packed_blob.h"
#include "ui/splash.h"

namespace {

constexpr const char* signatureLine = "Korvel Loader";

void releaseRun(LoaderState& state)
{
    state.settings.release();
    state.title.clear();
    state.requiredVersion.clear();
    state.runtimeKeyName.clear();
    state.packedRuntimePath.clear();
    state.runtimePath.clear();
    state.viewerCommandLine.clear();
    state.viewerPath.clear();
    splashText.clear();
}

[[noreturn]] void failStartup(LoaderState& state, const char* message)
{
    showFailureMessage(message, productCaption);
    exitAfterFailure(state);
}

// Copies "GEN" and unpacks it into state.settings; a failure ends the run
// with message 1 (no bytes) or 2 (the bytes do not unpack).
void loadSettings(LoaderState& state)
{
    MemoryStream* packed = MemoryStream::create();
    if (packed) copyResource("GEN", *packed);
    if (!packed || packed->size() == 0) failStartup(state, messageNotAPublication);

    MemoryStream* unpacked = MemoryStream::create();
    if (!unpacked || unpackBlob(*packed, *unpacked) != 0) failStartup(state, messageSettingsDamaged);

    state.settings.build(unpacked->data(), unpacked->size());
    packed->release();
    unpacked->release();
}

}  // namespace

void showFailureMessage(const char* text, const char* caption)
{
    showMessageBox(text, caption, failureMessageStyle);
}

void exitAfterFailure(LoaderState& state)
{
    if (state.splashWindow) destroyWindow(state.splashWindow);
    state.splashWindow = nullptr;
    exitNormally(state);
}

void exitNormally(LoaderState& state)
{
    releaseRun(state);
    exitProcess();
}

void runLoader(LoaderState& state)
{
    startPlatform();
    state.splashWindow = nullptr;
    initCommonControls();

    loadSettings(state);
    const PublicationSettings& settings = state.settings;
    if (settings.line(lineSignature) != signatureLine) failStartup(state, messageNotCompiled);

    state.title = settings.line(lineTitle);
    if (settings.line(lineSplashText) != "*") {
        splashText = settings.line(lineSplashText);
        state.splashWindow = showSplash();
    }

    state.runtimeKeyName = settings.line(lineRuntimeKeyName);
    state.requiredVersion = settings.line(lineRequiredVersion);
    state.runtimeTemporary = settings.line(lineTemporaryRuntime) == "1";
    state.runtimeEmbedded = settings.line(lineEmbeddedRuntime) == "1";

    discoverInstalledRuntime(state);
    if (!state.runtimeAvailable && state.runtimeEmbedded) provisionRuntime(state);
    if (!state.runtimeAvailable) showMissingRuntimeDialog(state);

    state.settings.release();
    if (state.runtimeAvailable) launchViewer(state);

    exitNormally(state);
}
