// The settings check cycle, the cache and the background re-check loop.
//
// Who may unregister a unit: a status word arrives as plain text, which
// anyone between the unit and the service can forge. So a plain
// "UNIT_NOT_YET_REGISTERED" never removes the settings of a registered unit
// (a cache that decrypts to settings); it only shows the registration code
// while the unit has no usable settings. The service unregisters a
// registered unit with a normal settings message (encrypted to the unit,
// signed by the server key) whose text is that status word; only that
// removes the cache and restarts the radio. "PUBLIC_KEY_NEEDED" never
// removes anything: the key is posted and the service asked again.
#include "SettingsFileRetrievalAgent.h"

#include "AppDataFolder.h"
#include "BoundedFileReader.h"
#include "DelayedPersistentQSettings.h"
#include "GpgDecryptionVerdict.h"
#include "GpgProcess.h"
#include "KeyManagementAgent.h"
#include "MacAddress.h"
#include "ManagementService.h"
#include "VerifiedFileWrite.h"
#include "debug_log.h"
#include "wGet.h"

#include <QFile>
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

// A status word counts only as the whole reply, blanks and line ends around
// it aside: a page or a document that merely mentions one is not it.
bool isStatusWord(const std::string& reply, const char* word)
{
    const char* const blanks = " \t\r\n";
    const std::size_t first = reply.find_first_not_of(blanks);
    if (first == std::string::npos)
        return false;
    const std::size_t last = reply.find_last_not_of(blanks);
    return reply.compare(first, last - first + 1, word) == 0;
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

const char* const SettingsFileRetrievalAgent::kAllowUnsignedSettingsKey = "allow_unsigned_settings";

SettingsFileRetrievalAgent::SettingsFileRetrievalAgent(KeyManagementAgent& keys, Flags flags, QObject* parent)
    : QObject(parent), keys_(keys), flags_(flags),
      cachePath_(keys.places().appDataFolder + QStringLiteral("settings_cache.gpg")),
      serverKey_(keys.places().gpgPath, keys.places().serverFingerprint)
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
    if (isStatusWord(reply, kPublicKeyNeededWord) && !postKeysAndAskAgain(reply))
        return kKeyStillNeeded;
    if (decidedReply)
        *decidedReply = reply;
    if (isStatusWord(reply, kNotYetRegisteredWord))
        return plainNotRegisteredReply();
    if (validateSettings(reply))
        return kValidSettings;
    debug_log_printf(kFlag, "(Validation failed...)\n");
    return kInvalidReply;
}

// The service lost or never had the key: posts it and asks again; false
// when the service still wants it. The cached settings stay: whether the
// unit is still registered is for the next (signed) reply to say.
bool SettingsFileRetrievalAgent::postKeysAndAskAgain(std::string& reply)
{
    debug_log_printf(kFlag, "Calling postKeys()\n");
    keys_.postKeys();
    reply = requestSettings();
    if (isStatusWord(reply, kPublicKeyNeededWord)) {
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

// A plain status word shows the registration code only while the unit has
// no usable settings; a registered unit keeps them and ignores it.
SettingsFileRetrievalAgent::Status SettingsFileRetrievalAgent::plainNotRegisteredReply()
{
    if (holdsValidSettings()) {
        debug_log_printf_always("Ignoring an unsigned %s reply: this unit's settings are kept (only a reply signed by "
                                "the server unregisters a registered unit)\n",
                                kNotYetRegisteredWord);
        return kInvalidReply;
    }
    announceNotRegistered();
    return kNotYetRegistered;
}

// The service's unregistration of a registered unit: the status word as
// the text of a message signed by the server key.
SettingsFileRetrievalAgent::Status SettingsFileRetrievalAgent::signedNotRegisteredReply(const DecryptedMessage& message)
{
    if (!message.signedByServer) {
        debug_log_printf_always("Ignoring an encrypted %s reply that is not signed by the server key\n",
                                kNotYetRegisteredWord);
        return kInvalidReply;
    }
    debug_log_printf(kFlag, "The service unregistered this unit (signed reply)\n");
    announceNotRegistered();
    return kNotYetRegistered;
}

bool SettingsFileRetrievalAgent::holdsValidSettings()
{
    return QFile::exists(cachePath_) && !readCachedSettings().empty();
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

// gpg stops by itself shortly after the bound ("--max-output", a little
// above it so that the reader sees the excess); the reader's limit stops it
// in any case.
SettingsFileRetrievalAgent::DecryptedMessage SettingsFileRetrievalAgent::decryptMessage(const std::string& text)
{
    if (!keys_.gpgExists())
        return DecryptedMessage();
    debug_log_printf("ENABLE_DECRYPTION_DEBUG",
                     "Attempting to decrypt this:\n========================\n%s\n========================\n",
                     text.c_str());
    const QStringList arguments{"--status-fd=2", "--max-output", QString::number(kLargestSettingsText + 65536), "-d",
                                "--ignore-time-conflict"};
    const GpgRun run = runGpgProcess(keys_.places().gpgPath, arguments, QByteArray::fromStdString(text),
                                     kGpgTimeoutMs, kLargestSettingsText);
    const std::string output(run.standardOutput.constData(),
                             ::strnlen(run.standardOutput.constData(), static_cast<size_t>(run.standardOutput.size())));
    debug_log_printf("ENABLE_DECRYPTION_DEBUG", "Error:%s\nExit Code:%d\nExit Status:%d\n%s\nDecrypted Server Settings:%s\n",
                     run.errorOutput.constData(), run.exitCode, run.crashedOrKilled ? 1 : 0,
                     std::string(51, '=').c_str(), run.outputLimitExceeded ? "(too large)" : output.c_str());
    if (run.outputLimitExceeded) {
        debug_log_printf_always("Settings message refused: the decrypted text exceeds %lld bytes\n",
                                static_cast<long long>(kLargestSettingsText));
        return DecryptedMessage();
    }
    const GpgDecryptionVerdict verdict =
        judgeGpgDecryption(run.errorOutput.toStdString(), run.exitCode, keys_.places().serverFingerprint);
    if (!verdict.accepted) {
        debug_log_printf_always("Settings message refused: %s\n", verdict.reason.c_str());
        return DecryptedMessage();
    }
    return DecryptedMessage{output, verdict.signedByServer};
}

// Settings must be signed by the server key: anyone can encrypt to the
// device key. Services that cannot sign are let in only by the local
// setting, with a warning every time.
std::string SettingsFileRetrievalAgent::acceptedSettings(const DecryptedMessage& message)
{
    if (message.text.empty() || message.signedByServer)
        return message.text;
    if (unsignedSettingsAllowed()) {
        debug_log_printf_always("Warning: the settings message is not signed; accepted because %s is set\n",
                                kAllowUnsignedSettingsKey);
        return message.text;
    }
    debug_log_printf_always("Settings message refused: it is not signed by the server key (%s is off)\n",
                            kAllowUnsignedSettingsKey);
    return std::string();
}

bool SettingsFileRetrievalAgent::unsignedSettingsAllowed() const
{
    return localSettings_ && localSettings_->value(QString::fromLatin1(kAllowUnsignedSettingsKey), false).toBool();
}

std::string SettingsFileRetrievalAgent::decryptSettings(const std::string& text)
{
    return acceptedSettings(decryptMessage(text));
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

// Written through a temporary file that is read back before it replaces
// the cache, so that a crash or a full disk never leaves half a cache (or
// an empty one) behind.
bool SettingsFileRetrievalAgent::writeSettingsFile(const std::string& text, const QString& path)
{
    QString error;
    if (replaceFileVerified(path, QByteArray::fromStdString(text), &error))
        return true;
    debug_log_printf_always("Unable to write settings to file, Error:%s\n", error.toLocal8Bit().constData());
    return false;
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
    debug_log_printf_always("(Settings were validated....)\n");
    if (static_cast<qint64>(reply.size()) > kLargestCachedReply) {
        debug_log_printf_always("Settings message refused: %zu bytes exceed the cache limit of %lld\n", reply.size(),
                                static_cast<long long>(kLargestCachedReply));
        return kInvalidReply;
    }
    const DecryptedMessage message = decryptMessage(reply);
    if (isStatusWord(message.text, kNotYetRegisteredWord))
        return signedNotRegisteredReply(message);
    const std::string fresh = acceptedSettings(message);
    logBetweenRules("ENABLE_SETTINGSFILE_DEBUG_VV", fresh);
    if (fresh.empty())
        return kInvalidReply;
    const std::string cached = readCachedSettings();
    logBetweenRules("ENABLE_SETTINGSFILE_DEBUG_V", cached);
    if (fresh == cached) {
        debug_log_printf_always("(Cache is already up to date...)\n");
        return kSettingsUnchanged;
    }
    debug_log_printf_always("(Updating the cache...)\n");
    // A cache that could not be written is not new settings: no restart.
    if (!writeSettingsFile(reply, cachePath_))
        return kInvalidReply;
    return kNewSettingsStored;
}

SettingsFileRetrievalAgent::Status SettingsFileRetrievalAgent::updateSettingsIfPossible()
{
    const std::string reply = requestSettings();
    debug_log_printf(kFlag, "Encrypted Settings From Server:(%s)\n", reply.c_str());
    std::string decidedReply;
    Status status = updateSettings(reply, &decidedReply);
    if (status == kValidSettings) {
        // An operator's service signs with a key the radio may not have yet.
        serverKey_.ensurePinnedKey();
        status = storeIfNew(decidedReply);
    }
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
