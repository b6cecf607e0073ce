// Fetching, checking and importing the service's public key.
#include "ServerKeyFetch.h"

#include "GpgProcess.h"
#include "MacAddress.h"
#include "ManagementService.h"
#include "debug_log.h"
#include "wGet.h"

#include <sstream>

namespace {

constexpr int kGpgTimeoutMs = 30000;
const char* const kPublicKeyStart = "-----BEGIN PGP PUBLIC KEY BLOCK-----";

std::string joined(const std::vector<std::string>& words)
{
    std::string text;
    for (const std::string& word : words)
        text += (text.empty() ? "" : ", ") + word;
    return text.empty() ? "no key" : text;
}

} // namespace

const char* const ServerKeyFetch::kPath = "/api/server-key";

ServerKeyFetch::ServerKeyFetch(QString gpgPath, std::string pinnedFingerprint)
    : gpgPath_(std::move(gpgPath)), pin_(std::move(pinnedFingerprint))
{
}

// A primary key's record ("pub", or "sec" for a secret key) is followed by
// its own "fpr" record before those of its subkeys.
std::vector<std::string> ServerKeyFetch::primaryFingerprints(const std::string& listing)
{
    std::vector<std::string> fingerprints;
    bool primaryOpen = false;
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("pub:", 0) == 0 || line.rfind("sec:", 0) == 0) {
            primaryOpen = true;
            fingerprints.emplace_back();
        } else if (primaryOpen && line.rfind("fpr:", 0) == 0) {
            const std::size_t start = line.find_first_not_of(':', 4);
            if (start != std::string::npos)
                fingerprints.back() = line.substr(start, line.find(':', start) - start);
            primaryOpen = false;
        }
    }
    return fingerprints;
}

bool ServerKeyFetch::keyRingHasPinnedKey() const
{
    if (gpgPath_.isEmpty() || pin_.empty())
        return false;
    const GpgRun run = runGpgProcess(gpgPath_, {"--with-colons", "--list-keys", QString::fromStdString(pin_)},
                                     QByteArray(), kGpgTimeoutMs);
    return primaryFingerprints(run.standardOutput.toStdString()) == std::vector<std::string>{pin_};
}

bool ServerKeyFetch::ensurePinnedKey()
{
    if (present_)
        return true;
    if (gpgPath_.isEmpty() || pin_.empty())
        return false;
    if (keyRingHasPinnedKey())
        return present_ = true;
    const std::string url = managementServiceUrl(kPath);
    debug_log_printf_always("The server key %s is not in the key ring; fetching it from %s\n", pin_.c_str(),
                            url.c_str());
    try {
        const std::string body = "api_user=" + getMacAddress();
        return present_ = importIfPinned(wGet(url.c_str(), body.c_str()));
    } catch (const std::exception& error) {
        debug_log_printf_always("Unable to fetch the server key (%s)\n", error.what());
        return false;
    }
}

bool ServerKeyFetch::importIfPinned(const std::string& armouredKey) const
{
    if (armouredKey.size() > kLargestKey || armouredKey.find(kPublicKeyStart) == std::string::npos) {
        debug_log_printf_always("Server key refused: the reply is not an armoured public key of at most %zu bytes\n",
                                kLargestKey);
        return false;
    }
    const QByteArray key = QByteArray::fromStdString(armouredKey);
    const GpgRun shown = runGpgProcess(gpgPath_, {"--with-colons", "--show-keys"}, key, kGpgTimeoutMs);
    const std::vector<std::string> served = primaryFingerprints(shown.standardOutput.toStdString());
    if (shown.exitCode != 0 || served != std::vector<std::string>{pin_}) {
        debug_log_printf_always("Server key refused: the service served %s, not the pinned key %s\n",
                                joined(served).c_str(), pin_.c_str());
        return false;
    }
    runGpgProcess(gpgPath_, {"--import"}, key, kGpgTimeoutMs);
    if (!keyRingHasPinnedKey()) {
        debug_log_printf_always("Server key %s could not be imported\n", pin_.c_str());
        return false;
    }
    debug_log_printf_always("Imported the server key %s from the service\n", pin_.c_str());
    return true;
}
