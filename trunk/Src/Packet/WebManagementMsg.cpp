// Web-management message (type 4): encoding and parsing of the message type.
#include "Packet/WebManagementMsg.h"

#include "Packet/ByteOrder.h"
#include "debug_log_stream.h"

namespace Halvane::Packet {

namespace {
constexpr const char* kPushFlag = "DEBUG_PUSH_NOTIFICATIONS";
}

CWebManagementMsg::CWebManagementMsg() : CPacket(kTypeWebManagementMsg) {}

CWebManagementMsg::CWebManagementMsg(unsigned int deviceId, unsigned char tag, const unsigned char* payload,
                                     unsigned int length, EMsgType type)
    : CPacket(kTypeWebManagementMsg, kKindNone, deviceId, tag, payload, length, kHeaderSize), mMsgType(type)
{
    debug_log_ostream& trace = debug_log_cout(kPushFlag);
    trace << "Entering CWebManagment::CWebManagementMsg(). vaeva" << "\n";
    trace << "Setting packet with id(" << static_cast<std::uint32_t>(type) << ")" << "\n";
    trace << "Setting packet type to CWebManagementMsg" << "\n";
    trace << "Leaving CWebManagementMsg::CWebManagementMsg(). dntsdxf" << "\n";
}

unsigned int CWebManagementMsg::Parse(const unsigned char* data, unsigned int length)
{
    std::uint32_t msgType = 0;
    const unsigned int headerSize = ParseHeaderWithWord(data, length, msgType);
    if (headerSize == 0)
        return 0;
    mMsgType = static_cast<EMsgType>(msgType);
    debug_log_cout(kPushFlag) << "Leaving CGroupMsg::Parse()" << "\n";
    return headerSize;
}

unsigned int CWebManagementMsg::HeaderSize() const
{
    return kHeaderSize;
}

void CWebManagementMsg::Encode(unsigned char* out) const
{
    CPacket::Encode(out);
    WriteLe32(out + 8, mMsgType);
}

void CWebManagementMsg::CopyPayload(unsigned int offset, const unsigned char* data, unsigned int length)
{
    TakePayload(offset, data, length);
}

} // namespace Halvane::Packet
