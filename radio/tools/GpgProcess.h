// Runs GnuPG as a child process, never waiting on a passphrase prompt.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The gpg beside the program when there is one, else the first on PATH;
// empty when neither exists.
QString locateGpg();

// What one gpg run produced.
struct GpgRun
{
    bool started = false;
    QByteArray standardOutput;
    QByteArray errorOutput;
    int exitCode = -1;
    bool crashedOrKilled = false;
    bool outputLimitExceeded = false;  // killed for writing more than allowed
};

// Runs gpg with "--no-tty --pinentry-mode error" before the arguments,
// writes input (when not empty) to its standard input and closes it, and
// waits up to timeoutMs; a run still going then is killed. With an
// outputLimit (>= 0) the standard output is read as it comes and a run
// that writes more than outputLimit bytes is killed at once, so that a
// small message that decompresses to gigabytes never fills the memory.
GpgRun runGpgProcess(const QString& gpgPath, const QStringList& arguments, const QByteArray& input,
                     int timeoutMs = 30000, qint64 outputLimit = -1);
