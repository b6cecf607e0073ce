// One run of the real radio program for tests: offscreen, with its data
// folder, debug flags (debug_log.conf in that folder), GnuPG home and
// management-service address given by the test, optionally through a
// launcher; its standard error is collected while the test waits for lines.
#pragma once

#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <string>

namespace rvx::test {

class RadioProgramRun
{
public:
    RadioProgramRun(const QString& dataFolder, const std::string& gnupgHome, const QString& serviceUrl)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("appdata", dataFolder);
        environment.insert("DEBUG_LOG_CONF", dataFolder + "/debug_log.conf");
        environment.insert("XDG_RUNTIME_DIR", dataFolder);
        environment.insert("GNUPGHOME", QString::fromStdString(gnupgHome));
        environment.insert("RVX4400_WEBMANAGEMENT_URL", serviceUrl);
        program_.setProcessEnvironment(environment);
        program_.setWorkingDirectory(dataFolder);
    }
    ~RadioProgramRun() { stop(); }

    void setEnvironmentValue(const QString& name, const QString& value)
    {
        QProcessEnvironment environment = program_.processEnvironment();
        environment.insert(name, value);
        program_.setProcessEnvironment(environment);
    }

    // Starts the program through a launcher that ends by running the command
    // after it, e.g. {"/usr/bin/nsenter", "-t", PID, "-n", "--"} for another
    // network namespace; nsenter runs it in its own place, so the process id
    // stays the program's.
    void setLauncher(const QStringList& launcher) { launcher_ = launcher; }

    bool start()
    {
        output_.clear();
        if (launcher_.isEmpty())
            program_.start(RADIO_PROGRAM_PATH, QStringList());
        else
            program_.start(launcher_.first(), launcher_.mid(1) << QStringLiteral(RADIO_PROGRAM_PATH));
        return program_.waitForStarted(5000);
    }
    // Reads standard error until the text appears, the program ends or the time runs out.
    bool waitForOutput(const QByteArray& text, int ms)
    {
        QDeadlineTimer deadline(ms);
        while (!output_.contains(text) && !deadline.hasExpired() && program_.state() != QProcess::NotRunning) {
            program_.waitForReadyRead(100);
            output_ += program_.readAllStandardError();
        }
        output_ += program_.readAllStandardError();
        return output_.contains(text);
    }
    // True once the program has ended (waitForFinished() alone is false
    // for a program that had already ended).
    bool waitForEnd(int ms)
    {
        const bool ended = program_.state() == QProcess::NotRunning || program_.waitForFinished(ms);
        output_ += program_.readAllStandardError();
        return ended;
    }
    void stop()
    {
        if (program_.state() == QProcess::NotRunning)
            return;
        program_.terminate();
        if (!program_.waitForFinished(10000)) {
            program_.kill();
            program_.waitForFinished(5000);
        }
    }

    QProcess& process() { return program_; }
    const QByteArray& output() const { return output_; }

private:
    QProcess program_;
    QStringList launcher_;
    QByteArray output_;
};

} // namespace rvx::test
