// Return-routability check between a relay router and a unit. A router that
// wants proof that a unit really asked for traffic at its address sends a
// challenge (type 6) carrying an opaque cookie; the unit echoes the cookie in
// an answer (type 7) to that router. The unit never interprets the cookie.
// Peers that do not know these types drop them like any unknown type.
#pragma once

#include "Packet/Packet.h"

namespace Halvane::Packet {

// Both types are the common header followed by the cookie as payload.
class CChallengeBase : public CPacket
{
public:
    // Longer cookies are not answered: an answer is never larger than this.
    static constexpr unsigned int kMaxCookie = 64;

    void CopyPayload(unsigned int offset, const unsigned char* data, unsigned int length) override;

protected:
    explicit CChallengeBase(unsigned char type) : CPacket(type) {}
    CChallengeBase(unsigned char type, unsigned int deviceId, unsigned char tag, const unsigned char* cookie,
                   unsigned int length)
        : CPacket(type, kKindNone, deviceId, tag, cookie, length, kCommonHeaderSize)
    {
    }
};

// Router to unit: "prove that you are at the address you sent from".
class CChallenge : public CChallengeBase
{
public:
    CChallenge() : CChallengeBase(kTypeChallenge) {}
    CChallenge(unsigned int deviceId, unsigned char tag, const unsigned char* cookie, unsigned int length)
        : CChallengeBase(kTypeChallenge, deviceId, tag, cookie, length)
    {
    }
};

// Unit to router: the cookie of a challenge, unchanged.
class CChallengeAnswer : public CChallengeBase
{
public:
    CChallengeAnswer() : CChallengeBase(kTypeChallengeAnswer) {}
    CChallengeAnswer(unsigned int deviceId, unsigned char tag, const unsigned char* cookie, unsigned int length)
        : CChallengeBase(kTypeChallengeAnswer, deviceId, tag, cookie, length)
    {
    }
};

} // namespace Halvane::Packet
