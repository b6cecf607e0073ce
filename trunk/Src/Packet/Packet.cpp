// The trunk packet base class: common header, payload and their encoding.
#include "Packet/Packet.h"

#include "Packet/ByteOrder.h"
#include "debug_log_stream.h"

#include <cstring>

namespace Halvane::Packet {

CPacket::CPacket() = default;

CPacket::CPacket(unsigned char type) : mType(type) {}

CPacket::CPacket(unsigned int deviceId, unsigned char tag, const unsigned char* payload, unsigned int length)
    : CPacket(0, kKindNone, deviceId, tag, payload, length, kCommonHeaderSize)
{
}

CPacket::CPacket(unsigned char type, unsigned char payloadKind, unsigned int deviceId, unsigned char tag,
                 const unsigned char* payload, unsigned int length, unsigned int headerSize)
    : mType(type), mPayloadKind(payloadKind),
      mHeaderWord((deviceId & 0x00FFFFFFu) | (static_cast<std::uint32_t>(tag & 0x0Fu) << 24))
{
    SetPayload(payload, length, headerSize);
}

CPacket::CPacket(const CPacket& other)
{
    CopyFrom(other);
}

CPacket& CPacket::operator=(const CPacket& other)
{
    if (this != &other)
        CopyFrom(other);
    return *this;
}

CPacket::~CPacket() = default;

void CPacket::CopyFrom(const CPacket& other)
{
    mType = other.mType;
    mPayloadKind = other.mPayloadKind;
    mReserved = other.mReserved;
    mHeaderWord = other.mHeaderWord;
    mPayloadLength = other.mPayloadLength;
    mPayloadRefused = other.mPayloadRefused;
    std::memcpy(mPayload, other.mPayload, mPayloadLength);
}

void CPacket::SetPayload(const unsigned char* payload, unsigned int length, unsigned int headerSize)
{
    // The encoded datagram must fit in one 2000-byte buffer.
    if (length > kMaxDatagramSize - headerSize) {
        get_debug_log_ostream_enabled() << "Refusing a payload of " << length << " bytes: at most "
                                        << (kMaxDatagramSize - headerSize) << " fit in one datagram.\n";
        mPayloadRefused = true;
        return;
    }
    if (length > 0 && payload)
        std::memcpy(mPayload, payload, length);
    mPayloadLength = payload ? length : 0;
}

unsigned int CPacket::Parse(const unsigned char* data, unsigned int length)
{
    if (length < kCommonHeaderSize)
        return 0;
    ParseCommonHeader(data);
    return kCommonHeaderSize;
}

unsigned int CPacket::HeaderSize() const
{
    return kCommonHeaderSize;
}

void CPacket::Encode(unsigned char* out) const
{
    EncodePayload(out);
    EncodeCommonHeader(out);
}

void CPacket::CopyPayload(unsigned int, const unsigned char*, unsigned int) {}

void CPacket::EncodePayload(unsigned char* out) const
{
    std::memcpy(out + HeaderSize(), mPayload, mPayloadLength);
}

void CPacket::ParseCommonHeader(const unsigned char* data)
{
    mType = data[0];
    mPayloadKind = data[1];
    mReserved = ReadLe16(data + 2);
    mHeaderWord = ReadLe32(data + 4);
}

unsigned int CPacket::ParseHeaderWithWord(const unsigned char* data, unsigned int length, std::uint32_t& word)
{
    constexpr unsigned int kHeaderSize = kCommonHeaderSize + 4;
    if (length < kHeaderSize)
        return 0;
    ParseCommonHeader(data);
    word = ReadLe32(data + kCommonHeaderSize);
    return kHeaderSize;
}

void CPacket::EncodeCommonHeader(unsigned char* out) const
{
    out[0] = mType;
    out[1] = mPayloadKind;
    WriteLe16(out + 2, mReserved);
    WriteLe32(out + 4, mHeaderWord);
}

void CPacket::TakePayload(unsigned int offset, const unsigned char* data, unsigned int length)
{
    if (length < offset) {
        get_debug_log_ostream_enabled() << "Skipping CopyPayload() because the buffer (" << length
                                        << " bytes) is smaller than the header we want to skip (" << offset
                                        << " bytes).\n" << "\n";
        return;
    }
    const unsigned int payloadLength = length - offset;
    if (payloadLength > kPayloadCapacity) {
        get_debug_log_ostream_enabled() << "Skipping CopyPayload() because the payload (" << payloadLength
                                        << " bytes) is larger than the packet buffer.\n";
        return;
    }
    std::memcpy(mPayload, data + offset, payloadLength);
    mPayloadLength = payloadLength;
}

} // namespace Halvane::Packet
