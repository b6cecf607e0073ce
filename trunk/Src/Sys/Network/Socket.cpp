// A virtual socket: group membership with its subscription packets, and the
// queue of relayed group messages shared with the receive calls.
#include "Sys/Network/Socket.h"

#include "Adapter/VirtualInterface.h"
#include "Api/GroupAddress.h"
#include "Packet/Subscription.h"
#include "Sys/Network/TracedLock.h"
#include "debug_log_stream.h"

#include <cstring>

namespace Halvane::Sys {

namespace {

const LockTraceLines kQueueLockTrace = {
    ">   ... CSocket::Queue about to try to acquire mutex", " >  +++ CSocket::Queue acquired mutex",
    "  > --- CSocket::Queue about to release mutex",        ">  .",
    " > +",                                                 "  >-",
};

const LockTraceLines kReceiveLockTrace = {
    "<   ... CSocket::Receive about to try to acquire mutex", " <  +++ CSocket::Receive acquired mutex",
    "  < --- CSocket::Receive about to release mutex",        "<  .",
    " < +",                                                   "  <-",
};

bool SubscriptionPacketsDisabled()
{
    return debug_log_is_enabled("DISABLE_SUBSCRIPTION_PACKET");
}

} // namespace

CSocket::CSocket(Adapter::CVirtualInterface* owner) : mOwner(owner) {}

CSocket::~CSocket() = default;

void CSocket::JoinGroup(unsigned int groupId)
{
    debug_log_printf("DEBUG_GROUP_JOINS", "Device ID: 0x%08x, socket %u, %s(aiGroupId %s): ", mOwner->DeviceId(),
                     mDescriptor, "JoinGroup", DottedGroup(groupId).c_str());
    if (mGroups.insert(groupId).second)
        debug_log_printf("DEBUG_GROUP_JOINS", "inserting");
    else
        debug_log_printf("DEBUG_GROUP_JOINS", "already member but resending join packet anyway\n");
    SendSubscription(groupId, Packet::CSubscription::kJoin);
}

void CSocket::AddToGroupButDontSendSubscriptionPacket(unsigned int groupId)
{
    if (mGroups.insert(groupId).second)
        debug_log_printf("DEBUG_GROUP_JOINS", " socket %d (aiGroupId %d): inserting\n", mDescriptor, groupId);
    else
        debug_log_printf("DEBUG_GROUP_JOINS", "%s socket %d (aiGroupId %d): nothing to do (already member)\n",
                         "AddToGroupButDontSendSubscriptionPacket", mDescriptor, groupId);
}

void CSocket::LeaveGroup(unsigned int groupId)
{
    if (mGroups.erase(groupId) > 0)
        debug_log_printf("DEBUG_GROUP_LEAVE", "%s socket %d (aiGroupId %d): erasing\n", "LeaveGroup", mDescriptor,
                         groupId);
    else
        debug_log_printf("DEBUG_GROUP_LEAVE",
                         "%s socket %d (aiGroupId %d): was not a member but resending leave packet anyway\n",
                         "LeaveGroup", mDescriptor, groupId);
    SendSubscription(groupId, Packet::CSubscription::kLeave);
}

void CSocket::LeaveAll()
{
    debug_log_printf("DEBUG_GROUP_LEAVEALL", "%s socket %d ()\n", "LeaveAll", mDescriptor);
    while (!mGroups.empty()) {
        const unsigned int groupId = *mGroups.begin();
        debug_log_printf("DEBUG_GROUP_LEAVEALL_KLUDGE", " %s() Leaving Group %s\n", "LeaveAll",
                         DottedGroup(groupId).c_str());
        LeaveGroup(groupId);
    }
}

bool CSocket::IsMemberOf(unsigned int groupId) const
{
    return mGroups.count(groupId) != 0;
}

void CSocket::SendSubscription(unsigned int groupId, unsigned char action)
{
    if (!SubscriptionPacketsDisabled())
        mOwner->SendSubscriptionPacket(mDescriptor, groupId, static_cast<Packet::CSubscription::EAction>(action));
}

int CSocket::Queue(const Packet::CPacket& packet, unsigned int groupId)
{
    CTracedLock lock(mOwner->QueueMutex(), kQueueLockTrace);
    debug_log_ostream& trace = debug_log_cout("DEBUG_CSOCKET_QUEUING");
    trace << "Preparing to queue packet received on group " << groupId << "\n";
    trace << "Size of queue for SocketID " << mDescriptor << " is " << mQueue.size() << "\n";
    if (mQueue.size() > kQueueLimit) {
        if (mOwner->Diagnostics().queueFull.occurred())
            get_debug_log_ostream_enabled() << "Dropping rather than queuing packet for SocketID " << mDescriptor
                                            << " because queue already has " << kQueueLimit << " items in it "
                                            << "\n" << "\n";
        return 0;
    }
    mQueue.emplace_back(packet);
    mQueued.store(mQueue.size(), std::memory_order_release);
    trace << "Done queuing packet of size " << packet.PayloadLength() << " received on group " << groupId << "\n";
    return 0;
}

unsigned int CSocket::Receive(unsigned char* buffer, unsigned int size, unsigned char* type, unsigned char* kind)
{
    if (mQueued.load(std::memory_order_acquire) == 0)
        return 0;
    CTracedLock lock(mOwner->QueueMutex(), kReceiveLockTrace);
    if (mQueue.empty())
        return 0;
    const Packet::CPacket& front = mQueue.front();
    unsigned int delivered = front.PayloadLength();
    if (delivered > size || buffer == nullptr) {
        debug_log_printf("DEBUG_PACKET_BUFFER_SIZE", "Preparing to copy received packet size %d, address %p\n",
                         delivered, static_cast<const void*>(front.Payload()));
        debug_log_printf("DEBUG_PACKET_BUFFER_SIZE", "Destination buffer size %d, address %p\n", size,
                         static_cast<void*>(buffer));
        delivered = 0;
    } else {
        std::memcpy(buffer, front.Payload(), delivered);
    }
    if (type)
        *type = front.Type();
    if (kind)
        *kind = front.PayloadKind();
    debug_log_printf("DEBUG_MUTEX_POP", " mPacketQueue size before pop() = %d \n", static_cast<int>(mQueue.size()));
    mQueue.pop_front();
    mQueued.store(mQueue.size(), std::memory_order_release);
    debug_log_printf("DEBUG_MUTEX_POP", " mPacketQueue size after  pop() = %d \n", static_cast<int>(mQueue.size()));
    return delivered;
}

std::size_t CSocket::QueuedPackets() const
{
    std::lock_guard<std::mutex> lock(mOwner->QueueMutex());
    return mQueue.size();
}

int CSocket::Send(const char* data, unsigned int length, const sockaddr* to, unsigned char unused,
                  unsigned char payloadKind)
{
    return mOwner->SendBytes(data, length, to, unused, payloadKind);
}

void CSocket::ToString() const
{
    for (unsigned int groupId : mGroups)
        get_debug_log_ostream_enabled() << "Joined on : " << DottedGroup(groupId).c_str() << "\n";
}

} // namespace Halvane::Sys
