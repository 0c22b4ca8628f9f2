#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "platform/platform.h"

#if !defined(_WIN64)
static_assert(sizeof(STARTUPINFOA) == 68, "STARTUPINFOA of the 32-bit system");
#endif

bool createProcess(const char* commandLine, const char* folder, int showState, uint32_t creationFlags,
                   StartedProcess* started)
{
    // CreateProcessA may write into its command line: give it a copy.
    size_t length = strlen(commandLine);
    char* writable = static_cast<char*>(malloc(length + 1));
    if (!writable) return false;
    memcpy(writable, commandLine, length + 1);

    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(showState);
    PROCESS_INFORMATION info;
    ZeroMemory(&info, sizeof info);
    BOOL ok = CreateProcessA(nullptr, writable, nullptr, nullptr, FALSE, creationFlags, nullptr,
                             folder && *folder ? folder : nullptr, &startup, &info);
    free(writable);
    if (!ok) return false;
    started->process = info.hProcess;
    started->thread = info.hThread;
    return true;
}

void waitForInputIdle(ProcessHandle process) { WaitForInputIdle(static_cast<HANDLE>(process), INFINITE); }

bool waitForProcessEnd(ProcessHandle process, uint32_t timeout)
{
    return WaitForSingleObject(static_cast<HANDLE>(process), timeout) == WAIT_OBJECT_0;
}

void closeHandle(ProcessHandle handle) { CloseHandle(static_cast<HANDLE>(handle)); }
