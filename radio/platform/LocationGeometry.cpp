// Great-circle distance and initial bearing on a sphere of radius 6378 km,
// with the rounding of the display.
#include "LocationGeometry.h"

#include "LocationText.h"
#include "debug_log.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr float kPi = 3.1415926f;
constexpr double kEarthRadiusMetres = 6378000.0;
constexpr double kMetresPerMile = 1609.344;
constexpr double kYardsPerMile = 1760.0;

float radians(double degrees)
{
    return static_cast<float>(degrees) / 360.0f * 2.0f * kPi;
}

const char* const kCompassPoints[] = {"N", "NE", "E", "SE", "S", "SW", "W", "NW"};

thread_local char distanceBuffer[30];
thread_local const char* distanceUnit = "";

// Distances come out with a '.' whatever the locale, like every other
// number the radio writes.
void copyText(const std::string& text)
{
    std::snprintf(distanceBuffer, sizeof distanceBuffer, "%s", text.c_str());
}

} // namespace

relative_position_t relativePosition(const location_t& from, const location_t& to)
{
    if (!from.valid || !to.valid)
        return relative_position_t{};
    const double lat1 = radians(from.latitude), lon1 = radians(from.longitude);
    const double lat2 = radians(to.latitude), lon2 = radians(to.longitude);
    const double deltaLon = lon2 - lon1;
    // Rounding can push the cosine of a tiny angle past 1, where acos has no value.
    const double cosine = std::clamp(
        std::sin(lat2) * std::sin(lat1) + std::cos(lat2) * std::cos(lat1) * std::cos(deltaLon), -1.0, 1.0);
    relative_position_t result;
    result.valid = true;
    result.distance = kEarthRadiusMetres * std::acos(cosine);
    result.bearing = std::atan2(std::cos(lat2) * std::sin(deltaLon),
                                std::cos(lat1) * std::sin(lat2) - std::sin(lat1) * std::cos(lat2) * std::cos(deltaLon));
    return result;
}

double bearingDegrees(const relative_position_t& position)
{
    return std::fmod(position.bearing * (180.0 / M_PI) + 360.0, 360.0);
}

const char* compassPoint(double degrees)
{
    int index = static_cast<int>((degrees + 22.5) / 45.0) % 8;
    if (index < 0)
        index += 8;
    return kCompassPoints[index];
}

const char* formatDistance(double metres, const std::string& unitSystem, const char** unitOut)
{
    debug_log_printf("DEBUG_GPS", "Distance in meters: %f\n", metres);
    if (unitSystem == "Metric") {
        std::snprintf(distanceBuffer, sizeof distanceBuffer, "Metric not implemented");
        distanceUnit = "N/A";
    } else if (unitSystem == "English") {
        const double miles = metres / kMetresPerMile;
        debug_log_printf("DEBUG_GPS", "Distance in Miles: %f\n", miles);
        if (miles >= 10.0) {
            copyText(decimalText(miles, 0));
            distanceUnit = "Miles";
        } else if (miles >= 0.1) {
            copyText(decimalText(miles, 1));
            distanceUnit = "Miles";
        } else {
            copyText(decimalText(miles * kYardsPerMile, 0));
            distanceUnit = "Yards";
        }
    } else {
        debug_log_printf_always("Invalid unit system: %s\n", unitSystem.c_str());
    }
    if (unitOut)
        *unitOut = distanceUnit;
    return distanceBuffer;
}

std::string distanceText(const relative_position_t& position, const std::string& unitSystem)
{
    const char* unit = "";
    const std::string number = formatDistance(position.distance, unitSystem, &unit);
    return number + " " + unit + " " + compassPoint(bearingDegrees(position));
}
