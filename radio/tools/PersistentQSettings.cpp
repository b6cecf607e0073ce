// Opening of the local settings file.
#include "PersistentQSettings.h"

#include "AppDataFolder.h"

#include <QCoreApplication>
#include <QDir>

#include <atomic>
#include <memory>

namespace {
std::atomic<PersistentQSettings*> openedStore{nullptr};
}

QString PersistentQSettings::settingsFilePath()
{
    return appDataFolder() + QStringLiteral("settings.ini");
}

PersistentQSettings::PersistentQSettings()
    : DelayedPersistentQSettings(settingsFilePath(), QSettings::IniFormat)
{
    QDir().mkpath(appDataFolder());
    QCoreApplication::setOrganizationName(QStringLiteral("Ardentel"));
    QCoreApplication::setApplicationName(QStringLiteral("RVX4400"));
}

PersistentQSettings* PersistentQSettings::instance()
{
    // Never destroyed: worker threads read it until the process ends. The
    // program writes a pending value at exit with flushIfOpen().
    static PersistentQSettings* const store = [] {
        auto* created = new PersistentQSettings;
        openedStore = created;
        return created;
    }();
    return store;
}

void PersistentQSettings::flushIfOpen()
{
    if (PersistentQSettings* store = openedStore.load())
        store->sync();
}
