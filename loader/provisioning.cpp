#include "loader/provisioning.h"

#include "loader/command_line.h"
#include "loader/discovery.h"
#include "loader/messages.h"
#include "loader/process.h"
#include "loader/registry_read.h"
#include "loader/startup.h"
#include "packed/packed_blob.h"

Text temporaryFolder()
{
    Text folder = tempPath();
    if (!folder.empty() && folder[folder.length() - 1] != '\\') folder.append('\\');
    return folder;
}

namespace {

// The runtime did not unpack. The runtime stream stays open until the
// process ends, and the runtime file stays (empty when this run made it).
[[noreturn]] void failRuntimeUnpack(LoaderState& state, ByteStream* packedStream)
{
    showFailureMessage(messageRuntimeNotPrepared, state.title.c_str());
    if (packedStream) packedStream->release();
    deleteFile(state.packedRuntimePath.c_str());
    exitAfterFailure(state);
}

// Unpacks "INST" over the packed temporary file and runs it with the runtime
// path. A failed unpack shows message 5 and ends the run, leaving the runtime
// file and the empty installer file behind.
void runInstaller(LoaderState& state)
{
    ByteStream* installerStream = openWriteOnlyFileStream(state.packedRuntimePath.c_str());
    MemoryStream* installerSource = MemoryStream::create();
    if (installerSource) copyResource("INST", *installerSource);
    if (!installerStream || !installerSource || unpackBlob(*installerSource, *installerStream) != 0) {
        showFailureMessage(messageRuntimeNotInstalled, state.title.c_str());
        exitAfterFailure(state);
    }
    installerStream->release();
    installerSource->release();

    runProcess(state.packedRuntimePath, state.runtimePath, folderOf(commandLineParameter(0)), showNormal,
               infiniteWait, false);
}

}  // namespace

void provisionRuntime(LoaderState& state)
{
    // Without a temporary file name there is nothing to unpack into; nothing
    // has been written yet, so the run ends here leaving nothing behind.
    Text folder = temporaryFolder();
    if (folder.empty() || !tempFileName(folder.c_str(), "koview", 0, &state.packedRuntimePath)) {
        showFailureMessage(messageRuntimeNotPrepared, state.title.c_str());
        exitAfterFailure(state);
    }
    state.runtimePath = folder;
    state.runtimePath.append(state.settings.line(lineRuntimeFileName));

    if (fileExists(state.runtimePath.c_str())) deleteFile(state.runtimePath.c_str());
    ByteStream* runtimeStream = openWriteOnlyFileStream(state.runtimePath.c_str());
    ByteStream* packedStream = openReadWriteFileStream(state.packedRuntimePath.c_str());
    if (packedStream) copyResource("RUN", *packedStream);
    if (!runtimeStream || !packedStream || unpackBlob(*packedStream, *runtimeStream) != 0)
        failRuntimeUnpack(state, packedStream);
    packedStream->release();
    deleteFile(state.packedRuntimePath.c_str());
    runtimeStream->release();

    if (!state.runtimeTemporary) runInstaller(state);

    if (fileExists(state.runtimePath.c_str())) {
        state.viewerPath = state.runtimePath;
        state.runtimeAvailable = true;
        state.runtimeTemporary = true;
    } else {
        readRegisteredRuntimePath(state);
        state.runtimeTemporary = false;
    }
    deleteFile(state.packedRuntimePath.c_str());
}
