// The operations the radio model uses on each of its three RTP streams. The
// media streams implement it; until they are attached, and in tests, stand-in
// streams do.
#pragma once

#include "VoiceKey.h"
#include "device_id.h"

#include <QObject>

#include <functional>
#include <memory>
#include <string>

class RadioStream : public QObject
{
    Q_OBJECT
public:
    ~RadioStream() override = default;

    // Points the stream at a multicast group; localPort is the port it binds.
    virtual void setChannelAddress(int localPort, const std::string& remoteAddress, int remoteRtpPort,
                                   int remoteRtcpPort) = 0;
    // The group the stream is pointed at ("" when none).
    virtual std::string remoteAddress() const = 0;
    virtual void leaveGroup(const std::string& address) = 0;
    // Joins the stream's current group again.
    virtual void viUpdateMulticastJoins() = 0;

    virtual void startTransmit() = 0;
    virtual void stopTransmit() = 0;

    virtual void playTone(int frequencyHz, int durationMs, float amplitude) = 0;
    virtual void stopTone() = 0;

    // Caller identity sent with the stream.
    virtual void setSsrc(device_id_t ssrc) = 0;
    virtual void setTalker(const std::string& name) = 0;
    virtual void setLocationText(const std::string& text) = 0;

    // What the stream does with voice from now on: clear, encrypted, or
    // nothing sent because the key is unusable. Clear until set.
    virtual void setVoicePrivacy(const ChannelPrivacy& /*privacy*/) {}

signals:
    // A station started talking (or another one took over).
    void coIncomingMediaStreamActive(device_id_t caller);
    // A station started talking encrypted under a key this radio does not
    // have: nothing of it is played.
    void coIncomingEncryptedStreamActive(device_id_t caller);
    void coIncomingMediaStreamInactive();
};

// The radio's streams by kind: 0 channel, 1 individual-call receive,
// 2 individual-call transmit; pin is the stream's place in the audio mixer.
enum class RadioStreamKind { Channel = 0, IndividualCallRx = 1, IndividualCallTx = 2 };
using RadioStreamFactory = std::function<std::unique_ptr<RadioStream>(RadioStreamKind kind, int pin)>;

// The part of the audio channel the radio drives: the public-address loop.
class RadioAudioOutput
{
public:
    virtual ~RadioAudioOutput() = default;
    virtual void setBranchMuted(int branch, bool muted) = 0;
};
