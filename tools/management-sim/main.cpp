// rvx-management-sim: a management service for enrolling radios and serving
// their settings in tests and demos, and the client of its administration.
#include "SimulatorServer.h"

#include <httplib.h>

#include <csignal>
#include <fstream>
#include <iostream>
#include <map>
#include <pthread.h>
#include <sstream>
#include <thread>
#include <vector>

#ifndef RVX_SIM_SERVER_SECRET_KEY
#define RVX_SIM_SERVER_SECRET_KEY ""
#endif
#ifndef RVX_SIM_SERVER_FINGERPRINT
#define RVX_SIM_SERVER_FINGERPRINT ""
#endif

namespace {

const char* const kUsage =
    "Usage:\n"
    "  rvx-management-sim [--listen ADDRESS] [--port N] [--gnupg-home DIR]\n"
    "                     [--server-key FILE --server-fingerprint FPR] [--demo FILE]\n"
    "      serve (default 127.0.0.1:8480; port 0 takes a free one)\n"
    "  rvx-management-sim [--port N] register CODE ACCOUNT   register a unit by its registration code\n"
    "  rvx-management-sim [--port N] set-settings CODE FILE  serve FILE as the unit's settings document\n"
    "  rvx-management-sim [--port N] unregister CODE         remove a unit's registration\n"
    "  rvx-management-sim [--port N] list                    units, keys, registrations, last locations\n"
    "  rvx-management-sim [--port N] push CODE RELAY_CONTROL_SOCKET\n"
    "      ask the relay on this host to tell the unit that its settings changed\n"
    "The server key shipped by default is for tests and demos only.\n";

struct CommandLine
{
    ManagementSim::SimulatorOptions options;
    std::vector<std::string> words;  // an administration command, or none to serve
};

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

bool Parse(int argc, char** argv, CommandLine& line, std::string& error)
{
    line.options.serverSecretKeyFile = RVX_SIM_SERVER_SECRET_KEY;
    line.options.serverFingerprint = RVX_SIM_SERVER_FINGERPRINT;
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool takesValue = argument == "--listen" || argument == "--port" || argument == "--gnupg-home" ||
                                argument == "--server-key" || argument == "--server-fingerprint" ||
                                argument == "--demo";
        if (!takesValue) {
            line.words.push_back(argument);
            continue;
        }
        if (i + 1 >= arguments.size()) {
            error = argument + " needs a value";
            return false;
        }
        const std::string& value = arguments[++i];
        if (argument == "--listen")
            line.options.listenAddress = value;
        else if (argument == "--port")
            line.options.port = std::atoi(value.c_str());
        else if (argument == "--gnupg-home")
            line.options.gnupgHome = value;
        else if (argument == "--server-key")
            line.options.serverSecretKeyFile = value;
        else if (argument == "--server-fingerprint")
            line.options.serverFingerprint = value;
        else
            line.options.demoDocument = ReadFile(value);
    }
    if (line.options.port < 0 || line.options.port > 65535) {
        error = "port out of range";
        return false;
    }
    return true;
}

// Serves until SIGINT or SIGTERM, which are waited for on this thread.
int Serve(const ManagementSim::SimulatorOptions& options)
{
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    ManagementSim::SimulatorServer server(options);
    std::string error;
    if (!server.Open(error)) {
        std::cerr << "rvx-management-sim: " << error << "\n";
        return 1;
    }
    std::cout << "rvx-management-sim listening on " << options.listenAddress << ":" << server.Port() << std::endl;
    std::thread serving([&server] { server.Run(); });
    int received = 0;
    sigwait(&stopSignals, &received);
    server.Stop();
    serving.join();
    return 0;
}

int Administer(const CommandLine& line)
{
    const std::vector<std::string>& words = line.words;
    const std::map<std::string, std::size_t> argumentCounts = {
        {"register", 2}, {"set-settings", 2}, {"unregister", 1}, {"list", 0}, {"push", 2}};
    const auto found = argumentCounts.find(words[0]);
    if (found == argumentCounts.end() || words.size() != found->second + 1) {
        std::cerr << kUsage;
        return 2;
    }
    httplib::Params form;
    std::string path = "/admin/" + words[0];
    if (words[0] == "list") {
        path = "/admin/units";
    } else {
        form.emplace("code", words[1]);
        if (words[0] == "register")
            form.emplace("account", words[2]);
        if (words[0] == "set-settings") {
            path = "/admin/settings";
            form.emplace("document", ReadFile(words[2]));
        }
        if (words[0] == "push")
            form.emplace("relay_control", words[2]);
    }
    httplib::Client client("127.0.0.1", line.options.port);
    client.set_connection_timeout(3);
    client.set_read_timeout(10);
    const httplib::Result result = client.Post(path.c_str(), form);
    if (!result) {
        std::cerr << "rvx-management-sim: no simulator answered on 127.0.0.1:" << line.options.port << "\n";
        return 1;
    }
    std::cout << result->body;
    return result->status == 200 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    CommandLine line;
    std::string error;
    if (!Parse(argc, argv, line, error)) {
        std::cerr << "rvx-management-sim: " << error << "\n" << kUsage;
        return 2;
    }
    if (!line.words.empty() && (line.words[0] == "--help" || line.words[0] == "-h")) {
        std::cout << kUsage;
        return 0;
    }
    return line.words.empty() ? Serve(line.options) : Administer(line);
}
