#include <windows.h>

#include "platform/platform.h"

long regOpenKeyRead(const char* subkey, RegistryKey* key)
{
    HKEY opened = nullptr;
    LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_READ, &opened);
    *key = result == ERROR_SUCCESS ? opened : nullptr;
    return result;
}

long regQueryValue(RegistryKey key, const char* name, uint32_t* type, void* data, uint32_t* size)
{
    DWORD valueType = 0;
    DWORD valueSize = *size;
    LONG result = RegQueryValueExA(static_cast<HKEY>(key), name, nullptr, &valueType, static_cast<BYTE*>(data),
                                   &valueSize);
    *type = valueType;
    *size = valueSize;
    return result;
}

void regCloseKey(RegistryKey key) { RegCloseKey(static_cast<HKEY>(key)); }
