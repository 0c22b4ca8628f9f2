#include "loader/discovery.h"

#include "loader/registry_read.h"

int32_t decimalValue(const Text& text)
{
    const char* p = text.c_str();
    bool negative = false;
    if (*p == '-' || *p == '+') {
        negative = *p == '-';
        ++p;
    }
    uint32_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) value = value * 10u + uint32_t(*p - '0');
    return int32_t(negative ? 0u - value : value);
}

void discoverInstalledRuntime(LoaderState& state)
{
    state.registryKey = openRuntimeKey(state.runtimeKeyName);
    state.runtimeAvailable = false;
    if (!state.registryKey) return;

    state.viewerPath = readRegistryText(state.registryKey, "Path");
    if (fileExists(state.viewerPath.c_str())) state.runtimeAvailable = true;

    uint32_t installedVersion = readRegistryNumber(state.registryKey, "Version");
    if (installedVersion != uint32_t(decimalValue(state.requiredVersion))) {
        if (readRegistryText(state.registryKey, state.requiredVersion.c_str()) != "1") state.runtimeAvailable = false;
    }
    if (state.runtimeAvailable) state.runtimeTemporary = false;

    closeRuntimeKey(state.registryKey);
    state.registryKey = nullptr;
}

void readRegisteredRuntimePath(LoaderState& state)
{
    state.registryKey = openRuntimeKey(state.runtimeKeyName);
    state.viewerPath = readRegistryText(state.registryKey, "Path");
    if (fileExists(state.viewerPath.c_str())) state.runtimeAvailable = true;
    closeRuntimeKey(state.registryKey);
    state.registryKey = nullptr;
}
