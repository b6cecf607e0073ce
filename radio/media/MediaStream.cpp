// Session, graph, addresses, group joins and session signals of a stream.
#include "MediaStream.h"

#include "ContactsManager.h"
#include "DeviceIdentity.h"
#include "MediaCheck.h"
#include "MediaLibrary.h"
#include "TickerLock.h"
#include "TrunkCalls.h"
#include "debug_log.h"
#include "debug_log_stream.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <iomanip>
#include <mediastreamer2/dtmfgen.h>
#include <mediastreamer2/msrtp.h>

namespace {

constexpr const char* kSource = "MediaStream";

void addFmtp(MSFilter* filter, const std::string& option, const char* failure)
{
    if (ms_filter_call_method(filter, MS_FILTER_ADD_FMTP, const_cast<char*>(option.c_str())) != 0)
        debug_log_cout("ENABLE_MEDIASTREAMER_DEBUG") << failure << option << "\n";
}

// The rate the codecs and the tone generator work at: the playback mixer
// runs at 8000 Hz, and the Opus codec can work at that rate although its
// RTP clock runs at 48000 Hz.
int workingSampleRate(const std::string& mime, const PayloadType* pt)
{
    return mime == "opus" ? 8000 : pt->clock_rate;
}

// Turns the jitter buffer on or off; either way its estimate of the
// talker's clock starts afresh with the next packet.
void setJitterBuffer(RtpSession* session, bool enabled)
{
    JBParameters parameters;
    rtp_session_get_jitter_buffer_params(session, &parameters);
    parameters.enabled = enabled ? TRUE : FALSE;
    rtp_session_set_jitter_buffer_params(session, &parameters);
}

} // namespace

VoiceScope voiceScopeOf(const std::string& address)
{
    in_addr parsed{};
    return inet_pton(AF_INET, address.c_str(), &parsed) == 1 ? ntohl(parsed.s_addr) : 0;
}

bool isMulticastAddress(const std::string& address)
{
    const int first = std::atoi(address.c_str());
    return first >= 224 && first <= 239;
}

MediaStream_t::MediaStream_t(int kind, int pin) : MediaStream_t(kind, pin, streamSettingsFromStore()) {}

MediaStream_t::MediaStream_t(int kind, int pin, const StreamSettings& settings) : kind_(kind), pin_(pin)
{
    initMediaLibrary();
    const int jitterMs = jitterBufferDelayMs();
    debug_log_printf("DEBUG_JITTER_BUFFER", "Jitter buffer size: %dmS\n", jitterMs);
    createSession(jitterMs);
    buildGraph(settings);
    rtp_session_set_ssrc(audioStream_.session, getDeviceId());
    bindTrunkTransports(audioStream_.session, this);
}

MediaStream_t::~MediaStream_t()
{
    // Streams live for the whole run; tests destroy them after their graph
    // was detached from any ticker.
    ms_filter_unlink(audioStream_.rtprecv, 0, audioStream_.decoder, 0);
    ms_filter_unlink(audioStream_.decoder, 0, audioStream_.dtmfgen, 0);
    ms_filter_unlink(audioStream_.encoder, 0, audioStream_.rtpsend, 0);
    ms_filter_destroy(audioStream_.rtpsend);
    ms_filter_destroy(audioStream_.rtprecv);
    ms_filter_destroy(audioStream_.encoder);
    ms_filter_destroy(audioStream_.decoder);
    ms_filter_destroy(audioStream_.dtmfgen);
    forgetVirtualSockets();
    rtp_session_destroy(audioStream_.session);
}

void MediaStream_t::createSession(int jitterMs)
{
    RtpSession* session = rtp_session_new(RTP_SESSION_SENDRECV);
    audioStream_.session = session;
    rtp_session_set_profile(session, &av_profile);
    rtp_session_set_jitter_compensation(session, jitterMs);
    rtp_session_set_multicast_loopback(session, 0);
    rtp_session_set_connected_mode(session, FALSE);
    rtp_session_set_time_jump_limit(session, 2000);
    // Trunk packets carry up to 1988 bytes of datagram.
    rtp_session_set_recv_buf_size(session, 2000);
    setAddresses(localPort_, remoteAddress_, remoteRtpPort_, remoteRtcpPort_);
    debug_log_cout("DEBUG_INDIVIDUAL_CALLS") << "Just created RTP session: " << static_cast<void*>(session) << "\n";
    rtp_session_enable_adaptive_jitter_compensation(session, FALSE);
}

void MediaStream_t::buildGraph(const StreamSettings& settings)
{
    MSFactory* factory = mediaFactory();
    audioStream_.rtpsend = ms_factory_create_filter(factory, MS_RTP_SEND_ID);
    audioStream_.rtprecv = ms_factory_create_filter(factory, MS_RTP_RECV_ID);

    const CodecChoice codec = codecForSetting(settings.voipCodec);
    PayloadType* pt = nullptr;
    int payloadNumber = -1;
    for (int n = 0; n < RTP_PROFILE_MAX_PAYLOADS && pt == nullptr; ++n) {
        PayloadType* candidate = rtp_profile_get_payload(&av_profile, n);
        if (candidate != nullptr && candidate->mime_type != nullptr && codec.mimeName == candidate->mime_type) {
            pt = candidate;
            payloadNumber = n;
        }
    }
    mediaCheck(pt != nullptr, "pt != NULL", kSource);
    rtp_session_set_payload_type(audioStream_.session, payloadNumber);
    receiveClockRate_ = pt->clock_rate;
    bool_t noStun = FALSE;
    ms_filter_call_method(audioStream_.rtpsend, MS_RTP_SEND_ENABLE_STUN, &noStun);
    ms_filter_call_method(audioStream_.rtpsend, MS_RTP_SEND_SET_SESSION, audioStream_.session);
    ms_filter_call_method(audioStream_.rtprecv, MS_RTP_RECV_SET_SESSION, audioStream_.session);

    audioStream_.dtmfgen = ms_factory_create_filter(factory, MS_DTMF_GEN_ID);
    const int sampleRate = workingSampleRate(codec.mimeName, pt);
    ms_filter_call_method(audioStream_.dtmfgen, MS_FILTER_SET_SAMPLE_RATE, const_cast<int*>(&sampleRate));

    connectSessionSignals();
    createCodecs(codec.mimeName.c_str(), sampleRate);
    if (pt->clock_rate != 8000)
        debug_log_output_string("Sample rate of payload is not 8000Hz;  may want to add resampler");
    passCodecOptions(codec, packetTimeText(settings.packetInterval), pt);

    ms_filter_link(audioStream_.rtprecv, 0, audioStream_.decoder, 0);
    ms_filter_link(audioStream_.decoder, 0, audioStream_.dtmfgen, 0);
    ms_filter_link(audioStream_.encoder, 0, audioStream_.rtpsend, 0);
    ms_filter_call_method_noarg(audioStream_.rtpsend, MS_RTP_SEND_MUTE);
}

void MediaStream_t::createCodecs(const char* mime, int sampleRate)
{
    audioStream_.encoder = ms_factory_create_encoder(mediaFactory(), mime);
    mediaCheck(audioStream_.encoder != nullptr, "this->audioStream->MS_NESTED_STRUCT(encoder) != NULL", kSource);
    audioStream_.decoder = ms_factory_create_decoder(mediaFactory(), mime);
    mediaCheck(audioStream_.decoder != nullptr, "this->audioStream->MS_NESTED_STRUCT(decoder) != NULL", kSource);
    setFilterSampleRate(audioStream_.encoder, sampleRate, "Setting encoder sample rate to ");
    setFilterSampleRate(audioStream_.decoder, sampleRate, "Setting decoder sample rate to ");
}

void MediaStream_t::setFilterSampleRate(MSFilter* filter, int rate, const char* what)
{
    debug_log_cout("DEBUG_SAMPLE_RATE") << what << rate << "\n";
    if (ms_filter_call_method(filter, MS_FILTER_SET_SAMPLE_RATE, &rate) != 0)
        get_debug_log_ostream_enabled() << "Error calling: ms_filter_call_method(" << static_cast<void*>(filter)
                                        << ", MS_FILTER_SET_SAMPLE_RATE, " << rate << ");" << "\n";
}

void MediaStream_t::passCodecOptions(const CodecChoice& codec, const std::string& packetTime, PayloadType* pt)
{
    MSFilter* encoder = audioStream_.encoder;
    MSFilter* decoder = audioStream_.decoder;
    ms_filter_call_method(encoder, MS_FILTER_ADD_FMTP, const_cast<char*>("vbr=off"));
    ms_filter_call_method(decoder, MS_FILTER_ADD_FMTP, const_cast<char*>("vbr=off"));
    addFmtp(encoder, codec.fmtp, "Unable to add encoder FMTP option ");
    addFmtp(decoder, codec.fmtp, "Unable to add decoder FMTP option ");
    addFmtp(encoder, "cbr=1;", "Unable to add encoder FMTP option ");
    addFmtp(encoder,
            debug_log_is_enabled("ENABLE_OPUS_FORWARD_ERROR_CORRECTION") ? "useinbandfec=1;" : "useinbandfec=0;",
            "Unable to add encoder FMTP option ");
    char lossText[80];
    std::snprintf(lossText, sizeof lossText, "packet_loss_perc=%d;", opusPacketLossPercent());
    addFmtp(encoder, lossText, "Unable to add encoder FMTP option ");
    const unsigned attributeMethod = ms_filter_has_method(encoder, MS_FILTER_ADD_ATTR) ? MS_FILTER_ADD_ATTR
                                                                                       : MS_FILTER_ADD_FMTP;
    if (ms_filter_call_method(encoder, attributeMethod, const_cast<char*>(packetTime.c_str())) != 0)
        debug_log_cout("ENABLE_MEDIASTREAMER_DEBUG") << "Unable to add encoder ptime " << packetTime << "\n";
    if (pt->send_fmtp != nullptr)
        addFmtp(encoder, pt->send_fmtp, "Unable to add encoder FMTP option ");
    if (pt->recv_fmtp != nullptr)
        addFmtp(decoder, pt->recv_fmtp, "Unable to add decoder FMTP option ");
    addFmtp(decoder, "plc=1;", "Unable to add decoder FMTP option ");
}

void MediaStream_t::connectSessionSignals()
{
    RtpSession* session = audioStream_.session;
    rtp_session_signal_connect(session, "ssrc_changed", &MediaStream_t::onSsrcChanged, this);
    rtp_session_signal_connect(session, "timestamp_jump", &MediaStream_t::onTimestampJump, this);
    rtp_session_signal_connect(session, "payload_type_changed", &MediaStream_t::onPayloadTypeChanged, this);
}

// ---- Addresses and groups ---------------------------------------------------

void MediaStream_t::setAddresses(int localPort, const std::string& remoteAddress, int remoteRtpPort,
                                 int remoteRtcpPort)
{
    {
        std::lock_guard<std::mutex> lock(addressMutex_);
        localPort_ = localPort;
        remoteAddress_ = remoteAddress;
        remoteRtpPort_ = remoteRtpPort;
        remoteRtcpPort_ = remoteRtcpPort;
    }
    // The ticker may be receiving or sending on this session right now: its
    // sockets are replaced and its queues flushed only between the ticker's
    // passes.
    TickerLock tickerLock(audioStream_.ticker);
    applyPrivacyScopes();
    RtpSession* session = audioStream_.session;
    forgetVirtualSockets();
    RtpTransport* rtpTransport = nullptr;
    RtpTransport* rtcpTransport = nullptr;
    rtp_session_get_transports(session, &rtpTransport, &rtcpTransport);
    if (rtp_session_set_local_addr(session, "0.0.0.0", localPort, localPort + 1) != 0)
        get_debug_log_ostream_enabled() << "Error in rtp_session_set_local_addr( session, " << "\"0.0.0.0\"" << ", "
                                        << localPort << " );" << "\n";
    if (rtp_session_set_remote_addr_and_port(session, remoteAddress.c_str(), remoteRtpPort, remoteRtcpPort) != 0)
        get_debug_log_ostream_enabled() << "Error in rtp_session_set_remote_addr_and_port( session, "
                                        << remoteAddress << ", " << remoteRtpPort << ", " << remoteRtcpPort << ");"
                                        << "\n";
    rtp_session_reset(session);
    rtp_session_set_transports(session, rtpTransport, rtcpTransport);
    viUpdateMulticastJoins();
    const int rtpSocket = rtp_session_get_rtp_socket(session);
    const int rtcpSocket = rtp_session_get_rtcp_socket(session);
    get_debug_log_ostream_enabled() << "SOCKET RTP: " << rtpSocket << "RTCP: " << rtcpSocket << " FOR "
                                    << remoteRtpPort << "\n";
    trunk::setSocketPort(rtpSocket, remoteRtpPort);
    trunk::setSocketPort(rtcpSocket, remoteRtcpPort);
}

void MediaStream_t::setVoicePrivacy(const ChannelPrivacy& privacy)
{
    {
        std::lock_guard<std::mutex> lock(addressMutex_);
        channelPrivacy_ = privacy;
    }
    applyPrivacyScopes();
}

// Sender keys are bound to the group they are sent to. Talkers send this
// stream what it plays to its remote group, except individual calls: the
// caller sends them to this radio's own individual-call address, and the
// individual-call transmit stream plays what its receive stream hands on.
void MediaStream_t::applyPrivacyScopes()
{
    std::string address;
    ChannelPrivacy privacy;
    {
        std::lock_guard<std::mutex> lock(addressMutex_);
        address = remoteAddress_;
        privacy = channelPrivacy_;
    }
    const VoiceScope sendScope = voiceScopeOf(address);
    const VoiceScope receiveScope =
        kind_ == 2 ? voiceScopeOf(individualCallAddress(getDeviceId())) : sendScope;
    privacy_.configure(privacy, sendScope, receiveScope);
}

// The session's sockets are about to close: their virtual sockets in the
// trunk would otherwise keep their groups subscribed at the routers and
// gather relayed datagrams for ever, and pass both on to whatever socket
// later gets the same number.
void MediaStream_t::forgetVirtualSockets()
{
    for (const ortp_socket_t socket : {audioStream_.session->rtp.gs.socket, audioStream_.session->rtcp.gs.socket})
        if (socket >= 0)
            trunk::closeSocket(socket);
}

std::string MediaStream_t::remoteAddress() const
{
    std::lock_guard<std::mutex> lock(addressMutex_);
    return remoteAddress_;
}

void MediaStream_t::viUpdateMulticastJoins()
{
    const std::string address = remoteAddress();
    if (!isMulticastAddress(address))
        return;
    debug_log_cout("DEBUG_IGMP_JOINS") << "viUpdateMulticastJoins() with Remote Address = " << address << "\n";
    joinGroup(address);
    std::fflush(stdout);
}

int MediaStream_t::joinGroup(const std::string& address)
{
    RtpSession* session = audioStream_.session;
    debug_log_cout("DEBUG_IGMP_JOINS") << "Joining multicast group: " << address << "\n";
    const int rtpSocket = rtp_session_get_rtp_socket(session);
    const int rtcpSocket = rtp_session_get_rtcp_socket(session);
    trunk::setSocketTxOnly(rtpSocket, kind_ == 2);
    trunk::setSocketTxOnly(rtcpSocket, kind_ == 2);
    debug_log_cout("DEBUG_IGMP_JOINS") << "Rtp Socket  = " << rtpSocket << "\n";
    debug_log_cout("DEBUG_IGMP_JOINS") << "Rtcp Socket = " << rtcpSocket << "\n";
    trunk::groupLeaveAll(rtpSocket);
    trunk::groupJoin(rtpSocket, address.c_str());
    trunk::groupLeaveAll(rtcpSocket);
    trunk::groupJoin(rtcpSocket, address.c_str());
    return 0;
}

void MediaStream_t::leaveGroup(const std::string& address)
{
    trunk::groupLeave(rtp_session_get_rtp_socket(audioStream_.session), address.c_str());
    trunk::groupLeave(rtp_session_get_rtcp_socket(audioStream_.session), address.c_str());
}

// ---- Receive side, on the ticker thread --------------------------------------

void MediaStream_t::startTalkspurt()
{
    MSFilter* encoder = audioStream_.encoder;
    MSTicker* ticker = encoder->ticker;
    if (ticker != nullptr) {
        // The encoder is not in use while it restarts.
        TickerLock tickerLock(ticker);
        ms_filter_postprocess(encoder);
        ms_filter_preprocess(encoder, ticker);
    }
    talkspurtPending_ = true;
}

bool MediaStream_t::rtpTalkspurtStarts()
{
    return talkspurtPending_.exchange(false);
}

void MediaStream_t::restartDecoder()
{
    MSFilter* decoder = audioStream_.decoder;
    MSTicker* running = decoder->ticker;
    if (running == nullptr)
        return;
    ms_filter_postprocess(decoder);
    ms_filter_preprocess(decoder, running);
}

void MediaStream_t::rtpPacketReceived(const unsigned char* packet, int length)
{
    restartPendingJitterBuffer();
    if (length < 12)
        return;
    // The talker's first packet: its encoder has just started afresh. The
    // previous transmission's packets have all played by now (the key-up
    // wait is longer than the jitter buffer).
    if (packet[1] & 0x80) {
        // Whatever the jitter buffer still holds or expects belongs to the
        // last transmission: it starts over with this one, so that no early
        // packet of it is dropped as late and the decoder takes them all.
        rtp_session_resync(session());
        restartDecoder();
    }
    lastPacketSsrc_ = rtpPacketSsrc(packet, length);
    const ReceiveActivity::Change change = activity_.packetReceived(lastPacketSsrc_, monotonicMs());
    if (change == ReceiveActivity::Change::Active || change == ReceiveActivity::Change::SenderChanged)
        reportActivity(true, lastPacketSsrc_);
}

void MediaStream_t::rtpUnreadablePacketReceived(device_id_t ssrc)
{
    restartPendingJitterBuffer();
    lastPacketSsrc_ = ssrc;
    const ReceiveActivity::Change change = activity_.packetReceived(ssrc, monotonicMs());
    if (change == ReceiveActivity::Change::Active || change == ReceiveActivity::Change::SenderChanged) {
        debug_log_cout("DEBUG_INDIVIDUAL_CALLS") << "Encrypted RTP stream from SSRC " << std::uppercase << std::hex
                                                 << std::setw(8) << std::setfill('0') << ssrc << std::dec
                                                 << " that this radio has no key for" << "\n";
        emit coIncomingEncryptedStreamActive(ssrc);
    }
}

void MediaStream_t::rtpNothingReceived()
{
    restartPendingJitterBuffer();
    if (activity_.nothingReceived(monotonicMs()) == ReceiveActivity::Change::Inactive)
        reportActivity(false, activity_.sender());
}

void MediaStream_t::rtcpMessageReceived(const unsigned char* message, int length)
{
    rtcpReceived(message, length);
}

void MediaStream_t::rtcpReceived(const unsigned char*, int) {}

void MediaStream_t::reportActivity(bool active, device_id_t ssrc)
{
    debug_log_ostream& log = debug_log_cout("DEBUG_INDIVIDUAL_CALLS");
    log << "Incoming RTP stream from SSRC " << std::uppercase << std::hex << std::setw(8) << std::setfill('0')
        << ssrc << std::dec << " just went " << (active ? "active" : "inactive") << " (session "
        << static_cast<void*>(audioStream_.session) << ")" << "\n";
    if (active)
        emit coIncomingMediaStreamActive(ssrc);
    else
        emit coIncomingMediaStreamInactive();
}

void MediaStream_t::onSsrcChanged(RtpSession* session, void* stream, void*, void*)
{
    auto* self = static_cast<MediaStream_t*>(stream);
    rtp_session_reset(session);
    // The packet being parsed is the new talker's; the receive path may have
    // reported the change already.
    if (self->activity_.senderChanged(self->lastPacketSsrc_, monotonicMs()))
        self->reportActivity(true, self->lastPacketSsrc_);
}

void MediaStream_t::onTimestampJump(RtpSession* session, void*, void*, void*)
{
    debug_log_printf("DEBUG_TIMESTAMP_JUMPS", "Note:  timestamp jumped, resyncing timestamps.\n");
    rtp_session_resync(session);
}

void MediaStream_t::onPayloadTypeChanged(RtpSession* session, void* stream, void*, void*)
{
    // This runs inside the receiver's pass of the ticker, before the packet
    // of the new payload type is handed on: swapping the decoder here lets
    // the new decoder take that packet and every one after it. A decoder
    // that joins the talker's stream late can stay out of step with the
    // encoder (Speex does on a steady tone), and the old decoder would play
    // the new payload as noise meanwhile.
    static_cast<MediaStream_t*>(stream)->replaceDecoder(rtp_session_get_recv_payload_type(session));
}

void MediaStream_t::replaceDecoder(int n)
{
    debug_log_cout("DEBUG_RTP_PAYLOAD_TYPE") << "Payload type changed to " << n;
    PayloadType* pt = n >= 0 && n < 128 ? rtp_profile_get_payload(rtp_session_get_profile(session()), n) : nullptr;
    if (pt == nullptr) {
        ortp_warning("No payload defined with number %i", n);
        return;
    }
    const int m = rtp_profile_get_payload_number_from_mime(&av_profile, pt->mime_type);
    // A talker may send payload changes packet after packet.
    if (decoderChanges_.occurred())
        get_debug_log_ostream_enabled() << " Creating a new decoder for codec ( " << pt->mime_type
                                        << " with clock rate of " << pt->clock_rate << " )" << "\n";
    MSFilter* decoder = ms_factory_create_decoder(mediaFactory(), pt->mime_type);
    rtp_session_set_recv_payload_type(session(), m);
    if (decoder == nullptr) {
        ortp_warning("No decoder found for %s", pt->mime_type);
        return;
    }
    setUpDecoder(decoder, pt);
    swapDecoder(decoder);
    // The receiver's timestamps follow the new payload's clock from the
    // next pass on.
    ms_filter_call_method(audioStream_.rtprecv, MS_RTP_RECV_SET_SESSION, session());
    if (pt->clock_rate != receiveClockRate_)
        restartJitterBufferAtNextReceive();
    receiveClockRate_ = pt->clock_rate;
}

void MediaStream_t::restartJitterBufferAtNextReceive()
{
    // The jitter buffer's estimate of the talker's clock is in the old
    // clock's units. Restarted now, it would compare the packets it holds
    // with the rest of this pass's timestamp, still in the old units, and
    // could drop all but the newest of them; a flush would drop them all,
    // and the new decoder would miss the talker's first frames. Turned off
    // for the rest of this pass, it hands them all on in order; it restarts
    // before the next packet is read, in the new units.
    setJitterBuffer(session(), false);
    jitterRestartPending_ = true;
}

void MediaStream_t::restartPendingJitterBuffer()
{
    if (!jitterRestartPending_)
        return;
    jitterRestartPending_ = false;
    setJitterBuffer(session(), true);
}

void MediaStream_t::setUpDecoder(MSFilter* decoder, const PayloadType* pt)
{
    // A new decoder starts at its codec's own rate (48000 Hz for Opus); it
    // must produce what the tone generator and the mixer take.
    setFilterSampleRate(decoder, workingSampleRate(pt->mime_type, pt), "Setting decoder sample rate to ");
    addFmtp(decoder, "plc=1;", "Unable to add decoder FMTP option ");
    if (pt->recv_fmtp != nullptr)
        addFmtp(decoder, pt->recv_fmtp, "Unable to add decoder FMTP option ");
}

void MediaStream_t::swapDecoder(MSFilter* decoder)
{
    // The ticker running the graph, if any; it is in its pass over the
    // graph, so the links can change without stopping it (stopping it would
    // close and reopen the sound cards under every stream).
    MSTicker* running = audioStream_.decoder->ticker;
    MSFilter* old = audioStream_.decoder;
    ms_filter_unlink(audioStream_.rtprecv, 0, old, 0);
    ms_filter_unlink(old, 0, audioStream_.dtmfgen, 0);
    if (running != nullptr)
        ms_filter_postprocess(old);
    ms_filter_destroy(old);
    audioStream_.decoder = decoder;
    ms_filter_link(audioStream_.rtprecv, 0, decoder, 0);
    ms_filter_link(decoder, 0, audioStream_.dtmfgen, 0);
    // A ticker prepares only the filters present when it was attached.
    if (running != nullptr)
        ms_filter_preprocess(decoder, running);
}
