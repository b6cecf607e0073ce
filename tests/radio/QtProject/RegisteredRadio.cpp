// Enrolment, registration and runs of a whole-program test's radio unit.
#include "RegisteredRadio.h"

#include <httplib.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>

namespace rvx::test {

RegisteredRadio::RegisteredRadio(const QString& serviceUrl, const std::string& soundServer,
                                 const QStringList& launcher)
    : serviceUrl_(serviceUrl), soundServer_(soundServer), launcher_(launcher)
{
}

void RegisteredRadio::setDebugFlags(const QByteArray& flags)
{
    QFile conf(folder_.filePath("debug_log.conf"));
    if (conf.open(QIODevice::WriteOnly))
        conf.write(flags);
}

::testing::AssertionResult RegisteredRadio::enrol()
{
    if (!home_.Valid() || !folder_.isValid())
        return ::testing::AssertionFailure() << "no temporary GnuPG home or data folder";
    const std::unique_ptr<RadioProgramRun> first = program();
    if (!first->start())
        return ::testing::AssertionFailure() << "the program did not start";
    if (!first->waitForOutput("updateSettingsIfPossible status: 1\n", 30000))
        return ::testing::AssertionFailure() << "the first start did not enrol:\n" << first->output().constData();
    const QRegularExpressionMatch match =
        QRegularExpression("Registration code: ([0-9A-F]{8}) ").match(QString::fromLatin1(first->output()));
    if (!match.hasMatch())
        return ::testing::AssertionFailure() << "no registration code:\n" << first->output().constData();
    code_ = match.captured(1).toStdString();
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult RegisteredRadio::registerAt(const ManagementSimProcess& sim, const std::string& account,
                                                       const QString& settingsDocument)
{
    const QString document = folder_.filePath("unit-settings.xml");
    if (const auto written = writeFile(document, settingsDocument.toUtf8()); !written)
        return written;
    if (sim.Admin({"register", code_, account}) != "OK\n" ||
        sim.Admin({"set-settings", code_, document.toStdString()}) != "OK\n")
        return ::testing::AssertionFailure() << "the simulator did not register unit " << code_;
    httplib::Client client("127.0.0.1", sim.Port());
    const httplib::Result reply =
        client.Post("/api/devconf/get", "kid=" + code_, "application/x-www-form-urlencoded");
    if (!reply || reply->status != 200)
        return ::testing::AssertionFailure() << "the service gave no settings for unit " << code_;
    if (!QDir().mkpath(folder_.filePath("Talkbox")))
        return ::testing::AssertionFailure() << "no Talkbox folder";
    return writeFile(folder_.filePath("Talkbox/settings_cache.gpg"), QByteArray::fromStdString(reply->body));
}

std::unique_ptr<RadioProgramRun> RegisteredRadio::program(const QString& display) const
{
    auto run = std::make_unique<RadioProgramRun>(folder_.path(), home_.Path(), serviceUrl_);
    run->setLauncher(launcher_);
    run->setEnvironmentValue("PULSE_SERVER", QString::fromStdString(soundServer_));
    if (!display.isEmpty()) {
        run->setEnvironmentValue("QT_QPA_PLATFORM", "xcb");
        run->setEnvironmentValue("DISPLAY", display);
    }
    return run;
}

::testing::AssertionResult RegisteredRadio::writeFile(const QString& path, const QByteArray& content) const
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return ::testing::AssertionFailure() << "cannot write " << path.toStdString();
    return ::testing::AssertionSuccess();
}

QString HarbourChannelSettings(const std::string& code, const QString& routerAddress, unsigned short routerPort)
{
    return QStringLiteral("<RadioSettings name=\"Unit %1\" accountName=\"Harbour Patrol\">\n"
                          "  <Halvane>\n"
                          "    <LocalChannels>false</LocalChannels>\n"
                          "    <DemoChannels>false</DemoChannels>\n"
                          "    <Halvane2Routers><Halvane2Router address=\"%2\" port=\"%3\"/></Halvane2Routers>\n"
                          "  </Halvane>\n"
                          "  <HalvaneChannels><channel name=\"Harbour\" num=\"300\" zone=\"Field\" zone_num=\"2\"/>"
                          "</HalvaneChannels>\n"
                          "</RadioSettings>\n")
        .arg(QString::fromStdString(code), routerAddress)
        .arg(routerPort);
}

} // namespace rvx::test
