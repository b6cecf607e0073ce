// System multicast membership of a caller's socket.
#include "Api/SystemMembership.h"

#include "debug_log_stream.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace Halvane {

bool ReceiveOnlyJoinedGroups(int descriptor)
{
    const int off = 0;
    return ::setsockopt(descriptor, IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off) == 0;
}

bool ChangeSystemMembership(int descriptor, unsigned int groupId, EMembershipChange change)
{
    const bool join = change == EMembershipChange::kJoin;
    if (join)
        ReceiveOnlyJoinedGroups(descriptor);
    ip_mreq request{};
    request.imr_multiaddr.s_addr = htonl(groupId);
    request.imr_interface.s_addr = htonl(INADDR_ANY);
    const bool done = ::setsockopt(descriptor, IPPROTO_IP, join ? IP_ADD_MEMBERSHIP : IP_DROP_MEMBERSHIP, &request,
                                   sizeof request) == 0;
    debug_log_cout("DEBUG_IGMP_LEAVES") << (join ? " Local multicast join " : " Local multicast leave ")
                                        << (done ? "successful" : "failed") << "\n";
    return done;
}

} // namespace Halvane
