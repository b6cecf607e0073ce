// What the simulated management service knows about radio units: their
// uploaded keys, registrations, settings documents and last locations.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace ManagementSim {

struct UnitLocation
{
    std::string latitude;
    std::string longitude;
    std::string timestamp;
};

struct Unit
{
    std::string keyId;        // the registration code: 8 upper-case hex digits
    std::string fingerprint;  // of the uploaded key; empty until uploaded
    std::string macAddress;   // api_user of the last request
    bool registered = false;
    bool unregistered = false;  // was registered, then unregistered
    std::string account;
    std::string settings;     // the settings document; empty: a default one
    std::optional<UnitLocation> lastLocation;
    unsigned locationPosts = 0;
};

class UnitRegistry
{
public:
    // Codes are key ids; case does not matter. False for anything else.
    static bool IsValidCode(const std::string& code);
    static std::string NormalCode(const std::string& code);

    void RecordKey(const std::string& keyId, const std::string& fingerprint, const std::string& macAddress);
    bool Register(const std::string& code, const std::string& account);
    bool SetSettings(const std::string& code, const std::string& document);
    // False when the unit is unknown or was not registered.
    bool Unregister(const std::string& code);
    void RecordLocation(const std::string& keyId, const UnitLocation& location);

    std::optional<Unit> Find(const std::string& code) const;
    // One line per unit: code, key, registration, account, last location.
    std::string Listing() const;
    // The document served to a registered unit.
    static std::string SettingsDocumentFor(const Unit& unit);

private:
    Unit& UnitFor(const std::string& code);

    std::map<std::string, Unit> units_;
};

} // namespace ManagementSim
