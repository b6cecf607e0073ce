// The exported socket-style functions of the trunk library. Each does the
// plain IP operation on the caller's socket and, beside it, carries the same
// traffic over the trunk through the one virtual interface.
#include "halvane2.h"

#include "Adapter/VirtualInterface.h"
#include "Api/GroupAddress.h"
#include "Api/SystemMembership.h"
#include "debug_log_stream.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <unistd.h>

using Halvane::Adapter::CVirtualInterface;
using Halvane::Sys::CSocket;

namespace {

// The one interface. Never destroyed at exit: the caller's threads may still
// be inside a receive call while the process ends.
CVirtualInterface* l_pInterface = nullptr;

bool HaveInterface(const char* function)
{
    if (l_pInterface)
        return true;
    get_debug_log_ostream_enabled() << "Error in " << function
                                    << ":  l_pInterface is NULL (did hv_init_interface() get called?)" << "\n";
    return false;
}

CSocket* FindSocket(int descriptor)
{
    if (l_pInterface == nullptr || descriptor < 0)
        return nullptr;
    const auto& sockets = l_pInterface->Sockets();
    const auto found = sockets.find(static_cast<unsigned int>(descriptor));
    return found == sockets.end() ? nullptr : found->second.get();
}

// Registers a virtual socket beside the caller's socket. The real socket
// then receives only the multicast groups joined on it, whatever other
// sockets on its port joined.
CSocket* RegisterSocket(int descriptor)
{
    Halvane::ReceiveOnlyJoinedGroups(descriptor);
    l_pInterface->OpenSocket(static_cast<unsigned int>(descriptor));
    return l_pInterface->Socket(descriptor);
}

CSocket* FindOrOpenSocket(int descriptor)
{
    if (CSocket* socket = FindSocket(descriptor))
        return socket;
    return RegisterSocket(descriptor);
}

void ReportMissingSocket(int descriptor)
{
    get_debug_log_ostream_enabled() << "Socket " << descriptor << " doesn't exist!" << "\n";
}

// Group id of a strict dotted quad; false (with a log line) for anything
// else, so that bad text never becomes the group 0.0.0.0.
bool ParseGroup(const char* group, unsigned int& groupId)
{
    unsigned char bytes[4];
    if (group == nullptr || Halvane::inet_pton4(group, bytes, 1) != 1) {
        get_debug_log_ostream_enabled() << "Ignoring group \"" << (group ? group : "(null)")
                                        << "\": not a dotted IPv4 address." << "\n";
        return false;
    }
    groupId = GetGroupIdFromIpAddress(group);
    return true;
}

// A socket the library made for the caller: non-blocking, and registered
// afresh (a virtual socket left over from a closed socket that had the same
// number belongs to nothing now).
int CreateRegisteredSocket(int family, int type)
{
    const int descriptor = ::socket(family, type, 0);
    if (descriptor < 0)
        return -1;
    ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) | O_NONBLOCK);
    RegisterSocket(descriptor);
    return descriptor;
}

// The IPv4 destination of a send, or none when to is not a whole sockaddr_in.
const sockaddr_in* Ipv4Destination(const sockaddr* to, int toLength)
{
    if (to == nullptr || toLength < static_cast<int>(sizeof(sockaddr_in)) || to->sa_family != AF_INET)
        return nullptr;
    return reinterpret_cast<const sockaddr_in*>(to);
}

int SendDatagram(int descriptor, const unsigned char* data, int length, int flags, const sockaddr* to,
                 int toLength, unsigned char payloadKind)
{
    if (!HaveInterface("hv_sendto"))
        return -1;
    if (descriptor < 0 || length < 0 || (data == nullptr && length > 0) || toLength < 0) {
        errno = EINVAL;
        return -1;
    }
    CSocket* socket = FindOrOpenSocket(descriptor);
    const ssize_t plain = ::sendto(descriptor, data, static_cast<size_t>(length), flags, to,
                                   static_cast<socklen_t>(toLength));
    const sockaddr_in* destination = Ipv4Destination(to, toLength);
    if (destination == nullptr || IsLocalTalkGroupSockaddr(to))
        return static_cast<int>(plain);
    const int trunk = socket->Send(reinterpret_cast<const char*>(data), static_cast<unsigned int>(length), to, 0,
                                   payloadKind);
    debug_log_cout("DEBUG_HALVANE_TX") << "Halvane2 packet sent from " << "hv_sendto" << "\n";
    return trunk;
}

// Reads the caller's own socket; applies the block flag and the duplicate
// window to what arrives.
int ReceivePlainDatagram(CSocket& socket, int descriptor, unsigned char* buffer, int size, int flags,
                         sockaddr* from, int* fromLength)
{
    socklen_t addressLength = fromLength ? static_cast<socklen_t>(*fromLength) : 0;
    const ssize_t received = ::recvfrom(descriptor, buffer, static_cast<size_t>(size), flags,
                                        fromLength ? from : nullptr, fromLength ? &addressLength : nullptr);
    if (received <= 0)
        return static_cast<int>(received);
    if (fromLength)
        *fromLength = static_cast<int>(addressLength);
    if (debug_log_is_enabled("BLOCK_LOCAL_MULTICAST_RX")) {
        if (!debug_log_is_enabled("SUPPRESS_LOCAL_MULTICAST_RX_DROP_MSGS"))
            debug_log_output_string(
                "Local multicast packet dropped because BLOCK_LOCAL_MULTICAST_RX was found in debug_log.conf\n");
        return 0;
    }
    debug_log_cout("DEBUG_LOCAL_MULTICAST_RX") << "Local Multicast packet received." << "\n";
    const bool duplicate = l_pInterface->IsRecentDuplicate(buffer, static_cast<unsigned int>(received));
    if (duplicate && socket.DropsDuplicates()) {
        debug_log_cout("DEBUG_DUPLICATE_PACKET_DROPPING") << "Dropping duplicate packet received by local multicast"
                                                          << "\n";
        return 0;
    }
    return static_cast<int>(received);
}

// acceptedKind 0 takes every trunk packet; 1 (RTP) or 2 (RTCP) takes only
// group messages of that kind and refuses, consuming, the others with -1.
int ReceiveDatagram(int descriptor, unsigned char* buffer, int size, int flags, sockaddr* from, int* fromLength,
                    unsigned char acceptedKind)
{
    if (!HaveInterface("hv_recvfrom"))
        return -1;
    if (size < 0 || (buffer == nullptr && size > 0) || (fromLength && *fromLength < 0)) {
        errno = EINVAL;
        return -1;
    }
    l_pInterface->ProcessIncoming();
    CSocket* socket = FindSocket(descriptor);
    if (socket == nullptr)
        return 0;
    unsigned char type = 0;
    unsigned char kind = 0;
    const unsigned int delivered = socket->Receive(buffer, static_cast<unsigned int>(size), &type, &kind);
    if (delivered > 0) {
        debug_log_cout("DEBUG_HALVANE_RX") << "Halvane2 Packet Received." << "\n";
        const bool accepted =
            acceptedKind == 0 || (type == Halvane::Packet::kTypeGroupMsg && kind == acceptedKind);
        return accepted ? static_cast<int>(delivered) : -1;
    }
    return ReceivePlainDatagram(*socket, descriptor, buffer, size, flags, from, fromLength);
}

} // namespace

extern "C" {

void hv_init_interface(unsigned int deviceId, unsigned char tag, const char* interfaceName, void (*callback)(void))
{
    debug_log_printf("DEBUG_HV_INIT_INTERFACE", "This is hv_init_interface( acsIfName = %s, aiDeviceId = %d\n",
                     interfaceName ? interfaceName : "", deviceId);
    if (l_pInterface)
        get_debug_log_ostream_enabled() << "Warning: hv_init_interface() currently supports only a single network "
                                           "interface but is being called multiple times."
                                        << "\n";
    CVirtualInterface* created = nullptr;
    try {
        created = new CVirtualInterface(deviceId, tag, interfaceName ? interfaceName : "", callback);
    } catch (const std::exception&) {
        get_debug_log_ostream_enabled() << "hv_init_router() failed to create CVirtualInterface." << "\n";
        return;
    }
    delete l_pInterface;
    l_pInterface = created;
}

void hv_init_routing(const char* routerAddress, unsigned int routerPort)
{
    if (!HaveInterface("hv_init_routing"))
        return;
    debug_log_printf("DEBUG_HV_INIT_ROUTING", "This is hv_init_routing( acsRouterAddress = %s, aiRouterPort = %d )",
                     routerAddress ? routerAddress : "", routerPort);
    l_pInterface->InitializeRouter(routerAddress ? routerAddress : "", routerPort);
}

int hv_socket(int descriptor, int, int, int)
{
    if (!HaveInterface("hv_socket"))
        return -1;
    if (descriptor < 0)
        return -1;
    if (l_pInterface->SocketExists(static_cast<unsigned int>(descriptor)))
        return 0;
    RegisterSocket(descriptor);
    return descriptor;
}

int hv_create_socket(int family, int type, int)
{
    if (!HaveInterface("hv_create_socket"))
        return -1;
    return CreateRegisteredSocket(family, type);
}

int hv_create_and_bind(struct sockaddr_in address)
{
    if (!HaveInterface("hv_create_socket"))
        return -1;
    const int descriptor = CreateRegisteredSocket(AF_INET, SOCK_DGRAM);
    if (descriptor < 0)
        return -1;
    debug_log_ostream& trace = debug_log_cout("ENABLE_SOCKET_OPERATION_DEBUG");
    if (::bind(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        trace << "Unable to bind socket." << "\n";
    else
        trace << "Bound to " << Halvane::DottedGroup(ntohl(address.sin_addr.s_addr)).c_str() << " with socket fd "
              << descriptor << "\n";
    return descriptor;
}

void hv_close_socket(int descriptor)
{
    CSocket* socket = FindSocket(descriptor);
    if (socket == nullptr)
        return;
    debug_log_cout("DEBUG_GROUP_LEAVEALL") << "Closing virtual socket " << descriptor << "\n";
    socket->LeaveAll();
    {
        std::lock_guard<std::mutex> lock(l_pInterface->QueueMutex());
        l_pInterface->CloseSocket(static_cast<unsigned int>(descriptor));
    }
    l_pInterface->MarkSubscriptionsDirty();
}

void hv_set_socket_port(int descriptor, int port)
{
    if (l_pInterface == nullptr)
        return;
    char line[96];
    std::snprintf(line, sizeof line, "Set Socket Port on Socket %d with Port %d \n", descriptor, port);
    debug_log_output_string(line);
    if (CSocket* socket = FindSocket(descriptor))
        socket->SetPort(port);
    else
        debug_log_output_string("Socket not found... \n");
}

void hv_set_socket_tx_only(int descriptor, bool on)
{
    if (CSocket* socket = FindSocket(descriptor))
        socket->SetTxOnly(on);
}

void hv_set_duplicate_packet_dropping(int descriptor, bool on)
{
    if (CSocket* socket = FindSocket(descriptor))
        socket->SetDropDuplicates(on);
}

void hv_group_join(int descriptor, const char* group)
{
    unsigned int groupId = 0;
    if (!HaveInterface("hv_group_join") || !ParseGroup(group, groupId))
        return;
    if (debug_log_is_enabled("DEBUG_GROUP_JOINS"))
        debug_log_printf("DEBUG_GROUP_JOINS", "Attempting to join group %u (Group IP %s)(Normal IP %s) on FD %d\n",
                         groupId, GetDottedIpStringFromGroupId(groupId), group, descriptor);
    if (CSocket* socket = FindSocket(descriptor)) {
        if (socket->TxOnly())
            socket->AddToGroupButDontSendSubscriptionPacket(groupId);
        else
            socket->JoinGroup(groupId);
    } else {
        ReportMissingSocket(descriptor);
    }
    Halvane::ChangeSystemMembership(descriptor, groupId, Halvane::EMembershipChange::kJoin);
    l_pInterface->MarkSubscriptionsDirty();
}

void hv_group_leave(int descriptor, const char* group)
{
    unsigned int groupId = 0;
    if (!HaveInterface("hv_group_leave") || !ParseGroup(group, groupId))
        return;
    debug_log_cout("DEBUG_GROUP_LEAVE") << "Attempting to leave group " << groupId << " ("
                                        << GetDottedIpStringFromGroupId(groupId) << ") on FD " << descriptor << "\n";
    if (CSocket* socket = FindSocket(descriptor))
        socket->LeaveGroup(groupId);
    else
        ReportMissingSocket(descriptor);
    Halvane::ChangeSystemMembership(descriptor, groupId, Halvane::EMembershipChange::kLeave);
    l_pInterface->MarkSubscriptionsDirty();
}

void hv_group_leave_all(int descriptor)
{
    if (!HaveInterface("hv_group_leave_all"))
        return;
    if (CSocket* socket = FindSocket(descriptor)) {
        debug_log_cout("DEBUG_GROUP_LEAVEALL") << "Attempting to leave all on FD " << descriptor << "\n";
        socket->LeaveAll();
    }
    l_pInterface->MarkSubscriptionsDirty();
}

void hv_group_join_local(int descriptor, const char* group)
{
    unsigned int groupId = 0;
    if (ParseGroup(group, groupId))
        Halvane::ChangeSystemMembership(descriptor, groupId, Halvane::EMembershipChange::kJoin);
}

void hv_group_leave_local(int descriptor, const char* group)
{
    unsigned int groupId = 0;
    if (ParseGroup(group, groupId))
        Halvane::ChangeSystemMembership(descriptor, groupId, Halvane::EMembershipChange::kLeave);
}

int hv_sendto(int, const unsigned char*, int, int, const struct sockaddr*, int)
{
    get_debug_log_ostream_enabled() << "hv_sendto() sends nothing: use hv_sendto_rtp() or hv_sendto_rtcp()." << "\n";
    errno = ENOTSUP;
    return -1;
}

int hv_sendto_rtp(int descriptor, const unsigned char* data, int length, int flags, const struct sockaddr* to,
                  int toLength)
{
    return SendDatagram(descriptor, data, length, flags, to, toLength, Halvane::Packet::kKindRtp);
}

int hv_sendto_rtcp(int descriptor, const unsigned char* data, int length, int flags, const struct sockaddr* to,
                   int toLength)
{
    return SendDatagram(descriptor, data, length, flags, to, toLength, Halvane::Packet::kKindRtcp);
}

int hv_recvfrom(int descriptor, unsigned char* buffer, int size, int flags, struct sockaddr* from, int* fromLength)
{
    return ReceiveDatagram(descriptor, buffer, size, flags, from, fromLength, Halvane::Packet::kKindNone);
}

int hv_recvfrom_rtp(int descriptor, unsigned char* buffer, int size, int flags, struct sockaddr* from,
                    int* fromLength)
{
    return ReceiveDatagram(descriptor, buffer, size, flags, from, fromLength, Halvane::Packet::kKindRtp);
}

int hv_recvfrom_rtcp(int descriptor, unsigned char* buffer, int size, int flags, struct sockaddr* from,
                     int* fromLength)
{
    return ReceiveDatagram(descriptor, buffer, size, flags, from, fromLength, Halvane::Packet::kKindRtcp);
}

int hv_queue_packet_to_socket_with_addr(const char* group, unsigned char* data, int length)
{
    unsigned int groupId = 0;
    if (l_pInterface == nullptr || length < 0 || (data == nullptr && length > 0) || !ParseGroup(group, groupId))
        return 0;
    return static_cast<int>(l_pInterface->QueueDatagramForGroup(groupId, data, static_cast<unsigned int>(length)));
}

} // extern "C"
