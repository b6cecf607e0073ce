// The table of virtual sockets and its random free descriptors.
#include "Sys/Network/SocketProvider.h"

#include "debug_log.h"

#include <cstdlib>

namespace Halvane::Sys {

namespace {

// The C library's rand() with -1 read as 0, as descriptors are unsigned.
unsigned int RandomValue()
{
    const int value = std::rand();
    return value == -1 ? 0u : static_cast<unsigned int>(value);
}

} // namespace

CSocketProvider::CSocketProvider() = default;

CSocketProvider::~CSocketProvider() = default;

bool CSocketProvider::SocketExists(unsigned int descriptor) const
{
    return mSockets.count(descriptor) != 0;
}

CSocket* CSocketProvider::Socket(unsigned int descriptor) const
{
    const auto found = mSockets.find(descriptor);
    if (found == mSockets.end()) {
        debug_log_output_string("Socket doesn't exist");
        return nullptr;
    }
    return found->second.get();
}

unsigned int CSocketProvider::OpenSocket(CSocket* socket, unsigned int descriptor)
{
    socket->SetDescriptor(descriptor);
    mSockets[descriptor].reset(socket);
    return descriptor;
}

unsigned int CSocketProvider::OpenSocket(CSocket* socket)
{
    return OpenSocket(socket, AvailableDescriptor());
}

unsigned int CSocketProvider::AvailableDescriptor() const
{
    unsigned int value = 0;
    for (int draw = 0; draw < 100; ++draw)
        value = RandomValue();
    while (SocketExists(value))
        value = RandomValue();
    return value;
}

bool CSocketProvider::CloseSocket(unsigned int descriptor)
{
    return mSockets.erase(descriptor) != 0;
}

} // namespace Halvane::Sys
