// Building the console's HTML: escaping of every text that came from an
// operator or a radio, and a tiny template filler that escapes by default.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>

namespace Manager::Html {

// The text with & < > " ' replaced by character references, safe inside
// element content and quoted attribute values.
std::string escape(const std::string& text);

// One value for fill(): its name in the pattern and its text.
using Field = std::pair<const char*, std::string>;

// The pattern with every {name} replaced by the escaped value of that field
// and every {!name} by the value as it is (markup the console built itself).
// A name the fields do not have is a programming error: std::logic_error.
std::string fill(const char* pattern, std::initializer_list<Field> fields);

// The hidden field that carries the session's form token.
std::string csrfField(const std::string& token);

} // namespace Manager::Html
