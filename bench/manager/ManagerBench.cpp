// rvx-manager with 10,000 registered units (accounts of 20): the radio's
// settings request as it posts it (a form over a new HTTP connection on
// 127.0.0.1, the lookup and the signed, encrypted reply), once served from
// the reply cache and once forcing a new encryption, against one bare
// `gpg --sign --encrypt` run of the same document; the request handler
// without HTTP, to tell the connection's share; and location posts.
// The goal: a fleet of 10,000 radios restarting within a minute, about 170
// settings requests a second, on one small machine.
#include "BenchMain.h"

#include "GpgHome.h"
#include "HttpServer.h"
#include "RadioEndpoints.h"
#include "ServerKey.h"
#include "SettingsDocument.h"
#include "Store.h"

#include <benchmark/benchmark.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

namespace {

using namespace Manager;

constexpr int kUnits = 10000;
constexpr int kUnitsPerAccount = 20;
constexpr int kWarmUnits = 256;  // replies cached before the cached runs

std::string CodeOf(int unit)
{
    char code[9];
    std::snprintf(code, sizeof code, "%08X", 0x10000000 + unit);
    return code;
}

// The service as `serve` wires it, on a temporary data folder.
class Service
{
public:
    Service()
    {
        char pattern[] = "/tmp/mgb.XXXXXX";
        folder_ = ::mkdtemp(pattern) ? pattern : "/tmp";
        MakeRadioKey();
        store_ = std::make_unique<Store>(folder_ + "/manager.db");
        gpg_ = std::make_unique<ManagementCommon::GpgHome>(folder_ + "/gnupg");
        key_ = std::make_unique<ServerKey>(*gpg_, *store_, folder_ + "/key.lock");
        key_->ensure();
        Populate();
        endpoints_ = std::make_unique<RadioEndpoints>(*store_, *key_, *gpg_);
        server_ = std::make_unique<HttpServer>(4);
        ListenerSettings settings;
        settings.maxConnectionsPerClient = 512;
        port_ = server_->addListener(settings, [this](const HttpRequest& request) { return endpoints_->handle(request); });
        server_->start();
        for (int unit = 0; unit < kWarmUnits; ++unit)
            RequestSettings(unit);
    }
    ~Service()
    {
        server_->stop();
        endpoints_.reset();
        key_.reset();
        gpg_.reset();
        ManagementCommon::RunProgram({"gpgconf", "--homedir", radioHome_, "--kill", "all"}, std::string(), 5000);
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    int port() const { return port_; }
    RadioEndpoints& endpoints() { return *endpoints_; }
    Store& store() { return *store_; }
    const std::string& radioKey() const { return radioKey_; }
    const std::string& recipientFile() const { return recipientFile_; }
    const std::string& fingerprint() const { return key_->fingerprint(); }
    const std::string& gpgHome() const { return gpg_->HomeDir(); }

    static httplib::Params SettingsForm(int unit)
    {
        return {{"api_user", "020000000001"},
                {"uid", std::string(32, 'F') + CodeOf(unit)},
                {"kid", CodeOf(unit)},
                {"type", "WRVX"}};
    }

    bool RequestSettings(int unit) const
    {
        httplib::Client client("127.0.0.1", port_);
        client.set_read_timeout(60);
        const httplib::Result result = client.Post("/api/devconf/get", SettingsForm(unit));
        return result && result->status == 200 && result->body.rfind("-----BEGIN PGP MESSAGE-----", 0) == 0;
    }

private:
    // One real radio key stands for every unit's (10,000 RSA keys would
    // take longer than the benchmark).
    void MakeRadioKey()
    {
        radioHome_ = folder_ + "/radio";
        ManagementCommon::GpgHome radio(radioHome_);
        radio.Gpg({"--gen-key"}, "Key-Type:RSA\nKey-Length:2048\nName-Real:IDRVX4400W\n%no-protection\n%commit\n");
        radioKey_ = radio.Gpg({"--armor", "--export", "IDRVX4400W"}).output;
        recipientFile_ = folder_ + "/recipient.asc";
        std::ofstream(recipientFile_) << radioKey_;
    }

    void Populate()
    {
        const auto start = std::chrono::steady_clock::now();
        store_->saveZone({1, "North"});
        store_->saveZone({2, "South"});
        for (int channel = 1; channel <= 16; ++channel)
            store_->saveChannel({channel, "Channel " + std::to_string(channel), channel <= 8 ? 1 : 2});
        store_->addRouter({"192.0.2.10", 3301});
        for (int unit = 0; unit < kUnits; ++unit) {
            store_->storeUnitKey(CodeOf(unit), std::string(32, 'F') + CodeOf(unit), radioKey_, "020000000001");
            store_->registerUnit(CodeOf(unit), "Unit " + std::to_string(unit),
                                 "Account " + std::to_string(unit / kUnitsPerAccount));
        }
        for (const PendingPush& push : store_->duePushes(0, kUnits))
            store_->pushDelivered(push);
        std::printf("%d units stored and registered in %.1f s\n", kUnits,
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }

    std::string folder_;
    std::string radioHome_;
    std::string radioKey_;
    std::string recipientFile_;
    std::unique_ptr<Store> store_;
    std::unique_ptr<ManagementCommon::GpgHome> gpg_;
    std::unique_ptr<ServerKey> key_;
    std::unique_ptr<RadioEndpoints> endpoints_;
    std::unique_ptr<HttpServer> server_;
    int port_ = 0;
};

Service& TheService()
{
    static Service service;
    return service;
}

void BM_SettingsRequestCached(benchmark::State& state)
{
    Service& service = TheService();
    std::atomic<int> next{0};
    for (auto _ : state) {
        if (!service.RequestSettings(next++ % kWarmUnits))
            state.SkipWithError("settings request failed");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SettingsRequestCached)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SettingsRequestCached)->Unit(benchmark::kMillisecond)->UseRealTime()->Threads(8)->Name(
    "BM_SettingsRequestCached/8_clients");

// Units never asked before: every request runs gpg.
std::atomic<int> nextFreshUnit{kWarmUnits};

void BM_SettingsRequestEncrypting(benchmark::State& state)
{
    Service& service = TheService();
    for (auto _ : state) {
        const int unit = nextFreshUnit++;
        if (unit >= kUnits) {
            state.SkipWithError("out of fresh units");
            break;
        }
        if (!service.RequestSettings(unit))
            state.SkipWithError("settings request failed");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SettingsRequestEncrypting)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SettingsRequestEncrypting)->Unit(benchmark::kMillisecond)->UseRealTime()->Threads(4)->Name(
    "BM_SettingsRequestEncrypting/4_clients");

// The reference: gpg signing and encrypting the same document, nothing else.
void BM_BareGpgSignEncrypt(benchmark::State& state)
{
    Service& service = TheService();
    const std::string document = settingsDocument(*service.store().settingsSnapshot(CodeOf(0)));
    for (auto _ : state) {
        const ManagementCommon::ProgramResult run = ManagementCommon::RunProgram(
            {"gpg", "--homedir", service.gpgHome(), "--batch", "--no-tty", "--pinentry-mode", "error",
             "--no-random-seed-file", "--trust-model",
             "always", "--armor", "--local-user", service.fingerprint(), "--recipient-file", service.recipientFile(),
             "--sign", "--encrypt"},
            document);
        if (run.exitCode != 0)
            state.SkipWithError("gpg failed");
    }
}
BENCHMARK(BM_BareGpgSignEncrypt)->Unit(benchmark::kMillisecond)->UseRealTime();

// The cached request's handler alone: lookups, cache read, last-seen write.
void BM_SettingsHandlerCachedWithoutHttp(benchmark::State& state)
{
    Service& service = TheService();
    int next = 0;
    for (auto _ : state) {
        HttpRequest request;
        request.method = "POST";
        request.path = "/api/devconf/get";
        request.body = "api_user=020000000001&uid=" + std::string(32, 'F') + CodeOf(next % kWarmUnits) +
                       "&kid=" + CodeOf(next % kWarmUnits) + "&type=WRVX";
        ++next;
        benchmark::DoNotOptimize(service.endpoints().handle(request));
    }
}
BENCHMARK(BM_SettingsHandlerCachedWithoutHttp)->Unit(benchmark::kMillisecond)->UseRealTime();

// An encrypting request's handler alone: what the service adds to gpg.
void BM_SettingsHandlerEncryptingWithoutHttp(benchmark::State& state)
{
    Service& service = TheService();
    for (auto _ : state) {
        const int unit = nextFreshUnit++;
        HttpRequest request;
        request.method = "POST";
        request.path = "/api/devconf/get";
        request.body = "api_user=020000000001&uid=" + std::string(32, 'F') + CodeOf(unit) + "&kid=" + CodeOf(unit) +
                       "&type=WRVX";
        if (unit >= kUnits || service.endpoints().handle(request).status != 200)
            state.SkipWithError("settings request failed");
    }
}
BENCHMARK(BM_SettingsHandlerEncryptingWithoutHttp)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LocationPost(benchmark::State& state)
{
    Service& service = TheService();
    int next = 0;
    for (auto _ : state) {
        httplib::Client client("127.0.0.1", service.port());
        const httplib::Result result =
            client.Post("/index.php/api/location/put",
                        httplib::Params{{"kid", CodeOf(next++ % kUnits)},
                                        {"lat", "45.50000000"},
                                        {"lon", "-122.25000000"},
                                        {"ts", "1700000000"}});
        if (!result || result->status != 200)
            state.SkipWithError("location post failed");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LocationPost)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    // Fewer repetitions than the default: each encrypting request uses up
    // one of the 10,000 units.
    std::vector<char*> arguments(argv, argv + argc);
    static char repetitions[] = "--benchmark_repetitions=3";
    arguments.insert(arguments.begin() + 1, repetitions);
    int count = static_cast<int>(arguments.size());
    TheService();
    return rvx::bench::RunWithRatios(
        count, arguments.data(),
        {{"BM_SettingsRequestCached/real_time", "BM_BareGpgSignEncrypt/real_time", "< 0.1: a restart storm runs no gpg"},
         {"BM_SettingsRequestEncrypting/real_time", "BM_BareGpgSignEncrypt/real_time", "< 1.3: little besides gpg"},
         {"BM_SettingsHandlerCachedWithoutHttp/real_time", "BM_SettingsRequestCached/real_time",
          "the handler's share of a cached request"},
         {"BM_SettingsHandlerEncryptingWithoutHttp/real_time", "BM_BareGpgSignEncrypt/real_time",
          "the encrypting handler against gpg alone"},
         {"BM_LocationPost/real_time", "BM_SettingsRequestCached/real_time", "about 1"}});
}
