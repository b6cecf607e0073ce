// Contact list rules: add never overwrites, update refreshes only what
// changed, import skips incomplete entries.
#include "ContactsManager.h"

#include "DeviceIdentity.h"
#include "debug_log.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

void RadioContact::setId(const char* decimalText)
{
    id_ = decimalText ? static_cast<device_id_t>(std::atoi(decimalText)) : 0;
}

char* individualCallAddress(device_id_t id, char* buffer)
{
    std::snprintf(buffer, kIndividualCallAddressSize, "226.%u.%u.%u", (id >> 16) & 0xFFu, (id >> 8) & 0xFFu,
                  id & 0xFFu);
    return buffer;
}

std::string individualCallAddress(device_id_t id)
{
    char buffer[kIndividualCallAddressSize];
    return individualCallAddress(id, buffer);
}

ContactsManager* ContactsManager::instance()
{
    static ContactsManager* const manager = new ContactsManager;
    return manager;
}

ContactsManager::ContactsManager()
{
    learnedSignalTimer_.setSingleShot(true);
    connect(&learnedSignalTimer_, &QTimer::timeout, this, &ContactsManager::emitLearnedSignals);
}

ContactsManager::ContactMap ContactsManager::contacts() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return contacts_;
}

RadioContact ContactsManager::contact(device_id_t id) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto entry = contacts_.find(id);
    return entry == contacts_.end() ? RadioContact() : entry->second;
}

void ContactsManager::addContact(const RadioContact& contact)
{
    if (contact.id() == 0) {
        debug_log_printf("DEBUG_CONTACTS", "Refusing to add contact with name %s because its ID is %u\n",
                         contact.name().c_str(), contact.id());
        return;
    }
    char hex[9];
    debug_log_printf("DEBUG_CONTACTS", "Adding contact with id: %s and name: %s\n", deviceIdToHex(contact.id(), hex),
                     contact.name().c_str());
    {
        std::lock_guard<std::mutex> lock(mutex_);
        contacts_.emplace(contact.id(), contact);
    }
    emitChanged(contact.id());
}

void ContactsManager::addContact(device_id_t id, const std::string& name)
{
    addContact(RadioContact(id, name));
}

bool ContactsManager::updateContact(const RadioContact& contact)
{
    if (contact.id() == 0)
        return false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!storeLearned(contact))
            return false;
        changedLearned_.insert(contact.id());
        if (learnedSignalsQueued_)
            return true;
        learnedSignalsQueued_ = true;
    }
    QMetaObject::invokeMethod(this, &ContactsManager::scheduleLearnedSignals, Qt::QueuedConnection);
    return true;
}

bool ContactsManager::storeLearned(const RadioContact& contact)
{
    const auto learned = learned_.find(contact.id());
    if (learned != learned_.end())
        learned->second = ++heardCount_;
    auto entry = contacts_.find(contact.id());
    if (entry == contacts_.end()) {
        debug_log_printf("DEBUG_CONTACTS", "Contact was not found...\n");
        contacts_.emplace(contact.id(), contact);
        learned_[contact.id()] = ++heardCount_;
        forgetLeastRecentlyHeard();
        debug_log_printf("DEBUG_CONTACTS", "Contact added to the list!\n");
        return true;
    }
    if (entry->second.name() == contact.name() && entry->second.location() == contact.location()) {
        debug_log_printf("DEBUG_CONTACTS", "Contact is already up to date...\n");
        return false;
    }
    debug_log_printf("DEBUG_CONTACTS", "Contact needs updating...\n");
    entry->second = contact;
    return true;
}

void ContactsManager::forgetLeastRecentlyHeard()
{
    if (learned_.size() <= kMostLearnedContacts)
        return;
    auto oldest = learned_.begin();
    for (auto entry = learned_.begin(); entry != learned_.end(); ++entry)
        if (entry->second < oldest->second)
            oldest = entry;
    contacts_.erase(oldest->first);
    changedLearned_.erase(oldest->first);
    learned_.erase(oldest);
}

void ContactsManager::scheduleLearnedSignals()
{
    const qint64 since = sinceLearnedSignals_.isValid() ? sinceLearnedSignals_.elapsed() : learnedChangeIntervalMs_;
    learnedSignalTimer_.start(static_cast<int>(std::max<qint64>(0, learnedChangeIntervalMs_ - since)));
}

void ContactsManager::emitLearnedSignals()
{
    std::set<device_id_t> changed;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        changed.swap(changedLearned_);
        learnedSignalsQueued_ = false;
    }
    sinceLearnedSignals_.start();
    for (device_id_t id : changed)
        emit moContactChanged(id);
    emit moContactListChanged();
}

void ContactsManager::importContacts(SettingsElement root, const KeyIdConverter& keyIdToDeviceId)
{
    if (debug_log_is_enabled("SKIP_SETTINGS_CONTACTS"))
        return;
    const SettingsElement section = firstChild(root, "Contacts");
    for (SettingsElement entry = firstChild(section, "contact"); entry; entry = nextSibling(entry)) {
        const std::string name = getAttribute(entry, "name");
        const std::string keyId = getAttribute(entry, "device_id_h");
        if (name.empty() || keyId.empty()) {
            debug_log_printf_always("Warning:  Unable to add contact.  Name or ID missing\n");
            continue;
        }
        addContact(keyIdToDeviceId(keyId.c_str()), name);
    }
}

void ContactsManager::emitChanged(device_id_t id)
{
    emit moContactListChanged();
    emit moContactChanged(id);
}
