// Reading the runtime's registry key, with the results the loader relies on.
#pragma once
#include <stdint.h>
#include "platform/platform.h"

// Opens HKEY_LOCAL_MACHINE "SOFTWARE\KOViewer\" + keyName with KEY_READ; null when that fails.
RegistryKey openRuntimeKey(const Text& keyName);
// A REG_DWORD value; 0 without a key, when the value is missing, or of another type.
uint32_t readRegistryNumber(RegistryKey key, const char* name);
// A REG_SZ value up to its first NUL; the empty text without a key, when the
// value is missing, of another type, or cannot be read.
Text readRegistryText(RegistryKey key, const char* name);
// Closes a key that is not null.
void closeRuntimeKey(RegistryKey key);

// The file-exists test: the path names something that is not a folder.
bool fileExists(const char* path);
