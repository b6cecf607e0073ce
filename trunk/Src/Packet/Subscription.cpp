// Subscription (type 1): encoding and parsing of the action and group id.
#include "Packet/Subscription.h"

#include "Packet/ByteOrder.h"

namespace Halvane::Packet {

CSubscription::CSubscription() : CPacket(kTypeSubscription) {}

CSubscription::CSubscription(unsigned int deviceId, unsigned char tag, const unsigned char* payload,
                             unsigned int length, unsigned int groupId, unsigned char action)
    : CPacket(kTypeSubscription, kKindNone, deviceId, tag, payload, length, kHeaderSize), mAction(action),
      mGroupId(groupId)
{
}

unsigned int CSubscription::Parse(const unsigned char* data, unsigned int length)
{
    if (length < kHeaderSize)
        return 0;
    ParseCommonHeader(data);
    mAction = data[8];
    mGroupId = ReadLe32(data + 9); // unaligned on the wire
    return kHeaderSize;
}

unsigned int CSubscription::HeaderSize() const
{
    return kHeaderSize;
}

void CSubscription::Encode(unsigned char* out) const
{
    CPacket::Encode(out);
    out[8] = mAction;
    WriteLe32(out + 9, mGroupId);
}

} // namespace Halvane::Packet
