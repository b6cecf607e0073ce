// Group message (type 2): a multicast datagram tunnelled to or from the relay
// routers, with the group id it was addressed to.
#pragma once

#include "Packet/Packet.h"

namespace Halvane::Packet {

class CGroupMsg : public CPacket
{
public:
    static constexpr unsigned int kHeaderSize = 12;
    static constexpr unsigned int kMaxPayload = kMaxDatagramSize - kHeaderSize;

    CGroupMsg();
    CGroupMsg(unsigned int deviceId, unsigned char tag, const unsigned char* payload, unsigned int length,
              unsigned char payloadKind, unsigned int groupId);

    unsigned int Parse(const unsigned char* data, unsigned int length) override;
    unsigned int HeaderSize() const override;
    void Encode(unsigned char* out) const override;
    void CopyPayload(unsigned int offset, const unsigned char* data, unsigned int length) override;

    // Host-order group id (225.4.1.2 is E1040102).
    unsigned int GroupId() const { return mGroupId; }

private:
    unsigned int mGroupId = 0;
};

} // namespace Halvane::Packet
