// Numbers and positions as text for peers, files and the management service:
// always with a '.' decimal point, whatever the user's locale. printf-family
// and stream conversions follow LC_NUMERIC, which the toolkit sets from the
// user's environment, so a German or French desktop would otherwise send
// "45,500000" and every receiver would read a wrong position.
#pragma once

#include <string>

// The value in fixed notation with the given number of decimals ("%.Nf" in
// the C locale).
std::string decimalText(double value, int decimals);

// "%f%c,%f%c": latitude, N or S, longitude, E or W; the numbers keep their
// signs. At most 24 characters, which any real position fits.
std::string formatLocationText(double latitude, double longitude);
