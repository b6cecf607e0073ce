// A second radio for two-radio tests, run as its own process in its own
// network namespace: one channel stream on the audio channel of the shared
// test sound server, listening or talking on a group, for a given time.
// Arguments: ready-file codec local-port group remote-port talk|listen seconds
// [router-address router-port] [device-id, hexadecimal; B0B0B0 when left
// out]. The environment variable RVX_PEER_VOICE_KEY, when set, is the
// channel's crypto attribute. It starts once ready-file exists (its network
// is configured by then), prints "ACTIVE id" when it hears a station and
// "ENCRYPTED id" when it hears encrypted voice it has no key for, and when
// it ends prints how many RTP packets it sent ("SENT n").
#include "DeviceIdentity.h"
#include "HalvaneChannel.h"
#include "HardwareAudioChannel.h"
#include "MediaLibrary.h"
#include "TrunkCalls.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <mediastreamer2/mssndcard.h>
#include <string>
#include <sys/stat.h>
#include <thread>

namespace {

bool WaitForFile(const char* path)
{
    struct stat info;
    for (int i = 0; i < 500; ++i) {
        if (stat(path, &info) == 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 8 || argc > 11 || !WaitForFile(argv[1]))
        return 2;
    // An odd number of arguments after the seven fixed ones ends in the id.
    const bool idGiven = (argc - 8) % 2 == 1;
    const bool routerGiven = argc - 8 >= 2;
    const device_id_t deviceId = idGiven ? static_cast<device_id_t>(std::stoul(argv[argc - 1], nullptr, 16))
                                         : 0x00B0B0B0;
    // The radio knows its own id, as a radio with its key does: its own
    // packets coming back (looped multicast, the relay's echo) are skipped.
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08X", deviceId);
    const std::string keyId = hex;
    setKeyIdSource([keyId] { return keyId; });
    QCoreApplication application(argc, argv);
    initMediaLibrary();
    ms_snd_card_manager_reload(ms_factory_get_snd_card_manager(mediaFactory()));
    registerPayloadTypes();
    trunk::initInterface(deviceId, 0, "veth", nullptr);
    if (routerGiven)
        trunk::initRouting(argv[8], static_cast<unsigned>(std::atoi(argv[9])));

    const int localPort = std::atoi(argv[3]);
    const int remotePort = std::atoi(argv[5]);
    HalvaneChannel stream(0, 0, {argv[2], "20"});
    if (const char* key = std::getenv("RVX_PEER_VOICE_KEY"))
        stream.setVoicePrivacy(readChannelPrivacy(key, ""));
    auto report = [](const char* what, device_id_t id) {
        std::printf("%s %08X\n", what, id);
        std::fflush(stdout);
    };
    QObject::connect(&stream, &RadioStream::coIncomingMediaStreamActive, &application,
                     [&](device_id_t id) { report("ACTIVE", id); });
    QObject::connect(&stream, &RadioStream::coIncomingEncryptedStreamActive, &application,
                     [&](device_id_t id) { report("ENCRYPTED", id); });
    HardwareAudioChannel::Options cards;
    cards.readSettings = false;
    HardwareAudioChannel audio(cards);
    audio.attachMediaStream(&stream);
    stream.setSsrc(deviceId);
    stream.setChannelAddress(localPort, argv[4], remotePort, remotePort + 1);
    if (std::string(argv[6]) == "talk")
        stream.startTransmit();
    std::printf("READY\n");
    std::fflush(stdout);
    QTimer::singleShot(std::atoi(argv[7]) * 1000, &application, &QCoreApplication::quit);
    application.exec();
    stream.stopTransmit();
    audio.detachTicker();
    std::printf("SENT %llu\n", static_cast<unsigned long long>(rtp_session_get_stats(stream.session())->packet_sent));
    std::fflush(stdout);
    return 0;
}
