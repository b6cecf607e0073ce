// The virtual interface: tunnels group traffic to every relay router, keeps
// the routers' subscriptions current and queues what they relay back.
#include "Adapter/VirtualInterface.h"

#include "Adapter/AdapterAddress.h"
#include "Api/GroupAddress.h"
#include "Api/SystemMembership.h"
#include "Packet/ByteOrder.h"
#include "Packet/SubscriptionListPacket.h"
#include "debug_log_stream.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <set>
#include <sys/socket.h>
#include <unistd.h>

namespace Halvane::Adapter {

using Packet::CGroupMsg;
using Packet::CPacket;
using Packet::CSubscription;
using Packet::CSubscriptionListPacket;
using Packet::CWebManagementMsg;

namespace {

bool FlagSet(const char* flag)
{
    return debug_log_is_enabled(flag);
}

} // namespace

CVirtualInterface::CVirtualInterface(unsigned int deviceId, unsigned char tag, const std::string& interfaceName,
                                     Callback callback)
    : mCallback(callback), mDeviceId(deviceId), mTag(tag), mInterfaceName(interfaceName)
{
    mLocalAddress.sin_family = AF_INET;
    mLocalAddress.sin_addr.s_addr = htonl(INADDR_ANY);
    mLocalAddress.sin_port = 0;
    UpdateIfAddress();
    OpenTrunkSocket();
}

CVirtualInterface::~CVirtualInterface()
{
    if (mTrunkSocket >= 0)
        ::close(mTrunkSocket);
}

void CVirtualInterface::OpenTrunkSocket()
{
    mTrunkSocket = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (mTrunkSocket < 0) {
        get_debug_log_ostream_enabled() << "Error " << errno << " (" << std::strerror(errno)
                                        << ") creating the trunk socket!" << "\n";
        return;
    }
    // Bound to any address: without this it would also take the multicast
    // of groups that other sockets joined on its port.
    ReceiveOnlyJoinedGroups(mTrunkSocket);
    debug_log_cout("DEBUG_BIND") << "Binding socket " << mTrunkSocket << " to: " << 0 << " (INADDR_ANY is "
                                 << INADDR_ANY << ")" << "\n";
    const int result = ::bind(mTrunkSocket, reinterpret_cast<const sockaddr*>(&mLocalAddress), sizeof mLocalAddress);
    if (result != 0) {
        const int error = errno;
        debug_log_ostream& log = get_debug_log_ostream_enabled();
        log << "Bind returned " << result << "\n";
        log << "Error " << error << " (" << std::strerror(error)
            << ") binding to our local interface!  Did you remember to call WSAStartup()?  Also make sure "
               "l_pInterface is declared for the right network interface."
            << "\n";
    }
}

void CVirtualInterface::UpdateIfAddress()
{
    mInterfaceAddress = IpAddressOfInterface(mInterfaceName);
}

bool CVirtualInterface::InitializeRouter(const std::string& address, unsigned int port)
{
    sockaddr_in router{};
    router.sin_family = AF_INET;
    // inet_aton rather than inet_addr: a bad address must not become the
    // broadcast address 255.255.255.255.
    if (::inet_aton(address.c_str(), &router.sin_addr) == 0 || port == 0 || port > 65535) {
        get_debug_log_ostream_enabled() << "Ignoring router " << address.c_str() << " : " << port
                                        << ": not an IPv4 address and UDP port." << "\n";
        return false;
    }
    router.sin_port = htons(static_cast<unsigned short>(port));
    mRouters.push_back(router);
    return true;
}

unsigned int CVirtualInterface::OpenSocket(unsigned int descriptor)
{
    return CSocketProvider::OpenSocket(new Sys::CSocket(this), descriptor);
}

unsigned int CVirtualInterface::OpenSocket()
{
    return CSocketProvider::OpenSocket(new Sys::CSocket(this));
}

int CVirtualInterface::SendBytes(const char* data, unsigned int length, const sockaddr* to, unsigned char,
                                 unsigned char payloadKind) const
{
    if (to == nullptr || to->sa_family != AF_INET)
        return -1;
    return ShipGroupPacket(reinterpret_cast<const unsigned char*>(data), length,
                           reinterpret_cast<const sockaddr_in*>(to), payloadKind);
}

int CVirtualInterface::ReceiveBytes()
{
    return 0;
}

int CVirtualInterface::ShipGroupPacket(const unsigned char* data, unsigned int length, const sockaddr_in* to,
                                       unsigned char payloadKind) const
{
    const unsigned int groupId = ntohl(to->sin_addr.s_addr);
    if (FlagSet("DEBUG_GROUPMSG_PACKET"))
        debug_log_printf("DEBUG_GROUPMSG_PACKET",
                         "Building GroupMsg packet with device id of %d and sending to group %u (%s)\n", mDeviceId,
                         groupId, DottedGroup(groupId).c_str());
    return SendPacket(CGroupMsg(mDeviceId, mTag, data, length, payloadKind, groupId));
}

int CVirtualInterface::SendSubscriptionPacket(unsigned int, unsigned int groupId, CSubscription::EAction action)
{
    debug_log_printf("DEBUG_SUBSCRIPTION_PACKET",
                     "Building subscription packet with device id of 0x%08X to group %u (%s) with action %d\n",
                     mDeviceId, groupId, DottedGroup(groupId).c_str(), action);
    return SendPacket(CSubscription(mDeviceId, mTag, nullptr, 0, groupId, action));
}

int CVirtualInterface::SendSubscriptionListPacket(const char* list, int length)
{
    if (length < 0)
        return -1;
    const CSubscriptionListPacket packet(mDeviceId, mTag, reinterpret_cast<const unsigned char*>(list),
                                         static_cast<unsigned int>(length));
    debug_log_printf("DEBUG_SUBSCRIPTION_LIST", "Sending sub list packet to device 0x%08X with size of %d \n",
                     mDeviceId, length + static_cast<int>(CSubscriptionListPacket::kHeaderSize));
    return SendPacket(packet);
}

int CVirtualInterface::SendPacket(const CPacket& packet) const
{
    if (packet.PayloadRefused())
        return -1;
    unsigned char datagram[kDatagramBufferSize];
    packet.Encode(datagram);
    return SendToRouters(datagram, packet.EncodedSize());
}

int CVirtualInterface::SendToRouters(const unsigned char* data, unsigned int length) const
{
    // No router selection and no failover: every router gets every datagram.
    ssize_t largest = -1;
    for (const sockaddr_in& router : mRouters) {
        const ssize_t sent = ::sendto(mTrunkSocket, data, length, 0, reinterpret_cast<const sockaddr*>(&router),
                                      sizeof router);
        if (FlagSet("DEBUG_SENDING_TO_MULTIPLE_ROUTERS"))
            debug_log_printf("DEBUG_SENDING_TO_MULTIPLE_ROUTERS", "Sending %d bytes to %s : %d \n",
                             static_cast<int>(sent), DottedGroup(ntohl(router.sin_addr.s_addr)).c_str(),
                             ntohs(router.sin_port));
        largest = std::max(largest, sent);
    }
    return static_cast<int>(largest);
}

void CVirtualInterface::SetSubscriptionRefreshInterval(unsigned int milliseconds)
{
    mSubscriptionTimer.set_length(milliseconds);
}

void CVirtualInterface::ProcessIncoming()
{
    if (!TrunkPollDue())
        return;
    RefreshSubscriptionsIfDue();
    DrainTrunkSocket();
    mDiagnostics.Flush(mLastTrunkPoll);
}

bool CVirtualInterface::TrunkPollDue()
{
    // Within the quiet interval only a change of subscriptions needs the
    // poll; the 25-second refresh is checked at the next real poll.
    const auto now = std::chrono::steady_clock::now();
    if (mTrunkFoundEmpty && !mSubscriptionsDirty && now - mLastTrunkPoll < mTrunkPollInterval)
        return false;
    mLastTrunkPoll = now;
    return true;
}

void CVirtualInterface::DrainTrunkSocket()
{
    mTrunkFoundEmpty = false;
    unsigned char datagram[kDatagramBufferSize];
    for (bool first = true;; first = false) {
        // MSG_TRUNC reports a datagram's full length, so one larger than the
        // buffer is recognised and dropped rather than taken as truncated.
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t length = ::recvfrom(mTrunkSocket, datagram, sizeof datagram, MSG_DONTWAIT | MSG_TRUNC,
                                          reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (length < 0) {
            mTrunkFoundEmpty = first; // only a quiet trunk lets the next polls be skipped
            return;
        }
        if (!IsRouter(from)) {
            DropForeignDatagram(from);
            continue;
        }
        if (FlagSet("BLOCK_HALVANE_RX")) {
            debug_log_output_string(
                "Packet received via Halvane dropped because BLOCK_HALVANE_RX was found in debug_log.conf\n");
            return;
        }
        if (HandleDatagram(from, datagram, static_cast<unsigned int>(length)) == EPollStep::kEndPoll)
            return;
    }
}

bool CVirtualInterface::IsRouter(const sockaddr_in& sender) const
{
    return std::any_of(mRouters.begin(), mRouters.end(), [&](const sockaddr_in& router) {
        return sender.sin_family == AF_INET && sender.sin_addr.s_addr == router.sin_addr.s_addr &&
               sender.sin_port == router.sin_port;
    });
}

void CVirtualInterface::DropForeignDatagram(const sockaddr_in& sender)
{
    // Only the routers speak for the trunk: anyone else could otherwise
    // feed the sockets forged group messages or fake settings notices.
    if (mDiagnostics.foreign.occurred(mLastTrunkPoll))
        get_debug_log_ostream_enabled() << "Dropping a trunk datagram from "
                                        << DottedGroup(ntohl(sender.sin_addr.s_addr)).c_str() << ":"
                                        << ntohs(sender.sin_port) << ": not a configured router.\n";
}

CVirtualInterface::EPollStep CVirtualInterface::HandleDatagram(const sockaddr_in& from, const unsigned char* data,
                                                              unsigned int length)
{
    debug_log_cout("DEBUG_HALVANE_RX") << "Received packet from Halvane2 router, size " << length << "\n";
    Packet::EParseResult result = Packet::EParseResult::kOk;
    const std::unique_ptr<CPacket> packet = CPacket::TryCreatePacket(data, length, result);
    if (!packet) {
        if (mDiagnostics.malformed.occurred(mLastTrunkPoll)) {
            CPacket::ReportParseFailure(result, data, length);
            debug_log_output_string("  ProcessIncoming skipping invalid (NULL) packet\n");
        }
        return EPollStep::kContinue;
    }
    switch (packet->Type()) {
    case Packet::kTypeGroupMsg: {
        const auto& message = static_cast<const CGroupMsg&>(*packet);
        if (IsLocalTalkGroupId(message.GroupId())) {
            if (mDiagnostics.localGroup.occurred(mLastTrunkPoll))
                get_debug_log_ostream_enabled()
                    << "Discarding a packet from Halvane2 with a local multicast address...\n" << "\n";
            return EPollStep::kEndPoll;
        }
        DeliverGroupPacket(message);
        break;
    }
    case Packet::kTypeWebManagementMsg:
        DeliverWebManagementMsg(static_cast<const CWebManagementMsg&>(*packet));
        break;
    case Packet::kTypeChallenge:
        AnswerChallenge(from, static_cast<const Packet::CChallenge&>(*packet));
        break;
    default:
        if (mDiagnostics.unexpectedType.occurred(mLastTrunkPoll))
            debug_log_output_string("  ProcessIncoming discarding packet of unknown type\n");
        break;
    }
    return EPollStep::kContinue;
}

void CVirtualInterface::AnswerChallenge(const sockaddr_in& router, const Packet::CChallenge& challenge)
{
    // Only configured routers get here, so the answer goes back to one.
    if (challenge.PayloadLength() > Packet::CChallenge::kMaxCookie || !AnswerAllowed()) {
        if (mDiagnostics.unansweredChallenge.occurred(mLastTrunkPoll))
            get_debug_log_ostream_enabled() << "Leaving a challenge from router "
                                            << DottedGroup(ntohl(router.sin_addr.s_addr)).c_str() << ":"
                                            << ntohs(router.sin_port) << " unanswered.\n";
        return;
    }
    const Packet::CChallengeAnswer answer(mDeviceId, mTag, challenge.Payload(), challenge.PayloadLength());
    unsigned char datagram[kDatagramBufferSize];
    answer.Encode(datagram);
    const ssize_t sent = ::sendto(mTrunkSocket, datagram, answer.EncodedSize(), 0,
                                  reinterpret_cast<const sockaddr*>(&router), sizeof router);
    if (FlagSet("DEBUG_HALVANE_RX"))
        debug_log_printf("DEBUG_HALVANE_RX", "Answered a challenge from router %s : %d (%d bytes)\n",
                         DottedGroup(ntohl(router.sin_addr.s_addr)).c_str(), ntohs(router.sin_port),
                         static_cast<int>(sent));
}

bool CVirtualInterface::AnswerAllowed()
{
    const auto now = std::chrono::steady_clock::now();
    if (now - mAnswerSecondStart >= std::chrono::seconds(1)) {
        mAnswerSecondStart = now;
        mAnswersThisSecond = 0;
    }
    return mAnswersThisSecond++ < kMaxAnswersPerSecond;
}

void CVirtualInterface::RefreshSubscriptionsIfDue()
{
    if (!mSubscriptionsDirty && !mSubscriptionTimer.is_expired())
        return;
    BuildSubscriptionList();
    mSubscriptionsDirty = false;
    if (!FlagSet("DISABLE_SUBSCRIPTION_PACKET"))
        SendMultipleSubscriptionPackets();
    else
        debug_log_cout("DEBUG_SENDING_OLD_SUB_PACKETS") << " Old subscription packets disabled." << "\n";
    mSubscriptionTimer.start_timer();
}

void CVirtualInterface::BuildSubscriptionList()
{
    debug_log_ostream& trace = debug_log_cout("DEBUG_SUBSCRIPTION_LIST");
    std::set<unsigned int> collected;
    for (const auto& [descriptor, socket] : Sockets()) {
        for (unsigned int groupId : socket->Groups()) {
            if (collected.count(groupId))
                continue;
            if (IsLocalTalkGroupId(groupId)) {
                trace << " Ignoring " << groupId << "(" << DottedGroup(groupId).c_str() << ")"
                      << " because it's a local multicast address. " << "\n";
                continue;
            }
            trace << " Adding " << groupId << "(" << DottedGroup(groupId).c_str() << ")" << " subscription. " << "\n";
            collected.insert(groupId);
        }
    }
    unsigned char list[CSubscriptionListPacket::kMaxGroups * 4];
    unsigned int listed = 0;
    for (unsigned int groupId : collected) {
        if (listed == CSubscriptionListPacket::kMaxGroups) {
            get_debug_log_ostream_enabled() << "Too many subscriptions" << "\n";
            break;
        }
        Packet::WriteLe32(list + 4 * listed++, groupId);
    }
    SendSubscriptionListPacket(reinterpret_cast<const char*>(list), static_cast<int>(4 * listed));
    debug_log_ostream& print = debug_log_cout("PRINT_SUBSCRIPTION_LIST");
    for (unsigned int i = 0; i < listed; ++i) {
        const unsigned int groupId = Packet::ReadLe32(list + 4 * i);
        print << "Unit 0x" << std::hex << mDeviceId << std::dec << " has subscription(s) on Group " << groupId << "("
              << DottedGroup(groupId).c_str() << ")" << "\n";
    }
}

void CVirtualInterface::SendMultipleSubscriptionPackets()
{
    debug_log_ostream& trace = debug_log_cout("DEBUG_SENDING_MULTIPLE_SUB_PACKETS");
    for (const auto& [descriptor, socket] : Sockets()) {
        // JoinGroup inserts nothing new, so the walk over the set stays valid.
        for (unsigned int groupId : socket->Groups()) {
            if (IsLocalTalkGroupId(groupId)) {
                trace << "Not sending for " << DottedGroup(groupId).c_str() << " because it's a local multicast address"
                      << "\n";
                continue;
            }
            trace << "Sending subscription packet for " << DottedGroup(groupId).c_str() << " on socket " << descriptor
                  << "\n";
            socket->JoinGroup(groupId);
        }
    }
}

template <typename Visit>
void CVirtualInterface::ForEachMember(unsigned int groupId, Visit visit) const
{
    for (const auto& entry : Sockets()) {
        if (entry.second->IsMemberOf(groupId))
            visit(*entry.second);
    }
}

void CVirtualInterface::DeliverGroupPacket(const CGroupMsg& packet)
{
    const bool duplicate = IsRecentDuplicate(packet.Payload(), packet.PayloadLength());
    ForEachMember(packet.GroupId(), [&](Sys::CSocket& socket) {
        if (duplicate && socket.DropsDuplicates()) {
            debug_log_cout("DEBUG_DUPLICATE_PACKET_DROPPING") << "\n----- Dropping duplicate Halvane2 packet" << "\n";
            return;
        }
        socket.Queue(packet, packet.GroupId());
    });
}

unsigned int CVirtualInterface::FeedPacketToQueue(const CGroupMsg& packet)
{
    unsigned int fed = 0;
    ForEachMember(packet.GroupId(), [&](Sys::CSocket& socket) {
        if (FlagSet("DEBUG_FEEDBACK2HALVANE"))
            debug_log_cout("DEBUG_FEEDBACK2HALVANE")
                << "Forwarding packet to socket " << socket.Descriptor() << " because it is a member of group "
                << packet.GroupId() << "( " << DottedGroup(packet.GroupId()).c_str() << " )" << "\n";
        socket.Queue(packet, packet.GroupId());
        ++fed;
    });
    return fed;
}

unsigned int CVirtualInterface::QueueDatagramForGroup(unsigned int groupId, const unsigned char* data,
                                                     unsigned int length)
{
    // The caller hands on datagrams it received, so their length is
    // outside input: a refusal is counted rather than logged each time.
    if (length > CGroupMsg::kMaxPayload) {
        if (mDiagnostics.oversized.occurred())
            get_debug_log_ostream_enabled() << "Refusing a payload of " << length << " bytes: at most "
                                            << CGroupMsg::kMaxPayload << " fit in one datagram.\n";
        return 0;
    }
    return FeedPacketToQueue(CGroupMsg(0, 0, data, length, Packet::kKindRtp, groupId));
}

void CVirtualInterface::DeliverWebManagementMsg(const CWebManagementMsg& packet)
{
    const bool log = mDiagnostics.webManagement.occurred(mLastTrunkPoll);
    if (log)
        debug_log_output_string("WebManagement Packet!\n");
    if (mCallback == nullptr) {
        if (log)
            debug_log_output_string("cVirtualInterfaceFp is null.\n");
        return;
    }
    if (packet.MsgType() == CWebManagementMsg::kSettingsChanged)
        mCallback();
}

bool CVirtualInterface::IsRecentDuplicate(const unsigned char* data, unsigned int length)
{
    return mRecentPackets.SeenRecently(data, length);
}

std::string CVirtualInterface::Uuid() const
{
    return "00:00:00:00:00:00";
}

void CVirtualInterface::ToString() const
{
    char line[64];
    for (const auto& entry : Sockets()) {
        std::snprintf(line, sizeof line, " Joined on Socket ID %d \n", static_cast<int>(entry.first));
        debug_log_output_string(line);
    }
}

unsigned short CVirtualInterface::LocalPort() const
{
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    if (mTrunkSocket < 0 || ::getsockname(mTrunkSocket, reinterpret_cast<sockaddr*>(&bound), &length) != 0)
        return 0;
    return ntohs(bound.sin_port);
}

} // namespace Halvane::Adapter
