// Chooses the machine's MAC address from its network interfaces and keeps
// the last one found for the requests to the management service.
#include "MacAddress.h"

#include "PersistentQSettings.h"
#include "debug_log.h"

#include <QNetworkInterface>
#include <QRegularExpression>

#include <mutex>

namespace {

constexpr int kLongestMacText = 19;

std::mutex lastFoundMutex;
std::string lastFound;

QVector<NetworkAdapter> systemAdapters()
{
    QVector<NetworkAdapter> adapters;
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        const auto flags = interface.flags();
        adapters.push_back({interface.hardwareAddress().toUpper(), flags.testFlag(QNetworkInterface::IsUp),
                            flags.testFlag(QNetworkInterface::IsLoopBack)});
    }
    return adapters;
}

void compareWithStoredAddress(const QString& address)
{
    const QString stored = PersistentQSettings::instance()->value(QStringLiteral("mac_address")).toString();
    const QByteArray text = address.toLatin1();
    if (stored == address)
        debug_log_printf("DISPLAY_MAC_ADDRESS", "MAC Address, %s was found on this machine\n", text.constData());
    else
        debug_log_printf("DISPLAY_MAC_ADDRESS", "MAC Address, %s doesn't match the one specified in the settings.\n",
                         text.constData());
    if (stored != address)
        PersistentQSettings::instance()->setValue(QStringLiteral("mac_address"), address);
}

// Tunnels (tun, wg, ppp) are up but have no hardware address; some report
// one of all zeros. Neither can name the unit.
bool hasHardwareAddress(const NetworkAdapter& adapter)
{
    return adapter.hardwareAddress.contains(QRegularExpression(QStringLiteral("[1-9A-Fa-f]")));
}

} // namespace

QString firstUsableHardwareAddress(const QVector<NetworkAdapter>& adapters)
{
    for (const NetworkAdapter& adapter : adapters)
        if (adapter.up && !adapter.loopback && hasHardwareAddress(adapter))
            return adapter.hardwareAddress;
    return QString();
}

std::string getMacAddressFrom(const QVector<NetworkAdapter>& adapters)
{
    const QString address = firstUsableHardwareAddress(adapters);
    std::lock_guard<std::mutex> lock(lastFoundMutex);
    if (address.isEmpty())
        return lastFound;
    compareWithStoredAddress(address);
    lastFound = QString(address).remove(QLatin1Char(':')).left(kLongestMacText).toLatin1().toStdString();
    debug_log_printf("DISPLAY_MAC_ADDRESS", "Using MAC Address: %s\n", lastFound.c_str());
    return lastFound;
}

std::string getMacAddress()
{
    return getMacAddressFrom(systemAdapters());
}
