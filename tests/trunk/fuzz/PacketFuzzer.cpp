// libFuzzer target for the trunk library's two parsers of outside input: the
// packet factory (datagrams from the routers) and the dotted-quad parser
// (group and router addresses). Besides memory errors it checks that a
// parsed packet encodes back to the bytes it came from.
#include "Packet/Packet.h"
#include "debug_log_control.h"
#include "halvane2.h"

#include <arpa/inet.h>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

void Require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

void FuzzPacketFactory(const std::uint8_t* data, std::size_t size)
{
    const auto length = static_cast<unsigned int>(size > 0xFFFFFFFFu ? 0xFFFFFFFFu : size);
    const auto packet = Halvane::Packet::CPacket::CreatePacket(data, length);
    if (!packet)
        return;
    Require(packet->EncodedSize() <= Halvane::Packet::CPacket::kMaxDatagramSize);
    unsigned char encoded[Halvane::Packet::CPacket::kMaxDatagramSize];
    packet->Encode(encoded);
    // A subscription keeps its 13 bytes only; every other type all of them.
    const std::size_t expected = packet->Type() == Halvane::Packet::kTypeSubscription ? 13 : size;
    Require(packet->EncodedSize() == expected);
    Require(std::memcmp(encoded, data, expected) == 0);

    const Halvane::Packet::CPacket copy(*packet);
    Require(copy.PayloadLength() == packet->PayloadLength());
    Require(std::memcmp(copy.Payload(), packet->Payload(), copy.PayloadLength()) == 0);
}

void FuzzDottedQuad(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    unsigned char strict[4], loose[4];
    const int strictResult = Halvane::inet_pton4(text.c_str(), strict, 1);
    const int looseResult = Halvane::inet_pton4(text.c_str(), loose, 0);
    Require(strictResult == 0 || strictResult == 1);
    Require(looseResult == 0 || looseResult == 1);
    if (strictResult != 1) {
        Require(GetGroupIdFromIpAddress(text.c_str()) == 0);
        return;
    }
    // What the strict form accepts, the loose form reads the same way, and
    // it formats back to text that parses to the same address.
    Require(looseResult == 1 && std::memcmp(strict, loose, 4) == 0);
    char dotted[16];
    Require(Halvane::inet_ntop4(strict, dotted, sizeof dotted) != nullptr);
    unsigned char again[4];
    Require(Halvane::inet_pton4(dotted, again, 1) == 1 && std::memcmp(strict, again, 4) == 0);
    std::uint32_t networkOrder = 0;
    std::memcpy(&networkOrder, strict, 4);
    Require(GetGroupIdFromIpAddress(text.c_str()) == ntohl(networkOrder));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Refusals are logged; at fuzzing speed that output is only noise.
    debug_log_set_sink([](const char*, std::size_t) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzPacketFactory(data, size);
    FuzzDottedQuad(data, size);
    return 0;
}
