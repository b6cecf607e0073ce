// The process-wide store of everything the radio remembers on this machine:
// "settings.ini" in the per-user folder, written behind by 30 s.
#pragma once

#include "DelayedPersistentQSettings.h"

class PersistentQSettings : public DelayedPersistentQSettings
{
    Q_OBJECT
public:
    // The store, opened on first use and kept until the process ends.
    static PersistentQSettings* instance();

    // Writes the pending value of the store, if it was ever opened; used on
    // every way out of the program.
    static void flushIfOpen();

    // The file behind the store.
    static QString settingsFilePath();

private:
    PersistentQSettings();
};
