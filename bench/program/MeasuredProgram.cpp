// Starting, timing and ending a measured program.
#include "MeasuredProgram.h"

#include <QDeadlineTimer>
#include <QFile>

#include <algorithm>
#include <unistd.h>

namespace rvx::bench {

MeasuredProgram::MeasuredProgram(const QString& path, const QProcessEnvironment& environment,
                                 const QString& workingFolder)
    : path_(path)
{
    process_.setProcessEnvironment(environment);
    process_.setWorkingDirectory(workingFolder);
    process_.setProcessChannelMode(QProcess::MergedChannels);
}

bool MeasuredProgram::start()
{
    output_.clear();
    started_ = std::chrono::steady_clock::now();
    process_.start(path_, QStringList());
    return process_.waitForStarted(5000);
}

std::optional<std::chrono::duration<double>> MeasuredProgram::waitForOutput(const QByteArray& text, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!output_.contains(text) && !deadline.hasExpired() && process_.state() != QProcess::NotRunning) {
        process_.waitForReadyRead(50);
        output_ += process_.readAll();
    }
    const auto seen = std::chrono::steady_clock::now();
    if (!output_.contains(text))
        return std::nullopt;
    return seen - started_;
}

void MeasuredProgram::keepReading(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired() && process_.state() != QProcess::NotRunning) {
        process_.waitForReadyRead(static_cast<int>(std::min<qint64>(deadline.remainingTime(), 200)));
        output_ += process_.readAll();
    }
}

std::optional<double> MeasuredProgram::cpuSeconds() const
{
    return processCpuSeconds(process_.processId());
}

void MeasuredProgram::stop()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(10000)) {
        process_.kill();
        process_.waitForFinished(5000);
    }
    output_ += process_.readAll();
}

std::optional<double> processCpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray line = stat.readAll();
    // The command name in parentheses may hold spaces: count fields after it.
    const int nameEnd = line.lastIndexOf(')');
    if (nameEnd < 0)
        return std::nullopt;
    const QList<QByteArray> fields = line.mid(nameEnd + 2).split(' ');
    // Fields 14 (utime) and 15 (stime) of the line; the first one after the
    // name is field 3.
    if (fields.size() < 13)
        return std::nullopt;
    const double ticks = fields[11].toDouble() + fields[12].toDouble();
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

} // namespace rvx::bench
