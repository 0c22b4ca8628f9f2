// ui_probe: reads and operates the windows of another program, as a person
// at the screen would, and writes down what it saw.
//
//   ui_probe.exe --out FILE (--pid N | --pid-file FILE | --image NAME)
//                [--timeout MS] STEP [STEP ...]
//
// The target is a process id, a file that will hold one (waited for), or an
// image name such as loader.exe (every process of that name). --timeout
// (default 20000) bounds every wait of every step. Steps run in order; the
// first that fails ends the run. Steps:
//
//   msgbox [--press TEXT | --no-press]
//       Wait for a message box of the target (a visible top-level dialog with
//       buttons), record its caption, text, icon (by its pixels on the screen:
//       stop, exclamation, information, question, application, none,
//       unknown), buttons and controls, then press the button whose text
//       (without '&') is TEXT (default OK) and wait until the box is gone.
//   watch [--for MS]
//       Record every visible top-level window of the target during MS ms
//       (default 2000), or until the target ends; "message_box" tells
//       whether a window is a dialog with buttons, as a message box is.
//   tree
//       Record the window tree (class, text, id, style, extended style,
//       window and client rectangles) of every visible top-level window of
//       the target.
//   press TEXT
//       Wait for a visible, enabled button whose text (without '&') is TEXT
//       in any visible top-level window of the target, and press it.
//   gone
//       Wait until the target has ended.
//
// FILE receives {"target_pid":N,"steps":[{"step":"msgbox","ok":true,...}],
// "ok":true}. Exit code 0 when every step succeeded, 1 otherwise, 2 for a
// usage error. New steps are added to the table at the end of this file.
#include "probe_common.h"

using probe::Buffer;
using probe::Json;

namespace {

const DWORD kPollMs = 20;

struct Context {
    DWORD pid = 0;              // 0 with --image
    HANDLE process = nullptr;   // open while the target is known by id
    const char* image = nullptr;
    DWORD timeoutMs = 20000;
    Json* json = nullptr;
    Buffer error;
};

// --- The target -----------------------------------------------------------

bool imageRunning(const char* image, DWORD* pids, int* count, int capacity) {
    *count = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        const char* base = entry.szExeFile;
        for (const char* p = entry.szExeFile; *p; ++p)
            if (*p == '\\' || *p == '/') base = p + 1;
        if (lstrcmpiA(base, image) == 0 && *count < capacity) pids[(*count)++] = entry.th32ProcessID;
    }
    CloseHandle(snapshot);
    return *count > 0;
}

bool targetAlive(Context& c) {
    if (c.process) return WaitForSingleObject(c.process, 0) == WAIT_TIMEOUT;
    if (!c.image) return false;  // known by id but could not be opened: it has ended
    DWORD pids[64];
    int count = 0;
    return imageRunning(c.image, pids, &count, 64);
}

struct WindowList {
    HWND windows[256];
    int count;
    DWORD pids[64];
    int pidCount;
};

BOOL CALLBACK collectTop(HWND window, LPARAM param) {
    WindowList* list = reinterpret_cast<WindowList*>(param);
    if (!IsWindowVisible(window)) return TRUE;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    for (int i = 0; i < list->pidCount; ++i) {
        if (list->pids[i] == pid && list->count < 256) {
            list->windows[list->count++] = window;
            break;
        }
    }
    return TRUE;
}

// The visible top-level windows of the target, in z-order.
void targetWindows(Context& c, WindowList& list) {
    list.count = 0;
    list.pidCount = 0;
    if (c.pid) list.pids[list.pidCount++] = c.pid;
    else imageRunning(c.image, list.pids, &list.pidCount, 64);
    if (list.pidCount > 0) EnumWindows(collectTop, reinterpret_cast<LPARAM>(&list));
}

// Waits for the pid file and opens the process.
bool resolveTarget(Context& c, const char* pidFile) {
    if (pidFile) {
        DWORD begin = GetTickCount();
        for (;;) {
            HANDLE file = CreateFileA(pidFile, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file != INVALID_HANDLE_VALUE) {
                char digits[32] = {};
                DWORD got = 0;
                ReadFile(file, digits, sizeof digits - 1, &got, nullptr);
                CloseHandle(file);
                c.pid = static_cast<DWORD>(probe::number(digits));
                if (c.pid) break;
            }
            if (GetTickCount() - begin > c.timeoutMs) {
                c.error.append("no process id appeared in the pid file");
                return false;
            }
            Sleep(kPollMs);
        }
    }
    if (c.pid) c.process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, c.pid);
    return true;
}

// --- Describing windows ---------------------------------------------------

void describeWindow(Json& json, HWND window, bool askControl) {
    Buffer name, text;
    probe::className(window, name);
    if (!askControl || !probe::controlText(window, text)) probe::storedWindowText(window, text);
    RECT outer = {}, client = {};
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    OffsetRect(&client, origin.x, origin.y);
    json.key("hwnd").number(reinterpret_cast<LONG_PTR>(window));
    json.key("class").string(name.text(), name.length());
    json.key("text").string(text.text(), text.length());
    json.key("id").number(GetDlgCtrlID(window));
    json.key("style").number(static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE)));
    json.key("exstyle").number(static_cast<DWORD>(GetWindowLongA(window, GWL_EXSTYLE)));
    json.key("visible").boolean(IsWindowVisible(window) != 0);
    json.key("enabled").boolean(IsWindowEnabled(window) != 0);
    json.key("rect").rect(outer);
    json.key("client").rect(client);
}

void describeTree(Json& json, HWND window, int depth) {
    json.beginObject();
    describeWindow(json, window, depth > 0);
    json.key("children").beginArray();
    if (depth < 16) {
        for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            describeTree(json, child, depth + 1);
    }
    json.endArray();
    json.endObject();
}

// --- Icons ------------------------------------------------------------------

struct Pixels {
    HBITMAP bitmap = nullptr;
    DWORD* bits = nullptr;
    ~Pixels() { if (bitmap) DeleteObject(bitmap); }
};

bool makePixels(HDC dc, int width, int height, Pixels& p) {
    BITMAPINFO info;
    ZeroMemory(&info, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    p.bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    p.bits = static_cast<DWORD*>(bits);
    return p.bitmap != nullptr;
}

// Mean difference per colour channel, 0 to 255.
double difference(const DWORD* a, const DWORD* b, int count) {
    double sum = 0;
    for (int i = 0; i < count; ++i) {
        for (int shift = 0; shift < 24; shift += 8) {
            int x = static_cast<int>((a[i] >> shift) & 0xFF), y = static_cast<int>((b[i] >> shift) & 0xFF);
            sum += x > y ? x - y : y - x;
        }
    }
    return count ? sum / (3.0 * count) : 255.0;
}

struct IconGuess {
    const char* name;
    double score;      // difference of the best candidate
    double runnerUp;   // difference of the second best
};

// Compares what the icon control shows on the screen with the system's icons
// drawn the way the static control draws them (stretched over its client area
// on its background colour).
IconGuess guessIcon(HWND control) {
    static const struct { LPCSTR id; const char* name; } candidates[] = {
        {IDI_HAND, "stop"}, {IDI_EXCLAMATION, "exclamation"}, {IDI_ASTERISK, "information"},
        {IDI_QUESTION, "question"}, {IDI_APPLICATION, "application"},
    };
    IconGuess guess = {"unknown", 255.0, 255.0};
    RECT client;
    GetClientRect(control, &client);
    int width = client.right, height = client.bottom;
    if (width <= 0 || height <= 0) return guess;
    POINT origin = {0, 0};
    ClientToScreen(control, &origin);

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    Pixels shown;
    if (makePixels(screen, width, height, shown)) {
        HGDIOBJ old = SelectObject(memory, shown.bitmap);
        BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY);
        GdiFlush();
        DWORD background = shown.bits[0];
        HBRUSH brush = CreateSolidBrush(RGB((background >> 16) & 0xFF, (background >> 8) & 0xFF,
                                            background & 0xFF));
        for (const auto& candidate : candidates) {
            Pixels drawn;
            if (!makePixels(screen, width, height, drawn)) continue;
            SelectObject(memory, drawn.bitmap);
            RECT all = {0, 0, width, height};
            FillRect(memory, &all, brush);
            DrawIconEx(memory, 0, 0, LoadIconA(nullptr, candidate.id), width, height, 0, nullptr,
                       DI_NORMAL);
            GdiFlush();
            double score = difference(shown.bits, drawn.bits, width * height);
            if (score < guess.score) {
                guess.runnerUp = guess.score;
                guess.score = score;
                guess.name = candidate.name;
            } else if (score < guess.runnerUp) {
                guess.runnerUp = score;
            }
            SelectObject(memory, shown.bitmap);
        }
        DeleteObject(brush);
        SelectObject(memory, old);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return guess;
}

bool clearGuess(const IconGuess& g) { return g.score < 8.0 && g.score * 3.0 < g.runnerUp; }

// --- Steps ------------------------------------------------------------------

bool isMessageBox(HWND window) {
    if (!probe::isClass(window, "#32770")) return false;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (probe::isClass(child, "Button")) return true;
    return false;
}

void withoutAmpersands(const char* text, Buffer& into) {
    for (const char* p = text; *p; ++p) {
        if (*p == '&' && p[1] != 0) ++p;
        into.append(*p);
    }
}

bool stepMsgbox(Context& c, int argc, char** argv) {
    const char* press = "OK";
    for (int i = 0; i < argc; ++i) {
        if (!strcmp(argv[i], "--press") && i + 1 < argc) press = argv[++i];
        else if (!strcmp(argv[i], "--no-press")) press = nullptr;
        else { c.error.append("msgbox: unknown option"); return false; }
    }
    Json& json = *c.json;
    DWORD begin = GetTickCount();
    HWND box = nullptr;
    WindowList list;
    while (!box) {
        targetWindows(c, list);
        for (int i = 0; i < list.count && !box; ++i)
            if (isMessageBox(list.windows[i])) box = list.windows[i];
        if (box) break;
        if (GetTickCount() - begin > c.timeoutMs) {
            c.error.append("no message box appeared");
            return false;
        }
        if (!targetAlive(c)) {
            c.error.append("the target ended without a message box");
            return false;
        }
        Sleep(kPollMs);
    }
    json.key("wait_ms").number(GetTickCount() - begin);
    Buffer caption;
    probe::storedWindowText(box, caption);
    json.key("hwnd").number(reinterpret_cast<LONG_PTR>(box));
    json.key("caption").string(caption.text(), caption.length());
    json.key("owner").number(reinterpret_cast<LONG_PTR>(GetWindow(box, GW_OWNER)));
    RECT outer;
    GetWindowRect(box, &outer);
    json.key("rect").rect(outer);

    // Controls: the message is the static that is not an icon; the icon is
    // the SS_ICON static; the buttons are the visible push buttons.
    Buffer message;
    HWND iconControl = nullptr;
    HWND pressTarget = nullptr;
    Buffer pressedText;
    json.key("buttons").beginArray();
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        DWORD style = static_cast<DWORD>(GetWindowLongA(child, GWL_STYLE));
        if (probe::isClass(child, "Button") && (style & WS_VISIBLE)) {
            Buffer text, plain;
            probe::controlText(child, text);
            withoutAmpersands(text.text(), plain);
            json.beginObject();
            json.key("id").number(GetDlgCtrlID(child));
            json.key("text").string(text.text(), text.length());
            json.endObject();
            if (press && !pressTarget && lstrcmpiA(plain.text(), press) == 0) {
                pressTarget = child;
                pressedText.append(text.text());
            }
        } else if (probe::isClass(child, "Static")) {
            if ((style & SS_TYPEMASK) == SS_ICON) iconControl = child;
            else if (message.length() == 0) probe::controlText(child, message);
        }
    }
    json.endArray();
    json.key("text").string(message.text(), message.length());

    json.key("controls").beginArray();
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        json.beginObject();
        describeWindow(json, child, true);
        json.endObject();
    }
    json.endArray();

    // The icon: retry until the box has been painted and one icon matches clearly.
    if (!iconControl || !SendMessageTimeoutA(iconControl, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 2000,
                                             nullptr)) {
        json.key("icon").string(iconControl ? "none" : "no icon control");
    } else {
        IconGuess guess = guessIcon(iconControl);
        while (!clearGuess(guess) && GetTickCount() - begin <= c.timeoutMs) {
            Sleep(kPollMs * 5);
            guess = guessIcon(iconControl);
        }
        json.key("icon").string(clearGuess(guess) ? guess.name : "unknown");
        json.key("icon_best").string(guess.name);
        json.key("icon_difference").number(static_cast<long long>(guess.score * 100));
        json.key("icon_runner_up_difference").number(static_cast<long long>(guess.runnerUp * 100));
    }

    if (!press) return true;
    if (!pressTarget) {
        c.error.append("no button to press: ");
        c.error.append(press);
        return false;
    }
    json.key("pressed").string(pressedText.text());
    PostMessageA(pressTarget, BM_CLICK, 0, 0);
    DWORD pressedAt = GetTickCount();
    while (IsWindow(box) && IsWindowVisible(box)) {
        if (GetTickCount() - pressedAt > c.timeoutMs) {
            json.key("closed").boolean(false);
            c.error.append("the message box stayed after the button was pressed");
            return false;
        }
        Sleep(kPollMs);
    }
    json.key("closed").boolean(true);
    return true;
}

bool stepWatch(Context& c, int argc, char** argv) {
    DWORD span = 2000;
    for (int i = 0; i < argc; ++i) {
        if (!strcmp(argv[i], "--for") && i + 1 < argc) span = static_cast<DWORD>(probe::number(argv[++i]));
        else { c.error.append("watch: unknown option"); return false; }
    }
    Json& json = *c.json;
    HWND seen[256];
    int seenCount = 0;
    DWORD begin = GetTickCount();
    bool ended = false;
    json.key("windows").beginArray();
    WindowList list;
    for (;;) {
        targetWindows(c, list);
        for (int i = 0; i < list.count; ++i) {
            bool known = false;
            for (int k = 0; k < seenCount && !known; ++k) known = seen[k] == list.windows[i];
            if (known || seenCount >= 256) continue;
            seen[seenCount++] = list.windows[i];
            json.beginObject();
            json.key("seen_ms").number(GetTickCount() - begin);
            describeWindow(json, list.windows[i], false);
            json.key("message_box").boolean(isMessageBox(list.windows[i]));
            json.endObject();
        }
        if (!targetAlive(c)) { ended = true; break; }
        if (GetTickCount() - begin >= span) break;
        Sleep(kPollMs);
    }
    json.endArray();
    json.key("target_ended").boolean(ended);
    json.key("watched_ms").number(GetTickCount() - begin);
    return true;
}

bool stepTree(Context& c, int argc, char**) {
    if (argc != 0) { c.error.append("tree: takes no options"); return false; }
    WindowList list;
    targetWindows(c, list);
    Json& json = *c.json;
    json.key("windows").beginArray();
    for (int i = 0; i < list.count; ++i) describeTree(json, list.windows[i], 0);
    json.endArray();
    return true;
}

struct ButtonSearch {
    const char* text;
    HWND found;
};

BOOL CALLBACK findButton(HWND window, LPARAM param) {
    ButtonSearch* search = reinterpret_cast<ButtonSearch*>(param);
    if (!probe::isClass(window, "Button") || !IsWindowVisible(window) || !IsWindowEnabled(window))
        return TRUE;
    Buffer text, plain;
    probe::controlText(window, text);
    withoutAmpersands(text.text(), plain);
    if (lstrcmpiA(plain.text(), search->text) != 0) return TRUE;
    search->found = window;
    return FALSE;
}

bool stepPress(Context& c, int argc, char** argv) {
    if (argc != 1) { c.error.append("press: takes the button text"); return false; }
    ButtonSearch search = {argv[0], nullptr};
    DWORD begin = GetTickCount();
    WindowList list;
    while (!search.found) {
        targetWindows(c, list);
        for (int i = 0; i < list.count && !search.found; ++i)
            EnumChildWindows(list.windows[i], findButton, reinterpret_cast<LPARAM>(&search));
        if (search.found) break;
        if (GetTickCount() - begin > c.timeoutMs || !targetAlive(c)) {
            c.error.append("no button to press: ");
            c.error.append(argv[0]);
            return false;
        }
        Sleep(kPollMs);
    }
    Json& json = *c.json;
    json.key("wait_ms").number(GetTickCount() - begin);
    json.key("button").beginObject();
    describeWindow(json, search.found, true);
    json.endObject();
    json.key("window").number(reinterpret_cast<LONG_PTR>(GetAncestor(search.found, GA_ROOT)));
    PostMessageA(search.found, BM_CLICK, 0, 0);
    return true;
}

bool stepGone(Context& c, int argc, char**) {
    if (argc != 0) { c.error.append("gone: takes no options"); return false; }
    DWORD begin = GetTickCount();
    while (targetAlive(c)) {
        if (GetTickCount() - begin > c.timeoutMs) {
            c.json->key("ended").boolean(false);
            c.error.append("the target did not end");
            return false;
        }
        Sleep(kPollMs);
    }
    c.json->key("ended").boolean(true);
    c.json->key("wait_ms").number(GetTickCount() - begin);
    return true;
}

// Steps for forms with controls: wait-window, details, focus, keys, link,
// mouse-up, drag, post, send, wait-file (described in that file).
#include "ui_probe_dialog_steps.h"

struct Step {
    const char* name;
    bool (*run)(Context&, int argc, char** argv);
};

const Step kSteps[] = {
    {"msgbox", stepMsgbox},
    {"watch", stepWatch},
    {"tree", stepTree},
    {"press", stepPress},
    {"gone", stepGone},
    {"wait-window", stepWaitWindow},
    {"details", stepDetails},
    {"focus", stepFocus},
    {"keys", stepKeys},
    {"link", stepLink},
    {"mouse-up", stepMouseUp},
    {"drag", stepDrag},
    {"post", stepPost},
    {"send", stepSend},
    {"wait-file", stepWaitFile},
};

const Step* findStep(const char* name) {
    for (const Step& step : kSteps)
        if (!strcmp(step.name, name)) return &step;
    return nullptr;
}

int usage() {
    fprintf(stderr, "usage: ui_probe --out FILE (--pid N | --pid-file FILE | --image NAME)\n"
                    "                [--timeout MS] STEP [STEP ...]\n"
                    "steps: msgbox [--press TEXT|--no-press], watch [--for MS], tree,\n"
                    "       press TEXT, gone\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    Context c;
    const char* out = nullptr;
    const char* pidFile = nullptr;
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; i += 2) {
        if (i + 1 >= argc) return usage();
        const char* value = argv[i + 1];
        if (!strcmp(argv[i], "--out")) out = value;
        else if (!strcmp(argv[i], "--pid")) c.pid = static_cast<DWORD>(probe::number(value));
        else if (!strcmp(argv[i], "--pid-file")) pidFile = value;
        else if (!strcmp(argv[i], "--image")) c.image = value;
        else if (!strcmp(argv[i], "--timeout")) c.timeoutMs = static_cast<DWORD>(probe::number(value));
        else return usage();
    }
    if (!out || (!c.pid && !pidFile && !c.image) || i >= argc) return usage();
    if (!findStep(argv[i])) return usage();

    Buffer text;
    Json json(text);
    c.json = &json;
    json.beginObject();
    bool ok = resolveTarget(c, pidFile);
    json.key("target_pid").number(c.pid);
    json.key("steps").beginArray();
    while (ok && i < argc) {
        const Step* step = findStep(argv[i]);
        int first = ++i;
        // A step's arguments run up to the next step name that is not an option's value.
        while (i < argc && !(findStep(argv[i]) && argv[i - 1][0] != '-')) ++i;
        json.beginObject();
        json.key("step").string(step->name);
        ok = step->run(c, i - first, argv + first);
        json.key("ok").boolean(ok);
        if (!ok) json.key("error").string(c.error.text());
        json.endObject();
    }
    json.endArray();
    json.key("ok").boolean(ok);
    if (!ok) json.key("error").string(c.error.text());
    json.endObject();
    text.append('\n');
    if (c.process) CloseHandle(c.process);
    if (!probe::writeFileAtomically(out, text.text(), text.length())) {
        fprintf(stderr, "ui_probe: cannot write %s\n", out);
        return 1;
    }
    return ok ? 0 : 1;
}
