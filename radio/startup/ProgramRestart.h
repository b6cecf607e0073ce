// Restarting the program: a detached copy of it is started and this process
// ends, so that new settings or a new registration take effect.
#pragma once

#include <QStringList>

#include <functional>

namespace ProgramRestart {

// Starts a detached process; replaced by tests that must not start one.
using Starter = std::function<bool(const QString& program, const QStringList& arguments)>;
void setStarter(Starter starter);

// What this process holds that its copy needs (the one-radio lock): let go
// of just before the copy starts, taken back when it could not start.
struct Handover
{
    std::function<void()> release;
    std::function<void()> retake;
};
void setHandover(Handover handover);

// The command line of the copy: the program is the first element of the
// argument list (its own path), and the whole list, that path included, is
// passed as its arguments.
QString restartProgram(const QStringList& arguments);
QStringList restartArguments(const QStringList& arguments);

// Prints "Restarting now...", starts the copy, ends the event loop and the
// process with status 0. When the copy cannot be started the error is
// logged and this process keeps running, so the radio is never left dead.
void restartNow();

} // namespace ProgramRestart
