// Making, restoring and using the service's key.
#include "ServerKey.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace Manager {

namespace {

const char* const kFingerprintSetting = "server.fingerprint";
const char* const kSecretKeySetting = "server.secret_key";

const char* const kKeyParameters = "Key-Type: EDDSA\n"
                                   "Key-Curve: ed25519\n"
                                   "Key-Usage: sign\n"
                                   "Subkey-Type: ECDH\n"
                                   "Subkey-Curve: cv25519\n"
                                   "Subkey-Usage: encrypt\n"
                                   "Name-Real: rvx-manager server key\n"
                                   "Expire-Date: 0\n"
                                   "%no-protection\n"
                                   "%commit\n";

class FileLock
{
public:
    explicit FileLock(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600))
    {
        if (fd_ >= 0)
            ::flock(fd_, LOCK_EX);
    }
    ~FileLock()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int fd_;
};

bool Contains(const std::vector<std::string>& list, const std::string& item)
{
    return std::find(list.begin(), list.end(), item) != list.end();
}

} // namespace

ServerKey::ServerKey(ManagementCommon::GpgHome& home, Store& store, std::string lockFile)
    : home_(home), store_(store), lockFile_(std::move(lockFile))
{
}

void ServerKey::ensure()
{
    FileLock lock(lockFile_);
    const std::optional<std::string> fingerprint = store_.setting(kFingerprintSetting);
    const std::optional<std::string> secretKey = store_.setting(kSecretKeySetting);
    if (!fingerprint || !secretKey) {
        create();
        return;
    }
    fingerprint_ = *fingerprint;
    if (!Contains(home_.SecretKeyFingerprints(), fingerprint_))
        importFromStore(*secretKey);
}

// A home that already holds a key of ours (a store lost or replaced) keeps
// it; otherwise a new key is made.
void ServerKey::create()
{
    std::vector<std::string> existing = home_.SecretKeyFingerprints();
    if (existing.empty()) {
        const ManagementCommon::ProgramResult made = home_.Gpg({"--gen-key"}, kKeyParameters, 60000);
        existing = home_.SecretKeyFingerprints();
        if (!made.ran || made.exitCode != 0 || existing.empty())
            throw FleetError("gpg could not make the server key in " + home_.Folder());
    }
    fingerprint_ = existing.front();
    const ManagementCommon::ProgramResult exported =
        home_.Gpg({"--armor", "--export-secret-keys", fingerprint_});
    if (!exported.ran || exported.exitCode != 0 || exported.output.empty())
        throw FleetError("gpg could not export the server key " + fingerprint_);
    store_.setSetting(kSecretKeySetting, exported.output);
    store_.setSetting(kFingerprintSetting, fingerprint_);
}

void ServerKey::importFromStore(const std::string& secretKey)
{
    if (!home_.ImportKey(secretKey) || !Contains(home_.SecretKeyFingerprints(), fingerprint_))
        throw FleetError("gpg could not import the server key " + fingerprint_ + " from the database into " +
                         home_.Folder());
}

std::string ServerKey::publicKey()
{
    const ManagementCommon::ProgramResult exported = home_.Gpg({"--armor", "--export", fingerprint_});
    return exported.ran && exported.exitCode == 0 ? exported.output : std::string();
}

std::string ServerKey::signAndEncrypt(const std::string& text, const std::string& armouredRecipientKey)
{
    return home_.SignAndEncryptToKey(text, armouredRecipientKey, fingerprint_);
}

} // namespace Manager
