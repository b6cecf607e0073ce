// hv_recvfrom_rtp of queued trunk packets and of plain datagrams, against a
// plain recvfrom of the same datagrams. Runs in a private network namespace.
#include "BenchMain.h"
#include "UdpEndpoint.h"
#include "halvane2.h"

#include <arpa/inet.h>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kBatch = 64;

struct ReceiveSetup
{
    ReceiveSetup()
    {
        hv_init_interface(0x123456, 0, "lo", nullptr);
        receiver = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(receiver, reinterpret_cast<const sockaddr*>(&local), sizeof local);
        socklen_t length = sizeof local;
        getsockname(receiver, reinterpret_cast<sockaddr*>(&local), &length);
        port = ntohs(local.sin_port);
        hv_socket(receiver, AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        hv_set_socket_tx_only(receiver, true);
        hv_group_join(receiver, "226.1.2.3");
    }

    // A batch of distinct 200-byte datagrams (distinct, so that the
    // duplicate window lets every one through), waiting on the socket.
    void FillSocket()
    {
        unsigned char datagram[200] = {0x80, 0x60};
        for (int i = 0; i < kBatch; ++i) {
            ++sequence;
            std::memcpy(datagram + 4, &sequence, sizeof sequence);
            peer.SendTo(port, rvx::test::Bytes(datagram, datagram + sizeof datagram));
        }
    }

    void FillQueue()
    {
        unsigned char datagram[200] = {0x80, 0x60};
        for (int i = 0; i < kBatch; ++i)
            hv_queue_packet_to_socket_with_addr("226.1.2.3", datagram, sizeof datagram);
    }

    rvx::test::UdpEndpoint peer;
    int receiver = -1;
    unsigned short port = 0;
    unsigned long long sequence = 0;
};

ReceiveSetup& Setup()
{
    static ReceiveSetup setup;
    return setup;
}

template <typename Fill, typename Receive>
void ReceiveBatches(benchmark::State& state, Fill fill, Receive receive)
{
    unsigned char buffer[2000];
    for (auto _ : state) {
        state.PauseTiming();
        fill();
        state.ResumeTiming();
        for (int i = 0; i < kBatch; ++i)
            benchmark::DoNotOptimize(receive(buffer, sizeof buffer));
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_HvRecvfromRtpQueued(benchmark::State& state)
{
    ReceiveSetup& s = Setup();
    ReceiveBatches(state, [&] { s.FillQueue(); }, [&](unsigned char* buffer, int size) {
        return hv_recvfrom_rtp(s.receiver, buffer, size, 0, nullptr, nullptr);
    });
}
BENCHMARK(BM_HvRecvfromRtpQueued);

void BM_HvRecvfromRtpPlain(benchmark::State& state)
{
    ReceiveSetup& s = Setup();
    ReceiveBatches(state, [&] { s.FillSocket(); }, [&](unsigned char* buffer, int size) {
        sockaddr_in from{};
        int fromLength = sizeof from;
        return hv_recvfrom_rtp(s.receiver, buffer, size, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    });
}
BENCHMARK(BM_HvRecvfromRtpPlain);

void BM_PlainRecvfrom(benchmark::State& state)
{
    ReceiveSetup& s = Setup();
    ReceiveBatches(state, [&] { s.FillSocket(); }, [&](unsigned char* buffer, int size) {
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        return recvfrom(s.receiver, buffer, static_cast<size_t>(size), 0, reinterpret_cast<sockaddr*>(&from),
                        &fromLength);
    });
}
BENCHMARK(BM_PlainRecvfrom);

} // namespace

int main(int argc, char** argv)
{
    return rvx::bench::RunInPrivateNetNamespaceWithRatios(argc, argv,
                                     {{"BM_HvRecvfromRtpPlain", "BM_PlainRecvfrom", "<= 1.3"},
                                      {"BM_HvRecvfromRtpQueued", "BM_PlainRecvfrom", "informative"}});
}
