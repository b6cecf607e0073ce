// Joins and leaves of the system's IPv4 multicast groups on a caller's
// socket, with the DEBUG_IGMP_LEAVES trace.
#pragma once

namespace Halvane {

enum class EMembershipChange { kJoin, kLeave };

// Changes the membership of the host-order group on any local interface;
// true when the system accepted it. A join also limits the socket to the
// groups it joined itself (ReceiveOnlyJoinedGroups).
bool ChangeSystemMembership(int descriptor, unsigned int groupId, EMembershipChange change);

// Linux hands a socket bound to a port the datagrams of every group that
// any socket on the host joined on that port. This turns that off, so the
// socket gets only the multicast of its own memberships. False when the
// system refused (not an IPv4 socket).
bool ReceiveOnlyJoinedGroups(int descriptor);

} // namespace Halvane
