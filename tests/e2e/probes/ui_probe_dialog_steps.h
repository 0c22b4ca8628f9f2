// Steps of ui_probe for forms with controls (the missing-runtime dialog):
// real keyboard and mouse input, focus, owner, hit tests, drags and
// plain messages. Included by ui_probe.cpp inside its anonymous namespace,
// after Context, targetWindows, targetAlive and describeWindow.
//
// A step that acts on "the form" takes the target's first visible top-level
// window of class --class NAME (default: the first visible top-level window
// that is not a message box), waiting up to the timeout for it to show, to
// answer messages and to paint.
//
//   wait-window [--class NAME]
//       Wait for the form; record every visible top-level window of the
//       target at that moment.
//   details [--class NAME]
//       Record the form's owner (class, text, visible, enabled), the
//       foreground window, the focused and active windows of its thread, and
//       the WM_NCHITTEST results at its edges, corners, caption and client
//       centre. (Its icons cannot be read from here: Wine answers WM_GETICON
//       from another process with a failure.)
//   focus [--class NAME] [--expect-id N]
//       Record the focused window of the form's thread (class, text, id);
//       with --expect-id, wait until the control with that id has the focus.
//   keys [--class NAME] CHORD [CHORD ...]
//       Wait until the form is the foreground window, then type each chord
//       with SendInput. A chord is key names joined by '+': tab, enter, space,
//       escape, f1-f12, a-z, 0-9, shift, ctrl, alt (keys tab shift+tab alt+f4).
//   link --text TEXT [--button left|right] [--release yes|no] [--class NAME]
//       Move the mouse onto the third character of the first TEXT in the
//       form's rich-edit control (EM_POSFROMCHAR) and press the button there
//       with SendInput; release it unless --release no. (Every option takes
//       a value: ui_probe ends a step's arguments at the next step name that
//       does not follow an option.)
//   mouse-up [--button left|right]
//       Release a mouse button with SendInput.
//   drag --from left|right|top|bottom|topleft|topright|bottomleft|bottomright|caption|close
//        [--dx N] [--dy N] [--settle MS] [--class NAME]
//       Drag from that place of the form's frame with the left button (close:
//       the middle of the caption's close button, found by hit tests along
//       the caption; with no distance, a click on it); record
//       the hit-test result there and the form's rectangle before and after
//       (watched until it changes or MS ms, default 1000, have passed).
//       A negative distance must not be the step's last word (--dy -30
//       --from top): ui_probe reads a step name after a word that starts
//       with '-' as that option's value.
//   post --msg N [--wparam N] [--lparam N] [--class NAME]
//   send --msg N [--wparam N] [--lparam N] [--class NAME]
//       PostMessageA / SendMessageTimeoutA (up to the timeout) to the form.
//
// Messages are sent without SMTO_ABORTIFHUNG: a loader that pumps no
// messages during its start-up looks hung to the system until its first
// message loop runs, and such a send would be dropped instead of waited for.
//   wait-file PATH
//       Wait until the file PATH exists.

struct FormSearch {
    const char* className = nullptr;  // null: any window that is not a message box
};

bool parseClassOption(int& i, int argc, char** argv, FormSearch& search) {
    if (strcmp(argv[i], "--class") || i + 1 >= argc) return false;
    search.className = argv[++i];
    return true;
}

HWND visibleForm(Context& c, const FormSearch& search) {
    WindowList list;
    targetWindows(c, list);
    for (int i = 0; i < list.count; ++i) {
        HWND window = list.windows[i];
        if (search.className ? probe::isClass(window, search.className) : !isMessageBox(window))
            return window;
    }
    return nullptr;
}

bool waitUntilSettled(Context& c, HWND form, DWORD begin);

// The form, once its thread answers messages and it has painted.
HWND waitForForm(Context& c, const FormSearch& search) {
    DWORD begin = GetTickCount();
    for (;;) {
        HWND form = visibleForm(c, search);
        if (form) {
            if (waitUntilSettled(c, form, begin)) return form;
            c.error.append("the form did not answer and paint in time");
            return nullptr;
        }
        if (GetTickCount() - begin > c.timeoutMs || !targetAlive(c)) {
            c.error.append("no form appeared");
            if (search.className) {
                c.error.append(" of class ");
                c.error.append(search.className);
            }
            return nullptr;
        }
        Sleep(kPollMs);
    }
}

bool unknownOption(Context& c, const char* step, const char* option) {
    c.error.append(step);
    c.error.append(": unknown option ");
    c.error.append(option);
    return false;
}

void describeBriefly(Json& json, HWND window) {
    Buffer name, text;
    probe::className(window, name);
    probe::storedWindowText(window, text);
    json.key("hwnd").number(reinterpret_cast<LONG_PTR>(window));
    json.key("class").string(name.text(), name.length());
    json.key("text").string(text.text(), text.length());
    json.key("id").number(window ? GetDlgCtrlID(window) : 0);
}

GUITHREADINFO threadInfo(HWND window) {
    GUITHREADINFO info;
    ZeroMemory(&info, sizeof info);
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
    return info;
}

struct FramePoint {
    const char* name;
    POINT at;
};

// Points on the form's frame, 1 pixel inside its outer rectangle, and on its
// caption and client area.
int framePoints(HWND form, FramePoint* points) {
    RECT r;
    GetWindowRect(form, &r);
    RECT client;
    GetClientRect(form, &client);
    POINT clientOrigin = {0, 0};
    ClientToScreen(form, &clientOrigin);
    LONG cx = (r.left + r.right) / 2, cy = (r.top + r.bottom) / 2;
    LONG captionY = (r.top + clientOrigin.y) / 2;  // between the top edge and the client area
    const FramePoint all[] = {
        {"left", {r.left + 1, cy}},         {"right", {r.right - 2, cy}},
        {"top", {cx, r.top + 1}},           {"bottom", {cx, r.bottom - 2}},
        {"topleft", {r.left + 1, r.top + 1}}, {"topright", {r.right - 2, r.top + 1}},
        {"bottomleft", {r.left + 1, r.bottom - 2}}, {"bottomright", {r.right - 2, r.bottom - 2}},
        {"caption", {cx, captionY}},
        {"client", {clientOrigin.x + client.right / 2, clientOrigin.y + client.bottom / 2}},
    };
    int count = sizeof all / sizeof all[0];
    for (int i = 0; i < count; ++i) points[i] = all[i];
    return count;
}

const UINT kSendTimeoutMs = 10000;

long long hitTest(HWND form, POINT at) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(form, WM_NCHITTEST, 0, MAKELPARAM(at.x, at.y), SMTO_NORMAL, kSendTimeoutMs,
                             &result))
        return -1000;
    return static_cast<long long>(static_cast<LONG_PTR>(result));
}

// The middle of the caption's close button (HTCLOSE), scanned for from the
// right along the middle of the caption; false when there is none.
bool closeButtonPoint(HWND form, POINT* at) {
    RECT r;
    GetWindowRect(form, &r);
    POINT clientOrigin = {0, 0};
    ClientToScreen(form, &clientOrigin);
    LONG y = (r.top + clientOrigin.y) / 2;
    LONG first = -1, last = -1;
    for (LONG x = r.right - 1; x > r.left; --x) {
        bool onClose = hitTest(form, POINT{x, y}) == HTCLOSE;
        if (onClose && first < 0) first = x;
        if (onClose) last = x;
        if (!onClose && first >= 0) break;
    }
    if (first < 0) return false;
    *at = POINT{(first + last) / 2, y};
    return true;
}

bool needsPaint(HWND window) {
    if (GetUpdateRect(window, nullptr, FALSE)) return true;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (IsWindowVisible(child) && needsPaint(child)) return true;
    return false;
}

// Waits until the form's thread answers a message and nothing of the form
// waits to be painted; false after the timeout.
bool waitUntilSettled(Context& c, HWND form, DWORD begin) {
    for (;;) {
        DWORD_PTR ignored = 0;
        DWORD elapsed = GetTickCount() - begin;
        UINT left = elapsed < c.timeoutMs ? c.timeoutMs - elapsed : 1;
        bool answered = SendMessageTimeoutA(form, WM_NULL, 0, 0, SMTO_NORMAL, left, &ignored) != 0;
        if (answered && !needsPaint(form)) return true;
        if (GetTickCount() - begin > c.timeoutMs || !IsWindow(form)) return false;
        Sleep(kPollMs);
    }
}

bool stepWaitWindow(Context& c, int argc, char** argv) {
    FormSearch search;
    for (int i = 0; i < argc; ++i)
        if (!parseClassOption(i, argc, argv, search)) return unknownOption(c, "wait-window", argv[i]);
    DWORD begin = GetTickCount();
    HWND form = waitForForm(c, search);
    if (!form) return false;
    Json& json = *c.json;
    json.key("wait_ms").number(GetTickCount() - begin);
    json.key("form").number(reinterpret_cast<LONG_PTR>(form));
    WindowList list;
    targetWindows(c, list);
    json.key("windows").beginArray();
    for (int i = 0; i < list.count; ++i) {
        json.beginObject();
        describeWindow(json, list.windows[i], false);
        json.endObject();
    }
    json.endArray();
    return true;
}

bool stepDetails(Context& c, int argc, char** argv) {
    FormSearch search;
    for (int i = 0; i < argc; ++i)
        if (!parseClassOption(i, argc, argv, search)) return unknownOption(c, "details", argv[i]);
    HWND form = waitForForm(c, search);
    if (!form) return false;
    Json& json = *c.json;
    json.key("form").beginObject();
    describeWindow(json, form, false);
    json.endObject();

    HWND owner = GetWindow(form, GW_OWNER);
    json.key("owner").beginObject();
    describeBriefly(json, owner);
    json.key("visible").boolean(owner && IsWindowVisible(owner));
    json.key("enabled").boolean(owner && IsWindowEnabled(owner));
    json.key("style").number(owner ? static_cast<DWORD>(GetWindowLongA(owner, GWL_STYLE)) : 0);
    json.endObject();


    json.key("foreground").number(reinterpret_cast<LONG_PTR>(GetForegroundWindow()));
    GUITHREADINFO info = threadInfo(form);
    json.key("active").number(reinterpret_cast<LONG_PTR>(info.hwndActive));
    json.key("focus").beginObject();
    describeBriefly(json, info.hwndFocus);
    json.endObject();

    FramePoint points[16];
    int count = framePoints(form, points);
    json.key("hit_test").beginObject();
    for (int i = 0; i < count; ++i) json.key(points[i].name).number(hitTest(form, points[i].at));
    json.endObject();
    return true;
}

bool stepFocus(Context& c, int argc, char** argv) {
    FormSearch search;
    bool expect = false;
    long long expectedId = 0;
    for (int i = 0; i < argc; ++i) {
        if (!strcmp(argv[i], "--expect-id") && i + 1 < argc) {
            expect = true;
            expectedId = static_cast<long long>(strtoll(argv[++i], nullptr, 0));
        } else if (!parseClassOption(i, argc, argv, search)) {
            return unknownOption(c, "focus", argv[i]);
        }
    }
    HWND form = waitForForm(c, search);
    if (!form) return false;
    DWORD begin = GetTickCount();
    GUITHREADINFO info = threadInfo(form);
    while (expect && !(info.hwndFocus && GetDlgCtrlID(info.hwndFocus) == expectedId)) {
        if (GetTickCount() - begin > c.timeoutMs || !targetAlive(c)) break;
        Sleep(kPollMs);
        info = threadInfo(form);
    }
    Json& json = *c.json;
    json.key("wait_ms").number(GetTickCount() - begin);
    json.key("focus").beginObject();
    describeBriefly(json, info.hwndFocus);
    json.endObject();
    if (expect && !(info.hwndFocus && GetDlgCtrlID(info.hwndFocus) == expectedId)) {
        c.error.append("the focus did not reach the expected control");
        return false;
    }
    return true;
}

struct KeyName {
    const char* name;
    WORD key;
};

const KeyName kKeyNames[] = {
    {"tab", VK_TAB},     {"enter", VK_RETURN}, {"space", VK_SPACE}, {"escape", VK_ESCAPE},
    {"shift", VK_SHIFT}, {"ctrl", VK_CONTROL}, {"alt", VK_MENU},    {"f1", VK_F1},
    {"f2", VK_F2},       {"f3", VK_F3},        {"f4", VK_F4},       {"f5", VK_F5},
    {"f6", VK_F6},       {"f7", VK_F7},        {"f8", VK_F8},       {"f9", VK_F9},
    {"f10", VK_F10},     {"f11", VK_F11},      {"f12", VK_F12},
};

WORD keyCode(const char* name, size_t length) {
    if (length == 1 && ((name[0] >= 'a' && name[0] <= 'z') || (name[0] >= '0' && name[0] <= '9')))
        return static_cast<WORD>(name[0] >= 'a' ? name[0] - 'a' + 'A' : name[0]);
    for (const KeyName& k : kKeyNames)
        if (strlen(k.name) == length && !strncmp(k.name, name, length)) return k.key;
    return 0;
}

INPUT keyInput(WORD key, bool up) {
    INPUT input;
    ZeroMemory(&input, sizeof input);
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(key, 0 /* MAPVK_VK_TO_VSC */));
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return input;
}

bool stepKeys(Context& c, int argc, char** argv) {
    FormSearch search;
    if (argc >= 2 && !strcmp(argv[0], "--class")) {
        search.className = argv[1];
        argc -= 2;
        argv += 2;
    }
    if (argc == 0) { c.error.append("keys: no chord given"); return false; }
    // Parse everything first: a typing error must not leave keys half pressed.
    WORD chords[32][4];
    int sizes[32];
    if (argc > 32) { c.error.append("keys: at most 32 chords"); return false; }
    for (int i = 0; i < argc; ++i) {
        sizes[i] = 0;
        const char* p = argv[i];
        while (*p) {
            const char* end = strchr(p, '+');
            size_t length = end ? static_cast<size_t>(end - p) : strlen(p);
            WORD key = keyCode(p, length);
            if (!key || sizes[i] == 4) {
                c.error.append("keys: cannot type ");
                c.error.append(argv[i]);
                return false;
            }
            chords[i][sizes[i]++] = key;
            p += length + (end ? 1 : 0);
        }
    }
    HWND form = waitForForm(c, search);
    if (!form) return false;
    DWORD begin = GetTickCount();
    for (;;) {
        DWORD pid = 0;
        GetWindowThreadProcessId(GetForegroundWindow(), &pid);
        if (GetForegroundWindow() == form || (c.pid && pid == c.pid)) break;
        if (GetTickCount() - begin > c.timeoutMs) {
            c.error.append("keys: the target never came to the foreground");
            return false;
        }
        Sleep(kPollMs);
    }
    Json& json = *c.json;
    json.key("foreground").number(reinterpret_cast<LONG_PTR>(GetForegroundWindow()));
    json.key("typed").beginArray();
    for (int i = 0; i < argc; ++i) {
        INPUT inputs[8];
        int n = 0;
        for (int k = 0; k < sizes[i]; ++k) inputs[n++] = keyInput(chords[i][k], false);
        for (int k = sizes[i] - 1; k >= 0; --k) inputs[n++] = keyInput(chords[i][k], true);
        UINT sent = SendInput(static_cast<UINT>(n), inputs, sizeof(INPUT));
        json.string(argv[i]);
        if (sent != static_cast<UINT>(n)) {
            json.endArray();
            c.error.append("keys: SendInput refused the input");
            return false;
        }
    }
    json.endArray();
    return true;
}

bool sendButton(const char* button, bool up) {
    bool right = button && !strcmp(button, "right");
    INPUT input;
    ZeroMemory(&input, sizeof input);
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = right ? (up ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_RIGHTDOWN)
                             : (up ? MOUSEEVENTF_LEFTUP : MOUSEEVENTF_LEFTDOWN);
    return SendInput(1, &input, sizeof input) == 1;
}

struct RichEditSearch {
    HWND found;
};

BOOL CALLBACK findRichEdit(HWND window, LPARAM param) {
    char name[64];
    if (GetClassNameA(window, name, sizeof name) > 0 && !strncmp(name, "RichEdit", 8)) {
        reinterpret_cast<RichEditSearch*>(param)->found = window;
        return FALSE;
    }
    return TRUE;
}

bool stepLink(Context& c, int argc, char** argv) {
    const char* text = nullptr;
    const char* button = "left";
    bool downOnly = false;
    FormSearch search;
    for (int i = 0; i < argc; ++i) {
        if (!strcmp(argv[i], "--text") && i + 1 < argc) text = argv[++i];
        else if (!strcmp(argv[i], "--button") && i + 1 < argc) button = argv[++i];
        else if (!strcmp(argv[i], "--release") && i + 1 < argc) downOnly = !strcmp(argv[++i], "no");
        else if (!parseClassOption(i, argc, argv, search)) return unknownOption(c, "link", argv[i]);
    }
    if (!text || !*text) { c.error.append("link: --text is needed"); return false; }
    HWND form = waitForForm(c, search);
    if (!form) return false;
    RichEditSearch edit = {nullptr};
    EnumChildWindows(form, findRichEdit, reinterpret_cast<LPARAM>(&edit));
    if (!edit.found) { c.error.append("link: the form has no rich-edit control"); return false; }

    // WM_GETTEXT gives CR LF where the control counts one character.
    Buffer content;
    probe::controlText(edit.found, content);
    const char* at = strstr(content.text(), text);
    if (!at) { c.error.append("link: the text is not in the control"); return false; }
    long long index = 0;
    for (const char* p = content.text(); p < at; ++p)
        if (!(*p == '\n' && p > content.text() && p[-1] == '\r')) ++index;
    long long offset = strlen(text) > 2 ? 2 : 0;
    DWORD_PTR packed = 0;
    SendMessageTimeoutA(edit.found, EM_POSFROMCHAR, static_cast<WPARAM>(index + offset), 0,
                        SMTO_NORMAL, kSendTimeoutMs, &packed);
    POINT point = {static_cast<short>(LOWORD(packed)) + 1, static_cast<short>(HIWORD(packed)) + 5};
    RECT client;
    GetClientRect(edit.found, &client);
    Json& json = *c.json;
    json.key("char_index").number(index + offset);
    json.key("client_point").beginArray();
    json.number(point.x);
    json.number(point.y);
    json.endArray();
    if (!PtInRect(&client, point)) {
        c.error.append("link: the text is not in view");
        return false;
    }
    ClientToScreen(edit.found, &point);
    json.key("screen_point").beginArray();
    json.number(point.x);
    json.number(point.y);
    json.endArray();
    if (!SetCursorPos(point.x, point.y) || !sendButton(button, false)) {
        c.error.append("link: the mouse could not be moved or pressed");
        return false;
    }
    json.key("button").string(button);
    if (!downOnly && !sendButton(button, true)) {
        c.error.append("link: the button could not be released");
        return false;
    }
    json.key("released").boolean(!downOnly);
    return true;
}

bool stepMouseUp(Context& c, int argc, char** argv) {
    const char* button = "left";
    for (int i = 0; i < argc; ++i) {
        if (!strcmp(argv[i], "--button") && i + 1 < argc) button = argv[++i];
        else return unknownOption(c, "mouse-up", argv[i]);
    }
    if (!sendButton(button, true)) { c.error.append("mouse-up: SendInput refused it"); return false; }
    c.json->key("button").string(button);
    return true;
}

bool sameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

bool stepDrag(Context& c, int argc, char** argv) {
    FormSearch search;
    const char* from = nullptr;
    LONG dx = 0, dy = 0;
    DWORD settle = 1000;
    for (int i = 0; i < argc; ++i) {
        if (!strcmp(argv[i], "--from") && i + 1 < argc) from = argv[++i];
        else if (!strcmp(argv[i], "--dx") && i + 1 < argc) dx = strtol(argv[++i], nullptr, 0);
        else if (!strcmp(argv[i], "--dy") && i + 1 < argc) dy = strtol(argv[++i], nullptr, 0);
        else if (!strcmp(argv[i], "--settle") && i + 1 < argc) settle = static_cast<DWORD>(probe::number(argv[++i]));
        else if (!parseClassOption(i, argc, argv, search)) return unknownOption(c, "drag", argv[i]);
    }
    HWND form = waitForForm(c, search);
    if (!form) return false;
    FramePoint points[16];
    int count = framePoints(form, points);
    const FramePoint* start = nullptr;
    for (int i = 0; i < count; ++i)
        if (from && !strcmp(points[i].name, from)) start = &points[i];
    FramePoint closeButton = {"close", {0, 0}};
    if (from && !strcmp(from, "close")) {
        if (!closeButtonPoint(form, &closeButton.at)) {
            c.error.append("drag: the form has no close button");
            return false;
        }
        start = &closeButton;
    }
    if (!start) { c.error.append("drag: --from names no place of the frame"); return false; }

    Json& json = *c.json;
    RECT before;
    GetWindowRect(form, &before);
    json.key("from").string(start->name);
    json.key("hit_test").number(hitTest(form, start->at));
    json.key("before").rect(before);
    if (!SetCursorPos(start->at.x, start->at.y) || !sendButton("left", false)) {
        c.error.append("drag: the mouse could not be pressed");
        return false;
    }
    // The moves are paced like a hand's, so that a sizing or moving loop sees each.
    const int steps = 8;
    for (int s = 1; s <= steps; ++s) {
        Sleep(30);
        SetCursorPos(start->at.x + dx * s / steps, start->at.y + dy * s / steps);
    }
    Sleep(30);
    sendButton("left", true);
    DWORD begin = GetTickCount();
    RECT after = before;
    while (GetTickCount() - begin < settle) {
        GetWindowRect(form, &after);
        if (!sameRect(after, before)) break;
        Sleep(kPollMs);
    }
    json.key("after").rect(after);
    json.key("changed").boolean(!sameRect(after, before));
    return true;
}

bool stepMessage(Context& c, int argc, char** argv, bool post) {
    FormSearch search;
    bool haveMessage = false;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    for (int i = 0; i < argc; ++i) {
        if (!strcmp(argv[i], "--msg") && i + 1 < argc) {
            message = static_cast<UINT>(probe::number(argv[++i]));
            haveMessage = true;
        } else if (!strcmp(argv[i], "--wparam") && i + 1 < argc) {
            wParam = static_cast<WPARAM>(probe::number(argv[++i]));
        } else if (!strcmp(argv[i], "--lparam") && i + 1 < argc) {
            lParam = static_cast<LPARAM>(probe::number(argv[++i]));
        } else if (!parseClassOption(i, argc, argv, search)) {
            return unknownOption(c, post ? "post" : "send", argv[i]);
        }
    }
    if (!haveMessage) { c.error.append("--msg is needed"); return false; }
    HWND form = waitForForm(c, search);
    if (!form) return false;
    Json& json = *c.json;
    json.key("form").number(reinterpret_cast<LONG_PTR>(form));
    if (post) {
        json.key("posted").boolean(PostMessageA(form, message, wParam, lParam) != 0);
    } else {
        DWORD_PTR result = 0;
        BOOL done = SendMessageTimeoutA(form, message, wParam, lParam, SMTO_NORMAL, kSendTimeoutMs, &result);
        json.key("returned").boolean(done != 0);
        json.key("result").number(static_cast<long long>(result));
    }
    return true;
}

bool stepPost(Context& c, int argc, char** argv) { return stepMessage(c, argc, argv, true); }
bool stepSend(Context& c, int argc, char** argv) { return stepMessage(c, argc, argv, false); }

bool stepWaitFile(Context& c, int argc, char** argv) {
    if (argc != 1) { c.error.append("wait-file: takes one path"); return false; }
    DWORD begin = GetTickCount();
    while (!probe::fileExists(argv[0])) {
        if (GetTickCount() - begin > c.timeoutMs) {
            c.error.append("wait-file: the file did not appear");
            return false;
        }
        Sleep(kPollMs);
    }
    c.json->key("wait_ms").number(GetTickCount() - begin);
    return true;
}
