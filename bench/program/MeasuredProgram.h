// One run of a windowed program for the program benchmarks: started with an
// environment of the benchmark's choosing, its merged output read until a
// line appears (timed from just before the start), its CPU time read from
// /proc, and ended with SIGTERM (SIGKILL if it does not end).
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

namespace rvx::bench {

class MeasuredProgram
{
public:
    MeasuredProgram(const QString& path, const QProcessEnvironment& environment, const QString& workingFolder);
    ~MeasuredProgram() { stop(); }
    MeasuredProgram(const MeasuredProgram&) = delete;
    MeasuredProgram& operator=(const MeasuredProgram&) = delete;

    bool start();
    // Time from the start until the text appears in the output; none when
    // it does not come in time or the program ends first.
    std::optional<std::chrono::duration<double>> waitForOutput(const QByteArray& text, int ms);
    // Lets the time pass while reading what the program writes, so that a
    // full output pipe never holds it up.
    void keepReading(int ms);
    // User plus system CPU time of the process so far (all its threads).
    std::optional<double> cpuSeconds() const;
    bool running() const { return process_.state() == QProcess::Running; }
    void stop();

    const QByteArray& output() const { return output_; }

private:
    QProcess process_;
    QString path_;
    QByteArray output_;
    std::chrono::steady_clock::time_point started_;
};

// utime + stime of a process from /proc/PID/stat, in seconds.
std::optional<double> processCpuSeconds(qint64 pid);

} // namespace rvx::bench
