// Keeps the radio's settings in step with the management service: enrols
// the unit, fetches and checks its encrypted settings, caches them, and asks
// for a restart when they change or the unit is unregistered.
#pragma once

#include "ServerKeyFetch.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <string>

class DelayedPersistentQSettings;
class KeyManagementAgent;

class SettingsFileRetrievalAgent : public QObject
{
    Q_OBJECT
public:
    // Result of a check cycle.
    enum Status : int {
        kNoCheckYet = 0,
        kNotYetRegistered = 1,
        kKeyStillNeeded = 2,
        kValidSettings = 3,
        kInvalidReply = 4,
        kNewSettingsStored = 5,
        kSettingsUnchanged = 6,
    };

    // The process-wide values the agent reads and sets.
    struct Flags
    {
        std::atomic<bool>& registered;
        std::atomic<bool>& settingsPushed;
    };

    // Pauses of the worker; shortened by tests.
    struct Timings
    {
        int pushCheckMs = 5000;     // one step of the 24-hour wait
        int stepsPerCheck = 17280;  // 24 hours of steps
        int restartDelayMs = 3000;  // between the notice and the restart
    };

    static constexpr qint64 kLargestCachedReply = 100000;
    // Largest decrypted settings text; a message that decrypts to more is
    // refused before anything is stored, compared or parsed.
    static constexpr qint64 kLargestSettingsText = 2 * 1024 * 1024;
    // The local setting that lets unsigned (only encrypted) settings in, for
    // services that cannot sign; off when absent.
    static const char* const kAllowUnsignedSettingsKey;

    SettingsFileRetrievalAgent(KeyManagementAgent& keys, Flags flags, QObject* parent = nullptr);

    QString cachePath() const { return cachePath_; }
    void setTimings(const Timings& timings) { timings_ = timings; }
    // The local settings store holding kAllowUnsignedSettingsKey; without
    // one, unsigned settings are refused.
    void useLocalSettings(DelayedPersistentQSettings* settings) { localSettings_ = settings; }

    std::string requestSettings();
    Status updateSettings(const std::string& reply, std::string* decidedReply = nullptr);
    Status updateSettingsIfPossible();
    std::string readCachedSettings();
    // The decrypted text; empty unless it decrypted cleanly (see
    // GpgDecryptionVerdict) to at most kLargestSettingsText bytes and is
    // signed by the server key (or unsigned ones are allowed).
    std::string decryptSettings(const std::string& text);
    bool validateSettings(const std::string& text);
    // False, with the error logged, when the file could not be written and
    // read back intact; the previous file is then left as it was.
    bool writeSettingsFile(const std::string& text, const QString& path);
    void onDeviceUnregistered();

    // Ends worker_thread() at its next wait step; for tests.
    void requestStop() { stopRequested_ = true; }

    static int retrievalStatus();
    static bool isRetrievalOk();

public slots:
    void worker_thread();

signals:
    void coRegistrationCode(QString code);
    void coUpdatedSettingsNotification(QString message);
    void coForceUpdatedSettingsRestart();
    void settingsFileRetrievalStatusUpdated();

private:
    // What gpg made of a settings message.
    struct DecryptedMessage
    {
        std::string text;  // empty unless it decrypted cleanly within the bound
        bool signedByServer = false;
    };

    bool postKeysAndAskAgain(std::string& reply);
    void announceNotRegistered();
    Status plainNotRegisteredReply();
    Status signedNotRegisteredReply(const DecryptedMessage& message);
    bool holdsValidSettings();
    DecryptedMessage decryptMessage(const std::string& text);
    std::string acceptedSettings(const DecryptedMessage& message);
    bool unsignedSettingsAllowed() const;
    Status storeIfNew(const std::string& reply);
    void reactToCheck(Status status);
    void waitForNextCheck();

    KeyManagementAgent& keys_;
    Flags flags_;
    Timings timings_;
    QString cachePath_;
    ServerKeyFetch serverKey_;
    DelayedPersistentQSettings* localSettings_ = nullptr;
    std::atomic<bool> stopRequested_{false};
};

// The settings-changed callback handed to the trunk library: logs the
// notice and raises the settings-pushed flag.
void settingsChangedNotice(std::atomic<bool>& settingsPushed);
