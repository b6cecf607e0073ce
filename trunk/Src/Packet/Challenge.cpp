// Challenge and answer: the common header, then the cookie to the end.
#include "Packet/Challenge.h"

namespace Halvane::Packet {

void CChallengeBase::CopyPayload(unsigned int offset, const unsigned char* data, unsigned int length)
{
    TakePayload(offset, data, length);
}

} // namespace Halvane::Packet
