// Parsing of the settings document with pugixml and the lenient lookups
// every reader of the document uses.
#include "SettingsFileParser.h"

#include "debug_log.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

std::unique_ptr<SettingsFileParser>& theInstance()
{
    static std::unique_ptr<SettingsFileParser> instance;
    return instance;
}

// Entities and character data are decoded; no whitespace-only text nodes.
// The parser never recurses, so deep nesting costs memory, not stack.
constexpr unsigned kParseOptions = pugi::parse_default;

} // namespace

SettingsFileParser::SettingsFileParser(const char* text)
    : copy_of_buffer(text ? text : "")
{
    // On malformed input pugixml keeps what it parsed before the fault; that
    // part is used like a whole document, so a damaged document never stops
    // start-up.
    const pugi::xml_parse_result result =
        dom.load_buffer(copy_of_buffer.data(), copy_of_buffer.size(), kParseOptions);
    if (!result && !copy_of_buffer.empty())
        debug_log_printf("ENABLE_SETTINGSFILE_DEBUG", "Settings document is not well formed (%s at offset %lld); using what could be read\n",
                         result.description(), static_cast<long long>(result.offset));
}

SettingsFileParser::~SettingsFileParser() = default;

SettingsFileParser* SettingsFileParser::makeFirstInstance(const char* text)
{
    auto& instance = theInstance();
    if (instance) {
        debug_log_printf_always("makeFirstInstance() called more than once.  This call ignored\n");
        return instance.get();
    }
    instance.reset(new SettingsFileParser(text));
    return instance.get();
}

SettingsFileParser* SettingsFileParser::getInstance()
{
    SettingsFileParser* instance = theInstance().get();
    if (!instance)
        debug_log_printf_always("Error:  getInstance() called before makeFirstInstance()\n");
    return instance;
}

std::unique_ptr<SettingsFileParser> SettingsFileParser::parseSeparateDocument(const char* text)
{
    return std::unique_ptr<SettingsFileParser>(new SettingsFileParser(text));
}

void SettingsFileParser::resetForTesting()
{
    theInstance().reset();
}

SettingsElement SettingsFileParser::getDom() const
{
    return dom.document_element();
}

std::string getAttribute(SettingsElement element, const char* name)
{
    return element.attribute(name).value();
}

std::string getChildText(SettingsElement element, const char* name)
{
    return element.child(name).text().get();
}

SettingsElement firstChild(SettingsElement element, const char* name)
{
    return element.child(name);
}

SettingsElement nextSibling(SettingsElement element)
{
    return element.next_sibling(element.name());
}

bool SettingsFileParser::readNetworkSection(NetworkInterfaceList& manager) const
{
    if (debug_log_is_enabled("SKIP_SETTINGS_NETWORK"))
        return false;
    SettingsElement entry = firstChild(firstChild(getDom(), "Network"), "Interface");
    if (!entry) {
        debug_log_printf("DEBUG_NETWORK_INTERFACE_SELECTION", "Using default network interfaces, eth0 and ppp0\n");
        manager.addInterface("eth0", 0);
        manager.addInterface("ppp0", 1);
        return false;
    }
    for (; entry; entry = nextSibling(entry)) {
        const std::string name = getAttribute(entry, "name");
        const std::string costText = getAttribute(entry, "cost");
        manager.addInterface(name, parseInterfaceCost(costText));
        debug_log_printf("DEBUG_NETWORK_INTERFACE_SELECTION", "Added interface %s - Cost: %s\n", name.c_str(), costText.c_str());
    }
    return true;
}

int parseInterfaceCost(const std::string& text)
{
    errno = 0;
    char* end = nullptr;
    const long cost = std::strtol(text.c_str(), &end, 10);
    const bool whole = !text.empty() && end && *end == '\0' && errno == 0 && cost >= INT_MIN && cost <= INT_MAX;
    if (!whole) {
        debug_log_printf_always("Error converting cost: \"%s\"\n", text.c_str());
        return kUnparsableInterfaceCost;
    }
    return static_cast<int>(cost);
}
