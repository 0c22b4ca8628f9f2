// Finding an installed runtime module in the registry.
#pragma once
#include <stdint.h>
#include "loader/loader_state.h"

// Sets runtimeAvailable: the key exists, "Path" names an existing file, and
// "Version" equals the required version or the value named like the required
// version holds exactly "1". When available, runtimeTemporary is cleared.
// Registry order: open, "Path", "Version", the compatibility value (only on a
// version difference), close.
void discoverInstalledRuntime(LoaderState& state);

// After the installer ran: viewerPath := "Path" (empty without key or value);
// runtimeAvailable := true when that names an existing file (never set false).
void readRegisteredRuntimePath(LoaderState& state);

// Decimal value of a version text: an optional single sign, then digits, in
// wrapping 32-bit arithmetic; no blanks skipped; the rest ignored.
int32_t decimalValue(const Text& text);
