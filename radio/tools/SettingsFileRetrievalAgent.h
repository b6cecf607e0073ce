// Keeps the radio's settings in step with the management service: enrols
// the unit, fetches and checks its encrypted settings, caches them, and asks
// for a restart when they change or the unit is unregistered.
#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <string>

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

    SettingsFileRetrievalAgent(KeyManagementAgent& keys, Flags flags, QObject* parent = nullptr);

    QString cachePath() const { return cachePath_; }
    void setTimings(const Timings& timings) { timings_ = timings; }

    std::string requestSettings();
    Status updateSettings(const std::string& reply, std::string* decidedReply = nullptr);
    Status updateSettingsIfPossible();
    std::string readCachedSettings();
    // The decrypted text; empty unless it decrypted cleanly (see
    // GpgDecryptionVerdict).
    std::string decryptSettings(const std::string& text);
    bool validateSettings(const std::string& text);
    void writeSettingsFile(const std::string& text, const QString& path);
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
    bool postKeysAndAskAgain(std::string& reply);
    void announceNotRegistered();
    Status storeIfNew(const std::string& reply);
    void reactToCheck(Status status);
    void waitForNextCheck();

    KeyManagementAgent& keys_;
    Flags flags_;
    Timings timings_;
    QString cachePath_;
    std::atomic<bool> stopRequested_{false};
};

// The settings-changed callback handed to the trunk library: logs the
// notice and raises the settings-pushed flag.
void settingsChangedNotice(std::atomic<bool>& settingsPushed);
