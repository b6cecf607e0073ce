// The service's own OpenPGP key: made on first start in the data folder's
// GnuPG home (ed25519 for signing, cv25519 for encryption, no passphrase),
// kept also in the database (armoured secret key and fingerprint), so that
// one database backup restores the service whole: a store whose key is
// missing from the home has it imported at start. Settings replies are
// signed with it and encrypted to the unit's uploaded key.
#pragma once

#include "GpgHome.h"
#include "Store.h"

#include <string>

namespace Manager {

class ServerKey
{
public:
    // lockFile: held while the key is made, so that two processes starting
    // at once make one key.
    ServerKey(ManagementCommon::GpgHome& home, Store& store, std::string lockFile);

    // Makes sure the key is in the store and in the home. Throws FleetError
    // when gpg cannot make or import it.
    void ensure();
    // 40 upper-case hexadecimal digits, as radios pin it.
    const std::string& fingerprint() const { return fingerprint_; }
    // The armoured public key, for the radios' builds.
    std::string publicKey();
    // The text signed with the server key and encrypted to the recipient;
    // empty when gpg failed.
    std::string signAndEncrypt(const std::string& text, const std::string& armouredRecipientKey);

private:
    void create();
    void importFromStore(const std::string& secretKey);

    ManagementCommon::GpgHome& home_;
    Store& store_;
    std::string lockFile_;
    std::string fingerprint_;
};

} // namespace Manager
