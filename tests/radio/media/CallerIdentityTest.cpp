// Caller identity in RTCP: the location text sent, and the contact read back
// from received compounds, including ones oRTP itself builds and damaged or
// random ones from the network.
#include "CallerIdentity.h"

#include <gtest/gtest.h>
#include <ortp/ortp.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// An empty receiver report from the SSRC.
Bytes ReceiverReport(std::uint32_t ssrc = 0x01020304)
{
    return {0x80, 201, 0, 1, static_cast<unsigned char>(ssrc >> 24), static_cast<unsigned char>(ssrc >> 16),
            static_cast<unsigned char>(ssrc >> 8), static_cast<unsigned char>(ssrc)};
}

struct Item
{
    unsigned char type;
    std::string text;
};

// One SDES packet with a chunk per list of items.
Bytes Sdes(const std::vector<std::vector<Item>>& chunks)
{
    Bytes body;
    for (const auto& items : chunks) {
        const std::size_t start = body.size();
        body.insert(body.end(), {0, 0, 0, 7});
        for (const Item& item : items) {
            body.push_back(item.type);
            body.push_back(static_cast<unsigned char>(item.text.size()));
            body.insert(body.end(), item.text.begin(), item.text.end());
        }
        body.push_back(0);
        while ((body.size() - start) % 4 != 0)
            body.push_back(0);
    }
    const std::size_t words = body.size() / 4;
    const unsigned char header[4] = {static_cast<unsigned char>(0x80 | chunks.size()), 202,
                                     static_cast<unsigned char>(words >> 8), static_cast<unsigned char>(words)};
    body.insert(body.begin(), header, header + 4);
    return body;
}

Bytes Concat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::optional<RadioContact> Read(const Bytes& message)
{
    return callerIdentityFromRtcp(message.data(), message.size());
}

TEST(LocationText, KeepsSignsAndAddsHemisphereLetters)
{
    const struct
    {
        double latitude, longitude;
        const char* text;
    } cases[] = {
        {45.0, -122.5, "45.000000N,-122.500000W"},
        {-33.5, 151.25, "-33.500000S,151.250000E"},
        {0.0, 0.0, "0.000000N,0.000000E"},
        {-90.0, -180.0, "-90.000000S,-180.000000W"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(formatLocationText(c.latitude, c.longitude), c.text);
}

TEST(CallerIdentity, ReadsWhatAnOrtpSessionDescribes)
{
    ortp_init();
    RtpSession* session = rtp_session_new(RTP_SESSION_SENDRECV);
    rtp_session_set_source_description(session, "-2", "Alice", nullptr, nullptr, "45.000000N,-122.500000W", nullptr,
                                       nullptr);
    mblk_t* sdes = rtp_session_create_rtcp_sdes_packet(session, TRUE);
    msgpullup(sdes, static_cast<size_t>(-1));
    const Bytes message = Concat(ReceiverReport(), Bytes(sdes->b_rptr, sdes->b_wptr));
    freemsg(sdes);
    rtp_session_destroy(session);

    const auto contact = Read(message);
    ASSERT_TRUE(contact);
    EXPECT_EQ(contact->id(), 0xFFFFFFFEu);
    EXPECT_EQ(contact->name(), "Alice");
    EXPECT_TRUE(contact->location().valid);
    EXPECT_DOUBLE_EQ(contact->location().latitude, 45.0);
    EXPECT_DOUBLE_EQ(contact->location().longitude, -122.5);
}

TEST(CallerIdentity, ItemRules)
{
    const struct
    {
        const char* what;
        std::vector<std::vector<Item>> chunks;
        device_id_t id;
        std::string name;
        bool located;
        double latitude, longitude;
    } cases[] = {
        {"empty LOC", {{{1, "123"}, {2, "Bob"}, {5, ""}}}, 123, "Bob", false, 0, 0},
        {"CNAME not a number", {{{1, "radio@host"}, {2, "Eve"}}}, 0, "Eve", false, 0, 0},
        {"LOC without comma", {{{1, "5"}, {5, "45.0N"}}}, 5, "", false, 0, 0},
        {"unreadable numbers", {{{1, "5"}, {5, "north,east"}}}, 5, "", true, 0, 0},
        {"southern and western", {{{1, "9"}, {5, "-33.500000S,-151.250000W"}}}, 9, "", true, -33.5, -151.25},
        {"later chunk wins", {{{1, "1"}, {2, "First"}}, {{1, "2"}, {2, "Second"}}}, 2, "Second", false, 0, 0},
        {"other items ignored", {{{1, "7"}, {3, "a@b"}, {6, "tool"}, {7, "note"}}}, 7, "", false, 0, 0},
        {"text ends at a NUL", {{{1, "8"}, {2, std::string("Ann\0xyz", 7)}}}, 8, "Ann", false, 0, 0},
        {"UTF-8 name kept", {{{1, "8"}, {2, "Z\xC3\xBCrich"}}}, 8, "Z\xC3\xBCrich", false, 0, 0},
        {"older radio's Latin-1 name", {{{1, "8"}, {2, "Z\xFCrich"}}}, 8, "Z\xC3\xBCrich", false, 0, 0},
        {"cut inside a character", {{{1, "8"}, {2, "Z\xC3"}}}, 8, "Z\xC3\x83", false, 0, 0},
    };
    for (const auto& c : cases) {
        const auto contact = Read(Concat(ReceiverReport(), Sdes(c.chunks)));
        ASSERT_TRUE(contact) << c.what;
        EXPECT_EQ(contact->id(), c.id) << c.what;
        EXPECT_EQ(contact->name(), c.name) << c.what;
        EXPECT_EQ(contact->location().valid, c.located) << c.what;
        EXPECT_DOUBLE_EQ(contact->location().latitude, c.latitude) << c.what;
        EXPECT_DOUBLE_EQ(contact->location().longitude, c.longitude) << c.what;
    }
}

// Every chunk Sdes() builds carries SSRC 7: only a CNAME naming it is the
// sender's own identity.
TEST(CallerIdentity, OnlyTheSendersOwnIdentityIsTrusted)
{
    const struct
    {
        const char* cname;
        bool trusted;
    } cases[] = {{"7", true}, {"8", false}, {"0", false}, {"radio@host", false}, {"-2", false}};
    for (const auto& c : cases) {
        const Bytes message = Concat(ReceiverReport(), Sdes({{{1, c.cname}, {2, "Mallory"}}}));
        ASSERT_TRUE(Read(message)) << c.cname;
        EXPECT_EQ(trustedCallerIdentity(message.data(), message.size()).has_value(), c.trusted) << c.cname;
    }
}

TEST(CallerIdentity, OnlyASourceDescriptionAfterAReportIsRead)
{
    const Bytes sdes = Sdes({{{1, "42"}}});
    const Bytes bye = {0x81, 203, 0, 1, 0, 0, 0, 42};
    EXPECT_FALSE(Read(sdes)) << "description first";
    EXPECT_FALSE(Read(ReceiverReport())) << "report alone";
    EXPECT_FALSE(Read(Concat(ReceiverReport(), bye))) << "report then goodbye";
    EXPECT_FALSE(Read({})) << "nothing";
    EXPECT_TRUE(Read(Concat(ReceiverReport(), sdes)));
}

TEST(CallerIdentity, LengthsBeyondTheDatagramAreNotFollowed)
{
    const Bytes whole = Concat(ReceiverReport(), Sdes({{{1, "77"}, {2, "Carol"}, {5, "1.5,2.5"}}}));

    Bytes itemTooLong = whole;
    itemTooLong[8 + 4 + 4 + 4 + 1] = 200; // the NAME item claims 200 bytes
    const auto partial = Read(itemTooLong);
    ASSERT_TRUE(partial);
    EXPECT_EQ(partial->id(), 77u);
    EXPECT_EQ(partial->name(), "");

    Bytes packetTooLong = whole;
    packetTooLong[8 + 3] = 0xFF; // the SDES packet claims 1 KB
    const auto clamped = Read(packetTooLong);
    ASSERT_TRUE(clamped);
    EXPECT_EQ(clamped->name(), "Carol");

    Bytes reportTooLong = whole;
    reportTooLong[3] = 0x40;
    EXPECT_FALSE(Read(reportTooLong));

    for (std::size_t size = 0; size < whole.size(); ++size)
        Read(Bytes(whole.begin(), whole.begin() + static_cast<long>(size)));
}

TEST(CallerIdentity, RandomDatagramsAreReadSafely)
{
    std::mt19937 random(6);
    const Bytes base = Concat(ReceiverReport(), Sdes({{{1, "77"}, {2, "Carol"}, {5, "1.5,2.5"}}}));
    for (int round = 0; round < 20000; ++round) {
        Bytes message = base;
        if (round % 2 == 0) {
            message.resize(random() % 64);
            for (unsigned char& b : message)
                b = static_cast<unsigned char>(random());
        } else {
            for (int flips = 0; flips < 4; ++flips)
                message[random() % message.size()] = static_cast<unsigned char>(random());
        }
        Read(message);
    }
    SUCCEED();
}

} // namespace
