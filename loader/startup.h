// The loader's one straight pass from the start of the process to its end.
#pragma once
#include "loader/loader_state.h"

// Runs the whole start-up sequence over `state` and ends the process with
// exit code 0; it never returns.
[[noreturn]] void runLoader(LoaderState& state);

// The exit path after a failure message: destroys the splash window when
// there is one, releases the run's texts and ends the process.
[[noreturn]] void exitAfterFailure(LoaderState& state);

// The exit path's normal end: releases the run's texts and ends the process.
[[noreturn]] void exitNormally(LoaderState& state);
