// Protection of the console's forms against requests that other sites make
// a signed-in browser send: every form carries its session's token in the
// field "csrf", and a change is accepted only with the matching token.
#pragma once

#include <map>
#include <string>

namespace Manager {

class Csrf
{
public:
    static constexpr const char* kField = "csrf";

    // Whether the posted fields carry the expected token (constant time).
    static bool accepts(const std::string& expectedToken, const std::map<std::string, std::string>& form);
};

} // namespace Manager
