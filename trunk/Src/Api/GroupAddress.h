// Group-address tests used inside the library: local talk groups (never
// tunnelled) and the dotted form of a group id for log lines.
#pragma once

namespace Halvane {

// 225.4.0.0 to 225.4.255.255 and 225.5.5.5, as host-order ids.
bool IsLocalTalkGroupId(unsigned int groupId);

// Dotted text of a host-order group id, in the caller's buffer.
struct DottedGroup
{
    explicit DottedGroup(unsigned int groupId);
    const char* c_str() const { return text; }
    char text[16];
};

} // namespace Halvane
