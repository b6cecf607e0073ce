// Escaping of text for XML and HTML.
#include "MarkupEscape.h"

namespace ManagementCommon {

std::string escapeMarkup(const std::string& text)
{
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '"': escaped += "&quot;"; break;
        case '\'': escaped += "&#39;"; break;
        case '\n': escaped += "&#10;"; break;
        case '\r': escaped += "&#13;"; break;
        case '\t': escaped += "&#9;"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20)
                escaped += "\xEF\xBF\xBD";
            else
                escaped += c;
        }
    }
    return escaped;
}

} // namespace ManagementCommon
