// Temporary GnuPG homes for tests, and a small command runner for gpg.
#include "TemporaryGnupgHome.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace rvx::test {

TemporaryGnupgHome::TemporaryGnupgHome()
{
    char pattern[] = "/tmp/g.XXXXXX";
    if (!::mkdtemp(pattern))
        return;
    path_ = pattern;
    if (const char* previous = std::getenv("GNUPGHOME")) {
        hadPrevious_ = true;
        previous_ = previous;
    }
    ::setenv("GNUPGHOME", path_.c_str(), 1);
}

TemporaryGnupgHome::~TemporaryGnupgHome()
{
    if (path_.empty())
        return;
    RunCommand("gpgconf --homedir '" + path_ + "' --kill all 2>/dev/null");
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    if (hadPrevious_)
        ::setenv("GNUPGHOME", previous_.c_str(), 1);
    else
        ::unsetenv("GNUPGHOME");
}

std::string TemporaryGnupgHome::Gpg(const std::string& arguments, const std::string& input) const
{
    return RunCommand("gpg --homedir '" + path_ + "' --batch --no-tty --pinentry-mode error " + arguments +
                          " 2>/dev/null",
                      input);
}

bool TemporaryGnupgHome::MakeDeviceKey()
{
    Gpg("--gen-key", "Key-Type:RSA\nKey-Length:2048\nName-Real:IDRVX4400W\n"
                     "Name-Email:IDRVX4400W@rvx4400.example\n%no-protection\n%commit\n");
    const std::string listing = Gpg("--with-colons --fingerprint IDRVX4400W");
    const std::size_t at = listing.find("fpr:::::::::");
    fingerprint_ = at == std::string::npos ? std::string() : listing.substr(at + 12, 40);
    keyId_ = fingerprint_.size() == 40 ? fingerprint_.substr(32) : std::string();
    publicKey_ = Gpg("--armor --export IDRVX4400W");
    return !keyId_.empty();
}

std::string RunCommand(const std::string& commandLine, const std::string& input)
{
    std::string line = commandLine;
    std::string inputPath;
    if (!input.empty()) {
        char pattern[] = "/tmp/rvx-input.XXXXXX";
        const int descriptor = ::mkstemp(pattern);
        if (descriptor < 0)
            return std::string();
        FILE* file = ::fdopen(descriptor, "w");
        std::fwrite(input.data(), 1, input.size(), file);
        std::fclose(file);
        inputPath = pattern;
        line = "(" + commandLine + ") < '" + inputPath + "'";
    }
    std::string output;
    if (FILE* pipe = ::popen(line.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t count; (count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            output.append(buffer, count);
        ::pclose(pipe);
    }
    if (!inputPath.empty())
        std::remove(inputPath.c_str());
    return output;
}

} // namespace rvx::test
