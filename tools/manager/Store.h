// rvx-manager's store: one SQLite database (manager.db in the data folder)
// with the fleet model, the units' keys and positions, the queue of
// settings-changed notices and a cache of each unit's encrypted settings.
//
// WAL mode, so that the command line changes the fleet while the service
// runs; foreign keys on; the schema is versioned (PRAGMA user_version) and
// each migration runs in a transaction. Every change is one transaction that
// is committed before the method returns, so a killed process loses nothing
// that was acknowledged (synchronous=NORMAL in WAL mode: durable across a
// crash of the process; a power cut may lose the last moments, never the
// database's consistency). A change that alters what a unit's settings say
// bumps its settings version and queues a notice to it: plan changes for
// every registered unit, registrations and names for the unit and the other
// registered units of its account (their contact lists).
#pragma once

#include "Database.h"
#include "FleetModel.h"

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace Manager {

// What a settings reply is made from, read in one transaction.
struct SettingsSnapshot
{
    UnitRecord unit;
    std::string fingerprint;
    std::string publicKey;  // armoured
    bool wasRegistered = false;  // registered once, unregistered since
    ServiceOptions options;
    std::vector<ZoneRecord> zones;
    std::vector<ChannelRecord> channels;
    std::vector<RouterRecord> routers;
    std::vector<UnitRecord> contacts;  // the other registered units of its account
    // Crypto attribute texts by talk group (kIndividualCallsVoiceScope for
    // individual calls): the current key ("" for clear voice) and the
    // previous one still heard ("" for none).
    struct VoiceKeys
    {
        std::string current;
        std::string previous;
    };
    std::map<int, VoiceKeys> voiceKeys;
};

// What a settings request needs to know first.
struct UnitKey
{
    std::string code;
    std::string fingerprint;
    bool registered = false;
    bool wasRegistered = false;
    std::int64_t settingsVersion = 0;
};

enum class KeyUpload
{
    Stored,           // a new unit, or a new key for an unregistered one
    Unchanged,        // the same key again
    RefusedTakeover,  // another key for a registered unit's code
};

struct PendingPush
{
    std::int64_t ticket = 0;  // changes whenever the notice is queued anew
    std::string code;
    int attempts = 0;
};

class Store : public FleetModel
{
public:
    // path: the database file, or ":memory:".
    explicit Store(const std::string& path);

    // FleetModel
    std::vector<UnitRecord> units() override;
    std::optional<UnitRecord> unit(const std::string& code) override;
    void registerUnit(const std::string& code, const std::string& name, const std::string& account) override;
    void unregisterUnit(const std::string& code) override;
    void renameUnit(const std::string& code, const std::string& name) override;
    void pushSettings(const std::string& code) override;
    std::vector<ZoneRecord> zones() override;
    void saveZone(const ZoneRecord& zone) override;
    void removeZone(int number) override;
    std::vector<ChannelRecord> channels() override;
    void saveChannel(const ChannelRecord& channel) override;
    void removeChannel(int number) override;
    std::vector<RouterRecord> routers() override;
    void addRouter(const RouterRecord& router) override;
    void removeRouter(const RouterRecord& router) override;
    ServiceOptions options() override;
    void setOptions(const ServiceOptions& options) override;
    std::string adminPasswordHash() override;
    void setAdminPasswordHash(const std::string& hash) override;
    VoicePrivacyState voicePrivacy(int number) override;
    void changeVoicePrivacy(int number, VoicePrivacyChange change) override;

    // As changeVoicePrivacy, at now (seconds since 1970).
    void changeVoicePrivacyAt(int number, VoicePrivacyChange change, std::int64_t now);
    // Replaced keys whose grace period is over are no longer listed; the
    // units get new settings. The serving process calls it now and then.
    void expireReplacedVoiceKeys(std::int64_t now);

    // The radio endpoints.
    KeyUpload storeUnitKey(const std::string& code, const std::string& fingerprint, const std::string& publicKey,
                           const std::string& macAddress);
    std::optional<UnitKey> unitKey(const std::string& code);
    std::optional<SettingsSnapshot> settingsSnapshot(const std::string& code);
    // The encrypted reply made for this version and key, if any.
    std::optional<std::string> cachedReply(const std::string& code, std::int64_t version,
                                           const std::string& fingerprint);
    // Kept only while the unit is still at that version.
    void cacheReply(const std::string& code, std::int64_t version, const std::string& fingerprint,
                    const std::string& reply);
    // A settings request: last seen and MAC address; a unit that fetched its
    // current settings needs no notice any more.
    void noteSettingsRequest(const std::string& code, const std::string& macAddress, std::int64_t now,
                             bool servedCurrentSettings);
    // A position post, which also counts as the unit being seen at now;
    // false for a code the store does not know.
    bool recordPosition(const std::string& code, const Position& position, std::int64_t now);

    // Notices due at now, oldest first.
    std::vector<PendingPush> duePushes(std::int64_t now, std::size_t limit);
    std::size_t pendingPushCount();
    void pushDelivered(const PendingPush& push);
    void pushFailed(const PendingPush& push, const std::string& why, std::int64_t nextAttempt);

    // Values of the service itself (the server key, ...).
    std::optional<std::string> setting(const std::string& key);
    void setSetting(const std::string& key, const std::string& value);

    // A consistent copy of the whole database into file (SQLite's online
    // backup), also while the service writes.
    void backupTo(const std::string& file);

    int schemaVersion();

private:
    void migrate();
    std::optional<UnitRecord> readUnit(const std::string& code);
    // Bumps the settings version of the units the clause picks (?1 is the
    // parameter) and queues a notice to each.
    void bumpAndQueue(const std::string& whereClause, const std::optional<std::string>& parameter);
    void bumpRegisteredUnits();
    void bumpAccount(const std::string& account);
    void queuePush(const std::string& code);
    ServiceOptions readOptions();

    std::mutex mutex_;
    Database database_;
};

// Registration codes: 8 hexadecimal digits, kept in upper case.
bool isRegistrationCode(const std::string& text);
std::string normalCode(const std::string& text);

} // namespace Manager
