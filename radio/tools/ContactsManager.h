// The contact list: filled from the settings document at start-up and
// refreshed from callers' identities at run time, ordered by device id.
// Updated from the media thread and read on the main thread, so every
// access to the map holds its lock; signals are emitted outside it.
#pragma once

#include "RadioContact.h"
#include "SettingsFileParser.h"
#include "device_id.h"

#include <QObject>

#include <functional>
#include <map>
#include <mutex>
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

    // The process-wide list, created on first use and never destroyed.
    static ContactsManager* instance();

    // Separate lists are made only by tests.
    ContactsManager() = default;

    // A snapshot of the list, in id order.
    ContactMap contacts() const;
    // The entry for the id; an empty entry is added under it when missing.
    RadioContact contact(device_id_t id);

    // Adds unless the id is present (the entry is then left as it was);
    // id 0 is refused. Both signals are emitted unless refused.
    void addContact(const RadioContact& contact);
    void addContact(device_id_t id, const std::string& name);
    // Adds or refreshes; true when the list changed.
    bool updateContact(const RadioContact& contact);
    // The "Contacts" section of the document.
    void importContacts(SettingsElement root, const KeyIdConverter& keyIdToDeviceId);

signals:
    void moContactListChanged();
    void moContactChanged(device_id_t id);

private:
    void emitChanged(device_id_t id);

    mutable std::mutex mutex_;
    ContactMap contacts_;
};
