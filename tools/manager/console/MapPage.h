// The map page: the units' last reported positions drawn on the page, and
// for a chosen unit the distance and bearing of every other unit, measured
// as the radios measure them.
#pragma once

#include "ConsolePage.h"

namespace Manager {

class MapPage : public ConsolePage
{
public:
    const char* path() const override { return "/map"; }
    const char* menuName() const override { return "Map"; }
    const char* title() const override { return "Map"; }
    // The query field "from" names the chosen unit.
    std::string body(FleetModel& model, const PageRequest& request) override;
};

} // namespace Manager
