// What every page of the console has in common: it draws its body for a
// signed-in operator, and carries out the changes posted to its actions
// ("<page path>/<action>"), which answer with a confirmation or throw
// FleetError or FormError with a message for the operator.
#pragma once

#include "FormFields.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace Manager {

class FleetModel;

struct PageRequest
{
    std::map<std::string, std::string> query;
    std::string csrfToken;
    std::int64_t now = 0;  // seconds since 1970
};

class ConsolePage
{
public:
    virtual ~ConsolePage() = default;

    virtual const char* path() const = 0;      // "/units"
    virtual const char* menuName() const = 0;  // in the navigation bar
    virtual const char* title() const = 0;
    virtual std::string body(FleetModel& model, const PageRequest& request) = 0;
    // The confirmation of the change; nothing when the page has no such action.
    virtual std::optional<std::string> change(FleetModel& /*model*/, const std::string& /*action*/,
                                              const FormFields& /*form*/)
    {
        return std::nullopt;
    }
};

} // namespace Manager
