// The loader's command line, split the way the viewer launch passes it on.
#pragma once
#include "platform/text.h"

// Token `index` of commandLine (token 0 is the program name as written), or
// the empty text when there is none. Separators are the characters 1 to 32;
// before each token separators and empty quote pairs are skipped; a double
// quote opens a section, up to the next quote, in which separators belong to
// the token; quotes stay in the token, except that a token of two or more
// characters that both begins and ends with a quote loses those two.
Text commandLineToken(const char* commandLine, int index);

// Parameter 0 is the loader's module path; parameter i >= 1 is token i of
// the process command line, split afresh on every call.
Text commandLineParameter(int index);

// The number of consecutive non-empty parameters from 1 on.
int commandLineParameterCount();

// The part of path up to and including its last backslash or colon; empty
// when it has neither.
Text folderOf(const Text& path);
