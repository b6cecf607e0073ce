// One libsrtp context for one sender key (AES_CM_128_HMAC_SHA1_80 with its
// MKI in every packet): protects a sender's RTP and RTCP, or checks and
// decrypts one sender's, in place.
#pragma once

#include "SenderKeys.h"

#include <srtp2/srtp.h>

// What SRTP adds at most to a packet: MKI, SRTCP index word and tag.
constexpr int kSrtpMostAdded = static_cast<int>(kSenderMkiLength) + 4 + 10;
// The authentication tag of the suite.
constexpr int kSrtpTagLength = 10;

enum class SrtpResult
{
    Ok,
    AuthenticationFailed,
    Replayed,
    Malformed,
};

class SrtpSession
{
public:
    enum class Direction
    {
        Send,
        Receive
    };

    SrtpSession(Direction direction, const VoiceKey& key, const SenderMki& mki);
    ~SrtpSession();
    SrtpSession(const SrtpSession&) = delete;
    SrtpSession& operator=(const SrtpSession&) = delete;

    bool valid() const { return context_ != nullptr; }
    const SenderMki& mki() const { return mki_; }

    // length in and out; the buffer must hold length + kSrtpMostAdded.
    SrtpResult protectRtp(unsigned char* packet, int& length);
    SrtpResult protectRtcp(unsigned char* packet, int& length);
    SrtpResult unprotectRtp(unsigned char* packet, int& length);
    SrtpResult unprotectRtcp(unsigned char* packet, int& length);

private:
    srtp_t context_ = nullptr;
    SenderMki mki_;
};

// libsrtp set up once for the process.
void initSrtpLibrary();
