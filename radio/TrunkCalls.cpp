// Serialised calls into the trunk library (see TrunkCalls.h).
#include "TrunkCalls.h"

#include "halvane2.h"

#include <mutex>
#include <netinet/in.h>

namespace trunk {
namespace {

std::mutex& trunkMutex()
{
    static std::mutex mutex;
    return mutex;
}

template <typename Call>
auto locked(Call call)
{
    std::lock_guard<std::mutex> lock(trunkMutex());
    return call();
}

} // namespace

void initInterface(unsigned int deviceId, unsigned char tag, const char* interfaceName, void (*callback)(void))
{
    locked([&] { hv_init_interface(deviceId, tag, interfaceName, callback); });
}

void initRouting(const char* routerAddress, unsigned int routerPort)
{
    locked([&] { hv_init_routing(routerAddress, routerPort); });
}

int registerSocket(int descriptor)
{
    return locked([&] { return hv_socket(descriptor, AF_INET, SOCK_DGRAM, IPPROTO_UDP); });
}

void closeSocket(int descriptor)
{
    locked([&] { hv_close_socket(descriptor); });
}

void setSocketPort(int descriptor, int port)
{
    locked([&] { hv_set_socket_port(descriptor, port); });
}

void setSocketTxOnly(int descriptor, bool on)
{
    locked([&] { hv_set_socket_tx_only(descriptor, on); });
}

void groupJoin(int descriptor, const char* group)
{
    locked([&] { hv_group_join(descriptor, group); });
}

void groupLeave(int descriptor, const char* group)
{
    locked([&] { hv_group_leave(descriptor, group); });
}

void groupLeaveAll(int descriptor)
{
    locked([&] { hv_group_leave_all(descriptor); });
}

int sendRtp(int descriptor, const unsigned char* data, int length, int flags, const sockaddr* to, int toLength)
{
    return locked([&] { return hv_sendto_rtp(descriptor, data, length, flags, to, toLength); });
}

int sendRtcp(int descriptor, const unsigned char* data, int length, int flags, const sockaddr* to, int toLength)
{
    return locked([&] { return hv_sendto_rtcp(descriptor, data, length, flags, to, toLength); });
}

int receiveRtp(int descriptor, unsigned char* buffer, int size, int flags, sockaddr* from, int* fromLength)
{
    return locked([&] { return hv_recvfrom_rtp(descriptor, buffer, size, flags, from, fromLength); });
}

int receiveRtcp(int descriptor, unsigned char* buffer, int size, int flags, sockaddr* from, int* fromLength)
{
    return locked([&] { return hv_recvfrom_rtcp(descriptor, buffer, size, flags, from, fromLength); });
}

int queuePacketToGroup(const char* group, unsigned char* data, int length)
{
    return locked([&] { return hv_queue_packet_to_socket_with_addr(group, data, length); });
}

} // namespace trunk
