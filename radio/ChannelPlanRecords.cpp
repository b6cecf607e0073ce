// Channel plan records: number reading, name cutting, the listings and the
// zone name lookup used by the display.
#include "ChannelPlanRecords.h"

#include "debug_log.h"

#include <cctype>
#include <climits>

namespace {

const char* const kLineOfDashes = "------------------------------------\n";

} // namespace

// Counts characters by their first bytes (every byte that is not a UTF-8
// continuation byte), so a cut always falls between two characters.
std::string cutText(const std::string& text, std::size_t maxLength)
{
    std::size_t characters = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const bool startsACharacter = (static_cast<unsigned char>(text[at]) & 0xC0) != 0x80;
        if (startsACharacter && characters++ == maxLength)
            return text.substr(0, at);
    }
    return text;
}

std::int32_t readDecimal(const std::string& text)
{
    std::size_t at = 0;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at])))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        negative = text[at++] == '-';
    long long value = 0;
    for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
        value = value * 10 + (text[at] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            break;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<std::int32_t>(value);
}

void ZoneList::print() const
{
    debug_log_printf_always("----- Zone Data Structure ----- \n");
    for (const Zone_t& zone : records())
        debug_log_printf_always("Zone: %s -- Zone #: %d\n", zone.name.c_str(), zone.number);
    debug_log_printf_always("%s", kLineOfDashes);
}

Channel_t ChannelList::currentOrEmpty() const
{
    const Channel_t* channel = current();
    return channel ? *channel : Channel_t();
}

const Channel_t* ChannelList::findByNumber(std::int32_t number) const
{
    for (const Channel_t& channel : records())
        if (channel.number == number)
            return &channel;
    return nullptr;
}

void ChannelList::print() const
{
    debug_log_printf_always("------ Channel Data Structure ------\n");
    for (const Channel_t& channel : records())
        debug_log_printf_always("Channel Name: %s -- Channel Number: %d\n", channel.name.c_str(), channel.number);
    debug_log_printf_always("%s", kLineOfDashes);
}

void RelationTable::print() const
{
    debug_log_printf_always("------- Relation Data Structure -------\n");
    for (const Relation_t& relation : relations_)
        debug_log_printf_always("zoneNum = %d - chanNum = %d\n", relation.zoneNumber, relation.channelNumber);
    debug_log_printf_always("%s", kLineOfDashes);
}

std::string zoneNameAt(const ZoneList& zones, int index)
{
    debug_log_printf("DEBUG_ZONE_NAMES", "Getting name of zone with index %d\n", index);
    debug_log_printf("DEBUG_ZONE_NAMES", "Valid zone indices are 0 through %d\n", zones.count() - 1);
    if (index >= zones.count()) {
        debug_log_printf_always("Zone index %d is not valid; returning zone name No Zones (b)\n", index);
        return "No Zones (b)";
    }
    const Zone_t* zone = zones.at(index);
    debug_log_printf("DEBUG_ZONE_NAMES", "Pointer to zone %d is %p\n", index, static_cast<const void*>(zone));
    if (!zone) {
        debug_log_printf_always("Unable to get name of zone %d;  returning No Zones (c)\n", index);
        return "No Zones (c)";
    }
    return zone->name;
}
