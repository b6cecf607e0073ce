// Text form of a relay peer's address.
#include "Endpoint.h"

#include <arpa/inet.h>

namespace Relay {

std::string Endpoint::ToString() const
{
    char text[INET_ADDRSTRLEN] = "?";
    in_addr ipv4{};
    ipv4.s_addr = address;
    inet_ntop(AF_INET, &ipv4, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(port));
}

} // namespace Relay
