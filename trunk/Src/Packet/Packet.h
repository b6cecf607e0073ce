// The trunk packet base class: the 8-byte common header every datagram
// between the library and its relay routers starts with, an inline payload
// buffer, and the factory that turns a received datagram into an object.
#pragma once

#include <cstdint>
#include <memory>

namespace Halvane::Packet {

// Header byte 0. Type 3 does not exist. Types 6 and 7 came later: units and
// routers that predate them drop them as unknown types.
enum EPacketType : unsigned char {
    kTypeSubscription = 1,
    kTypeGroupMsg = 2,
    kTypeWebManagementMsg = 4,
    kTypeSubscriptionList = 5,
    kTypeChallenge = 6,       // router to unit: a cookie to echo
    kTypeChallengeAnswer = 7, // unit to router: the echoed cookie
};

// Header byte 1 of a group message: what the tunnelled datagram is.
enum EPayloadKind : unsigned char {
    kKindNone = 0,
    kKindRtp = 1,
    kKindRtcp = 2,
};

// Why a datagram did not become a packet.
enum class EParseResult {
    kOk,
    kEmpty,           // no byte 0 to read
    kTooLong,         // more than the largest datagram
    kUnknownType,     // byte 0 names no packet class
    kShorterThanHeader,
};

class CPacket
{
public:
    static constexpr unsigned int kMaxDatagramSize = 2000;
    static constexpr unsigned int kPayloadCapacity = 2000;
    static constexpr unsigned int kCommonHeaderSize = 8;

    CPacket();
    // Copies the payload and stamps the low 24 bits of the device id and the
    // low 4 bits of the tag; a payload that would not fit in one datagram is
    // refused (see PayloadRefused).
    CPacket(unsigned int deviceId, unsigned char tag, const unsigned char* payload, unsigned int length);
    // Copies keep the header, the payload and its length; a base-class copy
    // drops the subclass field.
    CPacket(const CPacket& other);
    CPacket& operator=(const CPacket& other);
    virtual ~CPacket();

    // Reads the header of a received datagram. Returns the header size, or 0
    // (reading nothing) when the datagram is shorter than the header.
    virtual unsigned int Parse(const unsigned char* data, unsigned int length);
    virtual unsigned int HeaderSize() const;
    // Writes the whole datagram (EncodedSize() bytes) into out.
    virtual void Encode(unsigned char* out) const;
    // Takes bytes offset to length-1 of a received datagram as the payload.
    virtual void CopyPayload(unsigned int offset, const unsigned char* data, unsigned int length);

    void EncodePayload(unsigned char* out) const;
    unsigned int EncodedSize() const { return HeaderSize() + mPayloadLength; }

    // The packet for a received datagram, or none (with a log line) for an
    // empty, oversized, unknown or truncated one.
    static std::unique_ptr<CPacket> CreatePacket(const unsigned char* data, unsigned int length);
    // The same without logging; result says why nothing was made.
    static std::unique_ptr<CPacket> TryCreatePacket(const unsigned char* data, unsigned int length,
                                                    EParseResult& result);
    // The log line CreatePacket gives for a datagram it refused (none for kOk).
    static void ReportParseFailure(EParseResult result, const unsigned char* data, unsigned int length);

    unsigned char Type() const { return mType; }
    unsigned char PayloadKind() const { return mPayloadKind; }
    unsigned int DeviceId() const { return mHeaderWord & 0x00FFFFFFu; }
    unsigned char InterfaceTag() const { return static_cast<unsigned char>((mHeaderWord >> 24) & 0x0Fu); }
    const unsigned char* Payload() const { return mPayload; }
    unsigned int PayloadLength() const { return mPayloadLength; }
    // True when the constructor was handed more payload than one datagram
    // carries; the packet then has no payload and must not be sent.
    bool PayloadRefused() const { return mPayloadRefused; }

protected:
    explicit CPacket(unsigned char type);
    CPacket(unsigned char type, unsigned char payloadKind, unsigned int deviceId, unsigned char tag,
            const unsigned char* payload, unsigned int length, unsigned int headerSize);

    void ParseCommonHeader(const unsigned char* data);
    // Parses a 12-byte header whose own field is the 32-bit word at byte 8;
    // returns 12, or 0 (reading nothing) when the datagram is shorter.
    unsigned int ParseHeaderWithWord(const unsigned char* data, unsigned int length, std::uint32_t& word);
    void EncodeCommonHeader(unsigned char* out) const;
    // Shared body of the CopyPayload overrides that keep a payload.
    void TakePayload(unsigned int offset, const unsigned char* data, unsigned int length);

private:
    void CopyFrom(const CPacket& other);
    void SetPayload(const unsigned char* payload, unsigned int length, unsigned int headerSize);

    unsigned char mType = 0;
    unsigned char mPayloadKind = 0;
    std::uint16_t mReserved = 0;
    std::uint32_t mHeaderWord = 0; // device id (24 bits), tag (4), reserved (4)
    unsigned int mPayloadLength = 0;
    bool mPayloadRefused = false;
    // Only the first mPayloadLength bytes are ever read or copied, so the
    // buffer is left uninitialised rather than cleared for every packet.
    unsigned char mPayload[kPayloadCapacity];
};

} // namespace Halvane::Packet
