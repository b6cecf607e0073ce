// Running gpg in a management service's home, without Qt and without a shell.
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

namespace ManagementCommon {

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

// True with its status when the child ended before the deadline.
bool WaitForExit(pid_t pid, int& status, std::chrono::steady_clock::time_point deadline)
{
    for (;;) {
        const pid_t ended = ::waitpid(pid, &status, WNOHANG);
        if (ended == pid)
            return true;
        if (ended < 0 && errno != EINTR)
            return false;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        ::usleep(1000);
    }
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
    // Services block their stop signals in every thread and ignore SIGPIPE;
    // a child (and the gpg-agent it may start) gets the defaults back.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (const int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP})
        sigaddset(&defaults, signal);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, arguments[0], &actions, &attributes, arguments.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(inPipe[0]);
    ::close(outPipe[1]);
    if (spawned != 0) {
        ::close(inPipe[1]);
        ::close(outPipe[0]);
        return result;
    }
    ::signal(SIGPIPE, SIG_IGN);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    result.output = ExchangeWithChild(inPipe[1], outPipe[0], input, timeoutMs);
    // The output ends a moment before the child has ended: wait for it
    // until the deadline, and only then kill it.
    int status = 0;
    if (!WaitForExit(pid, status, deadline)) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    result.ran = true;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

namespace {

// The agent's longest socket name is "S.gpg-agent.browser"; a sockaddr_un
// path holds 107 characters. Homes longer than this are reached through a
// short link.
constexpr std::size_t kLongestDirectHome = 80;

std::string ShortLinkTo(const std::string& folder, std::string& linkFolder)
{
    char pattern[] = "/tmp/rvxg.XXXXXX";
    if (!::mkdtemp(pattern))
        return folder;
    linkFolder = pattern;
    const std::string link = linkFolder + "/h";
    if (::symlink(folder.c_str(), link.c_str()) != 0) {
        ::rmdir(linkFolder.c_str());
        linkFolder.clear();
        return folder;
    }
    return link;
}

// "a:b:c" split at ':' (gpg's --with-colons records).
std::vector<std::string> ColonFields(const std::string& line)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = line.find(':', start);
        fields.push_back(line.substr(start, end - start));
        if (end == std::string::npos)
            return fields;
        start = end + 1;
    }
}

std::vector<std::vector<std::string>> ColonRecords(const std::string& listing)
{
    std::vector<std::vector<std::string>> records;
    std::size_t start = 0;
    while (start < listing.size()) {
        std::size_t end = listing.find('\n', start);
        if (end == std::string::npos)
            end = listing.size();
        records.push_back(ColonFields(listing.substr(start, end - start)));
        start = end + 1;
    }
    return records;
}

} // namespace

GpgHome::GpgHome(const std::string& folder, Agent agent) : folder_(folder), agent_(agent)
{
    if (folder_.empty()) {
        char pattern[] = "/tmp/g.XXXXXX";
        if (::mkdtemp(pattern))
            folder_ = pattern;
        temporary_ = true;
    } else {
        std::error_code ignored;
        std::filesystem::create_directories(folder_, ignored);
        std::filesystem::permissions(folder_, std::filesystem::perms::owner_all, ignored);
    }
    homeDir_ = folder_.size() > kLongestDirectHome ? ShortLinkTo(folder_, linkFolder_) : folder_;
    agentWasRunning_ = agent_ == Agent::StopIfStartedHere && AgentRunning();
}

GpgHome::~GpgHome()
{
    if (!agentWasRunning_)
        StopAgent();
    if (!linkFolder_.empty()) {
        ::unlink((linkFolder_ + "/h").c_str());
        ::rmdir(linkFolder_.c_str());
    }
    if (temporary_ && !folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
}

bool GpgHome::AgentRunning() const
{
    // gpg-connect-agent exits with 0 also when no agent runs: only an agent
    // answers the request.
    const ProgramResult result = RunProgram(
        {"gpg-connect-agent", "--homedir", homeDir_, "--no-autostart", "GETINFO pid", "/bye"}, std::string(), 5000);
    return result.ran && result.output.find("\nOK") != std::string::npos;
}

void GpgHome::StopAgent() const
{
    RunProgram({"gpgconf", "--homedir", homeDir_, "--kill", "all"}, std::string(), 5000);
}

ProgramResult GpgHome::Gpg(std::vector<std::string> arguments, const std::string& input, int timeoutMs)
{
    std::vector<std::string> command{"gpg", "--homedir", homeDir_, "--batch", "--no-tty", "--pinentry-mode", "error"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return RunProgram(command, input, timeoutMs);
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

std::string GpgHome::SignAndEncryptToKey(const std::string& document, const std::string& armouredRecipientKey,
                                         const std::string& signerFingerprint)
{
    std::string keyFile = folder_ + "/recipient.XXXXXX";
    const int descriptor = ::mkostemp(keyFile.data(), O_CLOEXEC);
    if (descriptor < 0)
        return std::string();
    std::size_t written = 0;
    while (written < armouredRecipientKey.size()) {
        const ssize_t count =
            ::write(descriptor, armouredRecipientKey.data() + written, armouredRecipientKey.size() - written);
        if (count <= 0)
            break;
        written += static_cast<std::size_t>(count);
    }
    ::close(descriptor);
    std::string encrypted;
    if (written == armouredRecipientKey.size()) {
        // Without the random seed file: every gpg run would otherwise lock,
        // read and rewrite it, which halves the rate and serialises runs
        // in parallel; the kernel's generator seeds each run on its own.
        const ProgramResult result =
            Gpg({"--no-random-seed-file", "--trust-model", "always", "--armor", "--local-user", signerFingerprint,
                 "--recipient-file", keyFile, "--sign", "--encrypt"},
                document);
        if (result.ran && result.exitCode == 0)
            encrypted = result.output;
    }
    ::unlink(keyFile.c_str());
    return encrypted;
}

PublicKeyFacts GpgHome::InspectPublicKey(const std::string& armouredKey)
{
    PublicKeyFacts facts;
    const ProgramResult result = Gpg({"--with-colons", "--import-options", "show-only", "--import"}, armouredKey, 10000);
    if (!result.ran || result.exitCode != 0)
        return facts;
    bool afterPrimary = false;
    for (const std::vector<std::string>& record : ColonRecords(result.output)) {
        if (record[0] == "pub") {
            ++facts.primaryKeys;
            afterPrimary = facts.primaryKeys == 1;
            if (afterPrimary) {
                const std::string validity = record.size() > 1 ? record[1] : std::string();
                facts.revokedOrExpired = validity == "r" || validity == "e";
                facts.canEncrypt = record.size() > 11 && record[11].find('E') != std::string::npos;
            }
        } else if (record[0] == "fpr" && afterPrimary && record.size() > 9) {
            facts.fingerprint = record[9];
            afterPrimary = false;
        } else if (record[0] == "sub") {
            afterPrimary = false;
        }
    }
    return facts;
}

std::vector<std::string> GpgHome::SecretKeyFingerprints()
{
    std::vector<std::string> fingerprints;
    const ProgramResult result = Gpg({"--with-colons", "--list-secret-keys"});
    if (!result.ran || result.exitCode != 0)
        return fingerprints;
    bool afterPrimary = false;
    for (const std::vector<std::string>& record : ColonRecords(result.output)) {
        if (record[0] == "sec")
            afterPrimary = true;
        else if (record[0] == "fpr" && afterPrimary && record.size() > 9) {
            fingerprints.push_back(record[9]);
            afterPrimary = false;
        } else if (record[0] == "ssb")
            afterPrimary = false;
    }
    return fingerprints;
}

} // namespace ManagementCommon
