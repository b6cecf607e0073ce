// Writing the settings and demo documents.
#include "SettingsDocument.h"

#include "MarkupEscape.h"

#include <map>

namespace Manager {

namespace {

const char* const kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

std::string Attribute(const char* name, const std::string& value)
{
    return std::string(" ") + name + "=\"" + xmlEscaped(value) + "\"";
}

std::string Attribute(const char* name, long long value)
{
    return Attribute(name, std::to_string(value));
}

// One channel element per managed talk group, grouped by zone in zone
// order: the radio lists zones in the order it first meets them.
std::string ChannelsSection(const std::vector<ZoneRecord>& zones, const std::vector<ChannelRecord>& channels)
{
    std::map<int, std::string> zoneNames;
    for (const ZoneRecord& zone : zones)
        zoneNames[zone.number] = zone.name;
    std::string section = "  <HalvaneChannels>\n";
    for (const ZoneRecord& zone : zones) {
        for (const ChannelRecord& channel : channels) {
            if (channel.zoneNumber != zone.number)
                continue;
            section += "    <channel" + Attribute("name", channel.name) + Attribute("num", channel.number) +
                       Attribute("zone", zoneNames[zone.number]) + Attribute("zone_num", zone.number) + "/>\n";
        }
    }
    return section + "  </HalvaneChannels>\n";
}

std::string TrunkSection(const SettingsSnapshot& snapshot)
{
    const ServiceOptions& options = snapshot.options;
    std::string section = "  <Halvane>\n";
    section += std::string("    <LocalChannels>") + (options.localChannels ? "true" : "false") + "</LocalChannels>\n";
    section += std::string("    <DemoChannels>") + (options.demoChannels ? "true" : "false") + "</DemoChannels>\n";
    section += "    <CodecOptions" + Attribute("codec_name", options.codec) +
               Attribute("codec_packet_interval", options.packetIntervalMs) + "/>\n";
    section += "    <GPSOptions" + Attribute("gps_update_interval", options.gpsIntervalSeconds) + "/>\n";
    // Without routers the section is left out: the radio then uses its
    // built-in router instead of none.
    if (!snapshot.routers.empty()) {
        section += "    <Halvane2Routers>\n";
        for (const RouterRecord& router : snapshot.routers)
            section += "      <Halvane2Router" + Attribute("address", router.address) + Attribute("port", router.port) +
                       "/>\n";
        section += "    </Halvane2Routers>\n";
    }
    return section + "  </Halvane>\n";
}

std::string ContactsSection(const std::vector<UnitRecord>& contacts)
{
    std::string section = "  <Contacts>\n";
    for (const UnitRecord& contact : contacts)
        section += "    <contact" + Attribute("name", contact.name) + Attribute("device_id_h", contact.code) + "/>\n";
    return section + "  </Contacts>\n";
}

} // namespace

std::string xmlEscaped(const std::string& text)
{
    return ManagementCommon::escapeMarkup(text);
}

std::string settingsDocument(const SettingsSnapshot& snapshot)
{
    return std::string(kDeclaration) + "<RadioSettings" + Attribute("name", snapshot.unit.name) +
           Attribute("accountName", snapshot.unit.account) + ">\n" + TrunkSection(snapshot) +
           ChannelsSection(snapshot.zones, snapshot.channels) + ContactsSection(snapshot.contacts) +
           "</RadioSettings>\n";
}

std::string demoDocument(const std::vector<ZoneRecord>& zones, const std::vector<ChannelRecord>& channels)
{
    return std::string(kDeclaration) + "<DemoSettings>\n" + ChannelsSection(zones, channels) + "</DemoSettings>\n";
}

} // namespace Manager
