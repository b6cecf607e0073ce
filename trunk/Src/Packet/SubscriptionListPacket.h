// Subscription list (type 5): every trunked group the unit listens to, as
// ascending little-endian group ids; it replaces the unit's set at a router.
#pragma once

#include "Packet/Packet.h"

#include <vector>

namespace Halvane::Packet {

class CSubscriptionListPacket : public CPacket
{
public:
    static constexpr unsigned int kHeaderSize = 9;
    static constexpr unsigned int kMaxGroups = 50;

    CSubscriptionListPacket();
    CSubscriptionListPacket(unsigned int deviceId, unsigned char tag, const unsigned char* payload,
                            unsigned int length);

    unsigned int Parse(const unsigned char* data, unsigned int length) override;
    unsigned int HeaderSize() const override;
    void Encode(unsigned char* out) const override;
    void CopyPayload(unsigned int offset, const unsigned char* data, unsigned int length) override;

    // The listed group ids; trailing bytes that do not make a whole id are
    // ignored.
    std::vector<unsigned int> GroupIds() const;

private:
    unsigned char mReservedByte = 0;
};

} // namespace Halvane::Packet
