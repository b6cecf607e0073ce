// Detached restart of the program.
#include "ProgramRestart.h"

#include "PersistentQSettings.h"
#include "debug_log.h"

#include <QCoreApplication>
#include <QProcess>

#include <cstdio>
#include <unistd.h>

namespace ProgramRestart {
namespace {

Starter& starter()
{
    static Starter current = [](const QString& program, const QStringList& arguments) {
        return QProcess::startDetached(program, arguments);
    };
    return current;
}

Handover& handover()
{
    static Handover current{[] {}, [] {}};
    return current;
}

} // namespace

void setHandover(Handover replacement)
{
    handover() = std::move(replacement);
}

void setStarter(Starter replacement)
{
    starter() = std::move(replacement);
}

QString restartProgram(const QStringList& arguments)
{
    return arguments.isEmpty() ? QCoreApplication::applicationFilePath() : arguments.first();
}

QStringList restartArguments(const QStringList& arguments)
{
    return arguments.isEmpty() ? QStringList{QCoreApplication::applicationFilePath()} : arguments;
}

void restartNow()
{
    debug_log_printf_always("Restarting now...\n");
    QCoreApplication::processEvents();

    // The copy reads settings.ini as it starts: a value still waiting to be
    // written must be on disk before then.
    PersistentQSettings::flushIfOpen();

    const QStringList arguments = QCoreApplication::arguments();
    const QString program = restartProgram(arguments);
    handover().release();
    if (!starter()(program, restartArguments(arguments))) {
        handover().retake();
        debug_log_printf_always("Restart failed: unable to start %s; this copy keeps running\n",
                                program.toLocal8Bit().constData());
        return;
    }
    QCoreApplication::quit();
    QCoreApplication::exit(0);
    debug_log_printf_always("Event processing shut down\n");
    std::fflush(nullptr);
    // At once, without unwinding into the event loop or running static
    // destructors under the still-running worker threads.
    ::_exit(0);
}

} // namespace ProgramRestart
