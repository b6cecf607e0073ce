// The MAC address that names this radio to the management service
// ("api_user" of every request).
#pragma once

#include <QString>
#include <QVector>

#include <string>

// What the address choice needs to know of one network interface.
struct NetworkAdapter
{
    QString hardwareAddress; // "AA:BB:CC:DD:EE:FF"
    bool up = false;
    bool loopback = false;
};

// The hardware address of the first adapter that is up, not a loopback and
// has a hardware address (not empty, not all zeros), in the order given;
// empty when there is none.
QString firstUsableHardwareAddress(const QVector<NetworkAdapter>& adapters);

// The chosen address without ":" separators (at most 19 characters), or the
// last one found when no adapter qualifies now (empty before the first).
// Looks at the interfaces again on every call and stores the address in
// the local setting "mac_address".
std::string getMacAddress();

// The same choice from a given adapter list; used by getMacAddress().
std::string getMacAddressFrom(const QVector<NetworkAdapter>& adapters);
