// CPacket::CreatePacket: turns a received datagram into the packet object of
// its type, refusing anything it cannot parse without reading past the end.
#include "Packet/Challenge.h"
#include "Packet/GroupMsg.h"
#include "Packet/Packet.h"
#include "Packet/Subscription.h"
#include "Packet/SubscriptionListPacket.h"
#include "Packet/WebManagementMsg.h"
#include "debug_log_stream.h"

namespace Halvane::Packet {

namespace {

std::unique_ptr<CPacket> EmptyPacketOfType(unsigned char type)
{
    switch (type) {
    case kTypeSubscription:
        return std::make_unique<CSubscription>();
    case kTypeGroupMsg:
        return std::make_unique<CGroupMsg>();
    case kTypeWebManagementMsg:
        return std::make_unique<CWebManagementMsg>();
    case kTypeSubscriptionList:
        return std::make_unique<CSubscriptionListPacket>();
    case kTypeChallenge:
        return std::make_unique<CChallenge>();
    case kTypeChallengeAnswer:
        return std::make_unique<CChallengeAnswer>();
    default:
        return nullptr;
    }
}

} // namespace

std::unique_ptr<CPacket> CPacket::TryCreatePacket(const unsigned char* data, unsigned int length,
                                                  EParseResult& result)
{
    if (data == nullptr || length == 0) {
        result = EParseResult::kEmpty;
        return nullptr;
    }
    if (length > kMaxDatagramSize) {
        result = EParseResult::kTooLong;
        return nullptr;
    }
    std::unique_ptr<CPacket> packet = EmptyPacketOfType(data[0]);
    if (!packet) {
        result = EParseResult::kUnknownType;
        return nullptr;
    }
    const unsigned int headerSize = packet->Parse(data, length);
    if (headerSize == 0) {
        result = EParseResult::kShorterThanHeader;
        return nullptr;
    }
    packet->CopyPayload(headerSize, data, length);
    result = EParseResult::kOk;
    return packet;
}

std::unique_ptr<CPacket> CPacket::CreatePacket(const unsigned char* data, unsigned int length)
{
    EParseResult result = EParseResult::kOk;
    std::unique_ptr<CPacket> packet = TryCreatePacket(data, length, result);
    ReportParseFailure(result, data, length);
    return packet;
}

void CPacket::ReportParseFailure(EParseResult result, const unsigned char* data, unsigned int length)
{
    debug_log_ostream& log = get_debug_log_ostream_enabled();
    switch (result) {
    case EParseResult::kOk:
        break;
    case EParseResult::kEmpty:
        log << "Dropping an empty datagram.\n";
        break;
    case EParseResult::kTooLong:
        log << "Dropping a datagram of " << length << " bytes: larger than " << kMaxDatagramSize << " bytes.\n";
        break;
    case EParseResult::kUnknownType:
        log << "Cannot handle invalid packet type: " << static_cast<unsigned int>(data[0]) << "\n";
        break;
    case EParseResult::kShorterThanHeader:
        log << "Dropping a datagram of " << length << " bytes: shorter than the header of packet type "
            << static_cast<unsigned int>(data[0]) << ".\n";
        break;
    }
}

} // namespace Halvane::Packet
