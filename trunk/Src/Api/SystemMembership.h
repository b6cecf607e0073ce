// Joins and leaves of the system's IPv4 multicast groups on a caller's
// socket, with the DEBUG_IGMP_LEAVES trace.
#pragma once

namespace Halvane {

enum class EMembershipChange { kJoin, kLeave };

// Changes the membership of the host-order group on any local interface;
// true when the system accepted it.
bool ChangeSystemMembership(int descriptor, unsigned int groupId, EMembershipChange change);

} // namespace Halvane
