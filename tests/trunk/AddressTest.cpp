// Dotted-quad parsing in its strict and loose forms, and the group-address
// helpers built on it.
#include "halvane2.h"

#include <arpa/inet.h>
#include <cstring>
#include <gtest/gtest.h>

namespace {

struct ParseCase
{
    const char* text;
    int strict;
    int expected;         // result of inet_pton4
    unsigned int address; // host order, when expected is 1
};

std::ostream& operator<<(std::ostream& out, const ParseCase& c)
{
    return out << '"' << c.text << "\" strict=" << c.strict;
}

class DottedQuadParse : public ::testing::TestWithParam<ParseCase>
{
};

TEST_P(DottedQuadParse, GivesTheExpectedResultAndTouchesNothingOnFailure)
{
    const ParseCase& c = GetParam();
    unsigned char out[4] = {0xCC, 0xCC, 0xCC, 0xCC};
    ASSERT_EQ(Halvane::inet_pton4(c.text, out, c.strict), c.expected);
    unsigned int address = 0;
    std::memcpy(&address, out, 4);
    if (c.expected == 1)
        EXPECT_EQ(ntohl(address), c.address);
    else
        EXPECT_EQ(address, 0xCCCCCCCCu);
}

INSTANTIATE_TEST_SUITE_P(
    StrictForm, DottedQuadParse,
    ::testing::Values(ParseCase{"225.4.1.2", 1, 1, 0xE1040102}, ParseCase{"0.0.0.0", 1, 1, 0},
                      ParseCase{"255.255.255.255", 1, 1, 0xFFFFFFFF}, ParseCase{"225.4.1.2 x", 1, 1, 0xE1040102},
                      ParseCase{"225.4.1.2\tjunk", 1, 1, 0xE1040102}, ParseCase{"09.1.2.3", 1, 1, 0x09010203},
                      ParseCase{"225.4.1", 1, 0, 0}, ParseCase{"225.04.1.2", 1, 0, 0},
                      ParseCase{"08.1.2.3", 1, 0, 0}, ParseCase{"0x1.2.3.4", 1, 0, 0},
                      ParseCase{"1.2.3.4.5", 1, 0, 0}, ParseCase{"1.2.3.4.", 1, 0, 0},
                      ParseCase{"256.1.2.3", 1, 0, 0}, ParseCase{"1..2.3", 1, 0, 0}, ParseCase{"", 1, 0, 0},
                      ParseCase{" 1.2.3.4", 1, 0, 0}, ParseCase{"1.2.3.4x", 1, 0, 0},
                      ParseCase{"1.2.3.99999999999999999999", 1, 0, 0}));

INSTANTIATE_TEST_SUITE_P(
    LooseForm, DottedQuadParse,
    ::testing::Values(ParseCase{"0xE1.4.1.2", 0, 1, 0xE1040102}, ParseCase{"0341.04.01.02", 0, 1, 0xE1040102},
                      ParseCase{"3775135994", 0, 1, 0xE10400FA}, ParseCase{"225.262402", 0, 1, 0xE1040102},
                      ParseCase{"225.4.258", 0, 1, 0xE1040102}, ParseCase{"0XFFFFFFFF", 0, 1, 0xFFFFFFFF},
                      ParseCase{"09.1.2.3", 0, 1, 0x09010203}, ParseCase{"08.1.2.3", 0, 0, 0},
                      ParseCase{"0x", 0, 0, 0}, ParseCase{"4294967296", 0, 0, 0},
                      ParseCase{"225.16777216", 0, 0, 0}, ParseCase{"1.2.65536", 0, 0, 0},
                      ParseCase{"256.1.2.3", 0, 0, 0}, ParseCase{"1.2.3.4.5", 0, 0, 0}));

TEST(DottedQuad, PtonAndNtopFollowTheFamilyAndTheBufferSize)
{
    in_addr address{};
    EXPECT_EQ(Halvane::inet_pton(AF_INET6, "1.2.3.4", &address), -1);
    EXPECT_EQ(Halvane::inet_pton(AF_INET, "1.2.3", &address), 0);
    ASSERT_EQ(Halvane::inet_pton(AF_INET, "255.255.255.255", &address), 1);

    char text[16];
    EXPECT_EQ(Halvane::inet_ntop(AF_INET, &address, text, 15), nullptr);
    EXPECT_STREQ(Halvane::inet_ntop(AF_INET, &address, text, 16), "255.255.255.255");
    EXPECT_EQ(Halvane::inet_ntop(AF_INET6, &address, text, 16), nullptr);
}

TEST(GroupAddress, GroupIdIsTheStrictHostOrderNumberOrZero)
{
    EXPECT_EQ(GetGroupIdFromIpAddress("225.4.1.2"), 0xE1040102u);
    EXPECT_EQ(GetGroupIdFromIpAddress("225.4.1.2 x"), 0xE1040102u);
    for (const char* bad : {"225.4.1", "225.04.1.2", "0x1.2.3.4", "1.2.3.4.5", "group", ""})
        EXPECT_EQ(GetGroupIdFromIpAddress(bad), 0u) << bad;
    EXPECT_EQ(GetGroupIdFromIpAddress(nullptr), 0u);
    EXPECT_STREQ(GetDottedIpStringFromGroupId(0xE1040102), "225.4.1.2");
}

TEST(GroupAddress, LocalTalkGroupsAre225Dot4AndTheSingle225Dot5Dot5Dot5)
{
    const std::pair<const char*, bool> cases[] = {
        {"225.4.0.0", true},   {"225.4.255.255", true}, {"225.4.9.9", true},   {"225.5.5.5", true},
        {"225.5.5.6", false},  {"225.3.255.255", false}, {"225.64.0.1", false}, {"226.1.2.3", false},
        {"not an address", false}};
    for (const auto& [text, local] : cases) {
        EXPECT_EQ(IsLocalTalkGroup(text), local) << text;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = inet_addr(text);
        EXPECT_EQ(IsLocalTalkGroupSockaddr(reinterpret_cast<const sockaddr*>(&address)), local) << text;
    }
    EXPECT_FALSE(IsLocalTalkGroup(nullptr));
    EXPECT_FALSE(IsLocalTalkGroupSockaddr(nullptr));
}

TEST(GroupAddress, MulticastIsTheFirstOctet224To239)
{
    for (const auto& [text, multicast] : {std::pair{"224.0.0.0", true}, std::pair{"239.255.255.255", true},
                                          std::pair{"223.255.255.255", false}, std::pair{"240.0.0.0", false}}) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = inet_addr(text);
        EXPECT_EQ(Halvane::IsMulticast(address.sin_addr.s_addr), multicast) << text;
        EXPECT_EQ(Halvane::IsMulticast(&address), multicast) << text;
        EXPECT_EQ(Halvane::IsMulticast(reinterpret_cast<const sockaddr*>(&address)), multicast) << text;
    }
}

} // namespace
