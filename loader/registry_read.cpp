#include "loader/registry_read.h"

#include <stdlib.h>
#include <string.h>

RegistryKey openRuntimeKey(const Text& keyName)
{
    Text subkey("SOFTWARE\\KOViewer\\");
    subkey.append(keyName);
    RegistryKey key = nullptr;
    if (regOpenKeyRead(subkey.c_str(), &key) != registrySuccess) return nullptr;
    return key;
}

uint32_t readRegistryNumber(RegistryKey key, const char* name)
{
    if (!key) return 0;
    uint32_t value = 0;
    uint32_t type = 0;
    uint32_t size = sizeof value;
    if (regQueryValue(key, name, &type, &value, &size) != registrySuccess || type != registryTypeNumber) return 0;
    return value;
}

Text readRegistryText(RegistryKey key, const char* name)
{
    Text result;
    if (!key) return result;
    uint32_t type = 0;
    uint32_t size = 0;
    if (regQueryValue(key, name, &type, nullptr, &size) != registrySuccess || type != registryTypeText) return result;

    // A buffer of exactly the reported size; one byte more only so that an
    // empty value still gets a real buffer.
    char* buffer = static_cast<char*>(malloc(size ? size : 1));
    if (!buffer) return result;
    uint32_t filled = size;
    if (regQueryValue(key, name, &type, buffer, &filled) == registrySuccess && filled <= size) {
        const void* nul = memchr(buffer, 0, filled);
        result = Text(buffer, nul ? static_cast<const char*>(nul) - buffer : filled);
    }
    free(buffer);
    return result;
}

void closeRuntimeKey(RegistryKey key)
{
    if (key) regCloseKey(key);
}

bool fileExists(const char* path)
{
    uint32_t attributes = getFileAttributes(path);
    return attributes != invalidFileAttributes && (attributes & fileAttributeDirectory) == 0;
}
