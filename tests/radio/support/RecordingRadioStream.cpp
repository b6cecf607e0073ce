// Recording stand-in streams: each call becomes one line of the shared log.
#include "RecordingRadioStream.h"

#include <cstdio>

namespace rvx::test {

RecordingRadioStream::RecordingRadioStream(std::string label, std::shared_ptr<CallLog> log)
    : label_(std::move(label)), log_(std::move(log))
{
}

void RecordingRadioStream::record(const std::string& call)
{
    log_->push_back(label_ + " " + call);
}

void RecordingRadioStream::setChannelAddress(int localPort, const std::string& remoteAddress, int remoteRtpPort,
                                             int remoteRtcpPort)
{
    address_ = remoteAddress;
    record("setChannelAddress " + std::to_string(localPort) + " " + remoteAddress + " " +
           std::to_string(remoteRtpPort) + " " + std::to_string(remoteRtcpPort));
}

void RecordingRadioStream::leaveGroup(const std::string& address)
{
    record("leaveGroup " + address);
}

void RecordingRadioStream::viUpdateMulticastJoins()
{
    record("viUpdateMulticastJoins");
}

void RecordingRadioStream::startTransmit()
{
    record("startTransmit");
}

void RecordingRadioStream::stopTransmit()
{
    record("stopTransmit");
}

void RecordingRadioStream::playTone(int frequencyHz, int durationMs, float amplitude)
{
    char text[64];
    std::snprintf(text, sizeof text, "playTone %d %d %.1f", frequencyHz, durationMs, amplitude);
    record(text);
}

void RecordingRadioStream::stopTone()
{
    record("stopTone");
}

void RecordingRadioStream::setSsrc(device_id_t ssrc)
{
    char text[32];
    std::snprintf(text, sizeof text, "setSsrc %08X", ssrc);
    record(text);
}

void RecordingRadioStream::setTalker(const std::string& name)
{
    record("setTalker " + name);
}

void RecordingRadioStream::setLocationText(const std::string& text)
{
    record("setLocationText " + text);
}

RadioStreamFactory RecordingStreams::factory()
{
    return [this](RadioStreamKind kind, int) -> std::unique_ptr<RadioStream> {
        static const char* const labels[] = {"ch", "rx", "tx"};
        auto stream = std::make_unique<RecordingRadioStream>(labels[static_cast<int>(kind)], log);
        RecordingRadioStream*& slot =
            kind == RadioStreamKind::Channel ? channel : kind == RadioStreamKind::IndividualCallRx ? individualRx : individualTx;
        slot = stream.get();
        return stream;
    };
}

} // namespace rvx::test
