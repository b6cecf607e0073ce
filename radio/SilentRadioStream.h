// A stream that keeps its address and otherwise does nothing: the radio
// runs with these until the media streams are built.
#pragma once

#include "RadioStream.h"

class SilentRadioStream : public RadioStream
{
    Q_OBJECT
public:
    void setChannelAddress(int, const std::string& remoteAddress, int, int) override { address_ = remoteAddress; }
    std::string remoteAddress() const override { return address_; }
    void leaveGroup(const std::string&) override {}
    void viUpdateMulticastJoins() override {}
    void startTransmit() override {}
    void stopTransmit() override {}
    void playTone(int, int, float) override {}
    void stopTone() override {}
    void setSsrc(device_id_t) override {}
    void setTalker(const std::string&) override {}
    void setLocationText(const std::string&) override {}

private:
    std::string address_;
};
