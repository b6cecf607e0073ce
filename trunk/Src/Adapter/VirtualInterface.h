// The trunk library's connection to its relay routers: one UDP socket, the
// router list, the virtual sockets, and the refresh of subscriptions and the
// delivery of relayed datagrams, all run inside the caller's receive calls.
#pragma once

#include "Adapter/DuplicateWindow.h"
#include "Adapter/ReceiveDiagnostics.h"
#include "Packet/Challenge.h"
#include "Packet/GroupMsg.h"
#include "Packet/Subscription.h"
#include "Packet/WebManagementMsg.h"
#include "Sys/Network/SocketProvider.h"
#include "halvane2.h"

#include <chrono>
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <vector>

namespace Halvane::Adapter {

class CVirtualInterface : public Sys::CSocketProvider
{
public:
    using Callback = void (*)();
    static constexpr unsigned int kSubscriptionRefreshMs = 25000;
    static constexpr unsigned int kDatagramBufferSize = Packet::CPacket::kMaxDatagramSize;
    // After a poll that found nothing on the trunk socket, receive calls
    // within this time skip the poll (unless subscriptions changed): callers
    // drain their own sockets in bursts, and a relayed datagram or a due
    // refresh then waits at most this long.
    static constexpr std::chrono::microseconds kTrunkPollInterval{250};
    // Challenges are answered only to the router that sent them, and at
    // most this many a second: a forged challenge in a router's name must
    // not make the unit a source of traffic towards it.
    static constexpr unsigned int kMaxAnswersPerSecond = 16;

    CVirtualInterface(unsigned int deviceId, unsigned char tag, const std::string& interfaceName,
                      Callback callback);
    ~CVirtualInterface() override;

    // Appends a router given as a dotted IPv4 address (names are not
    // resolved); false, with a log line, when the address or port is bad.
    bool InitializeRouter(const std::string& address, unsigned int port);

    unsigned int OpenSocket(unsigned int descriptor);
    unsigned int OpenSocket();

    // Sends a datagram addressed to an IPv4 group as a group message to
    // every router: the largest byte count sent, or -1.
    virtual int SendBytes(const char* data, unsigned int length, const sockaddr* to, unsigned char unused,
                          unsigned char payloadKind) const;
    virtual int ReceiveBytes();
    virtual int SendSubscriptionPacket(unsigned int descriptor, unsigned int groupId,
                                       Packet::CSubscription::EAction action);
    virtual int SendSubscriptionListPacket(const char* list, int length);

    int ShipGroupPacket(const unsigned char* data, unsigned int length, const sockaddr_in* to,
                        unsigned char payloadKind) const;
    // Sends the bytes unchanged to every router.
    int SendToRouters(const unsigned char* data, unsigned int length) const;

    // The poll done at the start of every receive call: refreshes the
    // subscriptions when due, then drains the trunk socket.
    void ProcessIncoming();
    void BuildSubscriptionList();
    void SendMultipleSubscriptionPackets();

    // Queues the message on every member socket, leaving out sockets that
    // drop duplicates when it was seen recently.
    void DeliverGroupPacket(const Packet::CGroupMsg& packet);
    // Queues the message on every member socket; returns how many.
    unsigned int FeedPacketToQueue(const Packet::CGroupMsg& packet);
    // Queues the datagram as an RTP group message on every member socket of
    // the group; returns how many. 0 for one too long for a group message.
    unsigned int QueueDatagramForGroup(unsigned int groupId, const unsigned char* data, unsigned int length);
    void DeliverWebManagementMsg(const Packet::CWebManagementMsg& packet);

    void UpdateIfAddress();
    std::string Uuid() const;
    void ToString() const;

    // The duplicate test shared by trunk deliveries and local receives.
    bool IsRecentDuplicate(const unsigned char* data, unsigned int length);
    void MarkSubscriptionsDirty() { mSubscriptionsDirty = true; }
    std::mutex& QueueMutex() const { return mQueueMutex; }
    CReceiveDiagnostics& Diagnostics() { return mDiagnostics; }
    // Datagrams that reached the trunk socket from anything but a
    // configured router (address and port) and were dropped.
    std::uint64_t ForeignDatagramsDropped() const { return mDiagnostics.foreign.total(); }
    unsigned int DeviceId() const { return mDeviceId; }
    const std::string& InterfaceAddress() const { return mInterfaceAddress; }
    const std::vector<sockaddr_in>& Routers() const { return mRouters; }
    // The trunk socket's local port (0 when it is not bound).
    unsigned short LocalPort() const;
    // Shorter refresh periods let tests see periodic refreshes quickly.
    void SetSubscriptionRefreshInterval(unsigned int milliseconds);
    void SetTrunkPollInterval(std::chrono::microseconds interval) { mTrunkPollInterval = interval; }

private:
    enum class EPollStep { kContinue, kEndPoll };

    void OpenTrunkSocket();
    void RefreshSubscriptionsIfDue();
    bool TrunkPollDue();
    void DrainTrunkSocket();
    bool IsRouter(const sockaddr_in& sender) const;
    void DropForeignDatagram(const sockaddr_in& sender);
    EPollStep HandleDatagram(const sockaddr_in& from, const unsigned char* data, unsigned int length);
    void AnswerChallenge(const sockaddr_in& router, const Packet::CChallenge& challenge);
    bool AnswerAllowed();
    int SendPacket(const Packet::CPacket& packet) const;
    // Calls visit for every socket that joined the group, in descriptor order.
    template <typename Visit>
    void ForEachMember(unsigned int groupId, Visit visit) const;

    int mTrunkSocket = -1;
    sockaddr_in mLocalAddress{};
    std::vector<sockaddr_in> mRouters;
    mutable std::mutex mQueueMutex;
    Callback mCallback;
    unsigned int mDeviceId;
    unsigned char mTag;
    bool mSubscriptionsDirty = false;
    std::string mInterfaceName;
    std::string mInterfaceAddress = "0.0.0.0";
    // Starts out expired, so the first poll always refreshes.
    polled_timer_t mSubscriptionTimer{kSubscriptionRefreshMs};
    CDuplicateWindow mRecentPackets;
    std::chrono::microseconds mTrunkPollInterval = kTrunkPollInterval;
    std::chrono::steady_clock::time_point mLastTrunkPoll;
    bool mTrunkFoundEmpty = false;
    CReceiveDiagnostics mDiagnostics;
    std::chrono::steady_clock::time_point mAnswerSecondStart;
    unsigned int mAnswersThisSecond = 0;
};

} // namespace Halvane::Adapter
