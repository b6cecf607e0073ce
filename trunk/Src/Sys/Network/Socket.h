// A virtual socket: stands beside one real UDP socket of the caller (same
// descriptor number) and adds its trunk side: the joined groups, a queue of
// group messages relayed for them, and two per-socket switches.
#pragma once

#include "Packet/Packet.h"

#include <atomic>
#include <cstddef>
#include <deque>
#include <set>
#include <sys/socket.h>

namespace Halvane::Adapter {
class CVirtualInterface;
}

namespace Halvane::Sys {

class CSocket
{
public:
    // A packet is dropped when the queue already holds more than this many.
    static constexpr std::size_t kQueueLimit = 500;

    explicit CSocket(Adapter::CVirtualInterface* owner);
    virtual ~CSocket();
    CSocket(const CSocket&) = delete;
    CSocket& operator=(const CSocket&) = delete;

    // Adds the group and sends a join subscription (also when already a
    // member), unless DISABLE_SUBSCRIPTION_PACKET is set.
    void JoinGroup(unsigned int groupId);
    void AddToGroupButDontSendSubscriptionPacket(unsigned int groupId);
    // Removes the group and sends a leave subscription (also when not a
    // member), unless DISABLE_SUBSCRIPTION_PACKET is set.
    void LeaveGroup(unsigned int groupId);
    // Leaves every group, smallest id first, one leave packet each.
    void LeaveAll();
    bool IsMemberOf(unsigned int groupId) const;

    // Appends a copy of the packet (header, payload, length); returns 0.
    int Queue(const Packet::CPacket& packet, unsigned int groupId);
    // Takes the front packet: its payload length when it fitted in size
    // bytes, else 0 (the packet is consumed either way). type and kind may be
    // null.
    unsigned int Receive(unsigned char* buffer, unsigned int size, unsigned char* type, unsigned char* kind);
    // Sends the datagram to every router as a group message.
    int Send(const char* data, unsigned int length, const sockaddr* to, unsigned char unused,
             unsigned char payloadKind);
    // Lists the joined groups on the log.
    void ToString() const;

    unsigned int Descriptor() const { return mDescriptor; }
    void SetDescriptor(unsigned int descriptor) { mDescriptor = descriptor; }
    bool TxOnly() const { return mTxOnly; }
    void SetTxOnly(bool on) { mTxOnly = on; }
    bool DropsDuplicates() const { return mDropDuplicates; }
    void SetDropDuplicates(bool on) { mDropDuplicates = on; }
    int Port() const { return mPort; }
    void SetPort(int port) { mPort = port; }
    const std::set<unsigned int>& Groups() const { return mGroups; }
    std::size_t QueuedPackets() const;

private:
    void SendSubscription(unsigned int groupId, unsigned char action);

    Adapter::CVirtualInterface* mOwner;
    unsigned int mDescriptor = 0;
    bool mTxOnly = false;
    bool mDropDuplicates = true;
    int mPort = -1;
    std::set<unsigned int> mGroups;
    std::deque<Packet::CPacket> mQueue; // guarded by the owner's queue mutex
    // The queue's length, readable without the mutex, so that a receive
    // call on a socket with nothing queued costs no lock.
    std::atomic<std::size_t> mQueued{0};
};

} // namespace Halvane::Sys
