// The four paths radios use, as they post them:
//   /api/initialize             key upload (api_user, fingerprint, key_id, public_key)
//   /api/devconf/get            settings request (api_user, uid, kid, type)
//   /index.php/api/demo         the demo talk groups (empty form)
//   /index.php/api/location/put position (kid, lat, lon, ts)
// A settings reply is the unit's document signed with the server key and
// encrypted to the unit's uploaded key, kept per unit and settings version
// so that a fleet restarting at once costs no gpg run for unchanged units.
#pragma once

#include "HttpMessage.h"
#include "ServerKey.h"
#include "ServiceLog.h"
#include "Store.h"

#include <atomic>
#include <mutex>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace ManagementCommon {
class GpgHome;
}

namespace Manager {

extern const char* const kPublicKeyNeeded;
extern const char* const kNotYetRegistered;

class RadioEndpoints
{
public:
    // now: seconds since 1970 (a seam for tests).
    RadioEndpoints(Store& store, ServerKey& serverKey, ManagementCommon::GpgHome& gpg,
                   std::function<std::int64_t()> now = nullptr);

    HttpResponse handle(const HttpRequest& request);
    // Makes a registered unit's current reply ahead of its request, so that
    // the request a settings-changed notice sets off finds it ready.
    void prepareReply(const std::string& code);

    // gpg runs that made a settings reply (the rest came from the cache).
    std::uint64_t encryptions() const { return encryptions_; }

private:
    using Form = std::map<std::string, std::string>;
    HttpResponse uploadKey(const Form& form);
    HttpResponse settings(const Form& form);
    HttpResponse demo();
    HttpResponse location(const Form& form);
    HttpResponse serverPublicKey();
    std::string encryptedReply(const std::string& code);

    Store& store_;
    ServerKey& serverKey_;
    ManagementCommon::GpgHome& gpg_;
    std::function<std::int64_t()> now_;
    std::atomic<std::uint64_t> encryptions_{0};
    std::once_flag publicKeyExported_;
    std::string publicKey_;
    ThrottledLog log_;
};

// Strict decimal numbers as radios write them ("-122.25000000"): an
// optional minus, digits, an optional fraction; nothing else around.
bool parseDecimal(const std::string& text, double& value);
bool parseInteger(const std::string& text, std::int64_t& value);

} // namespace Manager
