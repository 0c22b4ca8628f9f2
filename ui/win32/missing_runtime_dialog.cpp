// Placeholder so that loader.exe links while the window layer is written:
// it makes no windows yet and every run ends as if the dialog was closed.
#include <windows.h>

#include "ui/missing_runtime_dialog.h"

struct Application {
    HWND window;
};

struct MissingRuntimeDialog {
    HWND form;
};

Application* createApplication(const char*) { return new Application{nullptr}; }

MissingRuntimeDialog* buildMissingRuntimeDialog(Application*) { return new MissingRuntimeDialog{nullptr}; }

void setDialogCaptions(MissingRuntimeDialog*, const char*, const char*, const char*) {}

void loadDialogText(MissingRuntimeDialog*, ByteStream&) {}

int runDialogModal(MissingRuntimeDialog*) { return dialogResultClose; }

void releaseDialog(MissingRuntimeDialog* dialog) { delete dialog; }

void onLinkClicked(const char* linkText)
{
    ShellExecuteA(nullptr, "open", linkText, "", "", SW_SHOW);
}
