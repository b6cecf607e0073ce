// The settings check cycle, the cache and the background re-check loop.
#include "SettingsFileRetrievalAgent.h"

#include "AppDataFolder.h"
#include "BoundedFileReader.h"
#include "GpgDecryptionVerdict.h"
#include "GpgProcess.h"
#include "KeyManagementAgent.h"
#include "MacAddress.h"
#include "ManagementService.h"
#include "debug_log.h"
#include "wGet.h"

#include <QFile>
#include <QSaveFile>
#include <QThread>

#include <cstring>

namespace {

const char* const kFlag = "ENABLE_SETTINGSFILE_DEBUG";
const char* const kPublicKeyNeededWord = "PUBLIC_KEY_NEEDED";
const char* const kNotYetRegisteredWord = "UNIT_NOT_YET_REGISTERED";
const char* const kPgpMessageStart = "-----BEGIN PGP MESSAGE-----";
constexpr int kGpgTimeoutMs = 30000;

std::atomic<int> lastRetrievalStatus{SettingsFileRetrievalAgent::kNoCheckYet};

bool contains(const std::string& text, const char* word)
{
    return text.find(word) != std::string::npos;
}

// "==== " + text padded to 44 characters + "====": 53 characters in all.
std::string framedLine(const std::string& text)
{
    std::string line = "==== " + text;
    line.resize(49, ' ');
    return line + "====";
}

void logBetweenRules(const char* flag, const std::string& text)
{
    const std::string rule(28, '-');
    debug_log_printf(flag, "%s\n%s\n%s\n", rule.c_str(), text.c_str(), rule.c_str());
}

} // namespace

SettingsFileRetrievalAgent::SettingsFileRetrievalAgent(KeyManagementAgent& keys, Flags flags, QObject* parent)
    : QObject(parent), keys_(keys), flags_(flags),
      cachePath_(keys.places().appDataFolder + QStringLiteral("settings_cache.gpg"))
{
}

int SettingsFileRetrievalAgent::retrievalStatus()
{
    return lastRetrievalStatus;
}

bool SettingsFileRetrievalAgent::isRetrievalOk()
{
    const int status = lastRetrievalStatus;
    return status == kNewSettingsStored || status == kSettingsUnchanged;
}

std::string SettingsFileRetrievalAgent::requestSettings()
{
    std::string url = managementServiceUrl("/api/devconf/get");
    if (usingStagingServer())
        debug_log_printf_always("Using WebManagement staging server:  %s\n", url.c_str());
    if (debug_log_is_enabled("DISABLE_ACCESSING_WEB_MANAGEMENT")) {
        url = "dummy_url";
        debug_log_printf_always("Accessing web management is disabled through debug_log.conf\n");
    }
    const std::string body = "api_user=" + getMacAddress() + "&uid=" + keys_.myPublicKeyFingerprint() +
                             "&kid=" + keys_.myPublicKeyId() + "&type=WRVX";
    const std::string reply = wGet(url.c_str(), body.c_str());
    debug_log_printf(kFlag, "Post Data: %s\n", body.c_str());
    debug_log_printf(kFlag, "wget response is: %s\n", reply.c_str());
    return reply;
}

SettingsFileRetrievalAgent::Status SettingsFileRetrievalAgent::updateSettings(const std::string& firstReply,
                                                                              std::string* decidedReply)
{
    std::string reply = firstReply;
    debug_log_printf(kFlag, "( %s)Server Settings String(%s)\n", "updateSettings", reply.c_str());
    if (contains(reply, kPublicKeyNeededWord) && !postKeysAndAskAgain(reply))
        return kKeyStillNeeded;
    if (decidedReply)
        *decidedReply = reply;
    if (contains(reply, kNotYetRegisteredWord)) {
        announceNotRegistered();
        return kNotYetRegistered;
    }
    if (validateSettings(reply))
        return kValidSettings;
    debug_log_printf(kFlag, "(Validation failed...)\n");
    return kInvalidReply;
}

// The service lost or never had the key (a cached unit was unregistered):
// posts it and asks again; false when the service still wants it.
bool SettingsFileRetrievalAgent::postKeysAndAskAgain(std::string& reply)
{
    if (QFile::exists(cachePath_)) {
        onDeviceUnregistered();
        debug_log_printf(kFlag,
                         "Registration for this unit was deleted.  Removing cache file and requesting restart.\n");
    }
    debug_log_printf(kFlag, "Calling postKeys()\n");
    keys_.postKeys();
    reply = requestSettings();
    if (contains(reply, kPublicKeyNeededWord)) {
        debug_log_printf(kFlag, "After calling postKeys(), server still reports that it needs our keys.\n");
        return false;
    }
    reply = requestSettings();
    return true;
}

void SettingsFileRetrievalAgent::announceNotRegistered()
{
    const std::string code = keys_.myPublicKeyId();
    emit coRegistrationCode(QString::fromLatin1(code.c_str()));
    const std::string rule(53, '=');
    debug_log_printf_always("\n\n%s\n%s\n%s\n%s\n%s\n%s\n\n", rule.c_str(),
                            framedLine("This unit is not yet registered!").c_str(),
                            framedLine("Please register it on the service web site").c_str(),
                            framedLine("Registration code: " + code).c_str(),
                            framedLine("Then cycle power to complete registration.").c_str(), rule.c_str());
}

bool SettingsFileRetrievalAgent::validateSettings(const std::string& text)
{
    debug_log_printf(kFlag, "Validating settings: %s\n", text.c_str());
    if (text.empty()) {
        debug_log_printf(kFlag, "Settings file not valid:  it is empty\n");
        return false;
    }
    if (contains(text, kPgpMessageStart)) {
        debug_log_printf(kFlag, "Settings string is valid:  PGP message\n");
        return true;
    }
    debug_log_printf(kFlag, "Settings string is invalid (doesn't match any accepted pattern).  It contains:  %s\n",
                     text.c_str());
    return false;
}

std::string SettingsFileRetrievalAgent::decryptSettings(const std::string& text)
{
    if (!keys_.gpgExists())
        return std::string();
    debug_log_printf("ENABLE_DECRYPTION_DEBUG",
                     "Attempting to decrypt this:\n========================\n%s\n========================\n",
                     text.c_str());
    const GpgRun run = runGpgProcess(keys_.places().gpgPath, {"--status-fd=2", "-d", "--ignore-time-conflict"},
                                     QByteArray::fromStdString(text), kGpgTimeoutMs);
    const GpgDecryptionVerdict verdict =
        judgeGpgDecryption(run.errorOutput.toStdString(), run.exitCode, keys_.places().serverFingerprint);
    const std::string output(run.standardOutput.constData(),
                             ::strnlen(run.standardOutput.constData(), static_cast<size_t>(run.standardOutput.size())));
    debug_log_printf("ENABLE_DECRYPTION_DEBUG", "Error:%s\nExit Code:%d\nExit Status:%d\n%s\nDecrypted Server Settings:%s\n",
                     run.errorOutput.constData(), run.exitCode, run.crashedOrKilled ? 1 : 0,
                     std::string(51, '=').c_str(), output.c_str());
    if (!verdict.accepted) {
        debug_log_printf_always("Settings message refused: %s\n", verdict.reason.c_str());
        return std::string();
    }
    if (!verdict.signedByServer)
        debug_log_printf_always("Warning: the settings message is not signed; accepted because it decrypted cleanly\n");
    return output;
}

std::string SettingsFileRetrievalAgent::readCachedSettings()
{
    try {
        const QByteArray cached = readBoundedFile(cachePath_, kLargestCachedReply);
        debug_log_printf(kFlag, "%s\n", cached.constData());
        const std::string decrypted = decryptSettings(cached.toStdString());
        flags_.registered = true;
        return decrypted;
    } catch (const std::exception& error) {
        debug_log_printf(kFlag,
                         "Unable to read or decrypt cached settings file (3) (expected if not registered), "
                         "Exception(%s)\n",
                         error.what());
        return std::string();
    }
}

// Written through a temporary file and renamed, so that a crash or a full
// disk never leaves half a cache behind.
void SettingsFileRetrievalAgent::writeSettingsFile(const std::string& text, const QString& path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.data(), static_cast<qint64>(text.size())) < 0 ||
        !file.commit())
        debug_log_printf_always("Unable to write settings to file, Error:%s\n",
                                file.errorString().toLatin1().constData());
}

void SettingsFileRetrievalAgent::onDeviceUnregistered()
{
    debug_log_printf(kFlag, "Device unregistered.  Removing cached settings file...\n");
    QFile::remove(cachePath_);
    emit coUpdatedSettingsNotification(QStringLiteral("Device has been unregistered.  Restarting..."));
    QThread::msleep(static_cast<unsigned long>(timings_.restartDelayMs));
    emit coForceUpdatedSettingsRestart();
}

// Only a reply that fits the cache reader's limit and decrypts cleanly can
// replace the cache: anything else would lose the unit's settings at the
// next start.
SettingsFileRetrievalAgent::Status SettingsFileRetrievalAgent::storeIfNew(const std::string& reply)
{
    debug_log_printf(kFlag, "(Settings were validated....)\n");
    if (static_cast<qint64>(reply.size()) > kLargestCachedReply) {
        debug_log_printf_always("Settings message refused: %zu bytes exceed the cache limit of %lld\n", reply.size(),
                                static_cast<long long>(kLargestCachedReply));
        return kInvalidReply;
    }
    const std::string fresh = decryptSettings(reply);
    logBetweenRules("ENABLE_SETTINGSFILE_DEBUG_VV", fresh);
    if (fresh.empty())
        return kInvalidReply;
    const std::string cached = readCachedSettings();
    logBetweenRules("ENABLE_SETTINGSFILE_DEBUG_V", cached);
    if (fresh == cached) {
        debug_log_printf(kFlag, "(Cache is already up to date...)\n");
        return kSettingsUnchanged;
    }
    debug_log_printf(kFlag, "(Updating the cache...)\n");
    writeSettingsFile(reply, cachePath_);
    return kNewSettingsStored;
}

SettingsFileRetrievalAgent::Status SettingsFileRetrievalAgent::updateSettingsIfPossible()
{
    const std::string reply = requestSettings();
    debug_log_printf(kFlag, "Encrypted Settings From Server:(%s)\n", reply.c_str());
    std::string decidedReply;
    Status status = updateSettings(reply, &decidedReply);
    if (status == kValidSettings)
        status = storeIfNew(decidedReply);
    debug_log_printf(kFlag, "%s status: %d\n", "updateSettingsIfPossible", static_cast<int>(status));
    lastRetrievalStatus = status;
    emit settingsFileRetrievalStatusUpdated();
    return status;
}

void SettingsFileRetrievalAgent::reactToCheck(Status status)
{
    if (status == kNewSettingsStored) {
        debug_log_printf(kFlag, "Restarting to apply updated settings...\n");
        emit coUpdatedSettingsNotification(QStringLiteral("Updated settings detected.  Restarting..."));
        QThread::msleep(static_cast<unsigned long>(timings_.restartDelayMs));
        emit coForceUpdatedSettingsRestart();
    } else if (status == kNotYetRegistered && QFile::exists(cachePath_)) {
        debug_log_printf(kFlag,
                         "Registration for this unit was deleted (server returned code %d.  Removing cache file and "
                         "requesting restart.\n",
                         1);
        onDeviceUnregistered();
    } else if (status == kSettingsUnchanged) {
        debug_log_printf(kFlag, "Cache file was already up to date\n");
    }
}

void SettingsFileRetrievalAgent::waitForNextCheck()
{
    debug_log_printf(kFlag,
                     "Waiting to check again for updated settings until restart, get push notification, or 24 hours "
                     "pass\n");
    for (int step = 0; step < timings_.stepsPerCheck && !stopRequested_; ++step) {
        if (flags_.settingsPushed.exchange(false)) {
            debug_log_printf(kFlag, "Push notification flag is set - checking for updated settings...\n");
            return;
        }
        QThread::msleep(static_cast<unsigned long>(timings_.pushCheckMs));
    }
    debug_log_printf(kFlag, "Checking for updated settings...\n");
}

void SettingsFileRetrievalAgent::worker_thread()
{
    while (!stopRequested_) {
        debug_log_printf(kFlag, "Checking WebManagment for updated settings...\n");
        try {
            reactToCheck(updateSettingsIfPossible());
        } catch (const std::exception& error) {
            debug_log_printf(kFlag, "Retrieving settings in the background failed (%s).\n", error.what());
        }
        waitForNextCheck();
    }
}

void settingsChangedNotice(std::atomic<bool>& settingsPushed)
{
    debug_log_printf_always("Updated settings detected, please restart for the changes to take effect...\n");
    settingsPushed = true;
}
