// The simulated service's unit records.
#include "UnitRegistry.h"

#include "MarkupEscape.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace ManagementSim {

bool UnitRegistry::IsValidCode(const std::string& code)
{
    return code.size() == 8 &&
           std::all_of(code.begin(), code.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

std::string UnitRegistry::NormalCode(const std::string& code)
{
    std::string normal = code;
    std::transform(normal.begin(), normal.end(), normal.begin(),
                   [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
    return normal;
}

Unit& UnitRegistry::UnitFor(const std::string& code)
{
    const std::string normal = NormalCode(code);
    Unit& unit = units_[normal];
    unit.keyId = normal;
    return unit;
}

void UnitRegistry::RecordKey(const std::string& keyId, const std::string& fingerprint, const std::string& macAddress)
{
    Unit& unit = UnitFor(keyId);
    unit.fingerprint = NormalCode(fingerprint);
    unit.macAddress = macAddress;
}

bool UnitRegistry::Register(const std::string& code, const std::string& account)
{
    if (!IsValidCode(code))
        return false;
    Unit& unit = UnitFor(code);
    unit.registered = true;
    unit.unregistered = false;
    unit.account = account;
    return true;
}

bool UnitRegistry::SetSettings(const std::string& code, const std::string& document)
{
    if (!IsValidCode(code))
        return false;
    UnitFor(code).settings = document;
    return true;
}

bool UnitRegistry::Unregister(const std::string& code)
{
    const auto found = units_.find(NormalCode(code));
    if (found == units_.end() || !found->second.registered)
        return false;
    found->second.registered = false;
    found->second.unregistered = true;
    found->second.account.clear();
    return true;
}

void UnitRegistry::RecordLocation(const std::string& keyId, const UnitLocation& location)
{
    Unit& unit = UnitFor(keyId);
    unit.lastLocation = location;
    ++unit.locationPosts;
}

std::optional<Unit> UnitRegistry::Find(const std::string& code) const
{
    const auto found = units_.find(NormalCode(code));
    if (found == units_.end())
        return std::nullopt;
    return found->second;
}

std::string UnitRegistry::Listing() const
{
    std::ostringstream text;
    for (const auto& [code, unit] : units_) {
        text << code << " key=" << (unit.fingerprint.empty() ? "none" : unit.fingerprint)
             << " registered=" << (unit.registered ? "yes" : "no") << " account=" << unit.account;
        if (unit.lastLocation)
            text << " location=" << unit.lastLocation->latitude << "," << unit.lastLocation->longitude
                 << " ts=" << unit.lastLocation->timestamp << " posts=" << unit.locationPosts;
        else
            text << " location=none";
        text << "\n";
    }
    return text.str();
}

std::string UnitRegistry::SettingsDocumentFor(const Unit& unit)
{
    if (!unit.settings.empty())
        return unit.settings;
    return "<RadioSettings name=\"Unit " + unit.keyId + "\" accountName=\"" + ManagementCommon::escapeMarkup(unit.account) +
           "\">\n"
           "  <Halvane>\n"
           "    <Halvane2Routers><Halvane2Router address=\"127.0.0.1\" port=\"3301\"/></Halvane2Routers>\n"
           "  </Halvane>\n"
           "</RadioSettings>\n";
}

} // namespace ManagementSim
