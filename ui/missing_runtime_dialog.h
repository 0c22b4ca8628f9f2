// The missing-runtime dialog: a fixed-size form with the publication's
// rich-text explanation, live links, and two buttons. Built on the small
// window layer of ui/win32 (application window, form, button, rich text).
#pragma once
#include "packed/byte_stream.h"

struct Application;          // the hidden window that owns the form
struct MissingRuntimeDialog; // form, infoView, firstButton, secondButton

// modalResult values of the dialog.
constexpr int dialogResultDownload = 1;  // firstButton
constexpr int dialogResultClose = -1;    // secondButton or a close request
constexpr int dialogResultQuit = 0;      // the thread received WM_QUIT

// The window library's application object with the given caption; its window
// is created hidden and never shown.
Application* createApplication(const char* caption);

// Makes the dialog with all its windows, hidden, owned by `owner`: form
// 477 x 354 client, caption "*", no minimize/maximize box, modal frame,
// centred, fixed size, no icon; two "Tahoma" push buttons captioned "*";
// a read-only "RichEdit20A" text area with link detection whose links open
// with the shell on a left or right button press.
MissingRuntimeDialog* buildMissingRuntimeDialog(Application* owner);

// Sets the captions of the form and of both buttons, each text unchanged.
void setDialogCaptions(MissingRuntimeDialog* dialog, const char* title, const char* firstCaption,
                       const char* secondCaption);

// Loads the text area from the stream's current position to its end as RTF,
// replacing the whole content. The outcome is not examined.
void loadDialogText(MissingRuntimeDialog* dialog, ByteStream& rtf);

// Shows the form and runs it modally; returns its modalResult.
int runDialogModal(MissingRuntimeDialog* dialog);

// Releases the form, and with it the dialog object and its controls.
void releaseDialog(MissingRuntimeDialog* dialog);

// What a click on a link does: the shell opens it with SW_SHOW. A link longer
// than 1023 characters would arrive cut short, so it is not opened at all.
constexpr unsigned maxLinkLength = 1023;
void onLinkClicked(const char* linkText);
