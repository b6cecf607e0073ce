// The program's own command-line options: --help and --version answer and
// end the program before any window, key or sound card is touched; every
// other argument is left to the toolkit (a restart passes the program's own
// path as its first argument, which must keep working).
#pragma once

#include <cstdio>
#include <optional>

namespace ProgramOptions {

// The version the program reports, the project's version.
const char* version();

// The text of --help; the manual page is made from it.
const char* helpText();

// When the arguments ask for help or the version, prints it to out and
// gives the exit status; otherwise nothing happens.
std::optional<int> answerInformationRequest(int argc, const char* const* argv, std::FILE* out);

} // namespace ProgramOptions
