// Form-token check of posted changes.
#include "Csrf.h"

#include "Tokens.h"

namespace Manager {

bool Csrf::accepts(const std::string& expectedToken, const std::map<std::string, std::string>& form)
{
    const auto given = form.find(kField);
    return given != form.end() && sameToken(expectedToken, given->second);
}

} // namespace Manager
