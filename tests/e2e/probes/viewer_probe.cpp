// viewer_probe: stands in for the runtime module (the viewer) that the loader
// starts. It writes down how it was started, then becomes idle for input
// (a window and a message loop) and stays alive as long as it is told to.
//
// Environment (inherited from the loader):
//   VIEWER_PROBE_OUT         file that receives the JSON record (required)
//   VIEWER_PROBE_STAY_MS     stay alive this many ms after becoming idle (default 0)
//   VIEWER_PROBE_UNTIL_FILE  stay alive until this file exists
//   VIEWER_PROBE_MAX_MS      upper bound for the stay (default 60000)
//   VIEWER_PROBE_SHOW        "1": show the window (default hidden)
//
// The record, written before the window is made:
//   {"command_line":"...","cwd":"...","module":"...","pid":N,"parent_pid":N,
//    "screen":[w,h],
//    "splash":null | {"visible":true,"pid":N,"text":"...","rect":[l,t,r,b]}}
// "splash" is a visible top-level dialog window of another process with a
// static control 3 and an SS_ICON static control 4, as the loader's splash
// window is. When the probe ends it writes OUT.ended holding
// {"alive_ms":N,"reason":"time"|"file"|"limit"|"quit"}.
#include "probe_common.h"

using probe::Buffer;
using probe::Json;

namespace {

struct SplashSearch {
    HWND found;
};

BOOL CALLBACK findSplash(HWND window, LPARAM param) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
    if (!probe::isClass(window, "#32770")) return TRUE;
    HWND text = GetDlgItem(window, 3);
    HWND icon = GetDlgItem(window, 4);
    if (!text || !icon || !probe::isClass(text, "Static") || !probe::isClass(icon, "Static"))
        return TRUE;
    if ((static_cast<DWORD>(GetWindowLongA(icon, GWL_STYLE)) & SS_TYPEMASK) != SS_ICON) return TRUE;
    reinterpret_cast<SplashSearch*>(param)->found = window;
    return FALSE;
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

DWORD environmentNumber(const char* name, DWORD fallback) {
    Buffer value;
    if (!probe::environment(name, value) || value.length() == 0) return fallback;
    return static_cast<DWORD>(probe::number(value.text()));
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    DWORD begin = GetTickCount();
    Buffer out;
    if (!probe::environment("VIEWER_PROBE_OUT", out) || out.length() == 0) return 2;

    Buffer text;
    Json json(text);
    json.beginObject();
    json.key("command_line").string(GetCommandLineA());
    Buffer cwd, module;
    probe::currentFolder(cwd);
    probe::modulePath(module);
    json.key("cwd").string(cwd.text());
    json.key("module").string(module.text());
    json.key("pid").number(GetCurrentProcessId());
    json.key("parent_pid").number(probe::parentProcessId());
    json.key("screen").beginArray();
    json.number(GetSystemMetrics(SM_CXSCREEN));
    json.number(GetSystemMetrics(SM_CYSCREEN));
    json.endArray();

    // The loader is blocked in its launch while we look, so nothing here may
    // send a message to its windows: the texts come from what the system keeps.
    SplashSearch search = {nullptr};
    EnumWindows(findSplash, reinterpret_cast<LPARAM>(&search));
    if (!search.found) {
        json.key("splash").null();
    } else {
        Buffer splashText;
        probe::storedWindowText(GetDlgItem(search.found, 3), splashText);
        DWORD pid = 0;
        GetWindowThreadProcessId(search.found, &pid);
        RECT rect;
        GetWindowRect(search.found, &rect);
        json.key("splash").beginObject();
        json.key("visible").boolean(IsWindowVisible(search.found) != 0);
        json.key("pid").number(pid);
        json.key("text").string(splashText.text(), splashText.length());
        json.key("rect").rect(rect);
        json.endObject();
    }
    json.endObject();
    text.append('\n');
    if (!probe::writeFileAtomically(out.text(), text.text(), text.length())) return 3;

    WNDCLASSA windowClass;
    ZeroMemory(&windowClass, sizeof windowClass);
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "KorvelViewerProbe";
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA("KorvelViewerProbe", "viewer_probe", WS_OVERLAPPEDWINDOW, 40, 40,
                                320, 120, nullptr, nullptr, instance, nullptr);
    if (environmentNumber("VIEWER_PROBE_SHOW", 0) == 1) ShowWindow(window, SW_SHOWNORMAL);

    DWORD stayMs = environmentNumber("VIEWER_PROBE_STAY_MS", 0);
    DWORD limitMs = environmentNumber("VIEWER_PROBE_MAX_MS", 60000);
    Buffer untilFile;
    bool waitForFile = probe::environment("VIEWER_PROBE_UNTIL_FILE", untilFile) && untilFile.length();
    DWORD idleAt = GetTickCount();
    const char* reason = "time";
    for (;;) {
        MSG message;
        bool quit = false;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) { quit = true; break; }
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (quit) { reason = "quit"; break; }
        DWORD alive = GetTickCount() - idleAt;
        if (waitForFile) {
            if (probe::fileExists(untilFile.text())) { reason = "file"; break; }
        } else if (alive >= stayMs) {
            break;
        }
        if (alive >= limitMs) { reason = "limit"; break; }
        // Waiting in the message wait keeps the process idle for input.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    if (IsWindow(window)) DestroyWindow(window);

    Buffer endText;
    Json end(endText);
    end.beginObject();
    end.key("alive_ms").number(GetTickCount() - begin);
    end.key("reason").string(reason);
    end.endObject();
    endText.append('\n');
    Buffer endPath;
    endPath.append(out.text());
    endPath.append(".ended");
    probe::writeFileAtomically(endPath.text(), endText.text(), endText.length());
    return 0;
}
