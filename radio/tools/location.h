// A position: latitude and longitude in degrees (north and east positive),
// the fix indicator of its source, whether it is known, and its time.
#pragma once

#include <cstdint>

struct location_t
{
    double latitude = 0.0;
    double longitude = 0.0;
    std::int32_t fix = 0;
    bool valid = false;
    std::int32_t time = 0;
};

// Same place: latitudes, longitudes and valid flags equal (exactly); the fix
// and the time are not compared.
inline bool operator==(const location_t& a, const location_t& b)
{
    return a.latitude == b.latitude && a.longitude == b.longitude && a.valid == b.valid;
}
inline bool operator!=(const location_t& a, const location_t& b)
{
    return !(a == b);
}
