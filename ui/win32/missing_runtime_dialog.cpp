#include "ui/missing_runtime_dialog.h"

#include <windows.h>

#include <new>

#include "ui/win32/window_library.h"
#include "ui/win32/window_rules.h"

static_assert(maxLinkLength == maxLinkTextLength, "the dialog and its text area bound links alike");

struct Application {
    HWND window;  // hidden, never shown; owns the form
};

// Owned by its form: released with it.
struct MissingRuntimeDialog {
    Form* form;
    Control* infoView;
    Control* firstButton;
    Control* secondButton;
};

namespace {

constexpr int formClientWidth = 477;
constexpr int formClientHeight = 354;

void firstButtonClicked(void* dialog)
{
    setModalResult(static_cast<MissingRuntimeDialog*>(dialog)->form, dialogResultDownload);
}

void secondButtonClicked(void* dialog)
{
    setModalResult(static_cast<MissingRuntimeDialog*>(dialog)->form, dialogResultClose);
}

void linkClicked(void*, const char* linkText) { onLinkClicked(linkText); }

void releaseDialogObject(void* dialog) { delete static_cast<MissingRuntimeDialog*>(dialog); }

Control* makeButton(Form* form, int x, ClickHandler handler, MissingRuntimeDialog* dialog)
{
    Control* button = createButton(form, "*", x, 320, 81, 25);
    setControlFont(button, "Tahoma", -11, ANSI_CHARSET);
    setClickHandler(button, handler, dialog);
    return button;
}

}  // namespace

Application* createApplication(const char* caption)
{
    Application* application = new (std::nothrow) Application;
    if (application) application->window = createApplicationWindow(caption);
    return application;
}

MissingRuntimeDialog* buildMissingRuntimeDialog(Application* owner)
{
    MissingRuntimeDialog* dialog = new (std::nothrow) MissingRuntimeDialog();
    if (!dialog) return nullptr;
    // No minimize or maximize box; a modal frame, which also keeps the
    // caption free of an icon.
    Form* form = createForm(owner ? owner->window : nullptr, "*", formClientWidth, formClientHeight,
                            formDefaultStyle & ~(WS_MINIMIZEBOX | WS_MAXIMIZEBOX),
                            formDefaultExStyle | WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE);
    if (!form) {
        delete dialog;
        return nullptr;
    }
    dialog->form = form;
    setFormOwnedObject(form, dialog, releaseDialogObject);
    enableKeyboardNavigation(form);

    // Creation order is the Tab order: firstButton, secondButton, infoView.
    dialog->firstButton = makeButton(form, 296, firstButtonClicked, dialog);
    dialog->secondButton = makeButton(form, 384, secondButtonClicked, dialog);

    Control* view = createRichText(form, richTextReadOnly | richTextMultiLine | richTextWantReturn |
                                             richTextNoHorizontalScroll,
                                   8, 8, 457, 305);
    dialog->infoView = view;
    setRichTextBackground(view, GetSysColor(COLOR_WINDOW));
    setRichTextCharFormat(view, "Tahoma", -13, RGB(0, 0, 0), ANSI_CHARSET);
    setRichTextLinkDetection(view, true);
    setLinkHandler(view, linkClicked, dialog);

    centreForm(form);
    fixFormSize(form);
    removeFormBigIcon(form);
    return dialog;
}

void setDialogCaptions(MissingRuntimeDialog* dialog, const char* title, const char* firstCaption,
                       const char* secondCaption)
{
    if (!dialog) return;
    setWindowCaption(formWindow(dialog->form), title);
    setWindowCaption(controlWindow(dialog->firstButton), firstCaption);
    setWindowCaption(controlWindow(dialog->secondButton), secondCaption);
}

void loadDialogText(MissingRuntimeDialog* dialog, ByteStream& rtf)
{
    if (dialog) loadRichText(dialog->infoView, rtf);
}

int runDialogModal(MissingRuntimeDialog* dialog)
{
    return dialog ? runFormModal(dialog->form) : dialogResultQuit;
}

void releaseDialog(MissingRuntimeDialog* dialog)
{
    if (dialog) releaseForm(dialog->form);  // frees the dialog object too
}

void onLinkClicked(const char* linkText)
{
    ShellExecuteA(nullptr, "open", linkText, "", "", SW_SHOW);
}
