// One-time set-up of oRTP and mediastreamer2.
#include "MediaLibrary.h"

#include "debug_log.h"

#include <mutex>
#include <ortp/ortp.h>

namespace {

MSFactory* factory = nullptr;
std::once_flag initOnce;

} // namespace

void initMediaLibrary()
{
    std::call_once(initOnce, [] {
        ortp_init();
        ortp_scheduler_init();
        factory = ms_factory_new_with_voip();
    });
}

MSFactory* mediaFactory()
{
    initMediaLibrary();
    return factory;
}

void registerPayloadTypes()
{
    static std::once_flag once;
    std::call_once(once, [] {
        rtp_profile_set_payload(&av_profile, 115, &payload_type_lpc1015);
        rtp_profile_set_payload(&av_profile, 110, &payload_type_speex_nb);
        rtp_profile_set_payload(&av_profile, 111, &payload_type_speex_wb);
        rtp_profile_set_payload(&av_profile, 112, &payload_type_ilbc);
        rtp_profile_set_payload(&av_profile, 116, &payload_type_truespeech);
        rtp_profile_set_payload(&av_profile, 101, &payload_type_telephone_event);
        rtp_profile_set_payload(&av_profile, 109, &payload_type_opus);
    });
}

namespace {

int ortpLogLevelMask()
{
    if (debug_log_is_enabled("ORTP_DEBUG_LEVEL_DEBUG"))
        return ORTP_DEBUG | ORTP_MESSAGE | ORTP_WARNING | ORTP_ERROR;
    if (debug_log_is_enabled("ORTP_DEBUG_LEVEL_MESSAGE"))
        return ORTP_MESSAGE | ORTP_WARNING | ORTP_ERROR;
    if (debug_log_is_enabled("ORTP_DEBUG_LEVEL_WARNING"))
        return ORTP_WARNING | ORTP_ERROR;
    return ORTP_ERROR;
}

} // namespace

void startMediaLibraries()
{
    initMediaLibrary();
    registerPayloadTypes();
    debug_log_printf_always(" RtpSession size (%d) \n", static_cast<int>(sizeof(RtpSession)));
    ortp_set_log_level_mask("ortp", ortpLogLevelMask());
}
