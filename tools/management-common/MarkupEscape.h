// Text made safe for XML documents and HTML pages: the settings documents
// the services serve and the console's pages carry names that operators and
// radios chose, which must never become markup.
#pragma once

#include <string>

namespace ManagementCommon {

// & < > " ' as references, line ends and tabs as character references, other
// control characters (no XML document may hold them) as U+FFFD.
std::string escapeMarkup(const std::string& text);

} // namespace ManagementCommon
