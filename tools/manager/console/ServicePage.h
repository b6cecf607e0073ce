// The routers and codec page: the relay routers the radios use, and the
// service options every radio's settings carry (codec, packet interval,
// position report interval, local and demo talk groups).
#pragma once

#include "ConsolePage.h"

namespace Manager {

class ServicePage : public ConsolePage
{
public:
    const char* path() const override { return "/service"; }
    const char* menuName() const override { return "Routers and codec"; }
    const char* title() const override { return "Routers and codec"; }
    std::string body(FleetModel& model, const PageRequest& request) override;
    std::optional<std::string> change(FleetModel& model, const std::string& action, const FormFields& form) override;
};

} // namespace Manager
