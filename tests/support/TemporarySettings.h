// A local settings store on a file in a temporary folder, removed with it;
// for tests of code that remembers values. Needs rvx_tools.
#pragma once

#include "DelayedPersistentQSettings.h"

#include <QTemporaryDir>

#include <memory>

namespace rvx::test {

class TemporarySettings
{
public:
    TemporarySettings()
        : store_(std::make_unique<DelayedPersistentQSettings>(folder_.filePath("settings.ini"), QSettings::IniFormat))
    {
    }

    bool isValid() const { return folder_.isValid(); }
    DelayedPersistentQSettings& store() { return *store_; }
    DelayedPersistentQSettings* operator->() { return store_.get(); }

private:
    QTemporaryDir folder_;
    std::unique_ptr<DelayedPersistentQSettings> store_;
};

} // namespace rvx::test
