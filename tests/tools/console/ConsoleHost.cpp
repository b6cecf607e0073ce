// A test-only host for the web console: serves Console::handle over HTTP on
// 127.0.0.1 at a free port, with an in-memory fleet of three units (two of
// them with positions, one waiting to be registered), a few zones, talk
// groups and a router, and the password given as the first argument.
// Prints "PORT <n>" when it listens; ends when its standard input closes.
#include "Console.h"
#include "InMemoryFleet.h"

#include <httplib.h>
#include <sodium.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <ctime>
#include <thread>

using namespace Manager;

namespace {

void addFleet(InMemoryFleet& fleet)
{
    const std::int64_t now = std::time(nullptr);
    UnitRecord truck;
    truck.code = "1A2B3C4D";
    truck.name = "Truck 7";
    truck.account = "Default";
    truck.registered = truck.hasKey = true;
    truck.lastSeen = now - 300;
    truck.lastPosition = Position{45.5, -122.25, now - 320};
    truck.settingsVersion = 3;
    truck.pushState = "sent";
    fleet.addUnit(truck);

    UnitRecord base = truck;  // one degree of latitude north of the truck
    base.code = "5E6F7A8B";
    base.name = "Base";
    base.lastSeen = now - 7200;
    base.lastPosition = Position{46.5, -122.25, now - 7300};
    base.pushState = "failed: no answer";
    fleet.addUnit(base);

    UnitRecord fresh;
    fresh.code = "0C0FFEE0";
    fresh.hasKey = true;
    fresh.lastSeen = now - 40;
    fleet.addUnit(fresh);

    fleet.saveZone({1, "North"});
    fleet.saveZone({2, "South"});
    fleet.saveChannel({300, "Dispatch", 1});
    fleet.saveChannel({301, "Yard", 2});
    fleet.addRouter({"192.0.2.10", 3301});
}

HttpRequest requestOf(const httplib::Request& in)
{
    HttpRequest out;
    out.method = in.method;
    const std::string target = in.target.empty() ? in.path : in.target;
    const auto question = target.find('?');
    out.path = target.substr(0, question);
    if (question != std::string::npos)
        out.query = target.substr(question + 1);
    for (const auto& [name, value] : in.headers) {
        std::string lower = name;
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        out.headers[lower] = value;
    }
    out.body = in.body;
    out.peerAddress = in.remote_addr;
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2 || sodium_init() < 0) {
        std::fprintf(stderr, "usage: %s PASSWORD\n", argv[0]);
        return 2;
    }
    const std::string password = argv[1];
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(hash, password.c_str(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        return 1;

    InMemoryFleet fleet;
    addFleet(fleet);
    fleet.setAdminPasswordHash(hash);
    Console console(fleet);

    httplib::Server server;
    auto serve = [&console](const httplib::Request& in, httplib::Response& out) {
        const HttpResponse response = console.handle(requestOf(in));
        out.status = response.status;
        for (const auto& [name, value] : response.headers)
            out.set_header(name.c_str(), value);
        out.set_content(response.body, response.contentType.c_str());
    };
    server.Get(".*", serve);
    server.Post(".*", serve);
    const int port = server.bind_to_any_port("127.0.0.1");
    if (port <= 0)
        return 1;
    std::printf("PORT %d\n", port);
    std::fflush(stdout);
    std::thread watcher([&server] {
        char byte;
        while (read(STDIN_FILENO, &byte, 1) > 0) {
        }
        server.stop();
    });
    server.listen_after_bind();
    watcher.join();
    return 0;
}
