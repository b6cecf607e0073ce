// Group-address helpers: group ids from dotted text and back, the local
// talk group test and the multicast test.
#include "Api/GroupAddress.h"

#include "halvane2.h"

#include <arpa/inet.h>

namespace Halvane {

namespace {

constexpr unsigned int kLocalTalkGroupPrefix = 0xE1040000u; // 225.4.0.0/16
constexpr unsigned int kLocalTalkGroupSingle = 0xE1050505u; // 225.5.5.5

} // namespace

bool IsLocalTalkGroupId(unsigned int groupId)
{
    return (groupId & 0xFFFF0000u) == kLocalTalkGroupPrefix || groupId == kLocalTalkGroupSingle;
}

DottedGroup::DottedGroup(unsigned int groupId) : text{}
{
    const unsigned char bytes[4] = {static_cast<unsigned char>(groupId >> 24),
                                    static_cast<unsigned char>(groupId >> 16),
                                    static_cast<unsigned char>(groupId >> 8), static_cast<unsigned char>(groupId)};
    inet_ntop4(bytes, text, sizeof text);
}

bool IsMulticast(unsigned int networkOrderAddress)
{
    const unsigned int firstOctet = ntohl(networkOrderAddress) >> 24;
    return firstOctet >= 224 && firstOctet <= 239;
}

bool IsMulticast(const sockaddr_in* address)
{
    return address != nullptr && address->sin_family == AF_INET && IsMulticast(address->sin_addr.s_addr);
}

bool IsMulticast(const sockaddr* address)
{
    return address != nullptr && address->sa_family == AF_INET &&
           IsMulticast(reinterpret_cast<const sockaddr_in*>(address));
}

} // namespace Halvane

extern "C" {

unsigned int GetGroupIdFromIpAddress(const char* text)
{
    return Halvane::inet_network(text);
}

const char* GetDottedIpStringFromGroupId(unsigned int groupId)
{
    // Per thread, so that log lines on two threads never share one buffer.
    thread_local Halvane::DottedGroup dotted(0);
    dotted = Halvane::DottedGroup(groupId);
    return dotted.c_str();
}

bool IsLocalTalkGroup(const char* text)
{
    return text != nullptr && Halvane::IsLocalTalkGroupId(ntohl(::inet_addr(text)));
}

bool IsLocalTalkGroupSockaddr(const struct sockaddr* address)
{
    if (address == nullptr || address->sa_family != AF_INET)
        return false;
    const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(address);
    return Halvane::IsLocalTalkGroupId(ntohl(ipv4->sin_addr.s_addr));
}

} // extern "C"
