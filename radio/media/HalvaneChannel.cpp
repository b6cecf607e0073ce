// Transmission switching, tones and caller identity of a radio stream.
#include "HalvaneChannel.h"

#include "CallerIdentity.h"
#include "ContactsManager.h"
#include "HardwareAudioChannel.h"
#include "TickerLock.h"
#include "debug_log.h"
#include "debug_log_stream.h"

#include <cstdio>
#include <cstring>
#include <mediastreamer2/dtmfgen.h>
#include <mediastreamer2/msrtp.h>

namespace {

std::mutex sinkMutex;
HalvaneChannel::ContactSink contactSink;

void deliverContact(const RadioContact& contact)
{
    HalvaneChannel::ContactSink sink;
    {
        std::lock_guard<std::mutex> lock(sinkMutex);
        sink = contactSink;
    }
    if (sink)
        sink(contact);
    else
        ContactsManager::instance()->updateContact(contact);
}

} // namespace

HalvaneChannel::HalvaneChannel(int kind, int pin) : MediaStream_t(kind, pin) {}

HalvaneChannel::HalvaneChannel(int kind, int pin, const StreamSettings& settings) : MediaStream_t(kind, pin, settings)
{
}

void HalvaneChannel::setChannelAddress(int localPort, const std::string& remoteAddress, int remoteRtpPort,
                                       int remoteRtcpPort)
{
    debug_log_cout("DEBUG_MULTICAST_JOINS") << "This is " << "setChannelAddress" << "( " << remoteAddress << ", "
                                            << remoteRtpPort << ", " << remoteRtcpPort << ")" << "\n";
    setAddresses(localPort, remoteAddress, remoteRtpPort, remoteRtcpPort);
}

void HalvaneChannel::startTransmit()
{
    {
        TickerLock tickerLock(ticker());
        sendSourceDescriptionNow();
    }
    startTalkspurt();
    if (hac != nullptr)
        hac->setBranchMuted(pin(), false);
    else
        debug_log_printf_always("this->hac appears to be NULL. ");
    ms_filter_call_method_noarg(audioStream()->rtpsend, MS_RTP_SEND_UNMUTE);
}

void HalvaneChannel::stopTransmit()
{
    if (hac != nullptr)
        hac->setBranchMuted(pin(), true);
    else
        debug_log_printf_always("this->hac appears to be NULL. ");
    ms_filter_call_method_noarg(audioStream()->rtpsend, MS_RTP_SEND_MUTE);
}

void HalvaneChannel::playTone(int frequencyHz, int durationMs, float amplitude)
{
    MSDtmfGenCustomTone tone{};
    std::snprintf(tone.tone_name, sizeof tone.tone_name, "tone");
    tone.duration = durationMs;
    tone.frequencies[0] = frequencyHz;
    tone.frequencies[1] = frequencyHz;
    tone.amplitude = amplitude;
    tone.interval = 0;
    tone.repeat_count = 0;
    ms_filter_call_method(audioStream()->dtmfgen, MS_DTMF_GEN_PLAY_CUSTOM, &tone);
}

void HalvaneChannel::stopTone()
{
    ms_filter_call_method_noarg(audioStream()->dtmfgen, MS_DTMF_GEN_STOP);
}

void HalvaneChannel::setSsrc(device_id_t ssrc)
{
    {
        std::lock_guard<std::mutex> lock(identityMutex_);
        ssrc_ = ssrc;
    }
    {
        TickerLock tickerLock(ticker());
        rtp_session_set_ssrc(session(), ssrc);
    }
    updateSourceDescription();
}

void HalvaneChannel::setTalker(const std::string& name)
{
    {
        std::lock_guard<std::mutex> lock(identityMutex_);
        talker_ = name;
    }
    updateSourceDescription();
}

void HalvaneChannel::setLocationText(const std::string& text)
{
    {
        std::lock_guard<std::mutex> lock(identityMutex_);
        locationText_ = text;
    }
    updateSourceDescription();
}

// The session's description is freed and replaced: the ticker may be
// copying it into a report at this moment, so it is replaced between the
// ticker's passes.
void HalvaneChannel::updateSourceDescription()
{
    TickerLock tickerLock(ticker());
    std::lock_guard<std::mutex> lock(identityMutex_);
    char cname[33];
    std::snprintf(cname, sizeof cname, "%d", static_cast<int>(ssrc_));
    rtp_session_set_source_description(session(), cname, talker_.c_str(), nullptr, nullptr, locationText_.c_str(),
                                       nullptr, nullptr);
}

// Receivers read the source description as the second packet of a compound,
// so it goes out behind an empty receiver report, as in a regular report.
void HalvaneChannel::sendSourceDescriptionNow()
{
    mblk_t* sdes = rtp_session_create_rtcp_sdes_packet(session(), TRUE);
    if (sdes == nullptr)
        return;
    mblk_t* report = allocb(8, 0);
    const uint32_t ssrc = rtp_session_get_send_ssrc(session());
    const unsigned char header[8] = {0x80, 201, 0, 1, static_cast<unsigned char>(ssrc >> 24),
                                     static_cast<unsigned char>(ssrc >> 16), static_cast<unsigned char>(ssrc >> 8),
                                     static_cast<unsigned char>(ssrc)};
    std::memcpy(report->b_wptr, header, sizeof header);
    report->b_wptr += sizeof header;
    report->b_cont = sdes;
    rtp_session_rtcp_sendm_raw(session(), report);
}

void HalvaneChannel::rtcpReceived(const unsigned char* message, int length)
{
    if (const auto contact = trustedCallerIdentity(message, static_cast<std::size_t>(length)))
        deliverContact(*contact);
}

void HalvaneChannel::setContactSink(ContactSink sink)
{
    std::lock_guard<std::mutex> lock(sinkMutex);
    contactSink = std::move(sink);
}
