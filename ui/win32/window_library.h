// The loader's own small window layer on plain Win32: a hidden application
// window that owns forms, forms with a modal run and keyboard navigation,
// push buttons and a rich-text area with link detection.
//
// A form owns its controls, their fonts and one object of its user: the form
// is released with releaseForm(), which destroys its window and frees all of
// them. Controls are kept in creation order, which is also the Tab order.
// Every function accepts null for the form or control and then does nothing
// (or returns a neutral value), so that a window that could not be made
// never turns into a crash.
#pragma once
#include <windows.h>

#include "packed/byte_stream.h"

struct Form;
struct Control;

using ClickHandler = void (*)(void* context);
using LinkHandler = void (*)(void* context, const char* linkText);
using OwnedObjectRelease = void (*)(void* object);

// The form's default style and extended style: WS_OVERLAPPEDWINDOW with
// WS_VISIBLE, WS_CLIPSIBLINGS and WS_CLIPCHILDREN; WS_EX_CONTROLPARENT.
// A form is always created hidden: WS_VISIBLE is set by its modal run.
constexpr DWORD formDefaultStyle = 0x16CF0000;
constexpr DWORD formDefaultExStyle = WS_EX_CONTROLPARENT;

// ---- application -----------------------------------------------------------

// A top-level window with this caption that is never shown; it owns the
// forms so that they stay above it and out of the taskbar. Null on failure.
HWND createApplicationWindow(const char* caption);

// ---- forms -------------------------------------------------------------------

// Makes a hidden top-level form owned by `owner` (may be null) whose client
// area is clientWidth x clientHeight with the given style and extended style.
// The form gets the program's "MAINICON" as its big icon. Null on failure.
Form* createForm(HWND owner, const char* caption, int clientWidth, int clientHeight, DWORD style,
                 DWORD exStyle);
HWND formWindow(Form* form);
// The object released together with the form (after its controls).
void setFormOwnedObject(Form* form, void* object, OwnedObjectRelease release);
// Tab / Shift+Tab move the focus between the form's controls in creation
// order, Alt with an access key presses the button that has it, and the
// focus returns to the last focused control when the form is activated.
void enableKeyboardNavigation(Form* form);
// Moves the form to the middle of the primary screen (its full size).
void centreForm(Form* form);
// Keeps the present outer size: the frame stays, but neither its edges nor
// the system menu's Size command can change it.
void fixFormSize(Form* form);
// Takes the big icon off the form and destroys it.
void removeFormBigIcon(Form* form);

// Disables the thread's other enabled top-level windows, shows the form in
// the foreground and processes messages until its modal result is not 0 or
// the thread's queue gives WM_QUIT (not dispatched); then enables those
// windows again and returns the modal result (0 after WM_QUIT). A close
// request sets the result to -1 while it is 0 and never destroys the form;
// the end of the Windows session ends the process with exit code 0.
int runFormModal(Form* form);
void setModalResult(Form* form, int result);

// Destroys the form's window and frees its controls, their fonts, the owned
// object and the form itself.
void releaseForm(Form* form);

// ---- controls ------------------------------------------------------------------

HWND controlWindow(Control* control);
// SetWindowTextA; null reads as the empty text.
void setWindowCaption(HWND window, const char* text);

// A push button in the form's client area, with WS_TABSTOP and BS_PUSHLIKE;
// neither default nor cancel button. Null when it cannot be made.
Control* createButton(Form* form, const char* caption, int x, int y, int width, int height);
// A font of this face, LOGFONT height and character set (every other field
// 0), owned by the control from now on.
void setControlFont(Control* control, const char* face, int height, BYTE charSet);
// Called on BN_CLICKED.
void setClickHandler(Control* control, ClickHandler handler, void* context);

enum RichTextOption : unsigned {
    richTextReadOnly = 1,
    richTextMultiLine = 2,
    richTextWantReturn = 4,
    richTextNoHorizontalScroll = 8,  // lines wrap at the control's width
    richTextNoVerticalScroll = 16,
};

// A rich-edit control with a client edge in place of a border. OLE is
// initialised and the rich-edit library is loaded from the System32 folder
// on first use (RICHED20.DLL, else the version-1 RICHED32.DLL or RICHED.DLL).
// Null when no library or window can be had.
Control* createRichText(Form* form, unsigned options, int x, int y, int width, int height);
void setRichTextBackground(Control* control, COLORREF colour);
// Character format of all text, and the default of text loaded later where
// the document does not set its own: face, colour, character set, no bold,
// italic, underline or strike-out; `height` is in LOGFONT terms (negative:
// character height in pixels) and becomes twips at the screen's resolution.
void setRichTextCharFormat(Control* control, const char* face, int height, COLORREF colour,
                           BYTE charSet);
void setRichTextLinkDetection(Control* control, bool on);
// Called when the left or right mouse button goes down on a link, with the
// link's text; a link too long to be read whole is not reported.
void setLinkHandler(Control* control, LinkHandler handler, void* context);
// Replaces the whole content with the RTF read from the stream's current
// position to its end. The outcome is not examined.
void loadRichText(Control* control, ByteStream& rtf);
