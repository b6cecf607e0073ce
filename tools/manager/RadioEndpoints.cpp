// Handling the radios' requests.
#include "RadioEndpoints.h"

#include "GpgHome.h"
#include "SettingsDocument.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>

namespace Manager {

const char* const kPublicKeyNeeded = "PUBLIC_KEY_NEEDED";
const char* const kNotYetRegistered = "UNIT_NOT_YET_REGISTERED";

namespace {

// What a radio keeps of a reply; a larger one it refuses.
constexpr std::size_t kLargestReplyRadiosKeep = 100000;

HttpResponse Text(const std::string& body, int status = 200)
{
    return HttpResponse::text(status, body);
}

std::string Field(const std::map<std::string, std::string>& form, const char* name)
{
    const auto found = form.find(name);
    return found == form.end() ? std::string() : found->second;
}

bool IsHex(const std::string& text, std::size_t length)
{
    return text.size() == length &&
           std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

bool AllDigits(const std::string& text, std::size_t from)
{
    return text.size() > from &&
           std::all_of(text.begin() + static_cast<long>(from), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

bool parseInteger(const std::string& text, std::int64_t& value)
{
    const std::size_t from = !text.empty() && text[0] == '-' ? 1 : 0;
    if (!AllDigits(text, from) || text.size() - from > 18)
        return false;
    value = std::strtoll(text.c_str(), nullptr, 10);
    return true;
}

bool parseDecimal(const std::string& text, double& value)
{
    const std::size_t point = text.find('.');
    const std::string whole = text.substr(0, point);
    const std::size_t from = !whole.empty() && whole[0] == '-' ? 1 : 0;
    if (!AllDigits(whole, from) || whole.size() - from > 3)
        return false;
    if (point != std::string::npos && (!AllDigits(text, point + 1) || text.size() - point - 1 > 15))
        return false;
    // Digits and one point only, so the C locale's reading is the only one.
    value = std::strtod(text.c_str(), nullptr);
    return true;
}

RadioEndpoints::RadioEndpoints(Store& store, ServerKey& serverKey, ManagementCommon::GpgHome& gpg,
                               std::function<std::int64_t()> now)
    : store_(store), serverKey_(serverKey), gpg_(gpg), now_(std::move(now))
{
    if (!now_)
        now_ = [] {
            return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
                .count();
        };
}

HttpResponse RadioEndpoints::handle(const HttpRequest& request)
{
    // Radios that pin this service's key fetch it here when their key ring
    // lacks it; they accept it only with the fingerprint they pinned.
    if (request.path == "/api/server-key" && (request.method == "GET" || request.method == "POST"))
        return serverPublicKey();
    const bool known = request.path == "/api/initialize" || request.path == "/api/devconf/get" ||
                       request.path == "/index.php/api/demo" || request.path == "/index.php/api/location/put";
    if (!known)
        return Text("error: no such path\n", 404);
    if (request.method != "POST") {
        HttpResponse refused = Text("error: only POST\n", 405);
        refused.headers.emplace_back("Allow", "POST");
        return refused;
    }
    const Form form = parseForm(request.body);
    try {
        if (request.path == "/api/initialize")
            return uploadKey(form);
        if (request.path == "/api/devconf/get")
            return settings(form);
        if (request.path == "/index.php/api/demo")
            return demo();
        return location(form);
    } catch (const FleetError& error) {
        log_.log("store", std::string("request on ") + request.path + " failed: " + error.what());
        return Text("error: the service cannot store this now\n", 503);
    }
}

HttpResponse RadioEndpoints::serverPublicKey()
{
    // Exported once: a flood of requests never runs gpg.
    std::call_once(publicKeyExported_, [this] { publicKey_ = serverKey_.publicKey(); });
    if (publicKey_.empty())
        return Text("error: the server key cannot be exported now\n", 503);
    HttpResponse response = Text(publicKey_, 200);
    response.contentType = "application/pgp-keys";
    return response;
}

HttpResponse RadioEndpoints::uploadKey(const Form& form)
{
    const std::string keyId = normalCode(Field(form, "key_id"));
    const std::string fingerprint = normalCode(Field(form, "fingerprint"));
    if (!IsHex(fingerprint, 40) || !isRegistrationCode(keyId) || fingerprint.compare(32, 8, keyId) != 0)
        return Text("error: key_id and fingerprint required (the key id is the fingerprint's last 8 digits)\n", 400);
    const std::string publicKey = Field(form, "public_key");
    const ManagementCommon::PublicKeyFacts facts = gpg_.InspectPublicKey(publicKey);
    if (facts.primaryKeys != 1 || normalCode(facts.fingerprint) != fingerprint || !facts.canEncrypt ||
        facts.revokedOrExpired)
        return Text("error: public key not accepted (one usable encryption key with that fingerprint)\n", 400);
    switch (store_.storeUnitKey(keyId, fingerprint, publicKey, Field(form, "api_user"))) {
    case KeyUpload::RefusedTakeover:
        logLine("refused a new key for registered unit " + keyId + " (fingerprint " + fingerprint + ")");
        return Text("error: unit " + keyId + " is registered with another key\n", 403);
    case KeyUpload::Stored:
        logLine("unit " + keyId + " uploaded its key " + fingerprint);
        break;
    case KeyUpload::Unchanged: break;
    }
    return Text("OK\n");
}

HttpResponse RadioEndpoints::settings(const Form& form)
{
    const std::string code = normalCode(Field(form, "kid"));
    if (!isRegistrationCode(code))
        return Text("error: kid required\n", 400);
    const std::optional<UnitKey> unit = store_.unitKey(code);
    const std::string uid = normalCode(Field(form, "uid"));
    // A request from another key with the same key id: that key is not the
    // one the service holds.
    if (!unit || (!uid.empty() && uid != unit->fingerprint))
        return Text(kPublicKeyNeeded);
    std::string reply = kNotYetRegistered;
    const bool signedReply = unit->registered || unit->wasRegistered;
    if (signedReply) {
        reply = encryptedReply(code);
        if (reply.empty())
            return Text("error: the settings could not be encrypted now\n", 503);
    }
    try {
        store_.noteSettingsRequest(code, Field(form, "api_user"), now_(), signedReply);
    } catch (const FleetError& error) {
        // Serving goes on from a read-only or full store.
        log_.log("seen", std::string("cannot record a settings request: ") + error.what());
    }
    return Text(reply);
}

// From the cache when the unit's settings version and key are unchanged;
// otherwise built, signed and encrypted, and cached.
std::string RadioEndpoints::encryptedReply(const std::string& code)
{
    const std::optional<UnitKey> unit = store_.unitKey(code);
    if (!unit)
        return std::string();
    if (std::optional<std::string> cached = store_.cachedReply(code, unit->settingsVersion, unit->fingerprint))
        return *cached;
    const std::optional<SettingsSnapshot> snapshot = store_.settingsSnapshot(code);
    if (!snapshot)
        return std::string();
    const std::string text = snapshot->unit.registered ? settingsDocument(*snapshot) : std::string(kNotYetRegistered);
    const std::string reply = serverKey_.signAndEncrypt(text, snapshot->publicKey);
    ++encryptions_;
    if (reply.empty()) {
        log_.log("gpg", "gpg could not sign and encrypt the settings of unit " + code);
        return reply;
    }
    if (reply.size() > kLargestReplyRadiosKeep)
        log_.log("size", "the settings reply of unit " + code + " has " + std::to_string(reply.size()) +
                             " bytes; radios keep at most " + std::to_string(kLargestReplyRadiosKeep));
    try {
        store_.cacheReply(code, snapshot->unit.settingsVersion, snapshot->fingerprint, reply);
    } catch (const FleetError& error) {
        log_.log("cache", std::string("cannot cache a settings reply: ") + error.what());
    }
    return reply;
}

void RadioEndpoints::prepareReply(const std::string& code)
{
    const std::optional<UnitKey> unit = store_.unitKey(code);
    if (unit && (unit->registered || unit->wasRegistered))
        encryptedReply(unit->code);
}

HttpResponse RadioEndpoints::demo()
{
    if (!store_.options().demoChannels)
        return Text(std::string());
    return Text(demoDocument(store_.zones(), store_.channels()));
}

HttpResponse RadioEndpoints::location(const Form& form)
{
    const std::string code = Field(form, "kid");
    double latitude = 0, longitude = 0;
    std::int64_t time = 0;
    const std::string timeText = Field(form, "ts");
    if (!isRegistrationCode(code) || !parseDecimal(Field(form, "lat"), latitude) ||
        !parseDecimal(Field(form, "lon"), longitude) || (!timeText.empty() && !parseInteger(timeText, time)) ||
        latitude < -90 || latitude > 90 || longitude < -180 || longitude > 180)
        return Text("error: kid, lat and lon required as decimal numbers in range\n", 400);
    // Radios without a clock for their position send 0: the time of arrival then.
    if (time <= 0)
        time = now_();
    if (!store_.recordPosition(code, Position{latitude, longitude, time}, now_()))
        return Text("error: unknown unit\n", 404);
    return Text("OK\n");
}

} // namespace Manager
