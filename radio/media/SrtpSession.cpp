// libsrtp contexts of sender keys.
#include "SrtpSession.h"

#include "debug_log.h"

#include <sodium.h>

#include <mutex>

namespace {

SrtpResult resultOf(srtp_err_status_t status)
{
    switch (status) {
    case srtp_err_status_ok: return SrtpResult::Ok;
    case srtp_err_status_replay_fail:
    case srtp_err_status_replay_old: return SrtpResult::Replayed;
    case srtp_err_status_auth_fail:
    case srtp_err_status_bad_mki: return SrtpResult::AuthenticationFailed;
    default: return SrtpResult::Malformed;
    }
}

} // namespace

void initSrtpLibrary()
{
    static std::once_flag once;
    // The media library may have initialised libsrtp already; a second
    // initialisation reports an error but leaves it working. Should it not
    // work, no context can be made and nothing is sent.
    std::call_once(once, [] {
        const srtp_err_status_t status = srtp_init();
        debug_log_printf("DEBUG_VOICE_PRIVACY", "SRTP library initialised (status %d)\n", static_cast<int>(status));
    });
}

SrtpSession::SrtpSession(Direction direction, const VoiceKey& key, const SenderMki& mki) : mki_(mki)
{
    initSrtpLibrary();
    VoiceKey material = key;
    srtp_master_key_t master{material.material.data(), mki_.data(), static_cast<unsigned>(mki_.size())};
    srtp_master_key_t* masters[1] = {&master};
    srtp_policy_t policy{};
    srtp_crypto_policy_set_aes_cm_128_hmac_sha1_80(&policy.rtp);
    srtp_crypto_policy_set_aes_cm_128_hmac_sha1_80(&policy.rtcp);
    // One context per sender key: the wildcard takes the sender's SSRC.
    policy.ssrc.type = direction == Direction::Send ? ssrc_any_outbound : ssrc_any_inbound;
    policy.keys = masters;
    policy.num_master_keys = 1;
    policy.window_size = 128;
    policy.allow_repeat_tx = 0;
    if (srtp_create(&context_, &policy) != srtp_err_status_ok)
        context_ = nullptr;
    sodium_memzero(material.material.data(), material.material.size());
}

SrtpSession::~SrtpSession()
{
    if (context_ != nullptr)
        srtp_dealloc(context_);
}

SrtpResult SrtpSession::protectRtp(unsigned char* packet, int& length)
{
    return resultOf(srtp_protect_mki(context_, packet, &length, 1, 0));
}

SrtpResult SrtpSession::protectRtcp(unsigned char* packet, int& length)
{
    return resultOf(srtp_protect_rtcp_mki(context_, packet, &length, 1, 0));
}

SrtpResult SrtpSession::unprotectRtp(unsigned char* packet, int& length)
{
    return resultOf(srtp_unprotect_mki(context_, packet, &length, 1));
}

SrtpResult SrtpSession::unprotectRtcp(unsigned char* packet, int& length)
{
    return resultOf(srtp_unprotect_rtcp_mki(context_, packet, &length, 1));
}
