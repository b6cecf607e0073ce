// hv_sendto_rtp of a 200-byte datagram to a trunked group with one router,
// against the two plain sendto calls it stands for (group and router).
// Runs in a private network namespace: the multicast never leaves it.
#include "BenchMain.h"
#include "UdpEndpoint.h"
#include "halvane2.h"

#include <arpa/inet.h>
#include <memory>
#include <unistd.h>

namespace {

struct SendSetup
{
    SendSetup()
    {
        hv_init_interface(0x123456, 0, "lo", nullptr);
        hv_init_routing("127.0.0.1", router.Port());
        sender = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        trunk = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        hv_socket(sender, AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        group.sin_family = AF_INET;
        group.sin_port = htons(50000);
        inet_pton(AF_INET, "239.1.2.3", &group.sin_addr);
        routerAddress.sin_family = AF_INET;
        routerAddress.sin_port = htons(router.Port());
        inet_pton(AF_INET, "127.0.0.1", &routerAddress.sin_addr);
    }

    rvx::test::UdpEndpoint router;
    int sender = -1;
    int trunk = -1;
    sockaddr_in group{};
    sockaddr_in routerAddress{};
    unsigned char datagram[200] = {0x80, 0x60};
};

SendSetup& Setup()
{
    static SendSetup setup;
    return setup;
}

void BM_HvSendtoRtp(benchmark::State& state)
{
    SendSetup& s = Setup();
    for (auto _ : state)
        benchmark::DoNotOptimize(hv_sendto_rtp(s.sender, s.datagram, sizeof s.datagram, 0,
                                               reinterpret_cast<const sockaddr*>(&s.group), sizeof s.group));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HvSendtoRtp);

// What the library does at the system level: the plain send and one
// datagram (12 bytes longer) to the router.
void BM_TwoPlainSendto(benchmark::State& state)
{
    SendSetup& s = Setup();
    unsigned char tunnelled[212] = {0x02, 0x01};
    for (auto _ : state) {
        benchmark::DoNotOptimize(sendto(s.sender, s.datagram, sizeof s.datagram, 0,
                                        reinterpret_cast<const sockaddr*>(&s.group), sizeof s.group));
        benchmark::DoNotOptimize(sendto(s.trunk, tunnelled, sizeof tunnelled, 0,
                                        reinterpret_cast<const sockaddr*>(&s.routerAddress), sizeof s.routerAddress));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TwoPlainSendto);

} // namespace

int main(int argc, char** argv)
{
    return rvx::bench::RunInPrivateNetNamespaceWithRatios(argc, argv,
                                                          {{"BM_HvSendtoRtp", "BM_TwoPlainSendto", "<= 1.15"}});
}
