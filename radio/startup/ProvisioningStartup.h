// The start-up steps that bring up the unit's keys, its cached settings, the
// trunk interface with its identity, and the provisioning worker objects.
#pragma once

#include <QByteArray>

class KeyManagementAgent;
class SettingsFileRetrievalAgent;
class SensorDataPublisher_t;

namespace ProvisioningStartup {

// Whether gpg can be found at all (checked before anything uses it).
bool gpgMissing();

// The unit's key agent; made, with its key check, on the first call.
KeyManagementAgent& keyAgent();
// Checks and if needed creates the unit's key pair, with its messages.
void checkEncryptionKeys();

// The settings retrieval agent, made on the first call.
SettingsFileRetrievalAgent& retrievalAgent();
// Reads and decrypts the settings cache into text (which stays as it was
// when that fails); sets the registered flag.
void readCachedSettings(QByteArray& text);

// Opens the trunk interface with the unit's device id and the callback
// that raises the settings-pushed flag.
void initialiseTrunkInterface();

// The location publisher, made on the first call.
SensorDataPublisher_t& locationPublisher();

} // namespace ProvisioningStartup
