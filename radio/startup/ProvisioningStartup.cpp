// Start-up of provisioning: key check, cached settings, trunk identity.
#include "ProvisioningStartup.h"

#include "DeviceIdentity.h"
#include "GpgProcess.h"
#include "KeyManagementAgent.h"
#include "ManagementService.h"
#include "MyLocationManager.h"
#include "PersistentQSettings.h"
#include "ProcessFlags.h"
#include "SensorDataPublisher.h"
#include "SettingsFileRetrievalAgent.h"
#include "TrunkCalls.h"
#include "debug_log.h"

namespace ProvisioningStartup {

namespace {

// Called by the trunk library inside a receive call.
void onSettingsPushed()
{
    settingsChangedNotice(ProcessFlags::settingsPushed);
}

// The operator's service and server key from settings.ini, read before the
// key agent pins the key; a change takes effect at the next start.
void loadServiceSettings()
{
    DelayedPersistentQSettings* store = PersistentQSettings::instance();
    const auto text = [store](const char* key) {
        return store->value(QString::fromLatin1(key), QString()).toString().toStdString();
    };
    useLocalServiceSettings({text(kManagementUrlSetting), text(kServerFingerprintSetting)});
    logServiceChoice();
}

} // namespace

bool gpgMissing()
{
    return locateGpg().isEmpty();
}

// The agents live until the process ends: worker threads still use them
// while static objects are destroyed at exit.
KeyManagementAgent& keyAgent()
{
    static KeyManagementAgent* const agent = [] {
        loadServiceSettings();
        return new KeyManagementAgent;
    }();
    return *agent;
}

void checkEncryptionKeys()
{
    debug_log_printf("ENABLE_KEY_GENERATION_DEBUG", "\nChecking encryption keys...\n");
    keyAgent();
    debug_log_printf("ENABLE_KEY_GENERATION_DEBUG", "done checking encryption keys.\n");
}

SettingsFileRetrievalAgent& retrievalAgent()
{
    static SettingsFileRetrievalAgent* const agent = [] {
        auto* made = new SettingsFileRetrievalAgent(
            keyAgent(), SettingsFileRetrievalAgent::Flags{ProcessFlags::registered, ProcessFlags::settingsPushed});
        made->useLocalSettings(PersistentQSettings::instance());
        return made;
    }();
    return *agent;
}

void readCachedSettings(QByteArray& text)
{
    try {
        text = QByteArray::fromStdString(retrievalAgent().readCachedSettings());
    } catch (const std::exception& error) {
        debug_log_printf("ENABLE_SETTINGSFILE_DEBUG",
                         "Unable to read or decrypt cached settings file (1) (expected if not registered), "
                         "Exception(%s)\n",
                         error.what());
    }
}

void initialiseTrunkInterface()
{
    trunk::initInterface(getDeviceId(), 0, "eth0", onSettingsPushed);
}

SensorDataPublisher_t& locationPublisher()
{
    static SensorDataPublisher_t* const publisher = new SensorDataPublisher_t(*MyLocationManager_t::instance());
    return *publisher;
}

} // namespace ProvisioningStartup
