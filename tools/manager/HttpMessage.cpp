// Percent-decoding and form fields of the requests rvx-manager serves.
#include "HttpMessage.h"

namespace Manager {

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::string percentDecode(const std::string& text, bool plusIsSpace)
{
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+' && plusIsSpace) {
            decoded += ' ';
        } else if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            decoded += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            decoded += c;
        }
    }
    return decoded;
}

std::map<std::string, std::string> parseForm(const std::string& text)
{
    std::map<std::string, std::string> fields;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('&', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string pair = text.substr(start, end - start);
        if (!pair.empty()) {
            const std::size_t equals = pair.find('=');
            const std::string name = percentDecode(pair.substr(0, equals), true);
            const std::string value = equals == std::string::npos ? std::string() : percentDecode(pair.substr(equals + 1), true);
            fields.emplace(name, value);  // keeps the first of a repeated name
        }
        start = end + 1;
    }
    return fields;
}

} // namespace Manager
