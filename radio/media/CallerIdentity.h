// Caller identity in RTCP source descriptions: the location text a radio
// sends (LocationText.h), and the contact record read back from a received
// RTCP message.
#pragma once

#include "LocationText.h"
#include "RadioContact.h"

#include <cstddef>
#include <optional>
#include <string>


// The contact that a received RTCP compound describes: read from its second
// packet when that is a source description (after the sender or receiver
// report). None when there is no such packet. Every length is checked against
// the received bytes; an item that runs past them ends the reading.
std::optional<RadioContact> callerIdentityFromRtcp(const unsigned char* message, std::size_t length);

// The same, only when the identity is the sender's own: its CNAME names the
// SSRC of the chunk it came in (and is not 0). A station describing some
// other id is not believed, so it cannot rename or move other radios.
std::optional<RadioContact> trustedCallerIdentity(const unsigned char* message, std::size_t length);
