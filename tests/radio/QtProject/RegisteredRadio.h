// A radio unit for whole-program tests, made the way a user gets one: its
// own data folder and GnuPG home (so its own key and device id) and its own
// sound server; a first start of the real program makes the key and enrols
// the unit at the management-service simulator, the unit is registered there
// with a settings document, and the service's encrypted reply is left as the
// unit's settings cache. Later runs go straight to the home screen.
#pragma once

#include "ManagementSimProcess.h"
#include "RadioProgramRun.h"
#include "TemporaryGnupgHome.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <string>

namespace rvx::test {

class RegisteredRadio
{
public:
    // serviceUrl: the simulator as this unit reaches it; soundServer: a
    // PulseAudio server address; launcher: see RadioProgramRun::setLauncher.
    RegisteredRadio(const QString& serviceUrl, const std::string& soundServer, const QStringList& launcher = {});

    // Debug flags of every later run, one a line.
    void setDebugFlags(const QByteArray& flags);

    // The first start: the unit's key is made and the unit enrols; its
    // registration code (its device id in hexadecimal) is then code().
    ::testing::AssertionResult enrol();
    // Registers the enrolled unit for the account with the settings document
    // and keeps the service's reply as the settings cache.
    ::testing::AssertionResult registerAt(const ManagementSimProcess& sim, const std::string& account,
                                          const QString& settingsDocument);

    const std::string& code() const { return code_; }
    QString folder() const { return folder_.path(); }

    // A run of the program for this unit, not yet started: offscreen, or on
    // the X display when one is given.
    std::unique_ptr<RadioProgramRun> program(const QString& display = QString()) const;

private:
    ::testing::AssertionResult writeFile(const QString& path, const QByteArray& content) const;

    QString serviceUrl_;
    std::string soundServer_;
    QStringList launcher_;
    TemporaryGnupgHome home_;
    QTemporaryDir folder_;
    std::string code_;
};

// A settings document for the unit with the registration code: one trunked
// channel "Harbour" (number 300 in zone "Field") through the relay router at
// address:port, and no local or demo channels.
QString HarbourChannelSettings(const std::string& code, const QString& routerAddress, unsigned short routerPort);

} // namespace rvx::test
