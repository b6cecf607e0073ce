// The store's schema, its migrations and every query (all prepared, with
// bound parameters).
#include "Store.h"

#include "VoiceKey.h"

#include <sqlite3.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <chrono>

namespace Manager {

namespace {

using Kind = Transaction::Kind;

// Each entry moves the schema one version up; user_version counts them.
const char* const kMigrations[] = {
    // 1: the first schema.
    "CREATE TABLE settings(key TEXT PRIMARY KEY, value TEXT NOT NULL);"
    "CREATE TABLE units("
    "  code TEXT PRIMARY KEY,"
    "  fingerprint TEXT NOT NULL,"
    "  public_key TEXT NOT NULL,"
    "  mac TEXT NOT NULL DEFAULT '',"
    "  name TEXT NOT NULL DEFAULT '',"
    "  account TEXT NOT NULL DEFAULT '',"
    "  registered INTEGER NOT NULL DEFAULT 0,"
    "  was_registered INTEGER NOT NULL DEFAULT 0,"
    "  last_seen INTEGER NOT NULL DEFAULT 0,"
    "  latitude REAL, longitude REAL, position_time INTEGER,"
    "  settings_version INTEGER NOT NULL DEFAULT 1,"
    "  push_state TEXT NOT NULL DEFAULT '');"
    "CREATE INDEX units_by_account ON units(account, registered);"
    "CREATE TABLE zones(number INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);"
    "CREATE TABLE channels("
    "  number INTEGER PRIMARY KEY,"
    "  name TEXT NOT NULL UNIQUE,"
    "  zone INTEGER NOT NULL REFERENCES zones(number));"
    "CREATE TABLE routers(address TEXT NOT NULL, port INTEGER NOT NULL, PRIMARY KEY(address, port));"
    "CREATE TABLE pending_pushes("
    "  ticket INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  code TEXT NOT NULL UNIQUE REFERENCES units(code) ON DELETE CASCADE,"
    "  attempts INTEGER NOT NULL DEFAULT 0,"
    "  next_attempt INTEGER NOT NULL DEFAULT 0);"
    "CREATE TABLE settings_replies("
    "  code TEXT PRIMARY KEY REFERENCES units(code) ON DELETE CASCADE,"
    "  settings_version INTEGER NOT NULL,"
    "  fingerprint TEXT NOT NULL,"
    "  reply TEXT NOT NULL);",
    // 2: voice keys of talk groups (by number) and of individual calls (0):
    // the crypto attribute text radios send under ('' for clear voice) and
    // the one replaced last, still heard until previous_until.
    "CREATE TABLE voice_keys("
    "  scope INTEGER PRIMARY KEY,"
    "  crypto TEXT NOT NULL DEFAULT '',"
    "  created INTEGER NOT NULL DEFAULT 0,"
    "  previous TEXT NOT NULL DEFAULT '',"
    "  previous_until INTEGER NOT NULL DEFAULT 0);",
};
constexpr int kSchemaVersion = static_cast<int>(sizeof kMigrations / sizeof kMigrations[0]);

const char* const kUnitColumns =
    "code, name, account, registered, public_key <> '', last_seen, latitude, longitude, position_time, "
    "settings_version, push_state";

const char* const kCodecs[] = {"PCMU",    "PCMA",    "Speex 1", "Speex 2",  "Speex 3", "Speex 4",
                               "Speex 5", "Speex 6", "Speex 7", "Speex 8",  "Opus 6.4", "Opus 8",
                               "Opus 12", "Opus 16", "Opus 24"};

// Zone and channel names travel in fixed 32-byte fields on the radio.
constexpr std::size_t kLongestPlanName = 31;
constexpr std::size_t kLongestUnitText = 64;
constexpr int kHighestPlanNumber = 65535;

UnitRecord UnitFromRow(const Statement& row)
{
    UnitRecord unit;
    unit.code = row.text(0);
    unit.name = row.text(1);
    unit.account = row.text(2);
    unit.registered = row.integer(3) != 0;
    unit.hasKey = row.integer(4) != 0;
    unit.lastSeen = row.integer(5);
    if (!row.isNull(6) && !row.isNull(7))
        unit.lastPosition = Position{row.real(6), row.real(7), row.integer(8)};
    unit.settingsVersion = row.integer(9);
    unit.pushState = row.text(10);
    return unit;
}

// The length in characters of valid UTF-8, or none for anything else.
std::optional<std::size_t> Utf8Length(const std::string& text)
{
    std::size_t characters = 0;
    for (std::size_t i = 0; i < text.size(); ++characters) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
        if (length == 0 || i + length > text.size())
            return std::nullopt;
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return std::nullopt;
        }
        i += length;
    }
    return characters;
}

// Names end up in XML documents: valid UTF-8 without NUL, within a length.
void CheckText(const std::string& what, const std::string& text, std::size_t longest, bool mayBeEmpty)
{
    const std::optional<std::size_t> length = Utf8Length(text);
    if (!length)
        throw FleetError(what + " is not valid UTF-8 text");
    if (text.find('\0') != std::string::npos)
        throw FleetError(what + " must not contain a NUL character");
    if (!mayBeEmpty && text.empty())
        throw FleetError(what + " must not be empty");
    if (*length > longest)
        throw FleetError(what + " is longer than " + std::to_string(longest) + " characters");
}

void CheckPlanNumber(const std::string& what, int number)
{
    if (number < 1 || number > kHighestPlanNumber)
        throw FleetError(what + " must be from 1 to " + std::to_string(kHighestPlanNumber));
}

std::string RequireCode(const std::string& code)
{
    if (!isRegistrationCode(code))
        throw FleetError("a registration code is 8 hexadecimal digits: " + code);
    return normalCode(code);
}

} // namespace

bool isRegistrationCode(const std::string& text)
{
    return text.size() == 8 &&
           std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

std::string normalCode(const std::string& text)
{
    std::string code = text;
    std::transform(code.begin(), code.end(), code.begin(),
                   [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
    return code;
}

Store::Store(const std::string& path) : database_(path)
{
    database_.execute("PRAGMA foreign_keys = ON");
    if (path != ":memory:") {
        Statement journal(database_, "PRAGMA journal_mode = WAL");
        if (!journal.step() || journal.text(0) != "wal")
            database_.fail("switching to WAL mode");
    }
    database_.execute("PRAGMA synchronous = NORMAL");
    migrate();
}

int Store::schemaVersion()
{
    std::lock_guard<std::mutex> lock(mutex_);
    Statement version(database_, "PRAGMA user_version");
    return version.step() ? static_cast<int>(version.integer(0)) : 0;
}

void Store::migrate()
{
    Transaction transaction(database_, Kind::Write);
    Statement current(database_, "PRAGMA user_version");
    const int version = current.step() ? static_cast<int>(current.integer(0)) : 0;
    if (version > kSchemaVersion)
        throw StoreError("database " + database_.path() + " has schema version " + std::to_string(version) +
                         ", from a newer rvx-manager (this one knows up to " + std::to_string(kSchemaVersion) + ")");
    for (int next = version; next < kSchemaVersion; ++next) {
        database_.execute(kMigrations[next]);
        // user_version is part of the transaction: a failed migration leaves
        // the old schema and the old number.
        const std::string setVersion = "PRAGMA user_version = " + std::to_string(next + 1);
        database_.execute(setVersion.c_str());
    }
    transaction.commit();
}

// ----- units -----

std::vector<UnitRecord> Store::units()
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<UnitRecord> result;
    Statement rows(database_, (std::string("SELECT ") + kUnitColumns + " FROM units ORDER BY code").c_str());
    while (rows.step())
        result.push_back(UnitFromRow(rows));
    return result;
}

std::optional<UnitRecord> Store::readUnit(const std::string& code)
{
    Statement row(database_, (std::string("SELECT ") + kUnitColumns + " FROM units WHERE code = ?1").c_str());
    row.bind(1, code);
    if (!row.step())
        return std::nullopt;
    return UnitFromRow(row);
}

std::optional<UnitRecord> Store::unit(const std::string& code)
{
    if (!isRegistrationCode(code))
        return std::nullopt;
    std::lock_guard<std::mutex> lock(mutex_);
    return readUnit(normalCode(code));
}

void Store::queuePush(const std::string& code)
{
    Statement(database_, "DELETE FROM pending_pushes WHERE code = ?1").bind(1, code).run();
    Statement(database_, "INSERT INTO pending_pushes(code) VALUES(?1)").bind(1, code).run();
    Statement(database_, "UPDATE units SET push_state = 'queued' WHERE code = ?1").bind(1, code).run();
}

void Store::bumpAndQueue(const std::string& whereClause, const std::optional<std::string>& parameter)
{
    // Set-wise, so that a plan change for ten thousand units stays quick.
    // Old tickets go first: a notice being sent for an older change does
    // not complete this one.
    const std::string statements[] = {
        "DELETE FROM pending_pushes WHERE code IN (SELECT code FROM units WHERE " + whereClause + ")",
        "INSERT INTO pending_pushes(code) SELECT code FROM units WHERE " + whereClause + " ORDER BY code",
        "UPDATE units SET settings_version = settings_version + 1, push_state = 'queued' WHERE " + whereClause,
    };
    for (const std::string& sql : statements) {
        Statement statement(database_, sql.c_str());
        if (parameter)
            statement.bind(1, *parameter);
        statement.run();
    }
}

void Store::bumpRegisteredUnits()
{
    bumpAndQueue("registered = 1", std::nullopt);
}

// The registered units of an account list each other as contacts.
void Store::bumpAccount(const std::string& account)
{
    bumpAndQueue("registered = 1 AND account = ?1", account);
}

void Store::registerUnit(const std::string& code, const std::string& name, const std::string& account)
{
    const std::string normal = RequireCode(code);
    CheckText("the unit's name", name, kLongestUnitText, true);
    CheckText("the account", account, kLongestUnitText, true);
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction transaction(database_, Kind::Write);
    const std::optional<UnitRecord> before = readUnit(normal);
    if (!before || !before->hasKey)
        throw FleetError("unit " + normal + " has not uploaded its key yet: start it so that it shows this code");
    const std::string newName = !name.empty() ? name : !before->name.empty() ? before->name : normal;
    const std::string newAccount = !account.empty() ? account : !before->account.empty() ? before->account : "Default";
    if (before->registered)
        bumpAccount(before->account);
    Statement(database_,
              "UPDATE units SET registered = 1, was_registered = 1, name = ?2, account = ?3 WHERE code = ?1")
        .bind(1, normal)
        .bind(2, newName)
        .bind(3, newAccount)
        .run();
    bumpAccount(newAccount);
    transaction.commit();
}

void Store::unregisterUnit(const std::string& code)
{
    const std::string normal = RequireCode(code);
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction transaction(database_, Kind::Write);
    const std::optional<UnitRecord> before = readUnit(normal);
    if (!before || !before->registered)
        throw FleetError("unit " + normal + " is not registered");
    Statement(database_, "UPDATE units SET registered = 0 WHERE code = ?1").bind(1, normal).run();
    // The unit itself fetches the signed word that unregisters it; the
    // others of its account lose it from their contacts.
    bumpAndQueue("code = ?1", normal);
    bumpAccount(before->account);
    transaction.commit();
}

void Store::renameUnit(const std::string& code, const std::string& name)
{
    const std::string normal = RequireCode(code);
    CheckText("the unit's name", name, kLongestUnitText, false);
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction transaction(database_, Kind::Write);
    const std::optional<UnitRecord> before = readUnit(normal);
    if (!before)
        throw FleetError("no unit " + normal);
    Statement(database_, "UPDATE units SET name = ?2 WHERE code = ?1").bind(1, normal).bind(2, name).run();
    if (before->registered)
        bumpAccount(before->account);
    else
        bumpAndQueue("code = ?1", normal);
    transaction.commit();
}

void Store::pushSettings(const std::string& code)
{
    const std::string normal = RequireCode(code);
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction transaction(database_, Kind::Write);
    if (!readUnit(normal))
        throw FleetError("no unit " + normal);
    queuePush(normal);
    transaction.commit();
}

// ----- the channel plan -----

std::vector<ZoneRecord> Store::zones()
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<ZoneRecord> result;
    Statement rows(database_, "SELECT number, name FROM zones ORDER BY number");
    while (rows.step())
        result.push_back(ZoneRecord{static_cast<int>(rows.integer(0)), rows.text(1)});
    return result;
}

void Store::saveZone(const ZoneRecord& zone)
{
    CheckPlanNumber("a zone number", zone.number);
    CheckText("the zone's name", zone.name, kLongestPlanName, false);
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction transaction(database_, Kind::Write);
    // The radio tells zones apart by name: a name is used once.
    Statement taken(database_, "SELECT number FROM zones WHERE name = ?1 AND number <> ?2");
    taken.bind(1, zone.name).bind(2, zone.number);
    if (taken.step())
        throw FleetError("zone " + std::to_string(taken.integer(0)) + " already has that name");
    Statement(database_, "INSERT INTO zones(number, name) VALUES(?1, ?2) ON CONFLICT(number) DO UPDATE SET name = ?2")
        .bind(1, zone.number)
        .bind(2, zone.name)
        .run();
    bumpRegisteredUnits();
    transaction.commit();
}

void Store::removeZone(int number)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction transaction(database_, Kind::Write);
    Statement used(database_, "SELECT count(*) FROM channels WHERE zone = ?1");
    used.bind(1, number);
    if (used.step() && used.integer(0) > 0)
        throw FleetError("zone " + std::to_string(number) + " still has channels: remove or move them first");
    Statement remove(database_, "DELETE FROM zones WHERE number = ?1");
    remove.bind(1, number).run();
    if (sqlite3_changes(database_.handle()) == 0)
        throw FleetError("no zone " + std::to_string(number));
    bumpRegisteredUnits();
    transaction.commit();
}

std::vector<ChannelRecord> Store::channels()
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<ChannelRecord> result;
    Statement rows(database_, "SELECT number, name, zone FROM channels ORDER BY number");
    while (rows.step())
        result.push_back(
            ChannelRecord{static_cast<int>(rows.integer(0)), rows.text(1), static_cast<int>(rows.integer(2))});
    return result;
}

void Store::saveChannel(const ChannelRecord& channel)
{
    CheckPlanNumber("a channel number", channel.number);
    CheckText("the channel's name", channel.name, kLongestPlanName, false);
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction transaction(database_, Kind::Write);
    Statement zone(database_, "SELECT 1 FROM zones WHERE number = ?1");
    zone.bind(1, channel.zoneNumber);
    if (!zone.step())
        throw FleetError("no zone " + std::to_string(channel.zoneNumber) + ": add it first");
    Statement taken(database_, "SELECT number FROM channels WHERE name = ?1 AND number <> ?2");
    taken.bind(1, channel.name).bind(2, channel.number);
    if (taken.step())
        throw FleetError("channel " + std::to_string(taken.integer(0)) + " already has that name");
    Statement(database_, "INSERT INTO channels(number, name, zone) VALUES(?1, ?2, ?3) "
                         "ON CONFLICT(number) DO UPDATE SET name = ?2, zone = ?3")
        .bind(1, channel.number)
        .bind(2, channel.name)
        .bind(3, channel.zoneNumber)
        .run();
    bumpRegisteredUnits();
    transaction.commit();
}

void Store::removeChannel(int number)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction transaction(database_, Kind::Write);
    Statement(database_, "DELETE FROM channels WHERE number = ?1").bind(1, number).run();
    if (sqlite3_changes(database_.handle()) == 0)
        throw FleetError("no channel " + std::to_string(number));
    // A talk group added again under the number starts without its keys.
    Statement(database_, "DELETE FROM voice_keys WHERE scope = ?1").bind(1, number).run();
    bumpRegisteredUnits();
    transaction.commit();
}

std::vector<RouterRecord> Store::routers()
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<RouterRecord> result;
    Statement rows(database_, "SELECT address, port FROM routers ORDER BY rowid");
    while (rows.step())
        result.push_back(RouterRecord{rows.text(0), static_cast<int>(rows.integer(1))});
    return result;
}

void Store::addRouter(const RouterRecord& router)
{
    in_addr ignored;
    if (router.address.size() > 15 || ::inet_pton(AF_INET, router.address.c_str(), &ignored) != 1)
        throw FleetError("a router address is a dotted IPv4 address: " + router.address);
    if (router.port < 1 || router.port > 65535)
        throw FleetError("a router port is from 1 to 65535");
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction transaction(database_, Kind::Write);
    Statement(database_, "INSERT OR IGNORE INTO routers(address, port) VALUES(?1, ?2)")
        .bind(1, router.address)
        .bind(2, router.port)
        .run();
    if (sqlite3_changes(database_.handle()) == 0)
        throw FleetError("router " + router.address + ":" + std::to_string(router.port) + " is already listed");
    bumpRegisteredUnits();
    transaction.commit();
}

void Store::removeRouter(const RouterRecord& router)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction transaction(database_, Kind::Write);
    Statement(database_, "DELETE FROM routers WHERE address = ?1 AND port = ?2")
        .bind(1, router.address)
        .bind(2, router.port)
        .run();
    if (sqlite3_changes(database_.handle()) == 0)
        throw FleetError("no router " + router.address + ":" + std::to_string(router.port));
    bumpRegisteredUnits();
    transaction.commit();
}

// ----- options and values of the service -----

ServiceOptions Store::readOptions()
{
    ServiceOptions options;
    Statement rows(database_, "SELECT key, value FROM settings WHERE key LIKE 'option.%'");
    while (rows.step()) {
        const std::string key = rows.text(0);
        const std::string value = rows.text(1);
        if (key == "option.codec")
            options.codec = value;
        else if (key == "option.packet_interval")
            options.packetIntervalMs = std::stoi(value);
        else if (key == "option.gps_interval")
            options.gpsIntervalSeconds = std::stoi(value);
        else if (key == "option.local_channels")
            options.localChannels = value == "1";
        else if (key == "option.demo_channels")
            options.demoChannels = value == "1";
    }
    return options;
}

ServiceOptions Store::options()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return readOptions();
}

void Store::setOptions(const ServiceOptions& options)
{
    if (std::find(std::begin(kCodecs), std::end(kCodecs), options.codec) == std::end(kCodecs))
        throw FleetError("unknown codec \"" + options.codec +
                         "\" (PCMU, PCMA, Speex 1 to Speex 8, Opus 6.4, Opus 8, Opus 12, Opus 16, Opus 24)");
    if (options.packetIntervalMs < 10 || options.packetIntervalMs > 1000)
        throw FleetError("the packet interval is from 10 to 1000 ms");
    if (options.gpsIntervalSeconds < 0 || options.gpsIntervalSeconds > 86400)
        throw FleetError("the GPS interval is from 0 (off) to 86400 seconds");
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction transaction(database_, Kind::Write);
    const std::pair<const char*, std::string> values[] = {
        {"option.codec", options.codec},
        {"option.packet_interval", std::to_string(options.packetIntervalMs)},
        {"option.gps_interval", std::to_string(options.gpsIntervalSeconds)},
        {"option.local_channels", options.localChannels ? "1" : "0"},
        {"option.demo_channels", options.demoChannels ? "1" : "0"},
    };
    for (const auto& [key, value] : values) {
        Statement(database_, "INSERT INTO settings(key, value) VALUES(?1, ?2) ON CONFLICT(key) DO UPDATE SET value = ?2")
            .bind(1, std::string(key))
            .bind(2, value)
            .run();
    }
    bumpRegisteredUnits();
    transaction.commit();
}

std::optional<std::string> Store::setting(const std::string& key)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Statement row(database_, "SELECT value FROM settings WHERE key = ?1");
    row.bind(1, key);
    if (!row.step())
        return std::nullopt;
    return row.text(0);
}

void Store::setSetting(const std::string& key, const std::string& value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction transaction(database_, Kind::Write);
    Statement(database_, "INSERT INTO settings(key, value) VALUES(?1, ?2) ON CONFLICT(key) DO UPDATE SET value = ?2")
        .bind(1, key)
        .bind(2, value)
        .run();
    transaction.commit();
}

std::string Store::adminPasswordHash()
{
    return setting("admin.password_hash").value_or(std::string());
}

void Store::setAdminPasswordHash(const std::string& hash)
{
    setSetting("admin.password_hash", hash);
}

// ----- voice privacy -----

VoicePrivacyState Store::voicePrivacy(int number)
{
    std::lock_guard<std::mutex> lock(mutex_);
    VoicePrivacyState state;
    Statement row(database_, "SELECT crypto <> '', created, previous <> '', previous_until FROM voice_keys "
                             "WHERE scope = ?1");
    row.bind(1, number);
    if (row.step()) {
        state.encrypted = row.integer(0) != 0;
        state.keySince = state.encrypted ? row.integer(1) : 0;
        state.previousHeard = row.integer(2) != 0;
        state.previousUntil = state.previousHeard ? row.integer(3) : 0;
    }
    return state;
}

void Store::changeVoicePrivacy(int number, VoicePrivacyChange change)
{
    const std::int64_t now =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    changeVoicePrivacyAt(number, change, now);
}

void Store::changeVoicePrivacyAt(int number, VoicePrivacyChange change, std::int64_t now)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction transaction(database_, Kind::Write);
    if (number != kIndividualCallsVoiceScope) {
        Statement channel(database_, "SELECT 1 FROM channels WHERE number = ?1");
        channel.bind(1, number);
        if (!channel.step())
            throw FleetError("no talk group " + std::to_string(number));
    }
    std::string current, previous;
    std::int64_t created = 0, previousUntil = 0;
    Statement row(database_, "SELECT crypto, created, previous, previous_until FROM voice_keys WHERE scope = ?1");
    row.bind(1, number);
    if (row.step()) {
        current = row.text(0);
        created = row.integer(1);
        previous = row.text(2);
        previousUntil = row.integer(3);
    }
    const bool encrypted = !current.empty();
    switch (change) {
    case VoicePrivacyChange::Encrypt:
        if (encrypted)
            return;
        current = cryptoAttributeText(randomVoiceKey());
        created = now;
        break;
    case VoicePrivacyChange::Clear:
    case VoicePrivacyChange::RotateKey:
        if (!encrypted) {
            if (change == VoicePrivacyChange::Clear)
                return;
            throw FleetError("voice is not encrypted: there is no key to replace");
        }
        // Radios that have not fetched the change yet still send under the
        // old key: those that have keep hearing them for a while.
        previous = current;
        previousUntil = now + kVoiceKeyGraceSeconds;
        current = change == VoicePrivacyChange::RotateKey ? cryptoAttributeText(randomVoiceKey()) : std::string();
        created = now;
        break;
    case VoicePrivacyChange::EndGrace:
        if (previous.empty())
            return;
        previous.clear();
        previousUntil = 0;
        break;
    }
    Statement(database_, "INSERT INTO voice_keys(scope, crypto, created, previous, previous_until) "
                         "VALUES(?1, ?2, ?3, ?4, ?5) ON CONFLICT(scope) DO UPDATE SET crypto = ?2, created = ?3, "
                         "previous = ?4, previous_until = ?5")
        .bind(1, number)
        .bind(2, current)
        .bind(3, created)
        .bind(4, previous)
        .bind(5, previousUntil)
        .run();
    bumpRegisteredUnits();
    transaction.commit();
}

void Store::expireReplacedVoiceKeys(std::int64_t now)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction transaction(database_, Kind::Write);
    Statement(database_, "UPDATE voice_keys SET previous = '', previous_until = 0 "
                         "WHERE previous <> '' AND previous_until <= ?1")
        .bind(1, now)
        .run();
    if (sqlite3_changes(database_.handle()) == 0)
        return;
    bumpRegisteredUnits();
    transaction.commit();
}

// ----- the radio endpoints -----

KeyUpload Store::storeUnitKey(const std::string& code, const std::string& fingerprint, const std::string& publicKey,
                              const std::string& macAddress)
{
    const std::string normal = RequireCode(code);
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction transaction(database_, Kind::Write);
    Statement existing(database_, "SELECT fingerprint, registered FROM units WHERE code = ?1");
    existing.bind(1, normal);
    if (existing.step()) {
        const bool sameKey = existing.text(0) == fingerprint;
        if (!sameKey && existing.integer(1) != 0)
            return KeyUpload::RefusedTakeover;
        Statement(database_, "UPDATE units SET fingerprint = ?2, public_key = ?3, mac = ?4 WHERE code = ?1")
            .bind(1, normal)
            .bind(2, fingerprint)
            .bind(3, publicKey)
            .bind(4, macAddress)
            .run();
        if (!sameKey)
            Statement(database_, "DELETE FROM settings_replies WHERE code = ?1").bind(1, normal).run();
        transaction.commit();
        return sameKey ? KeyUpload::Unchanged : KeyUpload::Stored;
    }
    Statement(database_, "INSERT INTO units(code, fingerprint, public_key, mac, name) VALUES(?1, ?2, ?3, ?4, ?1)")
        .bind(1, normal)
        .bind(2, fingerprint)
        .bind(3, publicKey)
        .bind(4, macAddress)
        .run();
    transaction.commit();
    return KeyUpload::Stored;
}

std::optional<UnitKey> Store::unitKey(const std::string& code)
{
    if (!isRegistrationCode(code))
        return std::nullopt;
    std::lock_guard<std::mutex> lock(mutex_);
    Statement row(database_,
                  "SELECT code, fingerprint, registered, was_registered, settings_version FROM units WHERE code = ?1");
    row.bind(1, normalCode(code));
    if (!row.step())
        return std::nullopt;
    return UnitKey{row.text(0), row.text(1), row.integer(2) != 0, row.integer(3) != 0, row.integer(4)};
}

std::optional<SettingsSnapshot> Store::settingsSnapshot(const std::string& code)
{
    if (!isRegistrationCode(code))
        return std::nullopt;
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction transaction(database_, Kind::Read);
    SettingsSnapshot snapshot;
    {
        const std::optional<UnitRecord> unit = readUnit(normalCode(code));
        if (!unit)
            return std::nullopt;
        snapshot.unit = *unit;
        Statement key(database_, "SELECT fingerprint, public_key, was_registered FROM units WHERE code = ?1");
        key.bind(1, unit->code);
        key.step();
        snapshot.fingerprint = key.text(0);
        snapshot.publicKey = key.text(1);
        snapshot.wasRegistered = key.integer(2) != 0;
    }
    snapshot.options = readOptions();
    Statement zones(database_, "SELECT number, name FROM zones ORDER BY number");
    while (zones.step())
        snapshot.zones.push_back(ZoneRecord{static_cast<int>(zones.integer(0)), zones.text(1)});
    Statement channels(database_, "SELECT number, name, zone FROM channels ORDER BY zone, number");
    while (channels.step())
        snapshot.channels.push_back(
            ChannelRecord{static_cast<int>(channels.integer(0)), channels.text(1), static_cast<int>(channels.integer(2))});
    Statement routers(database_, "SELECT address, port FROM routers ORDER BY rowid");
    while (routers.step())
        snapshot.routers.push_back(RouterRecord{routers.text(0), static_cast<int>(routers.integer(1))});
    Statement contacts(database_, (std::string("SELECT ") + kUnitColumns +
                                   " FROM units WHERE registered = 1 AND account = ?1 AND code <> ?2 ORDER BY code")
                                      .c_str());
    contacts.bind(1, snapshot.unit.account).bind(2, snapshot.unit.code);
    while (contacts.step())
        snapshot.contacts.push_back(UnitFromRow(contacts));
    Statement keys(database_, "SELECT scope, crypto, previous FROM voice_keys WHERE crypto <> '' OR previous <> ''");
    while (keys.step())
        snapshot.voiceKeys[static_cast<int>(keys.integer(0))] = SettingsSnapshot::VoiceKeys{keys.text(1), keys.text(2)};
    return snapshot;
}

std::optional<std::string> Store::cachedReply(const std::string& code, std::int64_t version,
                                              const std::string& fingerprint)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Statement row(database_,
                  "SELECT reply FROM settings_replies WHERE code = ?1 AND settings_version = ?2 AND fingerprint = ?3");
    row.bind(1, code).bind(2, version).bind(3, fingerprint);
    if (!row.step())
        return std::nullopt;
    return row.text(0);
}

void Store::cacheReply(const std::string& code, std::int64_t version, const std::string& fingerprint,
                       const std::string& reply)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction transaction(database_, Kind::Write);
    Statement(database_, "INSERT INTO settings_replies(code, settings_version, fingerprint, reply) "
                         "SELECT code, settings_version, fingerprint, ?4 FROM units "
                         "WHERE code = ?1 AND settings_version = ?2 AND fingerprint = ?3 "
                         "ON CONFLICT(code) DO UPDATE SET settings_version = excluded.settings_version, "
                         "fingerprint = excluded.fingerprint, reply = excluded.reply")
        .bind(1, code)
        .bind(2, version)
        .bind(3, fingerprint)
        .bind(4, reply)
        .run();
    transaction.commit();
}

void Store::noteSettingsRequest(const std::string& code, const std::string& macAddress, std::int64_t now,
                                bool servedCurrentSettings)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction transaction(database_, Kind::Write);
    Statement(database_, "UPDATE units SET last_seen = ?2, mac = ?3 WHERE code = ?1")
        .bind(1, code)
        .bind(2, now)
        .bind(3, macAddress)
        .run();
    if (servedCurrentSettings) {
        Statement(database_, "DELETE FROM pending_pushes WHERE code = ?1").bind(1, code).run();
        if (sqlite3_changes(database_.handle()) > 0)
            Statement(database_, "UPDATE units SET push_state = 'fetched' WHERE code = ?1").bind(1, code).run();
    }
    transaction.commit();
}

bool Store::recordPosition(const std::string& code, const Position& position, std::int64_t now)
{
    if (!isRegistrationCode(code))
        return false;
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction transaction(database_, Kind::Write);
    Statement(database_, "UPDATE units SET latitude = ?2, longitude = ?3, position_time = ?4, "
                         "last_seen = MAX(last_seen, ?5) WHERE code = ?1")
        .bind(1, normalCode(code))
        .bind(2, position.latitude)
        .bind(3, position.longitude)
        .bind(4, position.time)
        .bind(5, now)
        .run();
    const bool known = sqlite3_changes(database_.handle()) > 0;
    transaction.commit();
    return known;
}

// ----- settings-changed notices -----

std::vector<PendingPush> Store::duePushes(std::int64_t now, std::size_t limit)
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<PendingPush> due;
    Statement rows(database_, "SELECT ticket, code, attempts FROM pending_pushes WHERE next_attempt <= ?1 "
                              "ORDER BY next_attempt, ticket LIMIT ?2");
    rows.bind(1, now).bind(2, static_cast<std::int64_t>(limit));
    while (rows.step())
        due.push_back(PendingPush{rows.integer(0), rows.text(1), static_cast<int>(rows.integer(2))});
    return due;
}

std::size_t Store::pendingPushCount()
{
    std::lock_guard<std::mutex> lock(mutex_);
    Statement count(database_, "SELECT count(*) FROM pending_pushes");
    return count.step() ? static_cast<std::size_t>(count.integer(0)) : 0;
}

void Store::pushDelivered(const PendingPush& push)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction transaction(database_, Kind::Write);
    Statement(database_, "DELETE FROM pending_pushes WHERE ticket = ?1").bind(1, push.ticket).run();
    // Queued again meanwhile: the state stays "queued".
    if (sqlite3_changes(database_.handle()) > 0)
        Statement(database_, "UPDATE units SET push_state = 'sent' WHERE code = ?1").bind(1, push.code).run();
    transaction.commit();
}

void Store::pushFailed(const PendingPush& push, const std::string& why, std::int64_t nextAttempt)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction transaction(database_, Kind::Write);
    Statement(database_, "UPDATE pending_pushes SET attempts = attempts + 1, next_attempt = ?2 WHERE ticket = ?1")
        .bind(1, push.ticket)
        .bind(2, nextAttempt)
        .run();
    if (sqlite3_changes(database_.handle()) > 0)
        Statement(database_, "UPDATE units SET push_state = ?2 WHERE code = ?1")
            .bind(1, push.code)
            .bind(2, "failed: " + why)
            .run();
    transaction.commit();
}

// ----- backup -----

void Store::backupTo(const std::string& file)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Database target(file);
    sqlite3_backup* backup = sqlite3_backup_init(target.handle(), "main", database_.handle(), "main");
    if (!backup)
        target.fail("starting the backup");
    const int result = sqlite3_backup_step(backup, -1);
    sqlite3_backup_finish(backup);
    if (result != SQLITE_DONE)
        target.fail("copying the database");
}

} // namespace Manager
