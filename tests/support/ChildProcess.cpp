// Child processes for tests, ended only through their own pid.
#include "ChildProcess.h"

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace rvx::test {

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments)
{
    int toChild[2], fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        // A child must not outlive a test that was killed (a time-out, say).
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(127);
        dup2(toChild[0], STDIN_FILENO);
        dup2(fromChild[1], STDOUT_FILENO);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    input_ = toChild[1];
    output_ = fromChild[0];
}

ChildProcess::~ChildProcess()
{
    CloseInput();
    if (!Wait(std::chrono::milliseconds(0))) {
        Signal(SIGTERM);
        if (!Wait(std::chrono::milliseconds(2000))) {
            Signal(SIGKILL);
            Wait(std::chrono::milliseconds(2000));
        }
    }
    if (output_ >= 0)
        close(output_);
}

bool ChildProcess::FillBuffer(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd waiting{output_, POLLIN, 0};
    if (left.count() < 0 || poll(&waiting, 1, static_cast<int>(left.count())) <= 0)
        return false;
    char chunk[4096];
    const ssize_t n = read(output_, chunk, sizeof chunk);
    if (n <= 0)
        return false;
    buffered_.append(chunk, static_cast<std::size_t>(n));
    return true;
}

std::optional<std::string> ChildProcess::ReadLine(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto end = buffered_.find('\n');
        if (end != std::string::npos) {
            std::string line = buffered_.substr(0, end);
            buffered_.erase(0, end + 1);
            return line;
        }
        if (!FillBuffer(deadline))
            return std::nullopt;
    }
}

std::optional<std::string> ChildProcess::WaitForLine(const std::string& text, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        auto line = ReadLine(left);
        if (!line)
            return std::nullopt;
        if (line->find(text) != std::string::npos)
            return line;
    }
    return std::nullopt;
}

std::string ChildProcess::ReadRest(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (FillBuffer(deadline)) {
    }
    std::string rest;
    rest.swap(buffered_);
    return rest;
}

bool ChildProcess::Write(const std::string& bytes)
{
    std::size_t written = 0;
    while (input_ >= 0 && written < bytes.size()) {
        const ssize_t count = write(input_, bytes.data() + written, bytes.size() - written);
        if (count <= 0)
            return false;
        written += static_cast<std::size_t>(count);
    }
    return input_ >= 0;
}

void ChildProcess::CloseInput()
{
    if (input_ >= 0)
        close(input_);
    input_ = -1;
}

void ChildProcess::Signal(int signal) const
{
    if (pid_ > 0 && !ended_)
        kill(pid_, signal);
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (ended_)
            return status_;
        const pid_t done = waitpid(pid_, &status_, WNOHANG);
        if (done == pid_ || done < 0) {
            ended_ = true;
            return status_;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        usleep(2000);
    }
}

} // namespace rvx::test
