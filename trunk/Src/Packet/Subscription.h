// Subscription (type 1): joins or leaves one group at the relay routers.
// Always exactly 13 bytes on the wire.
#pragma once

#include "Packet/Packet.h"

namespace Halvane::Packet {

class CSubscription : public CPacket
{
public:
    enum EAction : unsigned char {
        kLeave = 0,
        kJoin = 1,
    };

    static constexpr unsigned int kHeaderSize = 13;

    CSubscription();
    CSubscription(unsigned int deviceId, unsigned char tag, const unsigned char* payload, unsigned int length,
                  unsigned int groupId, unsigned char action);

    unsigned int Parse(const unsigned char* data, unsigned int length) override;
    unsigned int HeaderSize() const override;
    void Encode(unsigned char* out) const override;

    unsigned char Action() const { return mAction; }
    unsigned int GroupId() const { return mGroupId; }

private:
    unsigned char mAction = kLeave;
    unsigned int mGroupId = 0;
};

} // namespace Halvane::Packet
