// Process-wide operations of the real loader.
#include <windows.h>
#include <commctrl.h>

#include "platform/platform.h"

void startPlatform()
{
    // A publication is often started from a Downloads folder: a DLL planted
    // there must never be loaded. Systems without SetDefaultDllDirectories
    // (before Windows 7 with KB2533623) keep their own search order.
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFunction)(DWORD);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (!kernel) return;
    auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefaultDllDirectories) setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

void initCommonControls() { InitCommonControls(); }

void exitProcess() { ExitProcess(0); }

void showMessageBox(const char* text, const char* caption, uint32_t style)
{
    MessageBoxA(GetActiveWindow(), text, caption, style);
}

Text moduleFileName()
{
    char buffer[261];
    DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    if (length >= sizeof buffer) length = 0;  // cut short: no path is better than a wrong one
    return Text(buffer, length);
}

const char* processCommandLine()
{
    const char* line = GetCommandLineA();
    return line ? line : "";
}

bool isNtPlatform()
{
    OSVERSIONINFOA info;
    ZeroMemory(&info, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    return GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

void copyResource(const char* name, ByteStream& destination)
{
    HRSRC resource = FindResourceA(nullptr, name, MAKEINTRESOURCEA(10));
    if (!resource) return;
    DWORD size = SizeofResource(nullptr, resource);
    if (size == 0) return;
    HGLOBAL loaded = LoadResource(nullptr, resource);
    if (!loaded) return;
    const void* bytes = LockResource(loaded);
    if (!bytes) return;
    destination.write(bytes, size);
}

void showWindow(WindowHandle window, int command) { ShowWindow(static_cast<HWND>(window), command); }

void destroyWindow(WindowHandle window) { DestroyWindow(static_cast<HWND>(window)); }

void shellOpen(const char* file, int showState) { ShellExecuteA(nullptr, "open", file, "", "", showState); }
