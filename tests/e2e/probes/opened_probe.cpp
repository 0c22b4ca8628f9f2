// opened_probe: stands in for the browser that the shell starts for a web
// address. The bench registers it as the handler of http and https:
//
//   opened_probe.exe [--out FILE] ARGUMENTS...
//
// FILE (default: the environment variable OPENED_PROBE_OUT) receives
//   {"command_line":"...","cwd":"...","pid":N,"parent_pid":N,
//    "startup_flags":N,"show_window":N}
// where startup_flags and show_window are dwFlags and wShowWindow of the
// STARTUPINFO the probe was started with. When FILE exists already (a second
// address opened in the same case), FILE.2, FILE.3, ... is written instead.
// A GUI program, so that the shell starts it the way it starts a browser.
#include "probe_common.h"

using probe::Buffer;
using probe::Json;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    Buffer out;
    // __argv holds the C runtime's split of the command line.
    for (int i = 1; i + 1 < __argc; ++i) {
        if (!strcmp(__argv[i], "--out")) {
            out.append(__argv[i + 1]);
            break;
        }
    }
    if (out.length() == 0 && (!probe::environment("OPENED_PROBE_OUT", out) || out.length() == 0))
        return 2;

    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    Buffer cwd;
    probe::currentFolder(cwd);

    Buffer text;
    Json json(text);
    json.beginObject();
    json.key("command_line").string(GetCommandLineA());
    json.key("cwd").string(cwd.text());
    json.key("pid").number(GetCurrentProcessId());
    json.key("parent_pid").number(probe::parentProcessId());
    json.key("startup_flags").number(startup.dwFlags);
    json.key("show_window").number(startup.wShowWindow);
    json.endObject();
    text.append('\n');
    Buffer path;
    path.append(out.text());
    for (int n = 2; probe::fileExists(path.text()) && n < 100; ++n) {
        char suffix[16];
        snprintf(suffix, sizeof suffix, ".%d", n);
        Buffer next;
        next.append(out.text());
        next.append(suffix);
        path.clear();
        path.append(next.text());
    }
    return probe::writeFileAtomically(path.text(), text.text(), text.length()) ? 0 : 3;
}
