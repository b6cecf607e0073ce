// Distance and compass direction between two positions, and their texts
// for the display.
#pragma once

#include "location.h"

#include <string>

struct relative_position_t
{
    bool valid = false;
    double distance = 0.0;  // metres
    double bearing = 0.0;   // radians, -pi..pi, clockwise from north
};

relative_position_t relativePosition(const location_t& from, const location_t& to);
// The bearing in degrees, 0 <= d < 360.
double bearingDegrees(const relative_position_t& position);
// "N", "NE", "E", "SE", "S", "SW", "W" or "NW".
const char* compassPoint(double degrees);
// The distance as text in the unit system ("English" or "Metric"), in a
// buffer of this thread valid until its next call; *unitOut gets the unit.
// Another unit system is logged and leaves buffer and unit as they were.
const char* formatDistance(double metres, const std::string& unitSystem, const char** unitOut);
// Number, unit and compass point: "1.0 Miles N".
std::string distanceText(const relative_position_t& position, const std::string& unitSystem);
