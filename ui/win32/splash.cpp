#include <windows.h>

#include "ui/splash.h"

namespace {

// Moves a top-level window to the middle of the primary screen (its full
// size, not the work area) without changing its size or z-order.
void centerOnScreen(HWND window)
{
    RECT frame = {};
    GetWindowRect(window, &frame);
    int x = centredOrigin(GetSystemMetrics(SM_CXSCREEN), frame.right - frame.left);
    int y = centredOrigin(GetSystemMetrics(SM_CYSCREEN), frame.bottom - frame.top);
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

// The window is passive: it reacts to no command and no close request and
// stays until the loader removes it.
INT_PTR CALLBACK splashDialogProc(HWND window, UINT message, WPARAM, LPARAM)
{
    if (message != WM_INITDIALOG) return 0;
    centerOnScreen(window);
    SetDlgItemTextA(window, 3, splashText.c_str());
    return -1;
}

}  // namespace

WindowHandle showSplash()
{
    HWND window = CreateDialogParamA(GetModuleHandleA(nullptr), "WA", nullptr, splashDialogProc, 0);
    ShowWindow(window, SW_SHOWNORMAL);
    // The loader runs no message loop until just before the launch, and the
    // installer of an embedded runtime may run for minutes meanwhile: paint
    // the window and its controls once now, or it stands there as an empty box.
    // This sends WM_PAINT to them directly; no queued message is processed.
    if (window) RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    return window;
}

void pumpPendingMessages()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}
