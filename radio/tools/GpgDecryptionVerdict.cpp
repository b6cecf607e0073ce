// Reading gpg's status lines for the settings integrity rule.
#include "GpgDecryptionVerdict.h"

#include <sstream>
#include <vector>

namespace {

const char* const kStatusPrefix = "[GNUPG:] ";

const char* const kFailureKeywords[] = {"BADSIG",    "ERRSIG", "EXPSIG",           "EXPKEYSIG", "REVKEYSIG",
                                        "BADMDC",    "DECRYPTION_FAILED", "NO_PUBKEY", "NO_SECKEY"};

struct StatusLine
{
    std::string keyword;
    std::vector<std::string> fields;
};

std::vector<StatusLine> statusLines(const std::string& text)
{
    std::vector<StatusLine> lines;
    std::istringstream input(text);
    for (std::string line; std::getline(input, line);) {
        if (line.rfind(kStatusPrefix, 0) != 0)
            continue;
        std::istringstream words(line.substr(std::string(kStatusPrefix).size()));
        StatusLine status;
        words >> status.keyword;
        for (std::string field; words >> field;)
            status.fields.push_back(field);
        lines.push_back(status);
    }
    return lines;
}

// 40 upper-case hexadecimal digits: anything else pins no key.
bool isPinnedFingerprint(const std::string& fingerprint)
{
    if (fingerprint.size() != 40)
        return false;
    for (const char digit : fingerprint)
        if (!((digit >= '0' && digit <= '9') || (digit >= 'A' && digit <= 'F')))
            return false;
    return true;
}

GpgDecryptionVerdict refused(std::string reason)
{
    return GpgDecryptionVerdict{false, false, std::move(reason)};
}

} // namespace

GpgDecryptionVerdict judgeGpgDecryption(const std::string& statusText, int exitCode,
                                        const std::string& serverFingerprint)
{
    // Without a valid pin nothing is accepted, unsigned messages included:
    // a mistyped fingerprint must not open the radio to any sender.
    if (!isPinnedFingerprint(serverFingerprint))
        return refused("no valid server key fingerprint is pinned");
    bool decryptionOkay = false, goodMdc = false;
    int signatures = 0, serverSignatures = 0;
    for (const StatusLine& line : statusLines(statusText)) {
        for (const char* failure : kFailureKeywords)
            if (line.keyword == failure)
                return refused("gpg reported " + line.keyword);
        decryptionOkay |= line.keyword == "DECRYPTION_OKAY";
        goodMdc |= line.keyword == "GOODMDC";
        signatures += line.keyword == "NEWSIG";
        // The last field of VALIDSIG is the primary key's fingerprint.
        if (line.keyword == "VALIDSIG" && !line.fields.empty() && line.fields.back() == serverFingerprint)
            ++serverSignatures;
    }
    if (exitCode != 0)
        return refused("gpg exit code " + std::to_string(exitCode));
    if (!decryptionOkay || !goodMdc)
        return refused("decryption not confirmed with integrity protection");
    if (signatures > 0 && serverSignatures != signatures)
        return refused("signature not made by the server key");
    return GpgDecryptionVerdict{true, signatures > 0, std::string()};
}
