// Builds the radio's channel plan from the settings document, the demo talk
// groups of the management service and the sixteen local talk groups, and
// reads the other radio-core sections of the document on the way.
#pragma once

#include "ChannelPlanRecords.h"
#include "SettingsFileParser.h"

#include <QStringList>

#include <atomic>
#include <functional>
#include <string>

// Every table of the plan. The radio model owns one.
struct ChannelPlan
{
    ChannelList channelSet;
    ZoneList zones;
    RelationTable relations;
    RouterList routers;
};

// The software update on offer and the notice for outdated software, shown
// by the display's software-update screen.
struct SoftwareUpdateNotice
{
    std::string updateVersion;
    std::string updateUrl;
    std::string updateMessage;
    std::string updateUrgency;
    std::string oldUrl;
    std::string oldMessage;
    std::string oldUrgency;
};

// Process-wide values the plan build fills in (main thread).
SoftwareUpdateNotice& softwareUpdateNotice();
// Seconds between location posts; 300 until the plan is built.
std::atomic<int>& gpsUpdateInterval();

// Base addresses of the talk groups and their remote ports.
extern const char* const kTrunkManagedBaseAddress; // "225.64.0.0"
extern const char* const kLocalBaseAddress;        // "225.4.0.0"
constexpr int kChannelRtpPort = 50000;
constexpr int kChannelRtcpPort = 50001;
constexpr int kRouterPort = 3301;
extern const char* const kDefaultRouterAddress;

// The dotted address of base + number in IPv4 arithmetic (carrying across
// octets); "" with a message when the base is not a dotted IPv4 address.
std::string channelAddress(const std::string& base, std::int32_t number);

// Start-up waits for the demo talk groups (the window shows after the plan
// is built), so their download gives up after this long in all, instead of
// the 20 s of other requests.
constexpr int kDemoDownloadTimeLimitMs = 3000;

// The demo talk groups of the management service: an empty form posted to
// its demo path; the reply text, "" when none came in time. Throws a
// std::exception when the request fails.
std::string downloadDemoTalkGroups();

class ChannelPlanBuilder
{
public:
    // Returns the demo document text; throws a std::exception on failure.
    using DemoDownload = std::function<std::string()>;

    ChannelPlanBuilder(ChannelPlan& plan, DemoDownload demoDownload);

    // Builds the plan from the document (nullptr: no settings model).
    void build(const SettingsFileParser* document);

    // The "HalvaneChannels" section of a document root. Voice keys
    // ("crypto" and "crypto_previous" attributes) are read only from the
    // radio's own settings, which arrive encrypted and signed, never from
    // the demo talk groups.
    enum class Keys
    {
        Read,
        Ignored
    };
    void readTrunkManagedChannels(SettingsElement root, Keys keys = Keys::Read);

    void addZone(const std::string& name, const std::string& numberText);
    void addRelation(const std::string& zoneNumberText, const std::string& channelNumberText);
    void addChannel(const std::string& name, const std::string& numberText, const char* baseAddress,
                    int remoteRtpPort, int remoteRtcpPort, const ChannelPrivacy& privacy = ChannelPrivacy());

private:
    void readSoftwareUpdateNotice(SettingsElement root);
    void readGpsUpdateInterval(SettingsElement halvane);
    void readRouterList(SettingsElement halvane);
    void readDemoTalkGroups();
    void addLocalTalkGroups();

    ChannelPlan& plan_;
    DemoDownload demoDownload_;
};

// Adds the routers to the trunk library: one built-in router when a
// USE_HALVANE_ROUTER_* flag chooses one, else every router of the list.
using AddRouterFunction = std::function<void(const char* address, unsigned port)>;
void initialiseRouting(const RouterList& routers, const AddRouterFunction& addRouter);

// The voice privacy of individual calls: the "crypto" and "crypto_previous"
// attributes of Halvane/IndividualCallCrypto; clear without them.
ChannelPrivacy readIndividualCallPrivacy(const SettingsFileParser* document);

// Copies the document's codec options into the local settings, unless
// OVERRIDE_WEBMANAGEMENT_CODEC_SETTINGS keeps the local ones.
class DelayedPersistentQSettings;
void applyCodecOptions(const SettingsFileParser* document, DelayedPersistentQSettings& settings);

// Fills the zone channels with copies of the current zone's channels, in
// relation order; returns the names as listed (a channel related twice is
// listed twice but kept once).
QStringList rebuildZoneChannels(const ChannelPlan& plan, ChannelList& zoneChannels);
