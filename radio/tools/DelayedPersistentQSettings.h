// Write-behind cache over QSettings: a value that changes many times in a
// row (volume knob, channel knob) reaches the file once, after it settles.
#pragma once

#include <QMutex>
#include <QSettings>
#include <QTimer>
#include <QVariant>

class DelayedPersistentQSettings : public QSettings
{
    Q_OBJECT
public:
    static constexpr int kDefaultWriteDelayMs = 30000;

    DelayedPersistentQSettings(const QString& fileName, QSettings::Format format, QObject* parent = nullptr);
    ~DelayedPersistentQSettings() override;

    // The pending value for the pending key, else the file's, else the default.
    QVariant value(const QString& key, const QVariant& defaultValue = QVariant()) const;
    // Write-behind store; "show_reg" and "encryption_enabled" also go to the file at once.
    void setValue(const QString& key, const QVariant& value);
    // Writes the pending pair now, then syncs the file. Every write of the
    // file is read back; when the file does not hold the settings (a full
    // disk), its previous contents are put back and the failure is logged.
    void sync();

    // The delay before a settled value is written; 30 s in the program.
    void setWriteDelayMs(int ms);
    bool hasPendingValue() const;

public slots:
    void writeCachedValueToDisk();

protected:
    // QSettings writes its changes by itself soon after they are made (an
    // update request event); those writes are verified as well.
    bool event(QEvent* event) override;

private:
    void syncVerified();
    bool fileHoldsTheSettings(QString* problem) const;
    static bool isImmediateKey(const QString& key);
    static bool sameValue(const QVariant& a, const QVariant& b);
    void restartTimer();

    // Used from the main thread, the location worker and the retrieval
    // worker; QSettings itself is not safe to share without a lock.
    mutable QRecursiveMutex mutex_;
    QString pendingKey;
    QVariant pendingValue;
    QTimer writeTimer;
};
