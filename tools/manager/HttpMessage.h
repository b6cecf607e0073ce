// The HTTP requests and responses that rvx-manager's listeners hand to their
// handlers: the radio endpoints and the web console both work on these,
// whatever reads and writes the bytes on the connection.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace Manager {

struct HttpRequest
{
    std::string method;  // "GET", "POST", ...
    std::string path;    // the target without its query, still percent-encoded
    std::string query;   // after '?', without it; empty when there is none
    // Header names in lower case; a repeated header keeps its last value.
    std::map<std::string, std::string> headers;
    std::string body;
    std::string peerAddress;  // the client's IP address as text

    // The header's value, or empty.
    std::string header(const std::string& lowerCaseName) const
    {
        const auto found = headers.find(lowerCaseName);
        return found == headers.end() ? std::string() : found->second;
    }
};

struct HttpResponse
{
    int status = 200;
    std::string contentType = "text/plain; charset=utf-8";
    // Further headers, in order (Set-Cookie may repeat).
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    static HttpResponse text(int status, std::string body)
    {
        HttpResponse response;
        response.status = status;
        response.body = std::move(body);
        return response;
    }
};

// Decodes %XX escapes and, in forms, '+' as a space. Malformed escapes are
// kept as they are.
std::string percentDecode(const std::string& text, bool plusIsSpace);

// The fields of an application/x-www-form-urlencoded body or a query
// string; a repeated name keeps its first value.
std::map<std::string, std::string> parseForm(const std::string& text);

} // namespace Manager
