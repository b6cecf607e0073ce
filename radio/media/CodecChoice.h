// What a media stream's settings and debug flags choose: the codec (MIME
// name and FMTP text) from voip_codec, the "ptime:" text from
// packet_interval, the jitter-buffer delay and the Opus packet-loss hint.
#pragma once

#include <string>

struct CodecChoice
{
    std::string mimeName;
    std::string fmtp;
};

// "PCMU", "PCMA", "Speex 1".."Speex 8", "Opus 6.4".."Opus 24"; anything else
// is PCMU. Exact, case-sensitive comparison.
CodecChoice codecForSetting(const std::string& voipCodec);

// "ptime:" followed by the setting as written.
std::string packetTimeText(const std::string& packetInterval);

// The first SET_JITTER_BUFFER_* flag set, from the longest down; 100 when none.
int jitterBufferDelayMs();

// The first SET_OPUS_PACKET_LOSS_PERC_* flag set, from 100 down; 10 when none.
int opusPacketLossPercent();

// The stream's settings as the local settings store holds them.
struct StreamSettings
{
    std::string voipCodec = "Speex 5";
    std::string packetInterval = "100";
};
StreamSettings streamSettingsFromStore();
