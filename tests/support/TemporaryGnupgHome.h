// A GnuPG home of its own for one test: a short temporary folder set as
// GNUPGHOME while the object lives; its agent is stopped and the folder
// removed afterwards. The real key ring is never touched.
#pragma once

#include <string>

namespace rvx::test {

class TemporaryGnupgHome
{
public:
    TemporaryGnupgHome();
    ~TemporaryGnupgHome();
    TemporaryGnupgHome(const TemporaryGnupgHome&) = delete;
    TemporaryGnupgHome& operator=(const TemporaryGnupgHome&) = delete;

    bool Valid() const { return !path_.empty(); }
    const std::string& Path() const { return path_; }

    // Runs gpg in this home with the arguments; its standard output, or
    // empty when it could not run. Input (when not empty) goes to its stdin.
    std::string Gpg(const std::string& arguments, const std::string& input = std::string()) const;

    // Makes a device key pair the way a radio does (user id IDRVX4400W, no
    // passphrase) and fills in its fingerprint, key id (the last 8 digits)
    // and armoured public key; false when gpg made none.
    bool MakeDeviceKey();
    const std::string& Fingerprint() const { return fingerprint_; }
    const std::string& KeyId() const { return keyId_; }
    const std::string& PublicKey() const { return publicKey_; }

private:
    std::string path_;
    std::string fingerprint_;
    std::string keyId_;
    std::string publicKey_;
    std::string previous_;
    bool hadPrevious_ = false;
};

// Runs a shell command line and returns its standard output; input (when
// not empty) is written to its standard input through a temporary file.
std::string RunCommand(const std::string& commandLine, const std::string& input = std::string());

} // namespace rvx::test
