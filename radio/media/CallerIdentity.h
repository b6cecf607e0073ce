// Caller identity in RTCP source descriptions: the location text a radio
// sends, and the contact record read back from a received RTCP message.
#pragma once

#include "RadioContact.h"

#include <cstddef>
#include <optional>
#include <string>

// "%f%c,%f%c": latitude, N or S, longitude, E or W; the numbers keep their
// signs. Always written with a '.' decimal point, whatever the locale.
std::string formatLocationText(double latitude, double longitude);

// The contact that a received RTCP compound describes: read from its second
// packet when that is a source description (after the sender or receiver
// report). None when there is no such packet. Every length is checked against
// the received bytes; an item that runs past them ends the reading.
std::optional<RadioContact> callerIdentityFromRtcp(const unsigned char* message, std::size_t length);
