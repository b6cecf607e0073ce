// The table of virtual sockets by descriptor. A socket stays registered
// until its descriptor is closed.
#pragma once

#include "Sys/Network/Socket.h"

#include <map>
#include <memory>

namespace Halvane::Sys {

class CSocketProvider
{
public:
    using SocketTable = std::map<unsigned int, std::unique_ptr<CSocket>>;

    CSocketProvider();
    virtual ~CSocketProvider();
    CSocketProvider(const CSocketProvider&) = delete;
    CSocketProvider& operator=(const CSocketProvider&) = delete;

    bool SocketExists(unsigned int descriptor) const;
    // The socket, or none (with a log line).
    CSocket* Socket(unsigned int descriptor) const;
    // Takes ownership, stores the descriptor in the socket and registers it.
    unsigned int OpenSocket(CSocket* socket, unsigned int descriptor);
    // The same under a free random descriptor.
    unsigned int OpenSocket(CSocket* socket);
    unsigned int AvailableDescriptor() const;
    // Removes the socket with its groups and queue; false when there is none.
    bool CloseSocket(unsigned int descriptor);

    // Every socket in descriptor order.
    const SocketTable& Sockets() const { return mSockets; }

private:
    SocketTable mSockets;
};

} // namespace Halvane::Sys
