// What the radio knows of its network connection, for the display: the
// interface the selection chose, whether it is ready and its address. When
// the platform reports the status of no interface at all (a desktop without
// the unit's network service) nothing is known, and nothing is shown.
#pragma once

#include <QMetaType>
#include <QString>

struct NetworkState
{
    bool reported = false;      // the platform gave a status for some interface
    QString selectedInterface;  // empty: none usable
    bool ready = false;
    QString address;            // the selected interface's IPv4 address, if any

    bool operator==(const NetworkState& other) const
    {
        return reported == other.reported && selectedInterface == other.selectedInterface && ready == other.ready &&
               address == other.address;
    }
};

Q_DECLARE_METATYPE(NetworkState)
