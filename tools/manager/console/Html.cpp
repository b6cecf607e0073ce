// HTML escaping and the template filler of the console's pages.
#include "Html.h"

#include "MarkupEscape.h"

#include <cstring>
#include <stdexcept>

namespace Manager::Html {

std::string escape(const std::string& text)
{
    return ManagementCommon::escapeMarkup(text);
}

std::string fill(const char* pattern, std::initializer_list<Field> fields)
{
    std::string out;
    const std::string text(pattern);
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t open = text.find('{', at);
        if (open == std::string::npos) {
            out.append(text, at, std::string::npos);
            break;
        }
        out.append(text, at, open - at);
        const std::size_t close = text.find('}', open);
        if (close == std::string::npos)
            throw std::logic_error("unclosed field in page pattern");
        const bool raw = text[open + 1] == '!';
        const std::string name = text.substr(open + 1 + (raw ? 1 : 0), close - open - 1 - (raw ? 1 : 0));
        const Field* found = nullptr;
        for (const Field& field : fields)
            if (name == field.first)
                found = &field;
        if (!found)
            throw std::logic_error("page pattern names an unknown field: " + name);
        out += raw ? found->second : escape(found->second);
        at = close + 1;
    }
    return out;
}

std::string csrfField(const std::string& token)
{
    return fill(R"(<input type="hidden" name="csrf" value="{token}">)", {{"token", token}});
}

} // namespace Manager::Html
