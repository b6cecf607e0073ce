// An X server (Xvfb) for whole-program tests, with xdotool to find windows
// and press the pointer on it, both run in a network namespace of the test
// (through a launcher such as nsenter for another than the test's own).
// Clients reach the server by its abstract socket, which belongs to that
// namespace: Xvfb keeps no lock files here and a display number it picks is
// free only in its own namespace, while the socket file in /tmp may be taken
// over by an X server of another namespace with the same number.
#pragma once

#include "ChildProcess.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QThread>

#include <chrono>
#include <string>
#include <vector>
#include <unistd.h>

namespace rvx::test {

class VirtualDisplay
{
public:
    static constexpr const char* kXvfb = "/usr/bin/Xvfb";
    static constexpr const char* kXdotool = "/usr/bin/xdotool";

    static bool Available() { return access(kXvfb, X_OK) == 0 && access(kXdotool, X_OK) == 0; }

    // launcher: see RadioProgramRun::setLauncher; empty for this namespace.
    explicit VirtualDisplay(const QStringList& launcher = {})
        : launcher_(launcher),
          server_(Launched(kXvfb).first().toStdString(),
                  Words(Launched(kXvfb).mid(1) << "-displayfd" << "1" << "-screen" << "0" << "1280x480x24"
                                               << "-nolisten" << "tcp"))
    {
        if (const auto number = server_.ReadLine(std::chrono::milliseconds(10000)))
            name_ = ":" + QString::fromStdString(*number);
    }

    bool started() const { return !name_.isEmpty(); }
    // The DISPLAY value, ":N".
    const QString& name() const { return name_; }

    // Runs xdotool on this display; its standard output, trimmed.
    QString xdotool(const QStringList& arguments) const
    {
        QProcess tool;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DISPLAY", name_);
        tool.setProcessEnvironment(environment);
        const QStringList command = Launched(kXdotool) << arguments;
        tool.start(command.first(), command.mid(1));
        if (!tool.waitForFinished(10000))
            tool.kill();
        return QString::fromLocal8Bit(tool.readAllStandardOutput()).trimmed();
    }

    // The first visible window of the process, empty when none shows within the time.
    QString windowOf(qint64 pid, int ms = 5000) const
    {
        QDeadlineTimer deadline(ms);
        for (;;) {
            const QString window =
                xdotool({"search", "--onlyvisible", "--pid", QString::number(pid)}).split('\n').value(0);
            if (!window.isEmpty() || deadline.hasExpired())
                return window;
            QThread::msleep(100);
        }
    }

private:
    QStringList Launched(const char* program) const { return QStringList(launcher_) << program; }
    static std::vector<std::string> Words(const QStringList& list)
    {
        std::vector<std::string> words;
        for (const QString& word : list)
            words.push_back(word.toStdString());
        return words;
    }

    QStringList launcher_;
    ChildProcess server_;
    QString name_;
};

} // namespace rvx::test
