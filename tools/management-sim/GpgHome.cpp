// Running gpg in the simulator's own home, without Qt and without a shell.
#include "GpgHome.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace ManagementSim {

namespace {

// Writes input to fd while reading the child's output from out, so that a
// large input and a large output never block each other.
std::string ExchangeWithChild(int in, int out, const std::string& input, int timeoutMs)
{
    std::string output;
    std::size_t written = 0;
    if (input.empty()) {
        ::close(in);
        in = -1;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out >= 0 && std::chrono::steady_clock::now() < deadline) {
        pollfd fds[2] = {{out, POLLIN, 0}, {in, POLLOUT, 0}};
        if (::poll(fds, in >= 0 ? 2 : 1, 100) < 0 && errno != EINTR)
            break;
        if (in >= 0 && (fds[1].revents & (POLLOUT | POLLERR | POLLHUP))) {
            const ssize_t count = ::write(in, input.data() + written, input.size() - written);
            if (count > 0)
                written += static_cast<std::size_t>(count);
            if (count <= 0 || written == input.size()) {
                ::close(in);
                in = -1;
            }
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            char buffer[8192];
            const ssize_t count = ::read(out, buffer, sizeof buffer);
            if (count <= 0) {
                ::close(out);
                out = -1;
            } else {
                output.append(buffer, static_cast<std::size_t>(count));
            }
        }
    }
    if (in >= 0)
        ::close(in);
    if (out >= 0)
        ::close(out);
    return output;
}

} // namespace

ProgramResult RunProgram(const std::vector<std::string>& argv, const std::string& input, int timeoutMs)
{
    ProgramResult result;
    int inPipe[2], outPipe[2];
    if (::pipe2(inPipe, O_CLOEXEC) != 0)
        return result;
    if (::pipe2(outPipe, O_CLOEXEC) != 0) {
        ::close(inPipe[0]);
        ::close(inPipe[1]);
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> arguments;
    for (const std::string& argument : argv)
        arguments.push_back(const_cast<char*>(argument.c_str()));
    arguments.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, arguments[0], &actions, nullptr, arguments.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(inPipe[0]);
    ::close(outPipe[1]);
    if (spawned != 0) {
        ::close(inPipe[1]);
        ::close(outPipe[0]);
        return result;
    }
    ::signal(SIGPIPE, SIG_IGN);
    result.output = ExchangeWithChild(inPipe[1], outPipe[0], input, timeoutMs);
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    result.ran = true;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

GpgHome::GpgHome(const std::string& folder) : folder_(folder)
{
    if (folder_.empty()) {
        char pattern[] = "/tmp/g.XXXXXX";
        if (::mkdtemp(pattern))
            folder_ = pattern;
        temporary_ = true;
    } else {
        std::filesystem::create_directories(folder_);
        std::filesystem::permissions(folder_, std::filesystem::perms::owner_all);
    }
}

GpgHome::~GpgHome()
{
    RunProgram({"gpgconf", "--homedir", folder_, "--kill", "all"}, std::string(), 5000);
    if (temporary_ && !folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
}

ProgramResult GpgHome::Gpg(std::vector<std::string> arguments, const std::string& input)
{
    std::vector<std::string> command{"gpg", "--homedir", folder_, "--batch", "--no-tty", "--pinentry-mode", "error"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return RunProgram(command, input);
}

bool GpgHome::ImportKey(const std::string& armouredKey)
{
    const ProgramResult result = Gpg({"--import"}, armouredKey);
    return result.ran && result.exitCode == 0;
}

bool GpgHome::HasKey(const std::string& fingerprint)
{
    const ProgramResult result = Gpg({"--with-colons", "--list-keys", fingerprint});
    return result.ran && result.exitCode == 0 && result.output.find("pub:") != std::string::npos;
}

std::string GpgHome::ExportPublicKey(const std::string& fingerprint)
{
    const ProgramResult result = Gpg({"--armor", "--export", fingerprint});
    return result.ran && result.exitCode == 0 ? result.output : std::string();
}

std::string GpgHome::SignAndEncrypt(const std::string& document, const std::string& recipientFingerprint,
                                    const std::string& signerFingerprint)
{
    const ProgramResult result = Gpg({"--trust-model", "always", "--armor", "--local-user", signerFingerprint,
                                      "--recipient", recipientFingerprint, "--sign", "--encrypt"},
                                     document);
    return result.ran && result.exitCode == 0 ? result.output : std::string();
}

} // namespace ManagementSim
