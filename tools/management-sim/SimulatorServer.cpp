// Request handling of the simulated management service.
#include "SimulatorServer.h"

#include "ControlClient.h"

#include <fstream>
#include <sstream>

namespace ManagementSim {

namespace {

const char* const kPublicKeyNeeded = "PUBLIC_KEY_NEEDED";
const char* const kNotYetRegistered = "UNIT_NOT_YET_REGISTERED";

struct Outcome
{
    bool ok;
    std::string text;
};

void Reply(httplib::Response& response, const std::string& text, int status = 200)
{
    response.status = status;
    response.set_content(text, "text/plain");
}

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

} // namespace

std::string DefaultDemoDocument()
{
    return "<DemoSettings>\n"
           "  <HalvaneChannels>\n"
           "    <channel name=\"Demo 1\" num=\"901\" zone=\"Demo\" zone_num=\"1\"/>\n"
           "    <channel name=\"Demo 2\" num=\"902\" zone=\"Demo\" zone_num=\"1\"/>\n"
           "  </HalvaneChannels>\n"
           "</DemoSettings>\n";
}

SimulatorServer::SimulatorServer(const SimulatorOptions& options) : options_(options), gpg_(options.gnupgHome)
{
    if (options_.demoDocument.empty())
        options_.demoDocument = DefaultDemoDocument();
}

bool SimulatorServer::Open(std::string& error)
{
    const std::string secretKey = ReadFile(options_.serverSecretKeyFile);
    if (secretKey.empty() || !gpg_.ImportKey(secretKey) || !gpg_.HasKey(options_.serverFingerprint)) {
        error = "cannot load the server key " + options_.serverFingerprint + " from " + options_.serverSecretKeyFile;
        return false;
    }
    AddServicePaths();
    AddAdministrationPaths();
    port_ = options_.port == 0 ? http_.bind_to_any_port(options_.listenAddress)
                               : (http_.bind_to_port(options_.listenAddress, options_.port) ? options_.port : -1);
    if (port_ < 0) {
        error = "cannot listen on " + options_.listenAddress + ":" + std::to_string(options_.port);
        return false;
    }
    return true;
}

void SimulatorServer::Run()
{
    http_.listen_after_bind();
}

void SimulatorServer::Stop()
{
    http_.stop();
}

// The settings of a unit, signed by the server key and encrypted to the
// unit's key; the status words while that is not possible yet. A unit that
// was registered and then unregistered gets the status word signed and
// encrypted like settings: radios remove their settings only on that.
std::string SimulatorServer::SettingsReply(const std::string& keyId)
{
    const std::optional<Unit> unit = registry_.Find(keyId);
    if (!unit || unit->fingerprint.empty() || !gpg_.HasKey(unit->fingerprint))
        return kPublicKeyNeeded;
    if (!unit->registered && unit->unregistered)
        return gpg_.SignAndEncrypt(kNotYetRegistered, unit->fingerprint, options_.serverFingerprint);
    if (!unit->registered)
        return kNotYetRegistered;
    return gpg_.SignAndEncrypt(UnitRegistry::SettingsDocumentFor(*unit), unit->fingerprint,
                               options_.serverFingerprint);
}

void SimulatorServer::AddServicePaths()
{
    http_.Post("/api/initialize", [this](const httplib::Request& request, httplib::Response& response) {
        const std::string keyId = request.get_param_value("key_id");
        const std::string fingerprint = request.get_param_value("fingerprint");
        if (!UnitRegistry::IsValidCode(keyId) || fingerprint.size() != 40)
            return Reply(response, "error: key_id and fingerprint required\n", 400);
        std::lock_guard<std::mutex> lock(mutex_);
        if (!gpg_.ImportKey(request.get_param_value("public_key")) || !gpg_.HasKey(fingerprint))
            return Reply(response, "error: public key not accepted\n", 400);
        registry_.RecordKey(keyId, fingerprint, request.get_param_value("api_user"));
        Reply(response, "OK\n");
    });
    http_.Post("/api/devconf/get", [this](const httplib::Request& request, httplib::Response& response) {
        std::lock_guard<std::mutex> lock(mutex_);
        Reply(response, SettingsReply(request.get_param_value("kid")));
    });
    // Radios that pin this service's key but lack it fetch it here.
    const auto serverKey = [this](const httplib::Request&, httplib::Response& response) {
        std::lock_guard<std::mutex> lock(mutex_);
        response.set_content(gpg_.ExportPublicKey(options_.serverFingerprint), "application/pgp-keys");
    };
    http_.Get("/api/server-key", serverKey);
    http_.Post("/api/server-key", serverKey);
    http_.Post("/index.php/api/demo", [this](const httplib::Request&, httplib::Response& response) {
        Reply(response, options_.demoDocument);
    });
    http_.Post("/index.php/api/location/put", [this](const httplib::Request& request, httplib::Response& response) {
        const std::string keyId = request.get_param_value("kid");
        if (!UnitRegistry::IsValidCode(keyId))
            return Reply(response, "error: kid required\n", 400);
        std::lock_guard<std::mutex> lock(mutex_);
        registry_.RecordLocation(keyId, {request.get_param_value("lat"), request.get_param_value("lon"),
                                         request.get_param_value("ts")});
        Reply(response, "OK\n");
    });
}

bool SimulatorServer::FromThisMachine(const httplib::Request& request)
{
    return request.remote_addr == "127.0.0.1" || request.remote_addr == "::1";
}

void SimulatorServer::AddAdministrationPaths()
{
    // Every administration request but the listing names a unit by its
    // registration code; an action answers with its outcome.
    auto administer = [this](const char* path, auto action) {
        http_.Post(path, [this, action](const httplib::Request& request, httplib::Response& response) {
            if (!FromThisMachine(request))
                return Reply(response, "error: administration only from this machine\n", 403);
            const std::string code = request.get_param_value("code");
            if (!UnitRegistry::IsValidCode(code))
                return Reply(response, "error: registration code must be 8 hexadecimal digits\n", 400);
            std::lock_guard<std::mutex> lock(mutex_);
            const Outcome outcome = action(UnitRegistry::NormalCode(code), request);
            Reply(response, outcome.ok ? "OK\n" + outcome.text : "error: " + outcome.text + "\n", outcome.ok ? 200 : 400);
        });
    };
    administer("/admin/register", [this](const std::string& code, const httplib::Request& request) {
        const std::string account = request.get_param_value("account");
        if (account.empty())
            return Outcome{false, "account name required"};
        registry_.Register(code, account);
        return Outcome{true, ""};
    });
    administer("/admin/settings", [this](const std::string& code, const httplib::Request& request) {
        registry_.SetSettings(code, request.get_param_value("document"));
        return Outcome{true, ""};
    });
    administer("/admin/unregister", [this](const std::string& code, const httplib::Request&) {
        if (!registry_.Unregister(code))
            return Outcome{false, "unit " + code + " is not registered"};
        return Outcome{true, ""};
    });
    administer("/admin/push", [](const std::string& code, const httplib::Request& request) {
        const std::string relay = request.get_param_value("relay_control");
        if (relay.empty())
            return Outcome{false, "relay_control (the relay's control socket) required"};
        std::string reply;
        if (!Relay::SendControlRequest(relay, "notify 0x" + code, reply))
            return Outcome{false, "no relay answered on " + relay};
        return Outcome{reply.rfind("error", 0) != 0, "relay: " + reply};
    });
    http_.Post("/admin/units", [this](const httplib::Request& request, httplib::Response& response) {
        if (!FromThisMachine(request))
            return Reply(response, "error: administration only from this machine\n", 403);
        std::lock_guard<std::mutex> lock(mutex_);
        Reply(response, registry_.Listing());
    });
}

} // namespace ManagementSim
