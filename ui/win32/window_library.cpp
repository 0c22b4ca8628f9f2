#include "ui/win32/window_library.h"

#include <ole2.h>
#include <richedit.h>
#include <stdlib.h>

#include <new>

#include "ui/win32/window_rules.h"

constexpr int maxFormControls = 8;
constexpr int firstControlId = 100;

struct Control {
    Form* form;
    HWND window;
    HFONT font;  // owned; deleted with the form
    bool isButton;
    ClickHandler onClick;
    LinkHandler onLink;
    void* context;
};

struct Form {
    HWND window;
    bool created;          // CreateWindowExA has returned: the window frees the form from now on
    int modalResult;
    bool inModalRun;
    bool keyboardNavigation;
    bool fixedSize;
    SIZE fixedOuterSize;
    HICON bigIcon;         // the icon this layer set, until removed or destroyed
    int currentControl;    // where the focus goes when the form is activated; -1 none yet
    int controlCount;
    Control controls[maxFormControls];
    void* ownedObject;
    OwnedObjectRelease releaseOwned;
};

namespace {

const char applicationClassName[] = "KorvelApplication";
const char formClassName[] = "KorvelForm";

HINSTANCE moduleInstance() { return GetModuleHandleA(nullptr); }

const char* orEmpty(const char* text) { return text ? text : ""; }

Form* formOf(HWND window) { return reinterpret_cast<Form*>(GetWindowLongPtrA(window, GWLP_USERDATA)); }

Control* controlOf(Form* form, HWND window)
{
    for (int i = 0; i < form->controlCount; ++i)
        if (form->controls[i].window && form->controls[i].window == window) return &form->controls[i];
    return nullptr;
}

// The control that holds `window`, the control itself or one of its children; -1 for none.
int controlIndexHolding(Form* form, HWND window)
{
    if (!window) return -1;
    for (int i = 0; i < form->controlCount; ++i) {
        HWND control = form->controls[i].window;
        if (control && (control == window || IsChild(control, window))) return i;
    }
    return -1;
}

bool takesTabStop(HWND window)
{
    return window && (GetWindowLongA(window, GWL_STYLE) & WS_TABSTOP) && IsWindowVisible(window) &&
           IsWindowEnabled(window);
}

int firstTabStop(Form* form)
{
    for (int i = 0; i < form->controlCount; ++i)
        if (takesTabStop(form->controls[i].window)) return i;
    return -1;
}

void focusCurrentControl(Form* form)
{
    if (form->currentControl < 0) form->currentControl = firstTabStop(form);
    if (form->currentControl >= 0) SetFocus(form->controls[form->currentControl].window);
}

// Tab and Shift+Tab: the next or previous control that takes the tab stop,
// wrapping around at either end.
void moveFocus(Form* form, int step)
{
    int from = controlIndexHolding(form, GetFocus());
    if (from < 0) from = form->currentControl;
    int count = form->controlCount;
    if (count == 0) return;
    int index = from < 0 ? (step > 0 ? count - 1 : 0) : from;
    for (int tried = 0; tried < count; ++tried) {
        index = (index + step + count) % count;
        if (takesTabStop(form->controls[index].window)) {
            form->currentControl = index;
            SetFocus(form->controls[index].window);
            // Moving with the keyboard shows where the focus is, as dialog boxes do.
            SendMessageA(form->window, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
            return;
        }
    }
}

// The character after the first single '&' of a caption ("&&" is a literal
// ampersand), 0 when there is none.
char accessKeyOf(const char* caption)
{
    for (const char* p = caption; *p; ++p) {
        if (*p != '&') continue;
        if (p[1] != '&') return p[1];
        ++p;
    }
    return 0;
}

char upperCase(char c)
{
    return static_cast<char>(reinterpret_cast<UINT_PTR>(
        CharUpperA(reinterpret_cast<LPSTR>(static_cast<UINT_PTR>(static_cast<unsigned char>(c))))));
}

// Alt with a key: presses the enabled button whose access key it is.
bool pressAccessKey(Form* form, char key)
{
    if (!key) return false;
    char wanted = upperCase(key);
    for (int i = 0; i < form->controlCount; ++i) {
        Control& control = form->controls[i];
        if (!control.isButton || !IsWindowVisible(control.window) || !IsWindowEnabled(control.window))
            continue;
        char caption[256];
        GetWindowTextA(control.window, caption, sizeof caption);
        char access = accessKeyOf(caption);
        if (access && upperCase(access) == wanted) {
            form->currentControl = i;
            SendMessageA(control.window, BM_CLICK, 0, 0);
            return true;
        }
    }
    return false;
}

// Keyboard navigation inside the modal run, before a message is dispatched;
// true when the message has been used up.
bool handleNavigationKey(Form* form, const MSG& message)
{
    if (!form->keyboardNavigation) return false;
    if (message.hwnd != form->window && !IsChild(form->window, message.hwnd)) return false;
    if (message.message == WM_KEYDOWN && message.wParam == VK_TAB && GetKeyState(VK_CONTROL) >= 0 &&
        GetKeyState(VK_MENU) >= 0) {
        moveFocus(form, GetKeyState(VK_SHIFT) < 0 ? -1 : 1);
        return true;
    }
    if (message.message == WM_SYSCHAR) return pressAccessKey(form, static_cast<char>(message.wParam));
    return false;
}

void handleLinkNotification(Control* control, const ENLINK& link)
{
    if (link.msg != WM_LBUTTONDOWN && link.msg != WM_RBUTTONDOWN) return;
    if (!linkRangeOpenable(link.chrg.cpMin, link.chrg.cpMax)) return;
    char text[linkTextBufferSize];
    text[0] = 0;
    TEXTRANGEA range;
    range.chrg = link.chrg;
    range.lpstrText = text;
    SendMessageA(control->window, EM_GETTEXTRANGE, 0, reinterpret_cast<LPARAM>(&range));
    text[sizeof text - 1] = 0;
    control->onLink(control->context, text);
}

// A result set from a message sent by another thread is handled inside
// GetMessageA, which then goes on waiting: a posted message wakes the modal
// run so that it sees the result.
void setResult(Form* form, int result)
{
    form->modalResult = result;
    if (form->inModalRun && result != 0) PostMessageA(form->window, WM_NULL, 0, 0);
}

void freeForm(Form* form)
{
    for (int i = 0; i < form->controlCount; ++i)
        if (form->controls[i].font) DeleteObject(form->controls[i].font);
    if (form->bigIcon) DestroyIcon(form->bigIcon);
    if (form->releaseOwned) form->releaseOwned(form->ownedObject);
    free(form);
}

LRESULT CALLBACK formProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    Form* form = formOf(window);
    if (message == WM_NCCREATE) {
        form = static_cast<Form*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        form->window = window;
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    if (!form) return DefWindowProcA(window, message, wParam, lParam);

    switch (message) {
    case WM_COMMAND:
        if (lParam && HIWORD(wParam) == BN_CLICKED) {
            Control* control = controlOf(form, reinterpret_cast<HWND>(lParam));
            if (control && control->onClick) control->onClick(control->context);
        }
        return 0;
    case WM_NOTIFY: {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        Control* control = controlOf(form, header->hwndFrom);
        if (control && control->onLink && header->code == EN_LINK)
            handleLinkNotification(control, *reinterpret_cast<const ENLINK*>(lParam));
        return 0;  // the control goes on with its own handling of the press
    }
    case WM_CLOSE:
        if (form->modalResult == 0) setResult(form, -1);
        return 0;
    case WM_ENDSESSION:
        if (wParam) ExitProcess(0);
        return 0;
    case WM_ACTIVATE:
        if (!form->keyboardNavigation) break;
        if (LOWORD(wParam) == WA_INACTIVE) {
            int focused = controlIndexHolding(form, GetFocus());
            if (focused >= 0) form->currentControl = focused;
        } else if (!HIWORD(wParam)) {
            focusCurrentControl(form);
        }
        return 0;
    case WM_SETFOCUS:
        if (!form->keyboardNavigation) break;
        focusCurrentControl(form);
        return 0;
    case WM_GETMINMAXINFO:
        if (form->fixedSize) {
            MINMAXINFO* limits = reinterpret_cast<MINMAXINFO*>(lParam);
            POINT size = {form->fixedOuterSize.cx, form->fixedOuterSize.cy};
            limits->ptMinTrackSize = size;
            limits->ptMaxTrackSize = size;
            limits->ptMaxSize = size;
            return 0;
        }
        break;
    case WM_NCHITTEST:
        if (form->fixedSize) {
            LRESULT hit = DefWindowProcA(window, message, wParam, lParam);
            // The sizing frame stays drawn, but its edges and corners are plain border.
            if (hit >= HTLEFT && hit <= HTBOTTOMRIGHT) hit = HTBORDER;
            return hit;
        }
        break;
    case WM_NCDESTROY:
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        form->window = nullptr;
        if (form->created) freeForm(form);  // else createForm frees it
        return DefWindowProcA(window, message, wParam, lParam);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool registerClass(const char* name, WNDPROC procedure, HBRUSH background)
{
    WNDCLASSA windowClass;
    ZeroMemory(&windowClass, sizeof windowClass);
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = moduleInstance();
    windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    windowClass.hbrBackground = background;
    windowClass.lpszClassName = name;
    return RegisterClassA(&windowClass) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

Control* addControl(Form* form, const char* className, const char* caption, DWORD style, DWORD exStyle,
                    int x, int y, int width, int height)
{
    if (!form || !form->window || form->controlCount >= maxFormControls) return nullptr;
    int index = form->controlCount;
    HWND window = CreateWindowExA(exStyle, className, orEmpty(caption), style, x, y, width, height,
                                  form->window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(firstControlId + index)),
                                  moduleInstance(), nullptr);
    if (!window) return nullptr;
    Control& control = form->controls[index];
    ZeroMemory(&control, sizeof control);
    control.form = form;
    control.window = window;
    form->controlCount = index + 1;
    return &control;
}

// The class of the rich-edit library loaded from System32, null when none
// could be loaded. Tried once per process; the library stays loaded.
const char* richEditClass()
{
    static bool tried;
    static const char* loadedClass;
    if (tried) return loadedClass;
    tried = true;
    OleInitialize(nullptr);

    static const struct {
        const char* file;
        const char* className;
    } libraries[] = {
        {"RICHED20.DLL", "RichEdit20A"},
        {"RICHED32.DLL", "RichEdit"},
        {"RICHED.DLL", "RichEdit"},
    };
    char path[MAX_PATH + 16];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    if (path[length - 1] != '\\') path[length++] = '\\';
    for (const auto& library : libraries) {
        lstrcpyA(path + length, library.file);  // 12 characters at most: fits the 16 spare
        if (LoadLibraryA(path)) return loadedClass = library.className;
    }
    return nullptr;
}

DWORD CALLBACK readRichTextStream(DWORD_PTR cookie, LPBYTE buffer, LONG wanted, LONG* got)
{
    ByteStream* stream = reinterpret_cast<ByteStream*>(cookie);
    *got = wanted > 0 ? static_cast<LONG>(stream->read(buffer, static_cast<uint32_t>(wanted))) : 0;
    return 0;
}

struct DisabledWindows {
    HWND except;
    HWND* windows;
    int count;
    int capacity;
};

BOOL CALLBACK disableWindow(HWND window, LPARAM parameter)
{
    DisabledWindows& list = *reinterpret_cast<DisabledWindows*>(parameter);
    if (window == list.except || !IsWindowEnabled(window)) return TRUE;
    if (list.count == list.capacity) {
        int capacity = list.capacity ? list.capacity * 2 : 8;
        HWND* grown = static_cast<HWND*>(realloc(list.windows, capacity * sizeof(HWND)));
        if (!grown) return TRUE;  // a window that cannot be remembered is not disabled
        list.windows = grown;
        list.capacity = capacity;
    }
    list.windows[list.count++] = window;
    EnableWindow(window, FALSE);
    return TRUE;
}

}  // namespace

// ---- application -----------------------------------------------------------------

HWND createApplicationWindow(const char* caption)
{
    if (!registerClass(applicationClassName, DefWindowProcA, nullptr)) return nullptr;
    return CreateWindowExA(0, applicationClassName, orEmpty(caption),
                           WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 0, 0, 0, 0, nullptr,
                           nullptr, moduleInstance(), nullptr);
}

// ---- forms -------------------------------------------------------------------------

Form* createForm(HWND owner, const char* caption, int clientWidth, int clientHeight, DWORD style,
                 DWORD exStyle)
{
    if (!registerClass(formClassName, formProcedure, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1)))
        return nullptr;
    Form* form = static_cast<Form*>(calloc(1, sizeof(Form)));
    if (!form) return nullptr;
    form->currentControl = -1;

    style &= ~WS_VISIBLE;
    RECT outer = {0, 0, clientWidth, clientHeight};
    AdjustWindowRectEx(&outer, style, FALSE, exStyle);
    HWND window = CreateWindowExA(exStyle, formClassName, orEmpty(caption), style, 0, 0,
                                  outer.right - outer.left, outer.bottom - outer.top, owner, nullptr,
                                  moduleInstance(), form);
    if (!window) {
        free(form);
        return nullptr;
    }
    form->created = true;
    // Where the frame the system draws differs from what AdjustWindowRectEx
    // reckoned, correct the outer size so that the client area is exact.
    RECT client;
    GetClientRect(window, &client);
    int missingWidth = clientWidth - client.right, missingHeight = clientHeight - client.bottom;
    if (missingWidth || missingHeight) {
        RECT frame;
        GetWindowRect(window, &frame);
        SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left + missingWidth,
                     frame.bottom - frame.top + missingHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    HICON icon = static_cast<HICON>(LoadImageA(moduleInstance(), "MAINICON", IMAGE_ICON,
                                               GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    if (icon) {
        form->bigIcon = icon;
        SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    }
    return form;
}

HWND formWindow(Form* form) { return form ? form->window : nullptr; }

void setFormOwnedObject(Form* form, void* object, OwnedObjectRelease release)
{
    if (!form) return;
    form->ownedObject = object;
    form->releaseOwned = release;
}

void enableKeyboardNavigation(Form* form)
{
    if (form) form->keyboardNavigation = true;
}

void centreForm(Form* form)
{
    if (!form) return;
    RECT frame;
    GetWindowRect(form->window, &frame);
    int left = formOrigin(GetSystemMetrics(SM_CXSCREEN), frame.right - frame.left);
    int top = formOrigin(GetSystemMetrics(SM_CYSCREEN), frame.bottom - frame.top);
    SetWindowPos(form->window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void fixFormSize(Form* form)
{
    if (!form) return;
    RECT frame;
    GetWindowRect(form->window, &frame);
    form->fixedOuterSize.cx = frame.right - frame.left;
    form->fixedOuterSize.cy = frame.bottom - frame.top;
    form->fixedSize = true;
}

void removeFormBigIcon(Form* form)
{
    if (!form) return;
    HICON previous = reinterpret_cast<HICON>(SendMessageA(form->window, WM_SETICON, ICON_BIG, 0));
    if (previous) DestroyIcon(previous);
    if (previous == form->bigIcon) form->bigIcon = nullptr;
}

int runFormModal(Form* form)
{
    if (!form || !form->window) return 0;
    DisabledWindows disabled = {form->window, nullptr, 0, 0};
    EnumThreadWindows(GetCurrentThreadId(), disableWindow, reinterpret_cast<LPARAM>(&disabled));

    form->modalResult = 0;
    form->inModalRun = true;
    ShowWindow(form->window, SW_SHOW);
    SetForegroundWindow(form->window);
    MSG message;
    while (form->modalResult == 0) {
        BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0 || got == -1) break;  // WM_QUIT is not dispatched
        if (handleNavigationKey(form, message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    form->inModalRun = false;

    for (int i = 0; i < disabled.count; ++i) EnableWindow(disabled.windows[i], TRUE);
    free(disabled.windows);
    return form->modalResult;
}

void setModalResult(Form* form, int result)
{
    if (form) setResult(form, result);
}

void releaseForm(Form* form)
{
    if (form) DestroyWindow(form->window);  // WM_NCDESTROY frees the rest
}

// ---- controls --------------------------------------------------------------------------

HWND controlWindow(Control* control) { return control ? control->window : nullptr; }

void setWindowCaption(HWND window, const char* text)
{
    if (window) SetWindowTextA(window, orEmpty(text));
}

Control* createButton(Form* form, const char* caption, int x, int y, int width, int height)
{
    DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_TABSTOP | BS_PUSHBUTTON |
                  BS_PUSHLIKE;
    Control* control = addControl(form, "BUTTON", caption, style, WS_EX_CONTROLPARENT, x, y, width, height);
    if (control) control->isButton = true;
    return control;
}

void setControlFont(Control* control, const char* face, int height, BYTE charSet)
{
    if (!control) return;
    LOGFONTA description;
    ZeroMemory(&description, sizeof description);
    description.lfHeight = height;
    description.lfCharSet = charSet;
    lstrcpynA(description.lfFaceName, face, LF_FACESIZE);
    HFONT font = CreateFontIndirectA(&description);
    if (!font) return;
    SendMessageA(control->window, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    if (control->font) DeleteObject(control->font);
    control->font = font;
}

void setClickHandler(Control* control, ClickHandler handler, void* context)
{
    if (!control) return;
    control->onClick = handler;
    control->context = context;
}

Control* createRichText(Form* form, unsigned options, int x, int y, int width, int height)
{
    if (!form || !form->window) return nullptr;
    const char* className = richEditClass();
    if (!className) return nullptr;
    DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_TABSTOP;
    if (!(options & richTextNoHorizontalScroll)) style |= WS_HSCROLL | ES_AUTOHSCROLL;
    if (!(options & richTextNoVerticalScroll)) style |= WS_VSCROLL | ES_AUTOVSCROLL;
    if (options & richTextReadOnly) style |= ES_READONLY;
    if (options & richTextMultiLine) style |= ES_MULTILINE;
    if (options & richTextWantReturn) style |= ES_WANTRETURN;
    return addControl(form, className, "", style, WS_EX_CONTROLPARENT | WS_EX_CLIENTEDGE, x, y, width,
                      height);
}

void setRichTextBackground(Control* control, COLORREF colour)
{
    if (control) SendMessageA(control->window, EM_SETBKGNDCOLOR, 0, static_cast<LPARAM>(colour));
}

void setRichTextCharFormat(Control* control, const char* face, int height, COLORREF colour, BYTE charSet)
{
    if (!control) return;
    HDC screen = GetDC(nullptr);
    int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen) ReleaseDC(nullptr, screen);

    CHARFORMATA format;
    ZeroMemory(&format, sizeof format);
    format.cbSize = sizeof format;
    // Colour without CFE_AUTOCOLOR: the given colour, not the system's text colour.
    format.dwMask = CFM_FACE | CFM_SIZE | CFM_COLOR | CFM_CHARSET | CFM_BOLD | CFM_ITALIC | CFM_UNDERLINE |
                    CFM_STRIKEOUT;
    format.dwEffects = 0;
    format.yHeight = charFormatHeight(height, dpi);
    format.crTextColor = colour;
    format.bCharSet = charSet;
    lstrcpynA(format.szFaceName, face, LF_FACESIZE);
    // Loading a document replaces all text, and what the document does not
    // set itself comes from the control's default format: set that one too,
    // or the format would be lost with the first load.
    SendMessageA(control->window, EM_SETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
    SendMessageA(control->window, EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&format));
}

void setRichTextLinkDetection(Control* control, bool on)
{
    if (control) SendMessageA(control->window, EM_AUTOURLDETECT, on ? TRUE : FALSE, 0);
}

void setLinkHandler(Control* control, LinkHandler handler, void* context)
{
    if (!control) return;
    control->onLink = handler;
    control->context = context;
    LRESULT mask = SendMessageA(control->window, EM_GETEVENTMASK, 0, 0);
    SendMessageA(control->window, EM_SETEVENTMASK, 0, mask | ENM_LINK);
}

void loadRichText(Control* control, ByteStream& rtf)
{
    if (!control) return;
    EDITSTREAM source;
    ZeroMemory(&source, sizeof source);
    source.dwCookie = reinterpret_cast<DWORD_PTR>(&rtf);
    source.pfnCallback = readRichTextStream;
    SendMessageA(control->window, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&source));
}
