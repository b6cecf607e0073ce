// The contact list: filled from the settings document at start-up and
// refreshed from callers' identities at run time, ordered by device id.
// Updated from the media thread and read on the main thread, so every
// access to the map holds its lock; signals are emitted outside it.
//
// Identities learned from callers come off the network, where anyone can
// send one a millisecond: the learned contacts are bounded (the least
// recently heard go first; contacts from the settings document stay), and
// their change signals are gathered and emitted on the list's own thread at
// most a few times a second, so a flood never keeps the display busy.
#pragma once

#include "RadioContact.h"
#include "SettingsFileParser.h"
#include "device_id.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>

// Longest individual-call address text with its terminator.
constexpr std::size_t kIndividualCallAddressSize = 16;

// The individual-call group address of a device: "226.x.y.z" from bits
// 16-23, 8-15 and 0-7 of the id, written into a buffer of at least 16 bytes.
char* individualCallAddress(device_id_t id, char* buffer);
std::string individualCallAddress(device_id_t id);

class ContactsManager : public QObject
{
    Q_OBJECT
public:
    using ContactMap = std::map<device_id_t, RadioContact>;
    // Turns a contact's key id text into its device id.
    using KeyIdConverter = std::function<device_id_t(const char* keyId)>;

    // At most this many contacts learned from callers are kept.
    static constexpr std::size_t kMostLearnedContacts = 256;
    // Signals for learned changes are emitted at most once in this time.
    static constexpr int kLearnedChangeIntervalMs = 250;

    // The process-wide list, created on first use and never destroyed.
    static ContactsManager* instance();

    // Separate lists are made only by tests.
    ContactsManager();

    // A snapshot of the list, in id order.
    ContactMap contacts() const;
    // The entry for the id; an empty entry (id 0) when there is none. A
    // lookup never adds to the list.
    RadioContact contact(device_id_t id) const;

    // Adds unless the id is present (the entry is then left as it was);
    // id 0 is refused. Both signals are emitted unless refused.
    void addContact(const RadioContact& contact);
    void addContact(device_id_t id, const std::string& name);
    // A caller's identity, from any thread: adds it as a learned contact or
    // refreshes the entry; true when the list changed. The signals follow
    // on the list's thread, gathered with other changes.
    bool updateContact(const RadioContact& contact);
    // The "Contacts" section of the document.
    void importContacts(SettingsElement root, const KeyIdConverter& keyIdToDeviceId);

    // Tests shorten the gathering time.
    void setLearnedChangeInterval(int milliseconds) { learnedChangeIntervalMs_ = milliseconds; }

signals:
    void moContactListChanged();
    void moContactChanged(device_id_t id);

private:
    void emitChanged(device_id_t id);
    // Under the lock: stores the identity; true when the list changed.
    bool storeLearned(const RadioContact& contact);
    void forgetLeastRecentlyHeard();
    // On the list's thread.
    void scheduleLearnedSignals();
    void emitLearnedSignals();

    mutable std::mutex mutex_;
    ContactMap contacts_;
    // Learned contacts by when they were last heard (a running count).
    std::map<device_id_t, std::uint64_t> learned_;
    std::uint64_t heardCount_ = 0;
    std::set<device_id_t> changedLearned_;
    bool learnedSignalsQueued_ = false;
    QTimer learnedSignalTimer_;
    QElapsedTimer sinceLearnedSignals_;
    int learnedChangeIntervalMs_ = kLearnedChangeIntervalMs;
};
