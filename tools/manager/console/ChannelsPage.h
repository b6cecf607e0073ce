// The talk-group page: the zones and the managed talk groups (channels) the
// radios get in their settings, with forms to add, change and remove them,
// and the "encrypted" switch and key rotation of each talk group and of
// individual calls.
#pragma once

#include "ConsolePage.h"

namespace Manager {

class ChannelsPage : public ConsolePage
{
public:
    const char* path() const override { return "/channels"; }
    const char* menuName() const override { return "Talk groups"; }
    const char* title() const override { return "Talk groups and zones"; }
    std::string body(FleetModel& model, const PageRequest& request) override;
    std::optional<std::string> change(FleetModel& model, const std::string& action, const FormFields& form) override;
};

} // namespace Manager
