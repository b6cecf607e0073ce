// Contact list rules (add, update, import), their signals, the lock under
// concurrent updates, and the individual-call addresses.
#include "ContactsManager.h"

#include "DeviceIdentity.h"
#include "LogCapture.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <atomic>

#include <thread>
#include <vector>

namespace {

using rvx::test::LogCapture;

location_t at(double latitude, double longitude, bool valid)
{
    location_t location;
    location.latitude = latitude;
    location.longitude = longitude;
    location.valid = valid;
    return location;
}

RadioContact contactWith(device_id_t id, const std::string& name, const location_t& location = location_t())
{
    RadioContact contact(id, name);
    contact.setLocation(location);
    return contact;
}

class ContactsTest : public ::testing::Test
{
protected:
    void SetUp() override { manager.setLearnedChangeInterval(0); }
    // Lets the gathered signals of learned identities go out.
    void settle() { QTest::qWait(20); }

    ContactsManager manager;
    QSignalSpy listChanged{&manager, &ContactsManager::moContactListChanged};
    QSignalSpy contactChanged{&manager, &ContactsManager::moContactChanged};
};

TEST_F(ContactsTest, AddNeverOverwritesButAlwaysSignals)
{
    manager.addContact(7, "First");
    manager.addContact(7, "Second");
    EXPECT_EQ(manager.contacts().at(7).name(), "First");
    EXPECT_EQ(listChanged.count(), 2);
    ASSERT_EQ(contactChanged.count(), 2);
    EXPECT_EQ(contactChanged.at(1).at(0).value<device_id_t>(), 7u);
}

TEST_F(ContactsTest, AddRefusesIdZero)
{
    LogCapture log("DEBUG_CONTACTS");
    manager.addContact(0, "Nobody");
    EXPECT_TRUE(manager.contacts().empty());
    EXPECT_EQ(listChanged.count(), 0);
    EXPECT_TRUE(log.Contains("Refusing to add contact with name Nobody because its ID is 0"));
}

TEST_F(ContactsTest, UpdateOfUnknownIdAddsAndSignalsOnce)
{
    EXPECT_TRUE(manager.updateContact(contactWith(0x10, "New")));
    EXPECT_EQ(manager.contacts().at(0x10).name(), "New");
    settle();
    EXPECT_EQ(listChanged.count(), 1);
    ASSERT_EQ(contactChanged.count(), 1);
    EXPECT_EQ(contactChanged.at(0).at(0).value<device_id_t>(), 0x10u);
}

TEST_F(ContactsTest, UpdateWithSameNameAndLocationChangesNothing)
{
    manager.updateContact(contactWith(5, "A", at(1.5, 2.5, true)));
    settle();
    listChanged.clear();
    contactChanged.clear();
    EXPECT_FALSE(manager.updateContact(contactWith(5, "A", at(1.5, 2.5, true))));
    settle();
    EXPECT_EQ(listChanged.count(), 0);
    EXPECT_EQ(contactChanged.count(), 0);
    EXPECT_FALSE(manager.updateContact(contactWith(0, "A")));
}

TEST_F(ContactsTest, UpdateRefreshesNameOrLocation)
{
    manager.addContact(5, "A");
    struct Change
    {
        RadioContact contact;
        bool changes;
    };
    const std::vector<Change> changes = {
        {contactWith(5, "A", at(0, 0, true)), true},  // valid flag differs
        {contactWith(5, "A", at(0, 0, true)), false},
        {contactWith(5, "B", at(0, 0, true)), true},  // name differs
        {contactWith(5, "B", at(0, 1e-9, true)), true}, // exact comparison
    };
    for (const Change& change : changes) {
        listChanged.clear();
        EXPECT_EQ(manager.updateContact(change.contact), change.changes) << change.contact.name();
        settle();
        EXPECT_EQ(listChanged.count(), change.changes ? 1 : 0);
    }
    EXPECT_EQ(manager.contacts().at(5).name(), "B");
    EXPECT_EQ(manager.contacts().at(5).location().longitude, 1e-9);
}

TEST_F(ContactsTest, LookupOfUnknownIdGivesAnEmptyEntryAndLeavesTheListAlone)
{
    const RadioContact empty = manager.contact(42);
    EXPECT_EQ(empty.id(), 0u);
    EXPECT_EQ(empty.name(), "");
    EXPECT_TRUE(manager.contacts().empty());
}

// Anyone on the network can send a new identity a millisecond. The display
// rebuilds its whole list on every list change; the list stays bounded, the
// document's contacts stay, and the display's thread stays on time.
TEST_F(ContactsTest, AFloodOfNewIdentitiesKeepsTheListBoundedAndTheEventLoopOnTime)
{
    manager.setLearnedChangeInterval(ContactsManager::kLearnedChangeIntervalMs);
    manager.addContact(1, "Base");
    QObject display;
    std::size_t largestShown = 0;
    QObject::connect(&manager, &ContactsManager::moContactListChanged, &display,
                     [&] { largestShown = std::max(largestShown, manager.contacts().size()); });

    std::atomic<bool> flooding{true};
    std::thread network([&] {
        for (device_id_t id = 1000; id < 21000; ++id)
            manager.updateContact(contactWith(id, "caller " + std::to_string(id)));
        flooding = false;
    });
    QElapsedTimer clock;
    clock.start();
    qint64 latestTick = 0, longestGap = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, clock.elapsed() - latestTick);
        latestTick = clock.elapsed();
    });
    ticker.start(10);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !flooding; }, 60000));
    network.join();
    QTest::qWait(2 * ContactsManager::kLearnedChangeIntervalMs);

    EXPECT_LT(longestGap, 150) << "ms between two ticks of a 10 ms timer";
    EXPECT_LE(listChanged.count(), clock.elapsed() / ContactsManager::kLearnedChangeIntervalMs + 2);
    const ContactsManager::ContactMap contacts = manager.contacts();
    EXPECT_EQ(contacts.size(), ContactsManager::kMostLearnedContacts + 1);
    EXPECT_LE(largestShown, ContactsManager::kMostLearnedContacts + 1);
    EXPECT_EQ(contacts.at(1).name(), "Base");
    EXPECT_EQ(contacts.count(20999), 1u) << "the latest caller is kept";
    EXPECT_EQ(contacts.count(1000), 0u) << "the least recently heard went first";
}

TEST_F(ContactsTest, ImportReadsKeyIdsAndSkipsIncompleteEntries)
{
    LogCapture log;
    const auto document = SettingsFileParser::parseSeparateDocument(
        "<S><Contacts>"
        "<contact name=\"Base\" device_id=\"1\" device_id_h=\"FFEE0A1B2C3D\"/>"
        "<contact name=\"\" device_id_h=\"00000001\"/>"
        "<contact name=\"NoId\"/>"
        "<contact name=\"Base again\" device_id_h=\"0A1B2C3D\"/>"
        "<contact name=\"Car\" device_id_h=\"00000002\"/>"
        "<contact name=\"Boat\" device_id_h=\"7D49154E40B7B66AE64C7F26DA258290836B5AB2\"/>"
        "</Contacts></S>");
    manager.importContacts(document->getDom(), keyIdToDeviceId);
    const ContactsManager::ContactMap contacts = manager.contacts();
    ASSERT_EQ(contacts.size(), 3u);
    EXPECT_EQ(contacts.begin()->first, 2u);
    EXPECT_EQ(contacts.at(0x0A1B2C3D).name(), "Base");
    EXPECT_EQ(contacts.at(0x836B5AB2).name(), "Boat") << "a fingerprint names its key by its last 8 digits";
    EXPECT_EQ(log.Count("Warning:  Unable to add contact.  Name or ID missing"), 2u);
    EXPECT_EQ(listChanged.count(), 4);
}

TEST_F(ContactsTest, ImportSkippedByFlag)
{
    LogCapture log("SKIP_SETTINGS_CONTACTS");
    const auto document =
        SettingsFileParser::parseSeparateDocument("<S><Contacts><contact name=\"A\" device_id_h=\"00000002\"/></Contacts></S>");
    manager.importContacts(document->getDom(), keyIdToDeviceId);
    EXPECT_TRUE(manager.contacts().empty());
}

TEST_F(ContactsTest, ConcurrentUpdatesAndReadsKeepEveryContact)
{
    const int perThread = 200;
    std::thread writer([&] {
        for (int n = 1; n <= perThread; ++n)
            manager.updateContact(contactWith(static_cast<device_id_t>(n), "w" + std::to_string(n)));
    });
    std::size_t lastSeen = 0;
    while (lastSeen < static_cast<std::size_t>(perThread)) {
        const std::size_t now = manager.contacts().size();
        EXPECT_GE(now, lastSeen);
        lastSeen = now;
        std::this_thread::yield();
    }
    writer.join();
    EXPECT_EQ(manager.contacts().size(), static_cast<std::size_t>(perThread));
}

TEST(IndividualCallAddress, UsesTheLowThreeBytes)
{
    EXPECT_EQ(individualCallAddress(0x0A1B2C3D), "226.27.44.61");
    EXPECT_EQ(individualCallAddress(0xFF000001), "226.0.0.1");
    EXPECT_EQ(individualCallAddress(0x00000001), "226.0.0.1");
    char buffer[kIndividualCallAddressSize];
    EXPECT_STREQ(individualCallAddress(0xFFFFFFFF, buffer), "226.255.255.255");
}

TEST(RadioContactId, DecimalTextReadsLikeAtoi)
{
    RadioContact contact;
    contact.setId("1234");
    EXPECT_EQ(contact.id(), 1234u);
    contact.setId("xyz");
    EXPECT_EQ(contact.id(), 0u);
    contact.setId(nullptr);
    EXPECT_EQ(contact.id(), 0u);
}

} // namespace
