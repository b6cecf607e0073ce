// Page, redirect and cookie helpers.
#include "HttpReplies.h"

namespace Manager {

HttpResponse htmlReply(int status, std::string html)
{
    HttpResponse response;
    response.status = status;
    response.contentType = "text/html; charset=utf-8";
    response.body = std::move(html);
    return response;
}

HttpResponse seeOther(const std::string& location)
{
    HttpResponse response = HttpResponse::text(303, "See " + location + "\n");
    response.headers.emplace_back("Location", location);
    return response;
}

std::string cookieValue(const HttpRequest& request, const std::string& name)
{
    const std::string header = request.header("cookie");
    std::size_t at = 0;
    while (at < header.size()) {
        std::size_t end = header.find(';', at);
        if (end == std::string::npos)
            end = header.size();
        std::size_t start = header.find_first_not_of(' ', at);
        if (start < end) {
            const std::size_t equals = header.find('=', start);
            if (equals < end && header.compare(start, equals - start, name) == 0 && equals - start == name.size())
                return header.substr(equals + 1, end - equals - 1);
        }
        at = end + 1;
    }
    return {};
}

std::string setCookieValue(const CookieSpec& cookie)
{
    std::string value = cookie.name + "=" + cookie.value + "; Path=" + cookie.path + "; HttpOnly; SameSite=Strict";
    if (cookie.maxAgeSeconds >= 0)
        value += "; Max-Age=" + std::to_string(cookie.maxAgeSeconds);
    if (cookie.secure)
        value += "; Secure";
    return value;
}

} // namespace Manager
