// A GnuPG home of a management service (the simulator's or rvx-manager's):
// holds the server key pair, signs and encrypts settings for a unit, and
// reads uploaded public keys. gpg runs as a child process, without a shell.
#pragma once

#include <string>
#include <vector>

namespace ManagementCommon {

// What one program run produced.
struct ProgramResult
{
    bool ran = false;
    int exitCode = -1;
    std::string output;
};

// Runs argv[0] (searched on PATH) with the arguments, the input on its
// standard input; standard error is dropped. Gives up after timeoutMs (the
// child is killed then).
ProgramResult RunProgram(const std::vector<std::string>& argv, const std::string& input, int timeoutMs = 30000);

// What gpg tells about one armoured public key, without importing it.
struct PublicKeyFacts
{
    int primaryKeys = 0;         // "pub" records: exactly one for a usable upload
    std::string fingerprint;     // of the (first) primary key, upper case
    bool canEncrypt = false;     // the key as a whole has an encryption capability
    bool revokedOrExpired = false;
};

class GpgHome
{
public:
    enum class Agent
    {
        StopAlways,            // a home of its own: its agent always goes with it
        StopIfStartedHere,     // a lasting home: stop the agent only if this object started it
    };

    // Uses folder when given (created with mode 700), else a new temporary
    // folder removed at the end. A folder path too long for the agent's
    // socket names is reached through a short symbolic link in /tmp.
    explicit GpgHome(const std::string& folder = std::string(), Agent agent = Agent::StopAlways);
    ~GpgHome();
    GpgHome(const GpgHome&) = delete;
    GpgHome& operator=(const GpgHome&) = delete;

    const std::string& Folder() const { return folder_; }
    // The path given to gpg as --homedir: Folder() or its short link.
    const std::string& HomeDir() const { return homeDir_; }

    // Imports an armoured key (public or secret); false when gpg refused it.
    bool ImportKey(const std::string& armouredKey);
    // Whether a public key with this fingerprint is in the home.
    bool HasKey(const std::string& fingerprint);
    // The public key with this fingerprint, armoured; empty when none.
    std::string ExportPublicKey(const std::string& fingerprint);
    // The document encrypted to the recipient and signed by signer, armoured;
    // empty on failure.
    std::string SignAndEncrypt(const std::string& document, const std::string& recipientFingerprint,
                               const std::string& signerFingerprint);
    // The same for a recipient key that is not in the home (an armoured
    // public key, taken as valid): the home's key ring holds only the
    // server key, however many units there are.
    std::string SignAndEncryptToKey(const std::string& document, const std::string& armouredRecipientKey,
                                    const std::string& signerFingerprint);
    // Reads an armoured public key without importing it.
    PublicKeyFacts InspectPublicKey(const std::string& armouredKey);
    // Fingerprints of the secret keys in the home, in key ring order.
    std::vector<std::string> SecretKeyFingerprints();

    // Runs gpg in this home, unattended (--batch --no-tty --pinentry-mode error).
    ProgramResult Gpg(std::vector<std::string> arguments, const std::string& input = std::string(),
                      int timeoutMs = 30000);

private:
    bool AgentRunning() const;
    void StopAgent() const;

    std::string folder_;
    std::string homeDir_;
    std::string linkFolder_;  // the temporary folder holding the short link, or empty
    bool temporary_ = false;
    Agent agent_ = Agent::StopAlways;
    bool agentWasRunning_ = false;
};

} // namespace ManagementCommon
