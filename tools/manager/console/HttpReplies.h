// Small pieces of the console's HTTP answers: pages, redirects and cookies.
#pragma once

#include "HttpMessage.h"

#include <string>

namespace Manager {

HttpResponse htmlReply(int status, std::string html);
// 303 See Other: the browser fetches the location with GET (after a form
// was posted, a reload then repeats no change).
HttpResponse seeOther(const std::string& location);

// The value of the named cookie of the request; empty when it has none.
std::string cookieValue(const HttpRequest& request, const std::string& name);

struct CookieSpec
{
    std::string name;
    std::string value;
    std::string path = "/";
    long maxAgeSeconds = -1;  // < 0: until the browser closes; 0: delete now
    bool secure = false;      // only over HTTPS
};
// The Set-Cookie value: always HttpOnly and SameSite=Strict, so that page
// scripts cannot read it and other sites' requests do not carry it.
std::string setCookieValue(const CookieSpec& cookie);

} // namespace Manager
