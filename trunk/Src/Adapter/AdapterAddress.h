// Looks up the IPv4 address of a network adapter by its system name.
#pragma once

#include <string>

namespace Halvane::Adapter {

// The first IPv4 address of the named adapter as dotted text; empty text
// when no adapter has that name or it has no IPv4 address.
std::string IpAddressOfInterface(const std::string& name);

} // namespace Halvane::Adapter
