// The settings document from the management service, parsed once at start-up
// into a read-only tree, with lenient lookups that read missing parts as "".
#pragma once

#include <pugixml.hpp>

#include <climits>
#include <memory>
#include <string>

// Receives the network interfaces the document lists (the network interface
// manager implements it).
class NetworkInterfaceList
{
public:
    virtual ~NetworkInterfaceList() = default;
    virtual void addInterface(const std::string& name, int cost) = 0;
};

// The cost an entry gets when its cost text is not a whole decimal number:
// it is kept, but chosen only when nothing else is usable.
constexpr int kUnparsableInterfaceCost = INT_MAX;

// Converts a cost text; the whole text must be a decimal integer, otherwise
// "Error converting cost: "..."" is logged and kUnparsableInterfaceCost given.
int parseInterfaceCost(const std::string& text);

// An element of the settings document; a null element stands for a part
// the document does not have, and every lookup on it reads as empty.
using SettingsElement = pugi::xml_node;

class SettingsFileParser
{
public:
    virtual ~SettingsFileParser();

    // Parses the decrypted settings text (empty when the unit has none) and
    // keeps the result for the rest of the process. A second call changes
    // nothing and returns the first instance.
    static SettingsFileParser* makeFirstInstance(const char* text);
    // The instance, or nullptr (with a log line) before makeFirstInstance.
    static SettingsFileParser* getInstance();

    // The document's root element; null for an empty or unreadable text.
    SettingsElement getDom() const;

    // Hands the document's network interfaces (or the default eth0/ppp0) to
    // the manager; true when the document listed interfaces.
    bool readNetworkSection(NetworkInterfaceList& manager) const;

    // Parses another document (the demo talk groups) the same way, apart
    // from the process-wide instance; it lives as long as the caller keeps it.
    static std::unique_ptr<SettingsFileParser> parseSeparateDocument(const char* text);

    // Lets a test start again with a fresh instance.
    static void resetForTesting();

private:
    explicit SettingsFileParser(const char* text);

    std::string copy_of_buffer;
    pugi::xml_document dom;
};

// The attribute's value; "" when the element or the attribute is missing.
std::string getAttribute(SettingsElement element, const char* name);
// The text of the first child of that name; "" when anything is missing.
std::string getChildText(SettingsElement element, const char* name);
// The first child of that name (null when missing), and the next sibling
// with the same name as this one, for walking repeated elements in order.
SettingsElement firstChild(SettingsElement element, const char* name);
SettingsElement nextSibling(SettingsElement element);
