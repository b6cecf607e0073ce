// Brings the pinned server key into the device's key ring. An operator's
// own service has its own key, which the radio does not ship: when gpg
// does not know the pinned key, the service is asked for its public key,
// and what it serves is imported only when it is exactly that one key, so
// that a served key can never widen whom the radio trusts. No owner trust
// is set: settings are accepted by the signer's pinned fingerprint.
#pragma once

#include <QString>

#include <atomic>
#include <string>
#include <vector>

class ServerKeyFetch
{
public:
    // The service's path answering with its ASCII-armoured public key.
    static const char* const kPath;
    // Larger replies are no key the radio takes.
    static constexpr std::size_t kLargestKey = 256 * 1024;

    // gpgPath empty: gpg is missing; pinnedFingerprint empty: no valid pin,
    // nothing is fetched.
    ServerKeyFetch(QString gpgPath, std::string pinnedFingerprint);

    // True when the key ring holds the pinned key, fetched first if need be;
    // a failed fetch is logged, not raised.
    bool ensurePinnedKey();
    bool keyRingHasPinnedKey() const;
    // Imports the armoured key when it holds one key, the pinned one; false
    // with the reason logged otherwise.
    bool importIfPinned(const std::string& armouredKey) const;

    // The primary keys' fingerprints in a "--with-colons" listing.
    static std::vector<std::string> primaryFingerprints(const std::string& listing);

private:
    QString gpgPath_;
    std::string pin_;
    std::atomic<bool> present_{false};
};
