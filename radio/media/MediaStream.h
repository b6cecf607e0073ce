// One two-way RTP voice path: an oRTP session on a fixed local port, sent and
// received through the trunk, with a mediastreamer2 graph of an encoder
// feeding an RTP sender and an RTP receiver feeding a decoder and a tone
// generator. The audio channel joins the graph to the sound card by pin.
#pragma once

#include "CodecChoice.h"
#include "RadioStream.h"
#include "ReceiveActivity.h"
#include "RtpTrunkTransport.h"
#include "VoicePrivacy.h"
#include "debug_log_throttle.h"

#include <mediastreamer2/msfilter.h>
#include <mediastreamer2/msticker.h>
#include <ortp/ortp.h>

#include <atomic>
#include <mutex>
#include <string>

class HardwareAudioChannel;

// The graph record of a stream.
struct AudioStreamGraph
{
    RtpSession* session = nullptr;
    MSFilter* rtpsend = nullptr;
    MSFilter* rtprecv = nullptr;
    MSFilter* encoder = nullptr;
    MSFilter* decoder = nullptr;
    MSFilter* dtmfgen = nullptr;
    // Filled in by the audio channel when it attaches the stream.
    MSTicker* ticker = nullptr;
};

class MediaStream_t : public RadioStream, private RtpReceiveObserver
{
    Q_OBJECT
public:
    // Builds the session and graph; settings are voip_codec and
    // packet_interval as the local store holds them.
    MediaStream_t(int kind, int pin);
    MediaStream_t(int kind, int pin, const StreamSettings& settings);
    ~MediaStream_t() override;

    int kind() const { return kind_; }
    int pin() const { return pin_; }
    AudioStreamGraph* audioStream() { return &audioStream_; }
    RtpSession* session() const { return audioStream_.session; }
    HardwareAudioChannel* hac = nullptr;

    void setAddresses(int localPort, const std::string& remoteAddress, int remoteRtpPort, int remoteRtcpPort);
    std::string remoteAddress() const override;
    int localPort() const { return localPort_; }

    int joinGroup(const std::string& address);
    void leaveGroup(const std::string& address) override;

    // The audio channel calls these around graph changes it makes.
    void setTicker(MSTicker* ticker) { audioStream_.ticker = ticker; }
    // The ticker that runs the graph, or none. Changes from other threads
    // to the session hold its lock (TickerLock).
    MSTicker* ticker() const { return audioStream_.ticker; }

    // Voice privacy of the channel the stream is pointed at; the groups its
    // keys are bound to follow the addresses.
    void setVoicePrivacy(const ChannelPrivacy& privacy) override;
    VoicePrivacyCounters privacyCounters() const { return privacy_.counters(); }
    // The key identifier the stream sends under now, if encrypted.
    std::optional<SenderMki> sendingKeyIdentifier() const { return privacy_.sendingMki(); }

    // A transmission begins: the encoder starts from its initial state and
    // the first packet carries the marker bit, on which listeners restart
    // their decoders. A predictive codec (Speex) then starts each
    // transmission with both ends in step, instead of the decoder picking
    // up the encoder's state from the last transmission after concealing
    // the silence since. Main thread.
    void startTalkspurt();

public slots:
    void viUpdateMulticastJoins() override;

protected:
    // A received RTCP message, on the ticker thread.
    virtual void rtcpReceived(const unsigned char* message, int length);

private:
    void createSession(int jitterMs);
    void buildGraph(const StreamSettings& settings);
    void createCodecs(const char* mime, int sampleRate);
    void passCodecOptions(const CodecChoice& codec, const std::string& packetTime, PayloadType* pt);
    void connectSessionSignals();
    void forgetVirtualSockets();
    void applyPrivacyScopes();
    // On the ticker thread, inside the receiver's pass over the graph.
    void replaceDecoder(int payloadNumber);
    void setUpDecoder(MSFilter* decoder, const PayloadType* pt);
    void swapDecoder(MSFilter* decoder);
    void restartJitterBufferAtNextReceive();
    void restartPendingJitterBuffer();
    void setFilterSampleRate(MSFilter* filter, int rate, const char* what);

    static void onSsrcChanged(RtpSession* session, void* stream, void*, void*);
    static void onTimestampJump(RtpSession* session, void*, void*, void*);
    static void onPayloadTypeChanged(RtpSession* session, void* stream, void*, void*);

    void rtpPacketReceived(const unsigned char* packet, int length) override;
    void rtpNothingReceived() override;
    void rtcpMessageReceived(const unsigned char* message, int length) override;
    void rtpUnreadablePacketReceived(device_id_t ssrc) override;
    VoicePrivacy* voicePrivacy() override { return &privacy_; }
    void reportActivity(bool active, device_id_t ssrc);
    bool rtpTalkspurtStarts() override;
    // On the ticker thread, inside the receiver's pass: the decoder starts
    // from its initial state with the packet that starts a talkspurt.
    void restartDecoder();

    const int kind_;
    const int pin_;
    int localPort_ = 0;
    std::string remoteAddress_ = "0.0.0.0";
    int remoteRtpPort_ = 0;
    int remoteRtcpPort_ = 0;
    AudioStreamGraph audioStream_;
    // Only the ticker thread reads and writes these.
    ReceiveActivity activity_;
    device_id_t lastPacketSsrc_ = 0;
    // The clock of the payload the receiver now takes.
    int receiveClockRate_ = 0;
    bool jitterRestartPending_ = false;
    debug_log_throttle_t decoderChanges_{"Created", "decoders for payload type changes"};
    // Set on the main thread, taken by the sending transport.
    std::atomic<bool> talkspurtPending_{false};
    mutable std::mutex addressMutex_;
    ChannelPrivacy channelPrivacy_;
    VoicePrivacy privacy_;
};

// The voice scope (group address in host order) of a dotted address; 0
// for anything else.
VoiceScope voiceScopeOf(const std::string& address);

// A multicast address: its first dotted number, read as a decimal integer,
// lies in 224 to 239.
bool isMulticastAddress(const std::string& address);
