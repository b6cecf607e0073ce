// A stand-in for the radio's media streams that records every operation the
// radio calls on it, in one log shared by all streams so the order across
// streams shows; tests and the radio model demo use it.
#pragma once

#include "RadioStream.h"

#include <memory>
#include <string>
#include <vector>

namespace rvx::test {

// Lines such as "ch playTone 800 150 0.3", in call order.
using CallLog = std::vector<std::string>;

class RecordingRadioStream : public RadioStream
{
    Q_OBJECT
public:
    RecordingRadioStream(std::string label, std::shared_ptr<CallLog> log);

    void setChannelAddress(int localPort, const std::string& remoteAddress, int remoteRtpPort,
                           int remoteRtcpPort) override;
    std::string remoteAddress() const override { return address_; }
    void leaveGroup(const std::string& address) override;
    void viUpdateMulticastJoins() override;
    void startTransmit() override;
    void stopTransmit() override;
    void playTone(int frequencyHz, int durationMs, float amplitude) override;
    void stopTone() override;
    void setSsrc(device_id_t ssrc) override;
    void setTalker(const std::string& name) override;
    void setLocationText(const std::string& text) override;
    // Kept rather than logged, so that the call logs of clear plans stay
    // as they are.
    void setVoicePrivacy(const ChannelPrivacy& privacy) override { privacy_ = privacy; }
    const ChannelPrivacy& voicePrivacy() const { return privacy_; }

    // Lets a test play the media side: a station starts or stops talking.
    void becomeActive(device_id_t caller) { emit coIncomingMediaStreamActive(caller); }
    void becomeActiveEncrypted(device_id_t caller) { emit coIncomingEncryptedStreamActive(caller); }
    void becomeInactive() { emit coIncomingMediaStreamInactive(); }

private:
    void record(const std::string& call);

    std::string label_;
    std::shared_ptr<CallLog> log_;
    std::string address_;
    ChannelPrivacy privacy_;
};

// Makes recording streams labelled "ch", "rx" and "tx" by kind, keeping
// pointers to them for the test.
struct RecordingStreams
{
    std::shared_ptr<CallLog> log = std::make_shared<CallLog>();
    RecordingRadioStream* channel = nullptr;
    RecordingRadioStream* individualRx = nullptr;
    RecordingRadioStream* individualTx = nullptr;

    RadioStreamFactory factory();
};

} // namespace rvx::test
