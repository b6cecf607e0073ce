// Trunk packet encodings, parsing and the factory's refusals.
#include "Packet/Challenge.h"
#include "Packet/GroupMsg.h"
#include "Packet/Subscription.h"
#include "Packet/SubscriptionListPacket.h"
#include "Packet/WebManagementMsg.h"

#include "LogCapture.h"
#include "UdpEndpoint.h"

#include <functional>
#include <gtest/gtest.h>

using namespace Halvane::Packet;
using rvx::test::Bytes;
using rvx::test::HexBytes;
using rvx::test::LogCapture;
using rvx::test::ToHex;

namespace {

Bytes Encoded(const CPacket& packet)
{
    Bytes out(CPacket::kMaxDatagramSize);
    packet.Encode(out.data());
    out.resize(packet.EncodedSize());
    return out;
}

std::unique_ptr<CPacket> Parsed(const Bytes& datagram)
{
    return CPacket::CreatePacket(datagram.data(), static_cast<unsigned int>(datagram.size()));
}

const unsigned char kAABB[] = {0xAA, 0xBB};
const unsigned char kTwoGroups[] = {0x01, 0x00, 0x00, 0xE1, 0x02, 0x00, 0x00, 0xE1};
const unsigned char kCookie[] = {0x10, 0x20, 0x30, 0x40, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8};

} // namespace

struct EncodingCase
{
    const char* name;
    std::function<std::unique_ptr<CPacket>()> build;
    const char* expectedHex;
};

class PacketEncoding : public ::testing::TestWithParam<EncodingCase>
{
};

TEST_P(PacketEncoding, EncodesByteExactAndParsesBackToTheSameBytes)
{
    const std::unique_ptr<CPacket> built = GetParam().build();
    const Bytes wire = Encoded(*built);
    EXPECT_EQ(ToHex(wire), ToHex(HexBytes(GetParam().expectedHex)));

    const std::unique_ptr<CPacket> parsed = Parsed(wire);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->Type(), built->Type());
    EXPECT_EQ(ToHex(Encoded(*parsed)), ToHex(wire));
}

INSTANTIATE_TEST_SUITE_P(
    WireLayouts, PacketEncoding,
    ::testing::Values(
        EncodingCase{"GroupMsgRtp",
                     [] { return std::make_unique<CGroupMsg>(0x123456, 0, kAABB, 2, kKindRtp, 0xE1040102); },
                     "02 01 00 00 56 34 12 00 02 01 04 E1 AA BB"},
        EncodingCase{"JoinSubscription",
                     [] { return std::make_unique<CSubscription>(258, 0, nullptr, 0, 0xE1050505, CSubscription::kJoin); },
                     "01 00 00 00 02 01 00 00 01 05 05 05 E1"},
        EncodingCase{"SubscriptionListOfTwo",
                     [] { return std::make_unique<CSubscriptionListPacket>(1, 0, kTwoGroups, 8); },
                     "05 00 00 00 01 00 00 00 00 01 00 00 E1 02 00 00 E1"},
        EncodingCase{"EmptySubscriptionList", [] { return std::make_unique<CSubscriptionListPacket>(7, 0, nullptr, 0); },
                     "05 00 00 00 07 00 00 00 00"},
        EncodingCase{"SettingsChanged",
                     [] {
                         return std::make_unique<CWebManagementMsg>(0, 0, nullptr, 0,
                                                                    CWebManagementMsg::kSettingsChanged);
                     },
                     "04 00 00 00 00 00 00 00 01 00 00 00"},
        // A router's challenge and a unit's answer: the cookie follows the
        // common header unchanged.
        EncodingCase{"Challenge", [] { return std::make_unique<CChallenge>(0, 0, kCookie, sizeof kCookie); },
                     "06 00 00 00 00 00 00 00 10 20 30 40 C1 C2 C3 C4 C5 C6 C7 C8"},
        EncodingCase{"ChallengeAnswer",
                     [] { return std::make_unique<CChallengeAnswer>(0x123456, 0, kCookie, sizeof kCookie); },
                     "07 00 00 00 56 34 12 00 10 20 30 40 C1 C2 C3 C4 C5 C6 C7 C8"},
        // Only the low 24 bits of the id and the low 4 bits of the tag count.
        EncodingCase{"IdAndTagMasked",
                     [] { return std::make_unique<CGroupMsg>(0xFF123456, 0xF7, nullptr, 0, kKindRtcp, 0xEF010203); },
                     "02 02 00 00 56 34 12 07 03 02 01 EF"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PacketParse, GroupMsgOfTwelveBytesHasAnEmptyPayload)
{
    const auto packet = Parsed(HexBytes("02 01 00 00 56 34 12 00 02 01 04 E1"));
    ASSERT_TRUE(packet);
    const auto& message = static_cast<const CGroupMsg&>(*packet);
    EXPECT_EQ(message.PayloadLength(), 0u);
    EXPECT_EQ(message.GroupId(), 0xE1040102u);
    EXPECT_EQ(message.DeviceId(), 0x123456u);
    EXPECT_EQ(message.PayloadKind(), kKindRtp);
}

TEST(PacketParse, SubscriptionListReadsItsGroupIds)
{
    const auto packet = Parsed(HexBytes("05 00 00 00 01 00 00 00 00 01 00 00 E1 02 00 00 E1"));
    ASSERT_TRUE(packet);
    EXPECT_EQ(static_cast<const CSubscriptionListPacket&>(*packet).GroupIds(),
              (std::vector<unsigned int>{0xE1000001, 0xE1000002}));
}

TEST(PacketFactory, RefusesUnknownTypesWithOneLogLine)
{
    for (unsigned char type : {0, 3, 8, 255}) {
        LogCapture log;
        Bytes datagram = HexBytes("00 01 00 00 56 34 12 00 02 01 04 E1 AA");
        datagram[0] = type;
        EXPECT_FALSE(Parsed(datagram)) << int(type);
        EXPECT_EQ(log.Text(), "Cannot handle invalid packet type: " + std::to_string(type) + "\n");
    }
}

TEST(PacketFactory, DropsDatagramsShorterThanTheirHeaderWithoutReadingPastThem)
{
    // Each datagram is one byte short of its type's header; copied into an
    // exactly sized heap buffer so that a read past its end trips ASan.
    const std::pair<unsigned char, unsigned int> headerSizes[] = {{1, 13}, {2, 12}, {4, 12}, {5, 9}, {6, 8}, {7, 8}};
    for (const auto& [type, headerSize] : headerSizes) {
        for (unsigned int length = 1; length < headerSize; ++length) {
            LogCapture log;
            auto datagram = std::make_unique<unsigned char[]>(length);
            std::fill_n(datagram.get(), length, 0);
            datagram[0] = type;
            EXPECT_FALSE(CPacket::CreatePacket(datagram.get(), length)) << int(type) << "/" << length;
            EXPECT_TRUE(log.Contains("shorter than the header of packet type " + std::to_string(type)));
        }
    }
}

TEST(PacketFactory, DropsEmptyAndOversizedDatagrams)
{
    LogCapture log;
    EXPECT_FALSE(CPacket::CreatePacket(nullptr, 0));
    Bytes big(2001, 0);
    big[0] = kTypeGroupMsg;
    EXPECT_FALSE(Parsed(big));
    EXPECT_TRUE(log.Contains("larger than 2000 bytes"));

    big.resize(2000); // the largest datagram: 1988 payload bytes
    const auto largest = Parsed(big);
    ASSERT_TRUE(largest);
    EXPECT_EQ(largest->PayloadLength(), CGroupMsg::kMaxPayload);
}

TEST(PacketFactory, SubscriptionIgnoresTrailingBytes)
{
    const auto packet = Parsed(HexBytes("01 00 00 00 02 01 00 00 00 05 05 05 E1 FF FF"));
    ASSERT_TRUE(packet);
    const auto& subscription = static_cast<const CSubscription&>(*packet);
    EXPECT_EQ(subscription.Action(), CSubscription::kLeave);
    EXPECT_EQ(subscription.GroupId(), 0xE1050505u);
    EXPECT_EQ(packet->EncodedSize(), 13u);
}

TEST(PacketConstruction, RefusesAPayloadThatWouldNotFitInOneDatagram)
{
    LogCapture log;
    const Bytes payload(CGroupMsg::kMaxPayload + 1, 0x5A);
    const CGroupMsg tooLong(1, 0, payload.data(), static_cast<unsigned int>(payload.size()), kKindRtp, 0xEF000001);
    EXPECT_TRUE(tooLong.PayloadRefused());
    EXPECT_EQ(tooLong.PayloadLength(), 0u);
    EXPECT_TRUE(log.Contains("Refusing a payload of 1989 bytes"));

    const CGroupMsg fits(1, 0, payload.data(), CGroupMsg::kMaxPayload, kKindRtp, 0xEF000001);
    EXPECT_FALSE(fits.PayloadRefused());
    EXPECT_EQ(fits.EncodedSize(), CPacket::kMaxDatagramSize);
}

TEST(PacketCopy, KeepsHeaderAndPayloadButDropsTheSubclassField)
{
    const CGroupMsg original(0x42, 3, kAABB, 2, kKindRtcp, 0xEF010203);
    CPacket copy(original);
    EXPECT_EQ(copy.Type(), kTypeGroupMsg);
    EXPECT_EQ(copy.PayloadKind(), kKindRtcp);
    EXPECT_EQ(copy.DeviceId(), 0x42u);
    EXPECT_EQ(copy.InterfaceTag(), 3);
    ASSERT_EQ(copy.PayloadLength(), 2u);
    EXPECT_EQ(copy.Payload()[1], 0xBB);
    EXPECT_EQ(copy.HeaderSize(), CPacket::kCommonHeaderSize);
}
