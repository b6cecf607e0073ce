// Locale-independent number and position texts.
#include "LocationText.h"

#include <charconv>

std::string decimalText(double value, int decimals)
{
    // Room for the largest double in fixed notation and its decimals.
    char text[400];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc())
        return "0";
    return std::string(text, result.ptr);
}

std::string formatLocationText(double latitude, double longitude)
{
    std::string text = decimalText(latitude, 6);
    text += latitude >= 0 ? 'N' : 'S';
    text += ',';
    text += decimalText(longitude, 6);
    text += longitude >= 0 ? 'E' : 'W';
    return text.substr(0, 24);
}
