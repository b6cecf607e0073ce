// The simulator's own GnuPG home: holds the server key pair and the units'
// uploaded public keys, and signs and encrypts settings for a unit.
#pragma once

#include <string>
#include <vector>

namespace ManagementSim {

// What one program run produced.
struct ProgramResult
{
    bool ran = false;
    int exitCode = -1;
    std::string output;
};

// Runs argv[0] (searched on PATH) with the arguments, the input on its
// standard input; standard error is dropped. Gives up after timeoutMs.
ProgramResult RunProgram(const std::vector<std::string>& argv, const std::string& input, int timeoutMs = 30000);

class GpgHome
{
public:
    // Uses folder when given, else a new temporary folder removed at the end.
    explicit GpgHome(const std::string& folder = std::string());
    ~GpgHome();
    GpgHome(const GpgHome&) = delete;
    GpgHome& operator=(const GpgHome&) = delete;

    const std::string& Folder() const { return folder_; }
    // Imports an armoured key (public or secret); false when gpg refused it.
    bool ImportKey(const std::string& armouredKey);
    // The public key with this fingerprint, armoured; empty when none.
    std::string ExportPublicKey(const std::string& fingerprint);
    // Whether a public key with this fingerprint is in the home.
    bool HasKey(const std::string& fingerprint);
    // The document encrypted to the recipient and signed by signer, armoured;
    // empty on failure.
    std::string SignAndEncrypt(const std::string& document, const std::string& recipientFingerprint,
                               const std::string& signerFingerprint);

private:
    ProgramResult Gpg(std::vector<std::string> arguments, const std::string& input = std::string());

    std::string folder_;
    bool temporary_ = false;
};

} // namespace ManagementSim
