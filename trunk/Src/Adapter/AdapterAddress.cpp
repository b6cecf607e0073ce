// Adapter address lookup through getifaddrs.
#include "Adapter/AdapterAddress.h"

#include "halvane2.h"

#include "debug_log.h"

#include <ifaddrs.h>

namespace Halvane::Adapter {

std::string IpAddressOfInterface(const std::string& name)
{
    ifaddrs* adapters = nullptr;
    if (getifaddrs(&adapters) != 0) {
        debug_log_output_string("Failed fetching IF statistics!");
        return std::string();
    }
    std::string address;
    for (const ifaddrs* entry = adapters; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET || name != entry->ifa_name)
            continue;
        char text[16];
        const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        if (Halvane::inet_ntop(AF_INET, &ipv4->sin_addr, text, sizeof text))
            address = text;
        break;
    }
    freeifaddrs(adapters);
    return address;
}

} // namespace Halvane::Adapter
