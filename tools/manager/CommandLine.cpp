// The commands, parsed with CLI11. Each command opens the store of the data
// folder, does its one change in one transaction and says what it did.
#include "CommandLine.h"

#include "DataFolder.h"
#include "GpgHome.h"
#include "ManagerService.h"
#include "PasswordHash.h"
#include "ServerKey.h"
#include "Store.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace Manager {

namespace {

const char* const kDescription =
    "rvx-manager: the management service of RVX4400w radios. Radios upload their key, fetch their settings "
    "(signed with the service's key and encrypted to theirs) and post their position; the operator registers "
    "units, edits the channel plan and pushes changes with the commands below.";

const char* const kFooter =
    "Data folder: --data DIR (before or after the command), else $RVX_MANAGER_DATA, else $STATE_DIRECTORY "
    "(systemd's StateDirectory=rvx-manager: /var/lib/rvx-manager for the system service), else "
    "$XDG_DATA_HOME/rvx-manager, else ~/.local/share/rvx-manager. Commands run by hand for the system service "
    "need --data /var/lib/rvx-manager (or RVX_MANAGER_DATA).\n"
    "It holds manager.db (the fleet, the units' keys and positions, and the server's secret key) and gnupg/ "
    "(the GnuPG home the server key is used from). `backup FILE` copies manager.db consistently, also while "
    "serving; that copy alone restores everything: put it as manager.db into an empty data folder and the "
    "server key is imported into a new gnupg/ at start. Keep backups as secret as the key.\n"
    "Radios pin the server key: give each radio the output of `fingerprint` (its settings dialog, or "
    "RVX4400_SERVER_FINGERPRINT) and the service address; they fetch the key itself from /api/server-key.";

struct Context
{
    std::string dataFolder;
};

std::unique_ptr<Store> OpenStore(const Context& context)
{
    prepareDataFolder(context.dataFolder);
    return std::make_unique<Store>(databasePath(context.dataFolder));
}

std::string TimeText(std::int64_t seconds)
{
    if (seconds <= 0)
        return "never";
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm utc{};
    ::gmtime_r(&time, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

bool ParseSwitch(const std::string& text, bool& value)
{
    if (text == "on" || text == "true" || text == "yes" || text == "1")
        value = true;
    else if (text == "off" || text == "false" || text == "no" || text == "0")
        value = false;
    else
        return false;
    return true;
}

int ParseNumber(const std::string& what, const std::string& text)
{
    std::size_t used = 0;
    int value = 0;
    try {
        value = std::stoi(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size())
        throw FleetError(what + " is not a number: " + text);
    return value;
}

void SetOption(Store& store, const std::string& key, const std::string& value)
{
    ServiceOptions options = store.options();
    if (key == "codec")
        options.codec = value;
    else if (key == "packet-interval")
        options.packetIntervalMs = ParseNumber("the packet interval", value);
    else if (key == "gps-interval")
        options.gpsIntervalSeconds = ParseNumber("the GPS interval", value);
    else if (key == "local-channels" || key == "demo-channels") {
        bool on = false;
        if (!ParseSwitch(value, on))
            throw FleetError(key + " is on or off: " + value);
        (key == "local-channels" ? options.localChannels : options.demoChannels) = on;
    } else {
        throw FleetError("unknown setting " + key +
                         " (codec, packet-interval, gps-interval, local-channels, demo-channels)");
    }
    store.setOptions(options);
}

void PrintOptions(Store& store)
{
    const ServiceOptions options = store.options();
    std::cout << "codec\t" << escapedField(options.codec) << "\n"
              << "packet-interval\t" << options.packetIntervalMs << "\n"
              << "gps-interval\t" << options.gpsIntervalSeconds << "\n"
              << "local-channels\t" << (options.localChannels ? "on" : "off") << "\n"
              << "demo-channels\t" << (options.demoChannels ? "on" : "off") << "\n";
}

// A line from standard input without its line end; echo off on a terminal.
std::string ReadSecretLine(const char* prompt, bool fromTerminal)
{
    termios saved{};
    if (fromTerminal) {
        std::cerr << prompt << std::flush;
        ::tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string line;
    const bool got = static_cast<bool>(std::getline(std::cin, line));
    if (fromTerminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::cerr << "\n";
    }
    if (!got)
        throw FleetError("no password on standard input");
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

void SetPassword(Store& store, bool passwordFromStdin)
{
    const bool terminal = ::isatty(STDIN_FILENO) != 0;
    if (!terminal && !passwordFromStdin)
        throw FleetError("standard input is no terminal: use --password-stdin to read the password from it");
    const std::string password = ReadSecretLine("New console password: ", terminal && !passwordFromStdin);
    if (!passwordFromStdin && ReadSecretLine("Again: ", terminal) != password)
        throw FleetError("the two passwords differ; nothing was changed");
    if (password.size() < 8)
        throw FleetError("the password needs at least 8 characters");
    store.setAdminPasswordHash(hashPassword(password));
}

void Backup(Store& store, const std::string& file)
{
    std::error_code error;
    if (std::filesystem::exists(file, error))
        throw FleetError(file + " exists already: name a new file");
    store.backupTo(file);
    ::chmod(file.c_str(), 0600);
}

// The server key, made on first use.
template <typename Use>
void WithServerKey(const Context& context, Use use)
{
    std::unique_ptr<Store> store = OpenStore(context);
    ManagementCommon::GpgHome gpg(gnupgHomePath(context.dataFolder), ManagementCommon::GpgHome::Agent::StopIfStartedHere);
    ServerKey key(gpg, *store, keyLockPath(context.dataFolder));
    key.ensure();
    use(key);
}

// The commands that need the store only; each gets its action.
class Commands
{
public:
    Commands(CLI::App& app, Context& context) : app_(app), context_(context) {}

    // A (sub)command whose action runs on the store after parsing.
    CLI::App* add(CLI::App& parent, const std::string& name, const std::string& description,
                  std::function<void(Store&)> action)
    {
        CLI::App* command = parent.add_subcommand(name, description);
        command->callback([this, action] { pending_ = action; });
        return command;
    }

    int run()
    {
        if (!pending_)
            return 0;
        try {
            std::unique_ptr<Store> store = OpenStore(context_);
            pending_(*store);
            return 0;
        } catch (const std::exception& error) {
            std::cerr << "rvx-manager: " << error.what() << "\n";
            return 1;
        }
    }

    void setOther(std::function<int()> action) { other_ = std::move(action); }
    int runOther() { return other_ ? other_() : -1; }

private:
    CLI::App& app_;
    Context& context_;
    std::function<void(Store&)> pending_;
    std::function<int()> other_;
};

} // namespace

std::string escapedField(const std::string& text)
{
    static const char hex[] = "0123456789abcdef";
    std::string escaped;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '\t')
            escaped += "\\t";
        else if (c == '\n')
            escaped += "\\n";
        else if (c == '\r')
            escaped += "\\r";
        else if (byte < 0x20 || byte == 0x7F) {
            escaped += "\\x";
            escaped += hex[byte >> 4];
            escaped += hex[byte & 0xF];
        } else
            escaped += c;
    }
    return escaped;
}

int runCommandLine(int argc, char** argv)
{
    CLI::App app(kDescription, "rvx-manager");
    app.footer(kFooter);
    app.set_version_flag("--version", std::string("rvx-manager ") + RVX_MANAGER_VERSION, "print the version and exit");
    app.fallthrough();  // --data also after the command
    app.require_subcommand(1);
    Context context;
    app.add_option("--data", context.dataFolder, "the data folder (see below)");
    Commands commands(app, context);

    ServeOptions serveOptions;
    CLI::App* serveCommand = app.add_subcommand("serve", "run the service until SIGINT or SIGTERM");
    serveCommand->add_option("--listen", serveOptions.radioListen, "the radios' listener ADDRESS:PORT")
        ->capture_default_str();
    serveCommand->add_option("--admin-listen", serveOptions.adminListen, "the web console's listener ADDRESS:PORT")
        ->capture_default_str();
    serveCommand->add_option("--relay-control", serveOptions.relayControls,
                             "a relay's control socket for settings-changed notices (repeatable)")
        ->allow_extra_args(false);
    serveCommand->add_option("--workers", serveOptions.workers, "request handler threads")->capture_default_str();
    serveCommand->add_option("--push-rate", serveOptions.noticesPerSecond, "settings-changed notices per second at most")
        ->capture_default_str();
    serveCommand->add_option("--max-connections", serveOptions.maxConnections, "open connections per listener at most")
        ->capture_default_str();
    serveCommand->add_option("--max-per-client", serveOptions.maxConnectionsPerClient,
                             "open connections per client address at most")
        ->capture_default_str();
    serveCommand->callback([&] {
        commands.setOther([&] {
            serveOptions.dataFolder = context.dataFolder;
            return serve(serveOptions);
        });
    });

    app.add_subcommand("fingerprint", "print the server key's fingerprint (made on first use)")->callback([&] {
        commands.setOther([&] {
            WithServerKey(context, [](ServerKey& key) { std::cout << key.fingerprint() << "\n"; });
            return 0;
        });
    });
    app.add_subcommand("public-key", "print the server's armoured public key, for the radios' builds")->callback([&] {
        commands.setOther([&] {
            WithServerKey(context, [](ServerKey& key) { std::cout << key.publicKey(); });
            return 0;
        });
    });

    std::string code, name, account, file, key, value, address;
    int number = 0, zoneNumber = 0, port = 0;
    bool passwordFromStdin = false;

    CLI::App* registerCommand = commands.add(app, "register", "register the unit that shows CODE", [&](Store& store) {
        store.registerUnit(code, name, account);
        const std::optional<UnitRecord> unit = store.unit(code);
        std::cout << "registered " << unit->code << " as " << escapedField(unit->name) << " in account "
                  << escapedField(unit->account) << "\n";
    });
    registerCommand->add_option("CODE", code, "the registration code (8 hexadecimal digits)")->required();
    registerCommand->add_option("--name", name, "the caller-ID name (default: kept, or the code)");
    registerCommand->add_option("--account", account, "the account (default: kept, or Default)");

    commands.add(app, "unregister", "unregister a unit: it removes its settings at its next request",
                 [&](Store& store) {
                     store.unregisterUnit(code);
                     std::cout << "unregistered " << normalCode(code) << "\n";
                 })
        ->add_option("CODE", code, "the registration code")
        ->required();

    CLI::App* renameCommand = commands.add(app, "rename", "give a unit a new caller-ID name", [&](Store& store) {
        store.renameUnit(code, name);
        std::cout << "renamed " << normalCode(code) << "\n";
    });
    renameCommand->add_option("CODE", code, "the registration code")->required();
    renameCommand->add_option("NAME", name, "the new name")->required();

    commands.add(app, "units", "list units: code, name, account, registered, last seen (tab-separated, escaped)",
                 [&](Store& store) {
                     for (const UnitRecord& unit : store.units())
                         std::cout << unit.code << "\t" << escapedField(unit.name) << "\t" << escapedField(unit.account)
                                   << "\t" << (unit.registered ? "yes" : "no") << "\t" << TimeText(unit.lastSeen)
                                   << "\n";
                 });

    commands.add(app, "push", "send the unit a settings-changed notice", [&](Store& store) {
        store.pushSettings(code);
        std::cout << "notice queued for " << normalCode(code) << "\n";
    })->add_option("CODE", code, "the registration code")->required();

    CLI::App* zoneCommand = app.add_subcommand("zone", "add or remove a zone");
    zoneCommand->require_subcommand(1);
    CLI::App* zoneAdd = commands.add(*zoneCommand, "add", "add a zone or rename it", [&](Store& store) {
        store.saveZone(ZoneRecord{number, name});
    });
    zoneAdd->add_option("NUM", number, "the zone number")->required();
    zoneAdd->add_option("NAME", name, "its name")->required();
    commands.add(*zoneCommand, "remove", "remove a zone without channels", [&](Store& store) {
        store.removeZone(number);
    })->add_option("NUM", number, "the zone number")->required();
    commands.add(app, "zones", "list zones: number, name", [&](Store& store) {
        for (const ZoneRecord& zone : store.zones())
            std::cout << zone.number << "\t" << escapedField(zone.name) << "\n";
    });

    CLI::App* channelCommand = app.add_subcommand("channel", "add or remove a managed talk group");
    channelCommand->require_subcommand(1);
    CLI::App* channelAdd = commands.add(*channelCommand, "add", "add a talk group or change it", [&](Store& store) {
        store.saveChannel(ChannelRecord{number, name, zoneNumber});
    });
    channelAdd->add_option("NUM", number, "the talk group number (group 225.64.0.0 + NUM)")->required();
    channelAdd->add_option("NAME", name, "its name")->required();
    channelAdd->add_option("--zone", zoneNumber, "the zone it belongs to")->required();
    commands.add(*channelCommand, "remove", "remove a talk group", [&](Store& store) {
        store.removeChannel(number);
    })->add_option("NUM", number, "the talk group number")->required();
    commands.add(app, "channels", "list talk groups: number, name, zone number, zone name", [&](Store& store) {
        std::map<int, std::string> zoneNames;
        for (const ZoneRecord& zone : store.zones())
            zoneNames[zone.number] = zone.name;
        for (const ChannelRecord& channel : store.channels())
            std::cout << channel.number << "\t" << escapedField(channel.name) << "\t" << channel.zoneNumber << "\t"
                      << escapedField(zoneNames[channel.zoneNumber]) << "\n";
    });

    CLI::App* routerCommand = app.add_subcommand("router", "add or remove a relay router the radios use");
    routerCommand->require_subcommand(1);
    for (const char* verb : {"add", "remove"}) {
        const bool adding = std::string(verb) == "add";
        CLI::App* command = commands.add(*routerCommand, verb, adding ? "add a router" : "remove a router",
                                         [&, adding](Store& store) {
                                             if (adding)
                                                 store.addRouter(RouterRecord{address, port});
                                             else
                                                 store.removeRouter(RouterRecord{address, port});
                                         });
        command->add_option("ADDR", address, "its IPv4 address")->required();
        command->add_option("PORT", port, "its UDP port")->required();
    }
    commands.add(app, "routers", "list routers: ADDRESS:PORT", [&](Store& store) {
        for (const RouterRecord& router : store.routers())
            std::cout << router.address << ":" << router.port << "\n";
    });

    CLI::App* setCommand = commands.add(app, "set", "change a service option: codec, packet-interval (ms), "
                                                    "gps-interval (s), local-channels, demo-channels (on/off)",
                                        [&](Store& store) { SetOption(store, key, value); });
    setCommand->add_option("KEY", key, "the option")->required();
    setCommand->add_option("VALUE", value, "its new value")->required();
    commands.add(app, "options", "show the service options", [&](Store& store) { PrintOptions(store); });

    commands.add(app, "set-password", "set the web console's password (asked twice, without echo)",
                 [&](Store& store) {
                     SetPassword(store, passwordFromStdin);
                     std::cout << "console password set\n";
                 })
        ->add_flag("--password-stdin", passwordFromStdin, "read it once from standard input (for scripts)");

    commands.add(app, "backup", "copy the whole database (with the server key) to FILE, also while serving",
                 [&](Store& store) {
                     Backup(store, file);
                     std::cout << "backed up to " << file << "\n";
                 })
        ->add_option("FILE", file, "a new file")
        ->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        return status == 0 ? 0 : 2;
    }
    context.dataFolder = resolveDataFolder(context.dataFolder);
    try {
        const int other = commands.runOther();
        if (other >= 0)
            return other;
    } catch (const std::exception& error) {
        std::cerr << "rvx-manager: " << error.what() << "\n";
        return 1;
    }
    return commands.run();
}

} // namespace Manager
