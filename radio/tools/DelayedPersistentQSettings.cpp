// The write-behind rules of the local settings store.
#include "DelayedPersistentQSettings.h"

#include "VerifiedFileWrite.h"
#include "debug_log.h"

#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QTemporaryFile>
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
    QMutexLocker lock(&mutex_);
    writeCachedValueToDisk();
    syncVerified();
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
        syncVerified();
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
    syncVerified();
}

bool DelayedPersistentQSettings::event(QEvent* event)
{
    if (event->type() != QEvent::UpdateRequest)
        return QSettings::event(event);
    QMutexLocker lock(&mutex_);
    syncVerified();
    return true;
}

// QSettings reports success even when a full disk left the file empty or
// cut short. So the file is read back after every sync, and one that does
// not hold the settings gets its previous contents back (they are the last
// good ones); the new values stay in memory for this run.
void DelayedPersistentQSettings::syncVerified()
{
    const QString path = fileName();
    const bool existed = QFileInfo::exists(path);
    const QByteArray previous = readWholeFile(path);
    QSettings::sync();
    QString problem;
    if (fileHoldsTheSettings(&problem))
        return;
    debug_log_printf_always("Unable to write the local settings to %s (%s); the previous file is kept\n",
                            QFile::encodeName(path).constData(), problem.toLocal8Bit().constData());
    QString error;
    if (!existed)
        QFile::remove(path);
    else if (!replaceFileVerified(path, previous, &error))
        debug_log_printf_always("Unable to restore the local settings file %s (%s)\n", QFile::encodeName(path).constData(),
                                error.toLocal8Bit().constData());
}

// Read through a copy under a new name: QSettings shares what it parsed per
// file name, so another QSettings on the same file would see this store's
// memory, not the disk.
bool DelayedPersistentQSettings::fileHoldsTheSettings(QString* problem) const
{
    if (QSettings::status() != QSettings::NoError) {
        *problem = QStringLiteral("the settings could not be written");
        return false;
    }
    QTemporaryFile copy;
    if (!copy.open() || copy.write(readWholeFile(fileName())) < 0 || !copy.flush()) {
        *problem = QStringLiteral("the file could not be read back: ") + copy.errorString();
        return false;
    }
    copy.close();
    const QSettings onDisk(copy.fileName(), QSettings::IniFormat);
    for (const QString& key : QSettings::allKeys()) {
        if (!sameValue(onDisk.value(key), QSettings::value(key))) {
            *problem = QStringLiteral("\"") + key + QStringLiteral("\" did not reach the file");
            return false;
        }
    }
    return true;
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
