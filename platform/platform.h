// What the loader needs of Windows, declared once. The real loader links
// platform/win32/; the unit tests link a fake that keeps a registry, files,
// resources, processes and windows in memory and records every call.
// Each function is a thin wrapper of the Win32 call it names, so that the
// logic above it (and its tests) sees the same results Windows gives.
#pragma once
#include <stdint.h>
#include "packed/byte_stream.h"
#include "platform/text.h"

using WindowHandle = void*;   // HWND, null = none
using RegistryKey = void*;    // HKEY, null = none
using ProcessHandle = void*;  // HANDLE of a process or thread

// ---- process ---------------------------------------------------------------

// First thing in the run: DLLs loaded later come from System32 only.
void startPlatform();
// InitCommonControls of comctl32.
void initCommonControls();
// Runs the platform's clean-up and ends the process with exit code 0.
[[noreturn]] void exitProcess();
// MessageBoxA(GetActiveWindow(), text, caption, style); returns when closed.
void showMessageBox(const char* text, const char* caption, uint32_t style);
// GetModuleFileNameA of the loader's own module into a 261-byte buffer.
Text moduleFileName();
// GetCommandLineA, never null.
const char* processCommandLine();
// GetVersionExA reports VER_PLATFORM_WIN32_NT.
bool isNtPlatform();

// ---- resources ---------------------------------------------------------------

// Appends every byte of the RT_RCDATA resource `name` of the loader's module
// to destination at its current position. Writes nothing when FindResourceA,
// SizeofResource, LoadResource or the lock fails.
void copyResource(const char* name, ByteStream& destination);

// ---- registry (HKEY_LOCAL_MACHINE, read only) --------------------------------

constexpr long registrySuccess = 0;       // ERROR_SUCCESS
constexpr uint32_t registryTypeText = 1;  // REG_SZ
constexpr uint32_t registryTypeNumber = 4;  // REG_DWORD

// RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_READ, &key); the Win32 result.
long regOpenKeyRead(const char* subkey, RegistryKey* key);
// RegQueryValueExA(key, name, null, type, data, size); the Win32 result.
long regQueryValue(RegistryKey key, const char* name, uint32_t* type, void* data, uint32_t* size);
void regCloseKey(RegistryKey key);

// ---- files ----------------------------------------------------------------------

constexpr uint32_t invalidFileAttributes = 0xFFFFFFFFu;
constexpr uint32_t fileAttributeDirectory = 0x10;

uint32_t getFileAttributes(const char* path);  // GetFileAttributesA
void deleteFile(const char* path);             // DeleteFileA, result ignored
// GetTempPathA with a 261-byte buffer; empty when the call fails.
Text tempPath();
// GetTempFileNameA(folder, prefix, unique, ...); false when it fails.
bool tempFileName(const char* folder, const char* prefix, uint32_t unique, Text* name);

// File streams. Both exist even when CreateFileA failed; their writes then
// fail silently. Released with release(), which closes the handle.
// Write-only: GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS; every write is
// followed by SetEndOfFile, so the file ends where the last write ended.
ByteStream* openWriteOnlyFileStream(const char* path);
// Read-write: GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING
// when a file exists at path, else CREATE_ALWAYS.
ByteStream* openReadWriteFileStream(const char* path);

// ---- processes -----------------------------------------------------------------

constexpr uint32_t infiniteWait = 0xFFFFFFFFu;
constexpr uint32_t createNewConsole = 0x10;
constexpr uint32_t createNoWindow = 0x08000000;
constexpr int showHide = 0;
constexpr int showNormal = 1;
constexpr int showShow = 5;

struct StartedProcess {
    ProcessHandle process = nullptr;
    ProcessHandle thread = nullptr;
};

// CreateProcessA(null, commandLine, null, null, FALSE, creationFlags, null,
// folder or null when empty, STARTUPINFO{cb 68, STARTF_USESHOWWINDOW,
// showState}, &info). False when it fails.
bool createProcess(const char* commandLine, const char* folder, int showState, uint32_t creationFlags,
                   StartedProcess* started);
void waitForInputIdle(ProcessHandle process);  // WaitForInputIdle(process, INFINITE)
// WaitForSingleObject(process, timeout) == WAIT_OBJECT_0.
bool waitForProcessEnd(ProcessHandle process, uint32_t timeout);
void closeHandle(ProcessHandle handle);

// ---- windows ---------------------------------------------------------------------

void showWindow(WindowHandle window, int command);  // ShowWindow
void destroyWindow(WindowHandle window);            // DestroyWindow
// ShellExecuteA(NULL, "open", file, "", "", showState); result ignored.
void shellOpen(const char* file, int showState);
