// A private network namespace for tests: unshare, loopback up, multicast
// routed over loopback. Done with ioctls, so no outside command is run.
#include "NetNamespace.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <net/if.h>
#include <net/route.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace rvx::test {

namespace {

std::string SystemError(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

bool BringLoopbackUp(int control, std::string& why)
{
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    if (ioctl(control, SIOCGIFFLAGS, &request) != 0) {
        why = SystemError("reading the flags of lo");
        return false;
    }
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP | IFF_RUNNING);
    if (ioctl(control, SIOCSIFFLAGS, &request) != 0) {
        why = SystemError("bringing lo up");
        return false;
    }
    return true;
}

void SetIpv4(sockaddr& address, const char* dotted)
{
    sockaddr_in ipv4{};
    ipv4.sin_family = AF_INET;
    inet_pton(AF_INET, dotted, &ipv4.sin_addr);
    std::memcpy(&address, &ipv4, sizeof ipv4);
}

bool RouteMulticastOverLoopback(int control, std::string& why)
{
    rtentry route{};
    SetIpv4(route.rt_dst, "224.0.0.0");
    SetIpv4(route.rt_genmask, "240.0.0.0");
    route.rt_flags = RTF_UP;
    char device[] = "lo";
    route.rt_dev = device;
    if (ioctl(control, SIOCADDRT, &route) != 0 && errno != EEXIST) {
        why = SystemError("routing 224.0.0.0/4 over lo");
        return false;
    }
    return true;
}

bool Enter(std::string& why)
{
    if (unshare(CLONE_NEWNET) != 0) {
        why = SystemError("unshare(CLONE_NEWNET)");
        return false;
    }
    const int control = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (control < 0) {
        why = SystemError("socket");
        return false;
    }
    const bool ready = BringLoopbackUp(control, why) && RouteMulticastOverLoopback(control, why);
    close(control);
    return ready;
}

} // namespace

bool EnterPrivateNetNamespace(std::string* why)
{
    static std::once_flag once;
    static bool entered = false;
    static std::string reason;
    std::call_once(once, [] { entered = Enter(reason); });
    if (why)
        *why = reason;
    return entered;
}

} // namespace rvx::test
