// Subscription list (type 5): encoding, parsing and reading of the id list.
#include "Packet/SubscriptionListPacket.h"

#include "Packet/ByteOrder.h"

namespace Halvane::Packet {

CSubscriptionListPacket::CSubscriptionListPacket() : CPacket(kTypeSubscriptionList) {}

CSubscriptionListPacket::CSubscriptionListPacket(unsigned int deviceId, unsigned char tag,
                                                 const unsigned char* payload, unsigned int length)
    : CPacket(kTypeSubscriptionList, kKindNone, deviceId, tag, payload, length, kHeaderSize)
{
}

unsigned int CSubscriptionListPacket::Parse(const unsigned char* data, unsigned int length)
{
    if (length < kHeaderSize)
        return 0;
    ParseCommonHeader(data);
    mReservedByte = data[8];
    return kHeaderSize;
}

unsigned int CSubscriptionListPacket::HeaderSize() const
{
    return kHeaderSize;
}

void CSubscriptionListPacket::Encode(unsigned char* out) const
{
    CPacket::Encode(out);
    out[8] = mReservedByte;
}

void CSubscriptionListPacket::CopyPayload(unsigned int offset, const unsigned char* data, unsigned int length)
{
    TakePayload(offset, data, length);
}

std::vector<unsigned int> CSubscriptionListPacket::GroupIds() const
{
    std::vector<unsigned int> ids;
    for (unsigned int at = 0; at + 4 <= PayloadLength(); at += 4)
        ids.push_back(ReadLe32(Payload() + at));
    return ids;
}

} // namespace Halvane::Packet
