// A child process for tests: started with pipes on its standard input and
// output, read line by line with time-outs, and always ended by its own pid.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace rvx::test {

class ChildProcess
{
public:
    // Starts program with the arguments (argv[0] is added).
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments);
    // Ends the child (SIGTERM, then SIGKILL) if it still runs.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid_; }
    // The next line of its output without the line end, or none when the
    // time-out passes or the output ends.
    std::optional<std::string> ReadLine(std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));
    // Lines until one contains the text; none when it does not come in time.
    std::optional<std::string> WaitForLine(const std::string& text,
                                           std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));
    // Everything it writes until its output ends (bounded by the time-out).
    std::string ReadRest(std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));
    // Writes to its standard input; false when it is closed.
    bool Write(const std::string& bytes);
    void CloseInput();
    void Signal(int signal) const;
    // Its exit status (as from waitpid), or none when it has not ended in time.
    std::optional<int> Wait(std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));

private:
    bool FillBuffer(std::chrono::steady_clock::time_point deadline);

    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    bool ended_ = false;
    int status_ = 0;
    std::string buffered_;
};

} // namespace rvx::test
