// The please-wait splash window and the loader's one message-draining loop.
#pragma once
#include "platform/platform.h"

// The text the splash window shows; set just before showSplash() and read
// once by the dialog procedure while the window is created.
extern Text splashText;

// CreateDialogParamA(own module, "WA", no owner, splash procedure, 0), then
// ShowWindow(SW_SHOWNORMAL) whatever that returned, and one immediate paint
// of the window and its controls. Returns the window, or
// null when it could not be made (the run goes on without one).
WindowHandle showSplash();

// Processes every message waiting in the thread's queue and returns as soon
// as it is empty; never waits. WM_QUIT is removed and dropped.
void pumpPendingMessages();

// Where a window of extent `window` starts when centred on a screen of extent
// `screen`: a signed division that truncates toward zero (-3 / 2 = -1).
constexpr int centredOrigin(int screen, int window) { return (screen - window) / 2; }
