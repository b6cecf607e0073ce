// The codec table and the debug-flag tables of the media streams.
#include "CodecChoice.h"

#include "PersistentQSettings.h"
#include "debug_log.h"

#include <map>
#include <string>

CodecChoice codecForSetting(const std::string& voipCodec)
{
    static const std::map<std::string, CodecChoice> table = {
        {"PCMU", {"PCMU", ""}},           {"PCMA", {"PCMA", ""}},
        {"Speex 1", {"speex", "mode=1"}}, {"Speex 2", {"speex", "mode=2"}},
        {"Speex 3", {"speex", "mode=3"}}, {"Speex 4", {"speex", "mode=4"}},
        {"Speex 5", {"speex", "mode=5"}}, {"Speex 6", {"speex", "mode=6"}},
        {"Speex 7", {"speex", "mode=7"}}, {"Speex 8", {"speex", "mode=8"}},
        {"Opus 6.4", {"opus", "mode=1;"}}, {"Opus 8", {"opus", "mode=2;"}},
        {"Opus 12", {"opus", "mode=3;"}},  {"Opus 16", {"opus", "mode=4;"}},
        {"Opus 24", {"opus", "mode=5;"}},
    };
    const auto found = table.find(voipCodec);
    return found != table.end() ? found->second : CodecChoice{"PCMU", ""};
}

std::string packetTimeText(const std::string& packetInterval)
{
    return "ptime:" + packetInterval;
}

namespace {

// The number of the first flag "<prefix><n>" set, n from the list in order.
int firstFlagNumber(const char* prefix, std::initializer_list<int> numbers, int otherwise)
{
    for (int n : numbers)
        if (debug_log_is_enabled((prefix + std::to_string(n)).c_str()))
            return n;
    return otherwise;
}

} // namespace

int jitterBufferDelayMs()
{
    return firstFlagNumber("SET_JITTER_BUFFER_", {1000, 900, 800, 700, 600, 500, 400, 300, 200, 100, 50, 10}, 100);
}

int opusPacketLossPercent()
{
    return firstFlagNumber("SET_OPUS_PACKET_LOSS_PERC_", {100, 90, 80, 70, 60, 50, 40, 30, 20, 10}, 10);
}

StreamSettings streamSettingsFromStore()
{
    StreamSettings settings;
    PersistentQSettings* store = PersistentQSettings::instance();
    settings.voipCodec = store->value("voip_codec", QString::fromStdString(settings.voipCodec)).toString().toStdString();
    settings.packetInterval =
        store->value("packet_interval", QString::fromStdString(settings.packetInterval)).toString().toStdString();
    return settings;
}
