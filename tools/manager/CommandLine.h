// rvx-manager's command line: `serve` and the operator's commands, which
// all work on the data folder directly (also while the service runs).
#pragma once

#include <string>

namespace Manager {

// The exit status: 0 done, 1 refused or failed (the reason on standard
// error), 2 a usage error.
int runCommandLine(int argc, char** argv);

// A stored text as one field of a listing line: backslash, tab, line ends
// and other control characters as escapes, so that no stored value can
// forge a line or a field.
std::string escapedField(const std::string& text);

} // namespace Manager
