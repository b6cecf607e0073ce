// Stands in for the radio in the restart test: the first run restarts itself
// through the program's restart; the restarted copy records its arguments.
#include "ProgramRestart.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>

int main(int argc, char** argv)
{
    const QByteArray record = qgetenv("RESTART_PROBE_RECORD");
    if (argc > 1) {
        QFile file(QString::fromLocal8Bit(record));
        if (!file.open(QIODevice::WriteOnly))
            return 2;
        for (int i = 0; i < argc; ++i)
            file.write(QByteArray(argv[i]) + "\n");
        return 0;
    }
    QCoreApplication application(argc, argv);
    QTimer::singleShot(0, [] { ProgramRestart::restartNow(); });
    QCoreApplication::exec();
    return 3; // the restart returned to the event loop: a fault
}
