// Group message (type 2): encoding and parsing of the group id field.
#include "Packet/GroupMsg.h"

#include "Packet/ByteOrder.h"

namespace Halvane::Packet {

CGroupMsg::CGroupMsg() : CPacket(kTypeGroupMsg) {}

CGroupMsg::CGroupMsg(unsigned int deviceId, unsigned char tag, const unsigned char* payload, unsigned int length,
                     unsigned char payloadKind, unsigned int groupId)
    : CPacket(kTypeGroupMsg, payloadKind, deviceId, tag, payload, length, kHeaderSize), mGroupId(groupId)
{
}

unsigned int CGroupMsg::Parse(const unsigned char* data, unsigned int length)
{
    std::uint32_t groupId = 0;
    const unsigned int headerSize = ParseHeaderWithWord(data, length, groupId);
    if (headerSize != 0)
        mGroupId = groupId;
    return headerSize;
}

unsigned int CGroupMsg::HeaderSize() const
{
    return kHeaderSize;
}

void CGroupMsg::Encode(unsigned char* out) const
{
    CPacket::Encode(out);
    WriteLe32(out + 8, mGroupId);
}

void CGroupMsg::CopyPayload(unsigned int offset, const unsigned char* data, unsigned int length)
{
    TakePayload(offset, data, length);
}

} // namespace Halvane::Packet
