// A registered radio unit for the program benchmarks, made the way a user
// gets one: a first start of the real program makes the unit's key and
// enrols it at the management-service simulator, the unit is registered
// there with a settings document of local channels, and the service's reply
// is left as the unit's settings cache. Later starts of the program with
// environment() then go straight to the home screen.
#pragma once

#include "ManagementSimProcess.h"
#include "TemporaryGnupgHome.h"

#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

#include <string>

namespace rvx::bench {

class RegisteredUnit
{
public:
    // display: the DISPLAY of an X server, or empty for the offscreen platform.
    RegisteredUnit(const QString& radioProgram, const QString& display);

    bool ready() const { return why_.empty(); }
    const std::string& why() const { return why_; }
    QString folder() const { return folder_.path(); }
    // The radio's environment; debugFlags go to its debug_log.conf.
    QProcessEnvironment environment(const QByteArray& debugFlags) const;

private:
    bool enrol(std::string& code);
    bool installSettingsCache(const std::string& code);
    void confirmRegistered();

    QString radioProgram_;
    QString display_;
    test::ManagementSimProcess sim_;
    test::TemporaryGnupgHome home_;
    QTemporaryDir folder_;
    std::string why_;
};

// The environment of a windowed program on the display (offscreen when empty).
QProcessEnvironment windowEnvironment(const QString& display);

} // namespace rvx::bench
