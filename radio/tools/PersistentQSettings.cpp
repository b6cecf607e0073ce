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
    // Destroyed at process exit, which writes a value still pending.
    static std::unique_ptr<PersistentQSettings> store([] {
        auto* created = new PersistentQSettings;
        openedStore = created;
        return created;
    }());
    return store.get();
}

void PersistentQSettings::flushIfOpen()
{
    if (PersistentQSettings* store = openedStore.load())
        store->sync();
}
