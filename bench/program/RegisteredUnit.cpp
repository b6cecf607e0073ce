// Enrolment and registration of the benchmark's radio unit.
#include "RegisteredUnit.h"

#include "MeasuredProgram.h"

#include <httplib.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>

namespace rvx::bench {

namespace {

// Local channels only: the unit's first channel is "Local 1".
const char* const kSettingsDocument =
    "<RadioSettings name=\"Unit %1\" accountName=\"Bench\">\n"
    "  <Halvane>\n"
    "    <LocalChannels>true</LocalChannels>\n"
    "    <DemoChannels>false</DemoChannels>\n"
    "  </Halvane>\n"
    "</RadioSettings>\n";

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

} // namespace

QProcessEnvironment windowEnvironment(const QString& display)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (display.isEmpty()) {
        environment.insert("QT_QPA_PLATFORM", "offscreen");
    } else {
        environment.insert("QT_QPA_PLATFORM", "xcb");
        environment.insert("DISPLAY", display);
    }
    return environment;
}

RegisteredUnit::RegisteredUnit(const QString& radioProgram, const QString& display)
    : radioProgram_(radioProgram), display_(display)
{
    if (!sim_.Started() || !home_.Valid() || !folder_.isValid()) {
        why_ = "could not start the management-service simulator or make temporary folders";
        return;
    }
    std::string code;
    if (enrol(code) && installSettingsCache(code))
        confirmRegistered();
}

QProcessEnvironment RegisteredUnit::environment(const QByteArray& debugFlags) const
{
    writeFile(folder_.filePath("debug_log.conf"), debugFlags);
    QProcessEnvironment environment = windowEnvironment(display_);
    environment.insert("appdata", folder_.path());
    environment.insert("DEBUG_LOG_CONF", folder_.filePath("debug_log.conf"));
    environment.insert("XDG_RUNTIME_DIR", folder_.path());
    environment.insert("GNUPGHOME", QString::fromStdString(home_.Path()));
    environment.insert("RVX4400_WEBMANAGEMENT_URL", QString::fromStdString(sim_.BaseUrl()));
    return environment;
}

// The first start makes the key and enrols; the unit's registration code
// comes back in its output.
bool RegisteredUnit::enrol(std::string& code)
{
    MeasuredProgram first(radioProgram_, environment("DEBUG_REGISTRATION\nENABLE_SETTINGSFILE_DEBUG\n"),
                          folder_.path());
    if (!first.start() || !first.waitForOutput("updateSettingsIfPossible status: 1\n", 60000)) {
        why_ = "the first start did not enrol the unit:\n" + first.output().toStdString();
        return false;
    }
    first.stop();
    const QRegularExpressionMatch match =
        QRegularExpression("Registration code: ([0-9A-F]{8}) ").match(QString::fromLatin1(first.output()));
    if (!match.hasMatch()) {
        why_ = "no registration code in the output:\n" + first.output().toStdString();
        return false;
    }
    code = match.captured(1).toStdString();
    return true;
}

// Registered with its settings document; the service's encrypted reply is
// what the unit keeps as its settings cache.
bool RegisteredUnit::installSettingsCache(const std::string& code)
{
    const QString document = folder_.filePath("unit-settings.xml");
    if (!writeFile(document, QString::fromLatin1(kSettingsDocument).arg(QString::fromStdString(code)).toUtf8()) ||
        sim_.Admin({"register", code, "Bench"}) != "OK\n" ||
        sim_.Admin({"set-settings", code, document.toStdString()}) != "OK\n") {
        why_ = "the simulator did not register the unit";
        return false;
    }
    httplib::Client client("127.0.0.1", sim_.Port());
    const httplib::Result reply = client.Post("/api/devconf/get", "kid=" + code, "application/x-www-form-urlencoded");
    if (!reply || reply->status != 200 || !QDir().mkpath(folder_.filePath("Talkbox")) ||
        !writeFile(folder_.filePath("Talkbox/settings_cache.gpg"), QByteArray::fromStdString(reply->body))) {
        why_ = "no settings cache for the unit";
        return false;
    }
    return true;
}

// A start with the cache must find the unit registered, or every figure
// would be of an unregistered radio.
void RegisteredUnit::confirmRegistered()
{
    MeasuredProgram check(radioProgram_, environment("DEBUG_REGISTRATION\n"), folder_.path());
    if (!check.start() || !check.waitForOutput("Registered:  1\n", 60000))
        why_ = "the unit does not start as registered:\n" + check.output().toStdString();
}

} // namespace rvx::bench
