// The console's one style sheet and its small script, served from memory:
// the console needs no files beside the program and nothing from outside.
#pragma once

namespace Manager {

const char* consoleStyleSheet();
const char* consoleIcon();  // SVG
// Asks for confirmation before forms marked data-confirm are sent.
const char* consoleScript();

} // namespace Manager
