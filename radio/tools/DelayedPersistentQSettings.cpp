// The write-behind rules of the local settings store.
#include "DelayedPersistentQSettings.h"

#include "debug_log.h"

#include <QMetaObject>
#include <QThread>

DelayedPersistentQSettings::DelayedPersistentQSettings(const QString& fileName, QSettings::Format format, QObject* parent)
    : QSettings(fileName, format, parent)
{
    writeTimer.setSingleShot(true);
    writeTimer.setInterval(kDefaultWriteDelayMs);
    connect(&writeTimer, &QTimer::timeout, this, &DelayedPersistentQSettings::writeCachedValueToDisk);
}

DelayedPersistentQSettings::~DelayedPersistentQSettings()
{
    writeCachedValueToDisk();
    QSettings::sync();
}

void DelayedPersistentQSettings::setWriteDelayMs(int ms)
{
    writeTimer.setInterval(ms);
}

bool DelayedPersistentQSettings::hasPendingValue() const
{
    QMutexLocker lock(&mutex_);
    return !pendingKey.isEmpty();
}

QVariant DelayedPersistentQSettings::value(const QString& key, const QVariant& defaultValue) const
{
    QMutexLocker lock(&mutex_);
    if (!pendingKey.isEmpty() && key == pendingKey)
        return pendingValue;
    return QSettings::value(key, defaultValue);
}

void DelayedPersistentQSettings::setValue(const QString& key, const QVariant& value)
{
    QMutexLocker lock(&mutex_);
    if (isImmediateKey(key)) {
        QSettings::setValue(key, value);
        QSettings::sync();
    }
    if (!pendingKey.isEmpty() && key != pendingKey)
        writeCachedValueToDisk();
    if (key != pendingKey || !sameValue(value, pendingValue))
        restartTimer();
    pendingKey = key;
    pendingValue = value;
}

void DelayedPersistentQSettings::writeCachedValueToDisk()
{
    QMutexLocker lock(&mutex_);
    if (!pendingKey.isEmpty()) {
        const QVariant onFile = QSettings::value(pendingKey);
        if (!sameValue(onFile, pendingValue)) {
            if (debug_log_is_enabled("ENABLE_DELAYED_QSETTINGS_DEBUG")) {
                const QByteArray text = "Writing cached value:" + pendingValue.toString().toLatin1()
                    + "with key of:" + pendingKey.toLatin1() + "\n";
                debug_log_output_string(text.constData());
            }
            QSettings::setValue(pendingKey, pendingValue);
        }
    }
    pendingKey.clear();
    pendingValue = QVariant();
}

void DelayedPersistentQSettings::sync()
{
    QMutexLocker lock(&mutex_);
    writeCachedValueToDisk();
    QSettings::sync();
}

bool DelayedPersistentQSettings::isImmediateKey(const QString& key)
{
    return key == QLatin1String("show_reg") || key == QLatin1String("encryption_enabled");
}

// The INI file gives back text for numbers and bools, so values of different
// types are compared by their text form (30 and "30" are the same setting).
bool DelayedPersistentQSettings::sameValue(const QVariant& a, const QVariant& b)
{
    if (a.isValid() != b.isValid())
        return false;
    if (a == b)
        return true;
    if (a.metaType() == b.metaType())
        return false;
    return a.canConvert<QString>() && b.canConvert<QString>() && a.toString() == b.toString();
}

// The timer belongs to the thread that made the store; a change from another
// thread restarts it there.
void DelayedPersistentQSettings::restartTimer()
{
    if (QThread::currentThread() == writeTimer.thread())
        writeTimer.start();
    else
        QMetaObject::invokeMethod(&writeTimer, qOverload<>(&QTimer::start), Qt::QueuedConnection);
}
