// Web-management message (type 4): a notice from the management service,
// relayed by the routers; message type 1 means this unit's settings changed.
#pragma once

#include "Packet/Packet.h"

namespace Halvane::Packet {

class CWebManagementMsg : public CPacket
{
public:
    enum EMsgType : std::uint32_t {
        kSettingsChanged = 1,
    };

    static constexpr unsigned int kHeaderSize = 12;

    CWebManagementMsg();
    CWebManagementMsg(unsigned int deviceId, unsigned char tag, const unsigned char* payload, unsigned int length,
                      EMsgType type);

    unsigned int Parse(const unsigned char* data, unsigned int length) override;
    unsigned int HeaderSize() const override;
    void Encode(unsigned char* out) const override;
    void CopyPayload(unsigned int offset, const unsigned char* data, unsigned int length) override;

    EMsgType MsgType() const { return mMsgType; }

private:
    EMsgType mMsgType = EMsgType{};
};

} // namespace Halvane::Packet
