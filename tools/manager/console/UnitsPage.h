// The units page: every radio the service knows, whether it is registered,
// when it was last heard from and how its settings stand; registering,
// renaming, unregistering and sending settings now.
#pragma once

#include "ConsolePage.h"

namespace Manager {

class UnitsPage : public ConsolePage
{
public:
    const char* path() const override { return "/units"; }
    const char* menuName() const override { return "Units"; }
    const char* title() const override { return "Units"; }
    std::string body(FleetModel& model, const PageRequest& request) override;
    std::optional<std::string> change(FleetModel& model, const std::string& action, const FormFields& form) override;
};

} // namespace Manager
