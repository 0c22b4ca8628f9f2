// The road without any runtime module: the missing-runtime dialog.
#pragma once
#include "loader/loader_state.h"

// Builds the dialog, loads the explanation from resource "INFO" (message 6
// and the end of the run when it does not unpack), removes the splash window,
// runs the dialog modally and, when the first button ended it, opens the
// download page (settings line 8).
void showMissingRuntimeDialog(LoaderState& state);
