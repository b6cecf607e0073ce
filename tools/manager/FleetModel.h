// What the operator manages: units, zones and talk groups, routers, the
// service options and the console's password. The console, the command line
// and the radio endpoints all work through this interface; the service's
// store implements it on its database. Every method may be called from any
// thread. A refused change throws FleetError with a message for the operator.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace Manager {

struct FleetError : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

struct Position
{
    double latitude = 0.0;   // degrees, north positive
    double longitude = 0.0;  // degrees, east positive
    std::int64_t time = 0;   // seconds since 1970, as the radio reported it
};

struct UnitRecord
{
    std::string code;     // registration code: the unit's 8-digit key id
    std::string name;     // caller-ID name sent in its settings
    std::string account;  // the account it belongs to
    bool registered = false;
    bool hasKey = false;            // a public key was uploaded
    std::int64_t lastSeen = 0;      // seconds since 1970 of its last request; 0 never
    std::optional<Position> lastPosition;
    std::int64_t settingsVersion = 0;
    // The state of the last settings-changed notice: "", "sent", "queued",
    // or "failed: <why>" (the service retries); "fetched" when the unit
    // asked for its settings before the notice reached it (none needed).
    std::string pushState;
};

struct ZoneRecord
{
    int number = 0;
    std::string name;
};

// A managed talk group: number n travels on group 225.64.0.0 + n.
struct ChannelRecord
{
    int number = 0;
    std::string name;
    int zoneNumber = 0;
};

struct RouterRecord
{
    std::string address;  // dotted IPv4
    int port = 0;
};

// Voice privacy of a managed talk group or of individual calls. The keys
// themselves only ever leave the store in the units' settings documents.
struct VoicePrivacyState
{
    bool encrypted = false;
    std::int64_t keySince = 0;      // seconds since 1970 the current key was made
    bool previousHeard = false;     // the key replaced last is still listed
    std::int64_t previousUntil = 0; // until then (seconds since 1970)
};

enum class VoicePrivacyChange
{
    Encrypt,   // a new key from the cryptographic random source
    Clear,     // no key; the last one is still heard for the grace period
    RotateKey, // a new key; the last one is still heard for the grace period
    EndGrace,  // the replaced key is no longer heard
};

// The voice privacy of individual calls is kept under this talk-group number.
constexpr int kIndividualCallsVoiceScope = 0;
// How long radios keep hearing a replaced key: those that were off when the
// new settings were pushed catch up when they come back within it.
constexpr std::int64_t kVoiceKeyGraceSeconds = 24 * 3600;

struct ServiceOptions
{
    std::string codec = "Speex 5";       // a codec setting the radio knows ("PCMU", "Opus 12", ...)
    int packetIntervalMs = 100;
    int gpsIntervalSeconds = 300;
    bool localChannels = true;
    bool demoChannels = false;
};

class FleetModel
{
public:
    virtual ~FleetModel() = default;

    virtual std::vector<UnitRecord> units() = 0;
    virtual std::optional<UnitRecord> unit(const std::string& code) = 0;
    // Registers the unit that showed this code (its key must have been
    // uploaded); an empty name or account keeps what it has (the code and
    // "Default" for a new one).
    virtual void registerUnit(const std::string& code, const std::string& name, const std::string& account) = 0;
    virtual void unregisterUnit(const std::string& code) = 0;
    virtual void renameUnit(const std::string& code, const std::string& name) = 0;
    // Queues a settings-changed notice to the unit now.
    virtual void pushSettings(const std::string& code) = 0;

    virtual std::vector<ZoneRecord> zones() = 0;
    virtual void saveZone(const ZoneRecord& zone) = 0;  // adds or renames
    virtual void removeZone(int number) = 0;            // refused while it has channels
    virtual std::vector<ChannelRecord> channels() = 0;
    virtual void saveChannel(const ChannelRecord& channel) = 0;  // adds or changes
    virtual void removeChannel(int number) = 0;
    virtual std::vector<RouterRecord> routers() = 0;
    virtual void addRouter(const RouterRecord& router) = 0;
    virtual void removeRouter(const RouterRecord& router) = 0;
    virtual ServiceOptions options() = 0;
    virtual void setOptions(const ServiceOptions& options) = 0;

    // Of talk group number, or of individual calls (kIndividualCallsVoiceScope).
    virtual VoicePrivacyState voicePrivacy(int number) = 0;
    virtual void changeVoicePrivacy(int number, VoicePrivacyChange change) = 0;

    // The console's sign-in password as an Argon2id hash string; empty
    // until one is set.
    virtual std::string adminPasswordHash() = 0;
    virtual void setAdminPasswordHash(const std::string& hash) = 0;
};

} // namespace Manager
