// Locating and running gpg for the key and settings agents.
#include "GpgProcess.h"

#include <QCoreApplication>
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

GpgRun runGpgProcess(const QString& gpgPath, const QStringList& arguments, const QByteArray& input, int timeoutMs)
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
    if (!gpg.waitForFinished(timeoutMs)) {
        gpg.kill();
        gpg.waitForFinished(1000);
    }
    run.standardOutput = gpg.readAllStandardOutput();
    run.errorOutput = gpg.readAllStandardError();
    run.crashedOrKilled = gpg.exitStatus() != QProcess::NormalExit;
    run.exitCode = run.crashedOrKilled ? -1 : gpg.exitCode();
    return run;
}
