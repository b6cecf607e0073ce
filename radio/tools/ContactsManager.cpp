// Contact list rules: add never overwrites, update refreshes only what
// changed, import skips incomplete entries.
#include "ContactsManager.h"

#include "DeviceIdentity.h"
#include "debug_log.h"

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

ContactsManager::ContactMap ContactsManager::contacts() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return contacts_;
}

RadioContact ContactsManager::contact(device_id_t id)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return contacts_[id];
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
    std::unique_lock<std::mutex> lock(mutex_);
    auto entry = contacts_.find(contact.id());
    if (entry == contacts_.end()) {
        lock.unlock();
        debug_log_printf("DEBUG_CONTACTS", "Contact was not found...\n");
        addContact(contact);
        debug_log_printf("DEBUG_CONTACTS", "Contact added to the list!\n");
        emitChanged(contact.id());
        return true;
    }
    if (entry->second.name() == contact.name() && entry->second.location() == contact.location()) {
        lock.unlock();
        debug_log_printf("DEBUG_CONTACTS", "Contact is already up to date...\n");
        return false;
    }
    entry->second = contact;
    lock.unlock();
    debug_log_printf("DEBUG_CONTACTS", "Contact needs updating...\n");
    emitChanged(contact.id());
    return true;
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
