// Unpacking the runtime module that travels inside the publication.
#pragma once
#include "loader/loader_state.h"

// Unpacks "RUN" into the temporary folder under settings line 9's name and,
// unless the publication wants a temporary runtime, unpacks "INST" and runs
// it with that path. Afterwards the file still at that path becomes a
// temporary runtime; otherwise the runtime the installer registered is used.
// A failed unpack shows message 4 or 5 and ends the run.
void provisionRuntime(LoaderState& state);

// GetTempPathA with a backslash appended when it does not end with one;
// empty when the system gives no temporary folder.
Text temporaryFolder();
