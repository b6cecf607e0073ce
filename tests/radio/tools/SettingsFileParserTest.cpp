// Tests of the settings document: lenient lookups, malformed and hostile
// documents, the single instance, and the network section reader.
#include "SettingsFileParser.h"

#include "debug_log_control.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace {

using Interfaces = std::vector<std::pair<std::string, int>>;

class RecordingInterfaceList : public NetworkInterfaceList
{
public:
    void addInterface(const std::string& name, int cost) override { added.emplace_back(name, cost); }
    Interfaces added;
};

class SettingsFileParserTest : public ::testing::Test
{
protected:
    void SetUp() override { SettingsFileParser::resetForTesting(); }
    void TearDown() override
    {
        SettingsFileParser::resetForTesting();
        debug_log_load_flags_from_text("");
        debug_log_set_sink(nullptr);
    }
    SettingsElement parse(const std::string& text)
    {
        SettingsFileParser::resetForTesting();
        return SettingsFileParser::makeFirstInstance(text.c_str())->getDom();
    }
    Interfaces networkOf(const std::string& text, bool* listed = nullptr)
    {
        parse(text);
        RecordingInterfaceList list;
        const bool result = SettingsFileParser::getInstance()->readNetworkSection(list);
        if (listed)
            *listed = result;
        return list.added;
    }
};

const char* const kDocument = R"(<?xml version="1.0"?>
<device name="Unit 7" accountName="Fire &amp; Rescue">
  <Halvane>
    <LocalChannels>false</LocalChannels>
    <DemoChannels>False</DemoChannels>
    <CodecOptions codec_name="Opus" codec_packet_interval="60"/>
    <Halvane2Routers>
      <Halvane2Router address="127.0.0.2" port="3301"/>
      <Halvane2Router address="127.0.0.3" port="3302"/>
    </Halvane2Routers>
  </Halvane>
  <Contacts><contact name="Anna" device_id="1" device_id_h="00AABBCCDD"/></Contacts>
</device>)";

TEST_F(SettingsFileParserTest, LenientLookups)
{
    const SettingsElement root = parse(kDocument);
    const SettingsElement halvane = firstChild(root, "Halvane");
    struct Case
    {
        const char* what;
        std::string actual;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"root attribute", getAttribute(root, "name"), "Unit 7"},
        {"entity decoded", getAttribute(root, "accountName"), "Fire & Rescue"},
        {"missing attribute", getAttribute(root, "nothing"), ""},
        {"child text", getChildText(halvane, "LocalChannels"), "false"},
        {"text kept as written", getChildText(halvane, "DemoChannels"), "False"},
        {"missing child", getChildText(halvane, "GPSOptions"), ""},
        {"child without text", getChildText(halvane, "CodecOptions"), ""},
        {"attribute of child", getAttribute(firstChild(halvane, "CodecOptions"), "codec_name"), "Opus"},
        {"missing element", getAttribute(firstChild(root, "Windows"), "version"), ""},
        {"text of missing element", getChildText(firstChild(root, "Nope"), "x"), ""},
        {"null element", getAttribute(SettingsElement(), "name"), ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.actual, c.expected) << c.what;
}

TEST_F(SettingsFileParserTest, RepeatedElementsInDocumentOrder)
{
    const SettingsElement root = parse(kDocument);
    std::vector<std::string> addresses;
    for (SettingsElement r = firstChild(firstChild(firstChild(root, "Halvane"), "Halvane2Routers"), "Halvane2Router"); r; r = nextSibling(r))
        addresses.push_back(getAttribute(r, "address") + ":" + getAttribute(r, "port"));
    EXPECT_EQ(addresses, (std::vector<std::string>{"127.0.0.2:3301", "127.0.0.3:3302"}));
}

TEST_F(SettingsFileParserTest, EmptyTextGivesAnEmptyModel)
{
    const SettingsElement root = parse("");
    EXPECT_FALSE(root);
    EXPECT_EQ(getAttribute(root, "name"), "");
    EXPECT_FALSE(firstChild(root, "Contacts"));
}

TEST_F(SettingsFileParserTest, MalformedDocumentKeepsWhatWasParsed)
{
    const SettingsElement root = parse("<device name=\"Cut\"><Halvane><LocalChannels>false</LocalChannels><DemoCh");
    EXPECT_EQ(getAttribute(root, "name"), "Cut");
    EXPECT_EQ(getChildText(firstChild(root, "Halvane"), "LocalChannels"), "false");
}

// Each of these must parse in bounded time without a crash (the sanitizer
// build checks memory safety) and leave lookups working.
TEST_F(SettingsFileParserTest, HostileDocuments)
{
    std::vector<std::pair<std::string, std::string>> documents;
    documents.emplace_back("deep nesting", std::string());
    for (int i = 0; i < 200000; ++i)
        documents.back().second += "<a>";
    std::string large = "<device name=\"big\"><Contacts>";
    while (large.size() < 8u * 1024 * 1024)
        large += "<contact name=\"x\" device_id_h=\"0011223344\"/>";
    documents.emplace_back("eight megabytes", large + "</Contacts></device>");
    documents.emplace_back("unterminated attribute", "<device name=\"never closed");
    documents.emplace_back("unterminated comment", "<device><!-- forever");
    documents.emplace_back("unterminated cdata", "<device><![CDATA[ forever");
    documents.emplace_back("mismatched tags", "<device><Halvane></device></Halvane>");
    documents.emplace_back("binary", std::string("\x01\x02\xff\xfe<\x80\x81>", 8));
    documents.emplace_back("latin-1 bytes", "<device name=\"M\xfcller\"/>");
    documents.emplace_back("utf-16 bom", std::string("\xff\xfe<\0d\0/\0>\0", 10));
    documents.emplace_back("unknown entity", "<device name=\"&bogus;&#xFFFFFFFF;&#0;\"/>");
    documents.emplace_back("doctype with entities", "<!DOCTYPE d [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">]><d name=\"&b;\"/>");
    documents.emplace_back("only text", "just some words, no markup");
    documents.emplace_back("two roots", "<a name=\"first\"/><b name=\"second\"/>");

    for (const auto& [what, text] : documents) {
        const auto start = std::chrono::steady_clock::now();
        const SettingsElement root = parse(text);
        (void)getAttribute(root, "name");
        (void)getChildText(firstChild(root, "Halvane"), "LocalChannels");
        const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_LT(seconds, 5.0) << what;
    }
    EXPECT_EQ(getAttribute(parse("<a name=\"first\"/><b name=\"second\"/>"), "name"), "first");
}

TEST_F(SettingsFileParserTest, OnlyTheFirstInstanceCounts)
{
    std::string log;
    debug_log_set_sink([&log](const char* text, std::size_t n) { log.append(text, n); });
    EXPECT_EQ(SettingsFileParser::getInstance(), nullptr);
    EXPECT_NE(log.find("Error:  getInstance() called before makeFirstInstance()"), std::string::npos);

    SettingsFileParser* first = SettingsFileParser::makeFirstInstance("<d name=\"one\"/>");
    SettingsFileParser* second = SettingsFileParser::makeFirstInstance("<d name=\"two\"/>");
    EXPECT_EQ(first, second);
    EXPECT_EQ(getAttribute(SettingsFileParser::getInstance()->getDom(), "name"), "one");
    EXPECT_NE(log.find("makeFirstInstance() called more than once.  This call ignored"), std::string::npos);
}

TEST_F(SettingsFileParserTest, NetworkSection)
{
    struct Case
    {
        const char* what;
        std::string document;
        Interfaces expected;
        bool listed;
    };
    const std::vector<Case> cases = {
        {"empty document gives the defaults", "", {{"eth0", 0}, {"ppp0", 1}}, false},
        {"no Network element", "<d><Halvane/></d>", {{"eth0", 0}, {"ppp0", 1}}, false},
        {"Network without Interface", "<d><Network/></d>", {{"eth0", 0}, {"ppp0", 1}}, false},
        {"two interfaces in order", "<d><Network><Interface name=\"ppp0\" cost=\"5\"/><Interface name=\"eth0\" cost=\"2\"/></Network></d>",
         {{"ppp0", 5}, {"eth0", 2}}, true},
        {"negative cost", "<d><Network><Interface name=\"wlan0\" cost=\"-3\"/></Network></d>", {{"wlan0", -3}}, true},
        {"cost not a number is still added", "<d><Network><Interface name=\"eth0\" cost=\"cheap\"/><Interface name=\"ppp0\" cost=\"12x\"/></Network></d>",
         {{"eth0", kUnparsableInterfaceCost}, {"ppp0", kUnparsableInterfaceCost}}, true},
        {"missing attributes", "<d><Network><Interface/></Network></d>", {{"", kUnparsableInterfaceCost}}, true},
        {"cost out of range", "<d><Network><Interface name=\"eth0\" cost=\"99999999999\"/></Network></d>", {{"eth0", kUnparsableInterfaceCost}}, true},
    };
    for (const Case& c : cases) {
        bool listed = !c.listed;
        EXPECT_EQ(networkOf(c.document, &listed), c.expected) << c.what;
        EXPECT_EQ(listed, c.listed) << c.what;
    }
}

TEST_F(SettingsFileParserTest, BadCostIsReported)
{
    std::string log;
    debug_log_set_sink([&log](const char* text, std::size_t n) { log.append(text, n); });
    networkOf("<d><Network><Interface name=\"eth0\" cost=\"cheap\"/></Network></d>");
    EXPECT_NE(log.find("Error converting cost: \"cheap\""), std::string::npos) << log;
}

TEST_F(SettingsFileParserTest, SkipFlagAddsNoInterfacesAtAll)
{
    debug_log_load_flags_from_text("SKIP_SETTINGS_NETWORK\n");
    bool listed = true;
    EXPECT_TRUE(networkOf("", &listed).empty());
    EXPECT_FALSE(listed);
    EXPECT_TRUE(networkOf("<d><Network><Interface name=\"eth0\" cost=\"1\"/></Network></d>").empty());
}

} // namespace
