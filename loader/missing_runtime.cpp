#include "loader/missing_runtime.h"

#include "loader/messages.h"
#include "loader/startup.h"
#include "packed/packed_blob.h"
#include "ui/missing_runtime_dialog.h"

void showMissingRuntimeDialog(LoaderState& state)
{
    const PublicationSettings& settings = state.settings;
    Application* application = createApplication(state.title.c_str());
    MissingRuntimeDialog* dialog = buildMissingRuntimeDialog(application);
    state.missingRuntimeDialog = dialog;
    setDialogCaptions(dialog, state.title.c_str(), settings.line(lineFirstButton).c_str(),
                      settings.line(lineSecondButton).c_str());

    MemoryStream* packed = MemoryStream::create();
    MemoryStream* text = MemoryStream::create();
    if (packed) copyResource("INFO", *packed);
    if (!packed || !text || unpackBlob(*packed, *text) != 0) {
        showFailureMessage(messageInfoDamaged, state.title.c_str());
        exitAfterFailure(state);
    }
    loadDialogText(dialog, *text);
    packed->release();
    text->release();

    if (state.splashWindow) destroyWindow(state.splashWindow);
    state.splashWindow = nullptr;

    int result = runDialogModal(dialog);
    releaseDialog(dialog);
    state.missingRuntimeDialog = nullptr;
    if (result == dialogResultDownload) shellOpen(settings.line(lineDownloadPage).c_str(), showNormal);
}
