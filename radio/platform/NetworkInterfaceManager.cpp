// Selection of the network interface by cost and status, polled once a
// second on the manager's own thread.
#include "NetworkInterfaceManager.h"

#include "PlatformFiles.h"
#include "SettingsFileParser.h"
#include "debug_log.h"

#include <QThread>

#include <arpa/inet.h>
#include <cstdio>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

namespace {

// The first IPv4 address of the named interface; empty when it has none.
QString ipv4AddressOf(const std::string& name)
{
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return QString();
    QString address;
    for (const ifaddrs* entry = list; entry && address.isEmpty(); entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET || name != entry->ifa_name)
            continue;
        char text[INET_ADDRSTRLEN] = {};
        const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        if (::inet_ntop(AF_INET, &ipv4->sin_addr, text, sizeof text))
            address = QString::fromLatin1(text);
    }
    ::freeifaddrs(list);
    return address;
}

} // namespace

NetworkInterfaceManager_t::NetworkInterfaceManager_t(QObject* parent) : QObject(parent)
{
    // The state goes from the worker thread to the display's thread.
    qRegisterMetaType<NetworkState>();
}

NetworkInterfaceManager_t* NetworkInterfaceManager_t::instance()
{
    static NetworkInterfaceManager_t* manager = new NetworkInterfaceManager_t; // lives for the whole run
    return manager;
}

bool NetworkInterfaceManager_t::loadInterfaces()
{
    SettingsFileParser* settings = SettingsFileParser::getInstance();
    if (!settings)
        return false;
    return settings->readNetworkSection(*this);
}

void NetworkInterfaceManager_t::addInterface(const std::string& name, int cost)
{
    std::lock_guard<std::mutex> lock(interfacesMutex_);
    interfaces_.push_back(std::make_unique<NetworkInterface_t>(name, cost));
}

std::vector<std::pair<std::string, int>> NetworkInterfaceManager_t::interfaces() const
{
    std::vector<std::pair<std::string, int>> list;
    for (const NetworkInterface_t* entry : snapshot())
        list.emplace_back(entry->name(), entry->cost());
    return list;
}

QString NetworkInterfaceManager_t::selectedInterfaceName() const
{
    const NetworkInterface_t* selected = selected_.load();
    return selected ? QString::fromLatin1(selected->name().c_str()) : QString();
}

std::vector<const NetworkInterface_t*> NetworkInterfaceManager_t::snapshot() const
{
    std::lock_guard<std::mutex> lock(interfacesMutex_);
    std::vector<const NetworkInterface_t*> list;
    for (const auto& entry : interfaces_)
        list.push_back(entry.get());
    return list;
}

void NetworkInterfaceManager_t::worker_thread()
{
    debug_log_printf("DEBUG_NETWORK_INTERFACE_AVAILABILITY", "worker_thread polling for available network interfaces: \n");
    while (!stopRequested_) {
        runPass();
        QThread::msleep(static_cast<unsigned long>(passIntervalMs_.load()));
    }
}

void NetworkInterfaceManager_t::runPass()
{
    bool anyReported = false;
    const std::vector<const NetworkInterface_t*> available = availableInterfaces(snapshot(), anyReported);
    choose(available);

    const NetworkInterface_t* selected = selected_.load();
    const std::string selectedStatus = selected ? selected->status() : std::string();
    networkReady_ = selected && selectedStatus == "Ready";
    emit moUpdateNetworkReadyStatus(networkReady_);

    NetworkState state;
    state.reported = anyReported;
    state.ready = networkReady_;
    if (selected) {
        state.selectedInterface = QString::fromLatin1(selected->name().c_str());
        state.address = ipv4AddressOf(selected->name());
    }
    emit moUpdateNetworkState(state);

    if (!selected)
        debug_log_printf("DEBUG_NETWORK_INTERFACE_SELECTION", "No network interface is enabled\n");
    else
        debug_log_printf("DEBUG_NETWORK_INTERFACE_SELECTION", "Enabled network interface (%s) status: %s\n",
                         selected->name().c_str(), selectedStatus.c_str());
}

// Reads every status, writes the report file, and returns the usable ones;
// anyReported tells whether the platform gave any interface's status.
std::vector<const NetworkInterface_t*> NetworkInterfaceManager_t::availableInterfaces(const std::vector<const NetworkInterface_t*>& all,
                                                                                      bool& anyReported)
{
    FILE* report = std::fopen(PlatformFiles::path("/data/local/tmp/interface_status").c_str(), "w");
    const bool eth0Disabled = debug_log_is_enabled("DISABLE_ETH0");
    std::vector<const NetworkInterface_t*> available;
    for (const NetworkInterface_t* entry : all) {
        const std::string status = entry->status();
        anyReported = anyReported || status != "unknown";
        if (report)
            std::fprintf(report, "%s status:  %s\n", entry->name().c_str(), status.c_str());
        debug_log_printf("DEBUG_NETWORK_INTERFACE_AVAILABILITY_V", " status:  %s\n", status.c_str());
        if (NetworkInterface_t::isUsableStatus(status) && !(eth0Disabled && entry->name() == "eth0")) {
            available.push_back(entry);
            debug_log_printf("DEBUG_NETWORK_INTERFACE_AVAILABILITY", "%s(%s), ", entry->name().c_str(), status.c_str());
        }
    }
    debug_log_printf("DEBUG_NETWORK_INTERFACE_AVAILABILITY", "\n");
    if (report)
        std::fclose(report);
    return available;
}

void NetworkInterfaceManager_t::choose(const std::vector<const NetworkInterface_t*>& available)
{
    debug_log_printf("DEBUG_NETWORK_INTERFACE_SELECTION_V", "Number of available interfaces: %zu\n", available.size());
    const NetworkInterface_t* choice = nullptr;
    for (const NetworkInterface_t* entry : available) {
        if (!choice || entry->cost() < choice->cost()) // the first of equal costs wins
            choice = entry;
    }
    if (choice)
        debug_log_printf("DEBUG_NETWORK_INTERFACE_SELECTION_V", "Enabling network interface: %s\n", choice->name().c_str());

    if (choice != selected_.load()) {
        selected_ = choice;
        const std::string name = choice ? choice->name() : std::string("none");
        writeSelectedInterfaceFile(name);
        debug_log_printf("DEBUG_NETWORK_INTERFACE_SELECTION", "Switching selected interface to %s\n", name.c_str());
    }
    if (choice)
        emit moUpdateSelectedNetworkInterface(QString::fromLatin1(choice->name().c_str()));
}

void NetworkInterfaceManager_t::writeSelectedInterfaceFile(const std::string& name)
{
    const std::string path = PlatformFiles::path("/ipc/net/selected_interface");
    // Emptied first, so a shorter name never leaves the tail of a longer one.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        debug_log_printf_always("Unable to open %s for writing.\n", path.c_str());
        return;
    }
    if (::write(fd, name.data(), name.size()) != static_cast<ssize_t>(name.size()))
        debug_log_printf_always("Unable to write %s\n", path.c_str());
    ::close(fd);
}
