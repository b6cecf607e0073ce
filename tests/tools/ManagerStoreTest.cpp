// rvx-manager's store and documents: persistence and migrations, which
// units a change reaches, texts stored verbatim whatever they hold, refused
// changes on a read-only or full disk, and the settings document as a
// parser reads it back.
#include "MountNamespace.h"
#include "SettingsDocument.h"
#include "Store.h"
#include "VoiceKey.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

namespace {

using namespace Manager;

class TemporaryFolder
{
public:
    TemporaryFolder()
    {
        char pattern[] = "/tmp/mst.XXXXXX";
        path_ = ::mkdtemp(pattern) ? pattern : "";
    }
    ~TemporaryFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// A fingerprint whose last 8 digits are the code.
std::string FingerprintFor(const std::string& code)
{
    return std::string(32, 'A') + code;
}

void AddUnit(Store& store, const std::string& code, const std::string& account = std::string())
{
    store.storeUnitKey(code, FingerprintFor(code), "key of " + code, "02:00:00:00:00:01");
    if (!account.empty())
        store.registerUnit(code, std::string(), account);
}

std::map<std::string, std::int64_t> Versions(Store& store)
{
    std::map<std::string, std::int64_t> versions;
    for (const UnitRecord& unit : store.units())
        versions[unit.code] = unit.settingsVersion;
    return versions;
}

std::set<std::string> Queued(Store& store)
{
    std::set<std::string> codes;
    for (const PendingPush& push : store.duePushes(0, 1000))
        codes.insert(push.code);
    return codes;
}

void DrainQueue(Store& store)
{
    for (const PendingPush& push : store.duePushes(0, 1000))
        store.pushDelivered(push);
}

TEST(ManagerStoreTest, PersistsAcrossReopenAndMigratesAnEmptyFile)
{
    TemporaryFolder folder;
    const std::string path = folder.path() + "/manager.db";
    std::ofstream(path).close();  // an empty file, as a failed first start may leave
    {
        Store store(path);
        EXPECT_EQ(store.schemaVersion(), 2);
        AddUnit(store, "0A1B2C3D", "Harbour");
        store.saveZone({3, "North"});
        store.saveChannel({301, "Dispatch", 3});
        store.addRouter({"192.0.2.7", 3301});
        store.setOptions(ServiceOptions{"Opus 12", 40, 60, false, true});
        store.recordPosition("0a1b2c3d", Position{45.5, -122.25, 1700000000}, 1700000060);
    }
    Store reopened(path);
    const std::optional<UnitRecord> unit = reopened.unit("0A1B2C3D");
    ASSERT_TRUE(unit);
    EXPECT_TRUE(unit->registered);
    EXPECT_EQ(unit->account, "Harbour");
    EXPECT_EQ(unit->name, "0A1B2C3D");
    ASSERT_TRUE(unit->lastPosition);
    EXPECT_DOUBLE_EQ(unit->lastPosition->longitude, -122.25);
    EXPECT_EQ(unit->lastSeen, 1700000060) << "a position post is a sign of life";
    EXPECT_EQ(reopened.channels().at(0).name, "Dispatch");
    EXPECT_EQ(reopened.routers().at(0).address, "192.0.2.7");
    EXPECT_EQ(reopened.options().codec, "Opus 12");
    EXPECT_TRUE(reopened.options().demoChannels);

    // A database from a newer program is left alone.
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
    sqlite3_exec(raw, "PRAGMA user_version = 99", nullptr, nullptr, nullptr);
    sqlite3_close(raw);
    EXPECT_THROW(Store newer(path), StoreError);
}

// Which units each change reaches: its settings version goes up and a
// notice is queued for it, and no other unit is touched.
TEST(ManagerStoreTest, ChangesBumpAndNotifyExactlyTheUnitsTheyAffect)
{
    Store store(":memory:");
    AddUnit(store, "000000A1", "Alpha");
    AddUnit(store, "000000A2", "Alpha");
    AddUnit(store, "000000B1", "Bravo");
    AddUnit(store, "000000C1");  // key uploaded, never registered
    store.saveZone({1, "Zone"});

    struct Case
    {
        const char* change;
        std::function<void()> apply;
        std::set<std::string> reached;
        bool bumps;
    };
    const std::vector<Case> cases = {
        {"rename a registered unit", [&] { store.renameUnit("000000A1", "Alpha one"); }, {"000000A1", "000000A2"}, true},
        {"plan change", [&] { store.saveChannel({7, "Seven", 1}); }, {"000000A1", "000000A2", "000000B1"}, true},
        {"options", [&] { store.setOptions(ServiceOptions{}); }, {"000000A1", "000000A2", "000000B1"}, true},
        {"router", [&] { store.addRouter({"127.0.0.1", 3301}); }, {"000000A1", "000000A2", "000000B1"}, true},
        {"register into an account", [&] { store.registerUnit("000000C1", "Charlie", "Bravo"); },
         {"000000C1", "000000B1"}, true},
        {"unregister", [&] { store.unregisterUnit("000000A2"); }, {"000000A2", "000000A1"}, true},
        {"move to another account", [&] { store.registerUnit("000000C1", "", "Alpha"); },
         {"000000C1", "000000B1", "000000A1"}, true},
        {"push only", [&] { store.pushSettings("000000B1"); }, {"000000B1"}, false},
        {"password", [&] { store.setAdminPasswordHash("$argon2id$x"); }, {}, false},
    };
    for (const Case& c : cases) {
        DrainQueue(store);
        const auto before = Versions(store);
        c.apply();
        const auto after = Versions(store);
        std::set<std::string> bumped;
        for (const auto& [code, version] : after)
            if (version != before.at(code))
                bumped.insert(code);
        EXPECT_EQ(bumped, c.bumps ? c.reached : std::set<std::string>()) << c.change;
        EXPECT_EQ(Queued(store), c.reached) << c.change;
        for (const std::string& code : c.reached)
            EXPECT_EQ(store.unit(code)->pushState, "queued") << c.change;
    }

    // A notice queued anew while an older one was being sent stays queued.
    DrainQueue(store);
    store.pushSettings("000000B1");
    const PendingPush older = store.duePushes(0, 10).at(0);
    store.pushSettings("000000B1");
    store.pushDelivered(older);
    EXPECT_EQ(Queued(store), std::set<std::string>{"000000B1"});
    // Fetching the current settings makes the notice needless.
    store.noteSettingsRequest("000000B1", "mac", 1000, true);
    EXPECT_TRUE(Queued(store).empty());
    EXPECT_EQ(store.unit("000000B1")->lastSeen, 1000);
}

TEST(ManagerStoreTest, KeyUploadsNeverTakeOverARegisteredUnit)
{
    Store store(":memory:");
    EXPECT_EQ(store.storeUnitKey("0A1B2C3D", FingerprintFor("0A1B2C3D"), "key", "m"), KeyUpload::Stored);
    EXPECT_EQ(store.storeUnitKey("0A1B2C3D", FingerprintFor("0A1B2C3D"), "key", "m"), KeyUpload::Unchanged);
    EXPECT_EQ(store.storeUnitKey("0A1B2C3D", "B" + FingerprintFor("0A1B2C3D").substr(1), "other", "m"),
              KeyUpload::Stored);  // not registered yet: the newest key counts
    store.registerUnit("0A1B2C3D", "", "");
    EXPECT_EQ(store.storeUnitKey("0A1B2C3D", FingerprintFor("0A1B2C3D"), "key", "m"), KeyUpload::RefusedTakeover);
    EXPECT_EQ(store.unitKey("0A1B2C3D")->fingerprint, "B" + FingerprintFor("0A1B2C3D").substr(1));
    EXPECT_EQ(store.unit("0A1B2C3D")->account, "Default");
    EXPECT_THROW(store.registerUnit("0000FFFF", "", ""), FleetError);  // no key uploaded
}

TEST(ManagerStoreTest, EveryTextFieldIsStoredAndReadBackVerbatim)
{
    const std::vector<std::string> texts = {
        "'); DROP TABLE units; --",
        "\" OR \"1\"=\"1",
        "Robert'); DELETE FROM zones WHERE ('1'='1",
        "%s%n%x ?1 :name @p $1",
        "line\nbreak\ttab\\back",
        "Grüße <&> \"quoted\" 'single'",
    };
    Store store(":memory:");
    int number = 1;
    for (const std::string& text : texts) {
        const std::string code = "0000000" + std::to_string(number);
        SCOPED_TRACE(text);
        store.storeUnitKey(code, FingerprintFor(code), text, text);
        store.registerUnit(code, text.substr(0, 31), text.substr(0, 31));
        store.saveZone({number, text.substr(0, 31)});
        store.saveChannel({number, text.substr(0, 31), number});
        store.setAdminPasswordHash(text);
        const std::optional<SettingsSnapshot> snapshot = store.settingsSnapshot(code);
        ASSERT_TRUE(snapshot);
        EXPECT_EQ(snapshot->publicKey, text);
        EXPECT_EQ(snapshot->unit.name, text.substr(0, 31));
        EXPECT_EQ(snapshot->unit.account, text.substr(0, 31));
        EXPECT_EQ(store.zones().back().name, text.substr(0, 31));
        EXPECT_EQ(store.channels().back().name, text.substr(0, 31));
        EXPECT_EQ(store.adminPasswordHash(), text);
        ++number;
    }
    EXPECT_EQ(store.units().size(), texts.size());
    for (const std::string& bad : {std::string("\xC3"), std::string("a\xFF" "b"), std::string("nul\0inside", 10)})
        EXPECT_THROW(store.saveZone({99, bad}), FleetError);
}

// On a full disk and on a read-only one a change fails with the reason, and
// nothing of it is left behind.
TEST(ManagerStoreTest, FullOrReadOnlyDiskRefusesChangesWhole)
{
    TemporaryFolder folder;
    RVX_IN_PRIVATE_MOUNT_NAMESPACE([&] {
        ASSERT_TRUE(rvx::test::MountTmpfs(folder.path(), 8192));
        const std::string path = folder.path() + "/manager.db";
        {
            Store store(path);
            for (int i = 1; i <= 40; ++i) {
                char code[9];
                std::snprintf(code, sizeof code, "%08X", i);
                AddUnit(store, code, "Fleet");
            }
            store.saveZone({1, "Zone"});
            rvx::test::FillFileSystem(folder.path());
            const auto before = Versions(store);
            std::string why;
            try {
                // Large enough to need new pages: a plan change for 40 units
                // with a long name each time.
                for (int i = 2; i < 200; ++i)
                    store.saveZone({i, std::string(31, static_cast<char>('a' + i % 26))});
            } catch (const StoreError& error) {
                why = error.what();
            }
            EXPECT_NE(why.find("disk is full"), std::string::npos) << why;
            // Whatever was refused left no bump behind it: every unit was
            // bumped exactly once per zone that made it in.
            const std::size_t zonesIn = store.zones().size() - 1;
            for (const auto& [code, version] : Versions(store))
                EXPECT_EQ(version, before.at(code) + static_cast<std::int64_t>(zonesIn)) << code;
        }
        ASSERT_TRUE(rvx::test::MountReadOnly(folder.path()));
        std::string why;
        try {
            Store store(path);
            store.renameUnit("00000001", "New name");
        } catch (const StoreError& error) {
            why = error.what();
        }
        EXPECT_NE(why.find("read-only"), std::string::npos) << why;
    });
}

// The document as the radio's XML parser sees it: every section, and texts
// that come back exactly as stored.
TEST(ManagerStoreTest, SettingsDocumentCarriesEverySectionAndEscapedTexts)
{
    Store store(":memory:");
    const std::string tricky = "A&B <x> \"q\" 'a'\nZ";
    AddUnit(store, "0A1B2C3D");
    store.registerUnit("0A1B2C3D", tricky, "Grüße");
    AddUnit(store, "00C0FFEE");
    store.registerUnit("00C0FFEE", "Other", "Grüße");
    AddUnit(store, "0BADF00D", "Elsewhere");
    store.saveZone({2, "Zone \"two\""});
    store.saveZone({1, "One"});
    store.saveChannel({300, "Ch & 300", 2});
    store.saveChannel({5, "Five", 1});
    store.addRouter({"192.0.2.1", 3301});
    store.setOptions(ServiceOptions{"Speex 5", 100, 300, false, true});

    const std::string text = settingsDocument(*store.settingsSnapshot("0A1B2C3D"));
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", 0), 0u);
    pugi::xml_document document;
    ASSERT_TRUE(document.load_string(text.c_str())) << text;
    const pugi::xml_node root = document.document_element();
    EXPECT_EQ(std::string(root.attribute("name").value()), tricky);
    EXPECT_EQ(std::string(root.attribute("accountName").value()), "Grüße");
    const pugi::xml_node trunk = root.child("Halvane");
    EXPECT_STREQ(trunk.child_value("LocalChannels"), "false");
    EXPECT_STREQ(trunk.child_value("DemoChannels"), "true");
    EXPECT_STREQ(trunk.child("CodecOptions").attribute("codec_name").value(), "Speex 5");
    EXPECT_STREQ(trunk.child("CodecOptions").attribute("codec_packet_interval").value(), "100");
    EXPECT_STREQ(trunk.child("GPSOptions").attribute("gps_update_interval").value(), "300");
    EXPECT_STREQ(trunk.child("Halvane2Routers").child("Halvane2Router").attribute("address").value(), "192.0.2.1");

    std::vector<std::string> channels;
    for (const pugi::xml_node channel : root.child("HalvaneChannels").children("channel"))
        channels.push_back(std::string(channel.attribute("num").value()) + "|" + channel.attribute("name").value() +
                           "|" + channel.attribute("zone").value() + "|" + channel.attribute("zone_num").value());
    EXPECT_EQ(channels, (std::vector<std::string>{"5|Five|One|1", "300|Ch & 300|Zone \"two\"|2"}));

    // Contacts: the other registered unit of the account only.
    std::vector<std::string> contacts;
    for (const pugi::xml_node contact : root.child("Contacts").children("contact"))
        contacts.push_back(std::string(contact.attribute("name").value()) + "|" + contact.attribute("device_id_h").value());
    EXPECT_EQ(contacts, std::vector<std::string>{"Other|00C0FFEE"});

    // The demo talk groups: the same channel section under another root.
    pugi::xml_document demo;
    ASSERT_TRUE(demo.load_string(demoDocument(store.zones(), store.channels()).c_str()));
    EXPECT_EQ(std::distance(demo.document_element().child("HalvaneChannels").children("channel").begin(),
                            demo.document_element().child("HalvaneChannels").children("channel").end()),
              2);
    EXPECT_EQ(xmlEscaped(std::string("bell\x07")), "bell\xEF\xBF\xBD");
}

// Voice keys: made from the random source when a talk group or individual
// calls are encrypted, listed in the units' own settings (never in the demo
// talk groups), the replaced key listed as previous for the grace period and
// then dropped, every change reaching every registered unit.
TEST(ManagerStoreTest, VoiceKeysAreMadeRotatedAndExpiredAndGoOnlyIntoTheUnitsOwnSettings)
{
    Store store(":memory:");
    AddUnit(store, "0A1B2C3D", "Harbour");
    AddUnit(store, "00C0FFEE", "Fleet");
    store.saveZone({1, "One"});
    store.saveChannel({300, "Dispatch", 1});
    store.saveChannel({5, "Five", 1});
    DrainQueue(store);
    struct Keys
    {
        std::string current, previous;
    };
    auto keysIn = [&](int number) {
        pugi::xml_document document;
        EXPECT_TRUE(document.load_string(settingsDocument(*store.settingsSnapshot("0A1B2C3D")).c_str()));
        const pugi::xml_node root = document.document_element();
        pugi::xml_node element = root.child("Halvane").child("IndividualCallCrypto");
        for (const pugi::xml_node channel : root.child("HalvaneChannels").children("channel"))
            if (number != kIndividualCallsVoiceScope && channel.attribute("num").as_int() == number)
                element = channel;
        return Keys{element.attribute("crypto").value(), element.attribute("crypto_previous").value()};
    };
    const std::int64_t t0 = 1700000000;

    store.changeVoicePrivacyAt(300, VoicePrivacyChange::Encrypt, t0);
    const Keys first = keysIn(300);
    EXPECT_TRUE(parseCryptoAttribute(first.current).key) << first.current;
    EXPECT_EQ(first.previous, "");
    EXPECT_EQ(keysIn(5).current, "") << "another talk group stays clear";
    EXPECT_EQ(Queued(store), (std::set<std::string>{"0A1B2C3D", "00C0FFEE"}));
    EXPECT_EQ(demoDocument(store.zones(), store.channels()).find("crypto"), std::string::npos);
    store.changeVoicePrivacyAt(300, VoicePrivacyChange::Encrypt, t0 + 5);
    EXPECT_EQ(keysIn(300).current, first.current) << "encrypting again keeps the key";

    store.changeVoicePrivacyAt(kIndividualCallsVoiceScope, VoicePrivacyChange::Encrypt, t0);
    EXPECT_TRUE(parseCryptoAttribute(keysIn(kIndividualCallsVoiceScope).current).key);
    EXPECT_NE(keysIn(kIndividualCallsVoiceScope).current, first.current);

    store.changeVoicePrivacyAt(300, VoicePrivacyChange::RotateKey, t0 + 100);
    const Keys rotated = keysIn(300);
    EXPECT_NE(rotated.current, first.current);
    EXPECT_EQ(rotated.previous, first.current);
    const VoicePrivacyState state = store.voicePrivacy(300);
    EXPECT_TRUE(state.encrypted && state.previousHeard);
    EXPECT_EQ(state.keySince, t0 + 100);
    EXPECT_EQ(state.previousUntil, t0 + 100 + kVoiceKeyGraceSeconds);

    DrainQueue(store);
    const auto before = Versions(store);
    store.expireReplacedVoiceKeys(t0 + 99 + kVoiceKeyGraceSeconds);
    EXPECT_EQ(Versions(store), before) << "within the grace period nothing changes";
    store.expireReplacedVoiceKeys(t0 + 100 + kVoiceKeyGraceSeconds);
    EXPECT_EQ(keysIn(300).previous, "");
    EXPECT_EQ(keysIn(300).current, rotated.current);
    EXPECT_EQ(Queued(store).size(), 2u);

    store.changeVoicePrivacyAt(300, VoicePrivacyChange::Clear, t0 + 200);
    EXPECT_EQ(keysIn(300).current, "");
    EXPECT_EQ(keysIn(300).previous, rotated.current) << "senders not yet restarted are still heard";
    store.changeVoicePrivacyAt(300, VoicePrivacyChange::EndGrace, t0 + 201);
    EXPECT_EQ(keysIn(300).previous, "");
    EXPECT_THROW(store.changeVoicePrivacyAt(300, VoicePrivacyChange::RotateKey, t0 + 202), FleetError);
    EXPECT_THROW(store.changeVoicePrivacyAt(77, VoicePrivacyChange::Encrypt, t0 + 202), FleetError);

    store.changeVoicePrivacyAt(5, VoicePrivacyChange::Encrypt, t0 + 300);
    store.removeChannel(5);
    store.saveChannel({5, "Five again", 1});
    EXPECT_FALSE(store.voicePrivacy(5).encrypted) << "a talk group added again has no key of the old one";
}

} // namespace
