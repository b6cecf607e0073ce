// The media stream the radio uses: a MediaStream_t that carries this radio's
// identity (SSRC, talker name, location text) in its RTCP source description,
// reads the callers' identities from theirs into the contact list, starts and
// stops transmission and plays tones.
#pragma once

#include "MediaStream.h"

#include <functional>
#include <mutex>

class RadioContact;

class HalvaneChannel : public MediaStream_t
{
    Q_OBJECT
public:
    HalvaneChannel(int kind, int pin);
    HalvaneChannel(int kind, int pin, const StreamSettings& settings);

    void setChannelAddress(int localPort, const std::string& remoteAddress, int remoteRtpPort,
                           int remoteRtcpPort) override;

    void startTransmit() override;
    void stopTransmit() override;
    void playTone(int frequencyHz, int durationMs, float amplitude) override;
    void stopTone() override;

    void setSsrc(device_id_t ssrc) override;
    void setTalker(const std::string& name) override;
    void setLocationText(const std::string& text) override;
    void updateSourceDescription();

    // Where received caller identities go; the process-wide contact list
    // unless a test replaces it.
    using ContactSink = std::function<void(const RadioContact&)>;
    static void setContactSink(ContactSink sink);

protected:
    void rtcpReceived(const unsigned char* message, int length) override;

private:
    void sendSourceDescriptionNow();

    std::mutex identityMutex_;
    std::string talker_;
    std::string locationText_;
    device_id_t ssrc_ = 0;
};
