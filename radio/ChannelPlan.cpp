// Channel plan build: trunk-managed talk groups first, then the demo talk
// groups, then the local ones; plus routers, codec options, GPS interval and
// the software-update notice from the same document.
#include "ChannelPlan.h"

#include "DelayedPersistentQSettings.h"
#include "ManagementService.h"
#include "debug_log.h"
#include "wGet.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <exception>

const char* const kTrunkManagedBaseAddress = "225.64.0.0";
const char* const kLocalBaseAddress = "225.4.0.0";
const char* const kDefaultRouterAddress = "127.0.0.1";

namespace {

const int kLocalTalkGroupCount = 16;

struct BuiltInRouter
{
    const char* flag;
    const char* address;
};

// Tested in this order; the first flag that is set chooses its router.
const BuiltInRouter kBuiltInRouters[] = {
    {"USE_HALVANE_ROUTER_DEV_SERVER", "127.0.0.2"},
    {"USE_HALVANE_ROUTER_HOST03", "127.0.0.3"},
    {"USE_HALVANE_ROUTER_LOCAL", "0.0.0.0"},
    {"USE_HALVANE_ROUTER_DEV1", "127.0.0.4"},
    {"USE_HALVANE_ROUTER_DEV2", "127.0.0.5"},
    {"USE_HALVANE_ROUTER_STAGING", "127.0.0.6"},
};

const char* chosenBuiltInRouter()
{
    for (const BuiltInRouter& router : kBuiltInRouters)
        if (debug_log_is_enabled(router.flag))
            return router.address;
    return nullptr;
}

} // namespace

SoftwareUpdateNotice& softwareUpdateNotice()
{
    static SoftwareUpdateNotice notice;
    return notice;
}

std::atomic<int>& gpsUpdateInterval()
{
    static std::atomic<int> seconds{300};
    return seconds;
}

std::string channelAddress(const std::string& base, std::int32_t number)
{
    in_addr address{};
    const int parsed = inet_pton(AF_INET, base.c_str(), &address);
    if (parsed == 0) {
        debug_log_printf_always("Not in presentation format\n");
        return std::string();
    }
    if (parsed < 0) {
        debug_log_printf_always("inet_pton: %s\n", std::strerror(errno));
        return std::string();
    }
    address.s_addr = htonl(ntohl(address.s_addr) + static_cast<std::uint32_t>(number));
    char text[INET_ADDRSTRLEN] = {};
    if (!inet_ntop(AF_INET, &address, text, sizeof text)) {
        debug_log_printf_always("inet_ntop: %s\n", std::strerror(errno));
        return std::string();
    }
    return text;
}

std::string downloadDemoTalkGroups()
{
    return wGet(managementServiceUrl("/index.php/api/demo").c_str(), "", kDemoDownloadTimeLimitMs);
}

ChannelPlanBuilder::ChannelPlanBuilder(ChannelPlan& plan, DemoDownload demoDownload)
    : plan_(plan), demoDownload_(std::move(demoDownload))
{
}

void ChannelPlanBuilder::build(const SettingsFileParser* document)
{
    plan_.channelSet.clear();
    if (debug_log_is_enabled("SKIP_SETTINGS_USER_CHANNEL_SET") || !document)
        return;

    const SettingsElement root = document->getDom();
    const SettingsElement halvane = firstChild(root, "Halvane");
    const std::string localChannels = getChildText(halvane, "LocalChannels");
    const std::string demoChannels = getChildText(halvane, "DemoChannels");

    readSoftwareUpdateNotice(root);
    readGpsUpdateInterval(halvane);

    debug_log_printf("ENABLE_ZONE_DEBUG", "Setting up Halvane-managed talk groups...\n");
    readTrunkManagedChannels(root);
    readRouterList(halvane);

    if (demoChannels == "false")
        debug_log_printf("ENABLE_ZONE_DEBUG", "Demo channels disabled.\n");
    else
        readDemoTalkGroups();

    if (localChannels == "false")
        debug_log_printf("ENABLE_WGET_DEBUG", "Local channels disabled.\n");
    else
        addLocalTalkGroups();

    if (debug_log_is_enabled("ENABLE_ZONE_DEBUG")) {
        plan_.zones.print();
        plan_.relations.print();
        plan_.channelSet.print();
    }
}

void ChannelPlanBuilder::readSoftwareUpdateNotice(SettingsElement root)
{
    const SettingsElement windows = firstChild(root, "Windows");
    const SettingsElement update = firstChild(windows, "update");
    const SettingsElement old = firstChild(windows, "old");
    SoftwareUpdateNotice& notice = softwareUpdateNotice();
    notice.updateVersion = getAttribute(update, "version");
    notice.updateUrl = getAttribute(update, "url");
    notice.updateMessage = getAttribute(update, "message");
    notice.updateUrgency = getAttribute(update, "urgency");
    notice.oldUrl = getAttribute(old, "url");
    notice.oldMessage = getAttribute(old, "message");
    notice.oldUrgency = getAttribute(old, "urgency");
}

void ChannelPlanBuilder::readGpsUpdateInterval(SettingsElement halvane)
{
    gpsUpdateInterval() = readDecimal(getAttribute(firstChild(halvane, "GPSOptions"), "gps_update_interval"));
}

namespace {

// Reads a channel's keys; what cannot be used is told in the log.
ChannelPrivacy readPrivacy(SettingsElement element, const std::string& what)
{
    const ChannelPrivacy privacy =
        readChannelPrivacy(getAttribute(element, "crypto"), getAttribute(element, "crypto_previous"));
    if (privacy.mode == ChannelPrivacy::Mode::Unusable)
        debug_log_printf_always("%s: voice key unusable (%s); transmission disabled.\n", what.c_str(),
                                privacy.problem.c_str());
    else if (!privacy.problem.empty())
        debug_log_printf_always("%s: %s.\n", what.c_str(), privacy.problem.c_str());
    return privacy;
}

} // namespace

ChannelPrivacy readIndividualCallPrivacy(const SettingsFileParser* document)
{
    if (!document)
        return ChannelPrivacy();
    const SettingsElement crypto = firstChild(firstChild(document->getDom(), "Halvane"), "IndividualCallCrypto");
    return crypto ? readPrivacy(crypto, "Individual calls") : ChannelPrivacy();
}

void ChannelPlanBuilder::readTrunkManagedChannels(SettingsElement root, Keys keys)
{
    if (debug_log_is_enabled("SKIP_SETTINGS_HALVANE_CHANNELS"))
        return;
    const SettingsElement section = firstChild(root, "HalvaneChannels");
    if (!section)
        return;
    for (SettingsElement channel = firstChild(section, "channel"); channel; channel = nextSibling(channel)) {
        const std::string name = getAttribute(channel, "name");
        const std::string number = getAttribute(channel, "num");
        const std::string zoneNumber = getAttribute(channel, "zone_num");
        addZone(getAttribute(channel, "zone"), zoneNumber);
        addRelation(zoneNumber, number);
        addChannel(name, number, kTrunkManagedBaseAddress, kChannelRtpPort, kChannelRtcpPort,
                   keys == Keys::Read ? readPrivacy(channel, "Channel " + name) : ChannelPrivacy());
        debug_log_printf("ENABLE_ZONE_DEBUG", "Read channel: %s- Name: %s\n", number.c_str(), name.c_str());
    }
}

void ChannelPlanBuilder::readRouterList(SettingsElement halvane)
{
    const SettingsElement section = firstChild(halvane, "Halvane2Routers");
    if (!section) {
        plan_.routers.push_back(Router_t{kDefaultRouterAddress, kRouterPort});
        return;
    }
    for (SettingsElement entry = firstChild(section, "Halvane2Router"); entry; entry = nextSibling(entry)) {
        Router_t router{cutText(getAttribute(entry, "address"), kMaxRouterAddressLength),
                        readDecimal(getAttribute(entry, "port"))};
        debug_log_printf("DEBUG_AVAIL_HALVANE2_ROUTERS", " >>>>>>>> Available Routers: %s:%d <<<<<<< \n ",
                         router.address.c_str(), router.port);
        plan_.routers.push_back(router);
    }
}

void ChannelPlanBuilder::readDemoTalkGroups()
{
    debug_log_printf("ENABLE_ZONE_DEBUG", "Downloading demo talk group settings...\n");
    try {
        const std::string reply = demoDownload_ ? demoDownload_() : std::string();
        debug_log_printf("ENABLE_ZONE_DEBUG", "Demo talk group settings:  %s\n", reply.c_str());
        if (reply.empty())
            return;
        const auto demoDocument = SettingsFileParser::parseSeparateDocument(reply.c_str());
        readTrunkManagedChannels(demoDocument->getDom(), Keys::Ignored);
    } catch (const std::exception& error) {
        debug_log_printf_always("Retrieving demo channels failed (%s).\n", error.what());
    }
}

void ChannelPlanBuilder::addLocalTalkGroups()
{
    debug_log_printf("ENABLE_ZONE_DEBUG", "Setting up local talk groups...\n");
    for (int n = 1; n <= kLocalTalkGroupCount; ++n) {
        const std::string number = std::to_string(n);
        addZone("Local", "1");
        addRelation("1", number);
        addChannel("Local " + number, number, kLocalBaseAddress, kChannelRtpPort, kChannelRtcpPort);
    }
}

void ChannelPlanBuilder::addZone(const std::string& name, const std::string& numberText)
{
    debug_log_printf("ENABLE_ZONE_DEBUG", "Adding zone %s named %s\n", numberText.c_str(), name.c_str());
    const std::int32_t number = readDecimal(numberText);
    if (number <= 0)
        return;
    plan_.zones.add(Zone_t{number, cutText(name, kMaxPlanNameLength)});
}

void ChannelPlanBuilder::addRelation(const std::string& zoneNumberText, const std::string& channelNumberText)
{
    debug_log_printf("ENABLE_ZONE_DEBUG", "Adding relation for zone %s and channel %s\n", zoneNumberText.c_str(),
                     channelNumberText.c_str());
    plan_.relations.add(Relation_t{readDecimal(zoneNumberText), readDecimal(channelNumberText)});
}

void ChannelPlanBuilder::addChannel(const std::string& name, const std::string& numberText, const char* baseAddress,
                                    int remoteRtpPort, int remoteRtcpPort, const ChannelPrivacy& privacy)
{
    debug_log_printf("ENABLE_ZONE_DEBUG", "Adding channel %s named %s with address %s\n", numberText.c_str(),
                     name.c_str(), baseAddress);
    const std::int32_t number = readDecimal(numberText);
    Channel_t channel{number, channelAddress(baseAddress, number), remoteRtpPort, remoteRtcpPort,
                      cutText(name, kMaxPlanNameLength), privacy};
    debug_log_printf("ENABLE_ZONE_DEBUG", "Adding channel:  %s\n", channel.address.c_str());
    plan_.channelSet.add(channel);
}

void initialiseRouting(const RouterList& routers, const AddRouterFunction& addRouter)
{
    if (const char* builtIn = chosenBuiltInRouter()) {
        debug_log_printf("DEBUG_INIT_HALVANE2_COMMUNICATIONS", "Using Halvane2 debug router. \n");
        addRouter(builtIn, kRouterPort);
        debug_log_printf("DEBUG_INIT_HALVANE2_COMMUNICATIONS",
                         ">>>>>>>>>>>>>> Using Halvane router: %s:%d <<<<<<<<<<<<<<<< \n", builtIn, kRouterPort);
        return;
    }
    debug_log_printf("DEBUG_INIT_HALVANE2_COMMUNICATIONS", "Using Halvane2 router list. \n");
    for (const Router_t& router : routers) {
        debug_log_printf("DEBUG_INIT_HALVANE2_COMMUNICATIONS",
                         ">>>>>>>>>>>>>> Using Halvane router: %s:%d <<<<<<<<<<<<<<<< \n", router.address.c_str(),
                         router.port);
        addRouter(router.address.c_str(), static_cast<unsigned>(router.port));
    }
}

void applyCodecOptions(const SettingsFileParser* document, DelayedPersistentQSettings& settings)
{
    if (!document || debug_log_is_enabled("OVERRIDE_WEBMANAGEMENT_CODEC_SETTINGS"))
        return;
    const SettingsElement options = firstChild(firstChild(document->getDom(), "Halvane"), "CodecOptions");
    if (!options)
        return;
    const std::string codec = getAttribute(options, "codec_name");
    const std::string interval = getAttribute(options, "codec_packet_interval");
    debug_log_printf_always("%s:%s\n", codec.c_str(), interval.c_str());
    settings.setValue(QStringLiteral("voip_codec"), QString::fromUtf8(codec.c_str()));
    settings.setValue(QStringLiteral("packet_interval"), QString::fromUtf8(interval.c_str()));
}

QStringList rebuildZoneChannels(const ChannelPlan& plan, ChannelList& zoneChannels)
{
    zoneChannels.clear();
    QStringList names;
    const Zone_t* zone = plan.zones.current();
    if (!zone)
        return names;
    for (const Relation_t& relation : plan.relations.relations()) {
        if (relation.zoneNumber != zone->number)
            continue;
        const Channel_t* channel = plan.channelSet.findByNumber(relation.channelNumber);
        if (!channel) {
            debug_log_printf_always("Channel object for channel number %d not found - skipping it\n",
                                    relation.channelNumber);
            continue;
        }
        zoneChannels.add(*channel);
        names.append(QString::fromUtf8(channel->name.c_str()));
    }
    debug_log_printf("ENABLE_VIRTUALRADIO_DEBUG", "Number Of Zone Channels: %d\n", zoneChannels.count());
    return names;
}
