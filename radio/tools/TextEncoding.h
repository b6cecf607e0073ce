// Names that arrive from other radios as bytes: newer radios send UTF-8
// (the settings document's text), older ones sent whatever bytes their
// document held, often Latin-1.
#pragma once

#include <string>

// True when the bytes are well-formed UTF-8 (no overlong forms, no
// surrogates, nothing above U+10FFFF).
bool isValidUtf8(const std::string& bytes);

// The text as UTF-8: kept when it is valid UTF-8, else read as Latin-1.
std::string utf8FromUtf8OrLatin1(const std::string& bytes);
