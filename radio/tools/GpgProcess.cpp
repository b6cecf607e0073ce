// Locating and running gpg for the key and settings agents.
#include "GpgProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

QString locateGpg()
{
    if (QCoreApplication::instance()) {
        const QString besideProgram = QCoreApplication::applicationDirPath() + QStringLiteral("/gpg");
        if (QFileInfo(besideProgram).isExecutable())
            return besideProgram;
    }
    return QStandardPaths::findExecutable(QStringLiteral("gpg"));
}

namespace {

// Reads gpg's standard output as it arrives until gpg ends, the time is up
// or the output passes the limit; true when it passed the limit.
bool readOutputWithin(QProcess& gpg, const QDeadlineTimer& deadline, qint64 outputLimit, QByteArray& output)
{
    while (gpg.state() != QProcess::NotRunning && !deadline.hasExpired()) {
        gpg.waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
        output += gpg.readAllStandardOutput();
        if (outputLimit >= 0 && output.size() > outputLimit)
            return true;
    }
    return false;
}

} // namespace

GpgRun runGpgProcess(const QString& gpgPath, const QStringList& arguments, const QByteArray& input, int timeoutMs,
                     qint64 outputLimit)
{
    GpgRun run;
    QProcess gpg;
    gpg.start(gpgPath, QStringList{"--no-tty", "--pinentry-mode", "error"} + arguments);
    if (!gpg.waitForStarted(timeoutMs))
        return run;
    run.started = true;
    if (!input.isEmpty())
        gpg.write(input);
    gpg.closeWriteChannel();
    const QDeadlineTimer deadline(timeoutMs);
    run.outputLimitExceeded = readOutputWithin(gpg, deadline, outputLimit, run.standardOutput);
    if (gpg.state() != QProcess::NotRunning) {
        gpg.kill();
        gpg.waitForFinished(1000);
    }
    if (!run.outputLimitExceeded) {
        run.standardOutput += gpg.readAllStandardOutput();
        run.outputLimitExceeded = outputLimit >= 0 && run.standardOutput.size() > outputLimit;
    }
    run.errorOutput = gpg.readAllStandardError();
    run.crashedOrKilled = gpg.exitStatus() != QProcess::NormalExit;
    run.exitCode = run.crashedOrKilled ? -1 : gpg.exitCode();
    return run;
}
