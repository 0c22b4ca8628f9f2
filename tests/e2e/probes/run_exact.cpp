// run_exact: starts a program with an exact command line and waits for it.
//
//   run_exact.exe --cmdline-file FILE [--app PATH] [--cwd DIR]
//                 [--env NAME=VALUE]... [--unset NAME]... [--show N]
//                 [--pid-file FILE] [--result FILE] [--timeout MS]
//
// The bytes of --cmdline-file are handed to CreateProcessA unchanged (no
// quoting, no trimming of a final line break), so a test can give the
// program tabs, quotes and empty quoted arguments exactly. --app is
// CreateProcessA's application name (default none: the system takes the
// program from the start of the command line). --env and --unset change the
// environment that the program inherits. --show N sets STARTF_USESHOWWINDOW
// with wShowWindow N. --pid-file receives the process id as soon as the
// process exists. --timeout ends a program that is still running after MS ms
// (TerminateProcess) and reports it.
//
// --result receives one JSON object:
//   {"started":true,"create_error":0,"pid":123,"ended":true,
//    "exit_code":0,"terminated":false,"elapsed_ms":812}
// Exit code: 0 when the program was started and ended by itself, 3 when it
// could not be started, 4 when it had to be terminated, 2 for a usage error.
#include "probe_common.h"

using probe::Buffer;
using probe::Json;

namespace {

bool readWholeFile(const char* path, Buffer& into) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) into.append(chunk, got);
    CloseHandle(file);
    return true;
}

int usage() {
    fprintf(stderr, "usage: run_exact --cmdline-file FILE [--app PATH] [--cwd DIR] [--env N=V]...\n"
                    "                 [--unset NAME]... [--show N] [--pid-file FILE]\n"
                    "                 [--result FILE] [--timeout MS]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const char* cmdlineFile = nullptr;
    const char* app = nullptr;
    const char* cwd = nullptr;
    const char* pidFile = nullptr;
    const char* resultFile = nullptr;
    DWORD timeout = INFINITE;
    int show = -1;

    for (int i = 1; i < argc; ++i) {
        const char* option = argv[i];
        if (i + 1 >= argc) return usage();
        const char* value = argv[++i];
        if (!strcmp(option, "--cmdline-file")) cmdlineFile = value;
        else if (!strcmp(option, "--app")) app = value;
        else if (!strcmp(option, "--cwd")) cwd = value;
        else if (!strcmp(option, "--pid-file")) pidFile = value;
        else if (!strcmp(option, "--result")) resultFile = value;
        else if (!strcmp(option, "--timeout")) timeout = static_cast<DWORD>(probe::number(value));
        else if (!strcmp(option, "--show")) show = static_cast<int>(probe::number(value));
        else if (!strcmp(option, "--unset")) SetEnvironmentVariableA(value, nullptr);
        else if (!strcmp(option, "--env")) {
            const char* equals = strchr(value, '=');
            if (!equals || equals == value) return usage();
            Buffer name;
            name.append(value, static_cast<size_t>(equals - value));
            SetEnvironmentVariableA(name.text(), equals + 1);
        } else {
            return usage();
        }
    }
    if (!cmdlineFile) return usage();

    Buffer commandLine;
    if (!readWholeFile(cmdlineFile, commandLine)) {
        fprintf(stderr, "run_exact: cannot read %s\n", cmdlineFile);
        return 2;
    }
    // CreateProcessA may write into the command line: give it a private copy.
    char* writable = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, commandLine.length() + 1));
    memcpy(writable, commandLine.text(), commandLine.length() + 1);

    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    if (show >= 0) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = static_cast<WORD>(show);
    }
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);

    DWORD begin = GetTickCount();
    BOOL started = CreateProcessA(app, writable, nullptr, nullptr, FALSE, 0, nullptr, cwd, &startup,
                                  &process);
    DWORD createError = started ? 0 : GetLastError();

    if (started && pidFile) {
        char digits[32];
        int length = snprintf(digits, sizeof digits, "%lu\n", process.dwProcessId);
        probe::writeFileAtomically(pidFile, digits, static_cast<size_t>(length));
    }

    bool ended = false, terminated = false;
    DWORD exitCode = 0;
    if (started) {
        ended = WaitForSingleObject(process.hProcess, timeout) == WAIT_OBJECT_0;
        if (!ended) {
            terminated = TerminateProcess(process.hProcess, 0xDEAD) != 0;
            WaitForSingleObject(process.hProcess, 5000);
        }
        GetExitCodeProcess(process.hProcess, &exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    DWORD elapsed = GetTickCount() - begin;

    if (resultFile) {
        Buffer text;
        Json json(text);
        json.beginObject();
        json.key("started").boolean(started != 0);
        json.key("create_error").number(createError);
        json.key("pid").number(started ? process.dwProcessId : 0);
        json.key("ended").boolean(ended);
        if (started) json.key("exit_code").number(exitCode);
        else json.key("exit_code").null();
        json.key("terminated").boolean(terminated);
        json.key("elapsed_ms").number(elapsed);
        json.endObject();
        text.append('\n');
        probe::writeFileAtomically(resultFile, text.text(), text.length());
    }
    if (!started) return 3;
    return ended ? 0 : 4;
}
