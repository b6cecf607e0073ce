// A fleet model held in memory, for tests of the web console and the
// console's test host: units, zones, talk groups, routers and options with
// the refusals an operator meets (unknown codes, zones still in use).
#pragma once

#include "FleetModel.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace Manager {

class InMemoryFleet : public FleetModel
{
public:
    void addUnit(UnitRecord unit)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        units_[unit.code] = std::move(unit);
    }

    // Makes units() fail as a store that cannot be read would.
    void failReadingUnits(const std::string& message)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        readFailure_ = message;
    }

    std::vector<UnitRecord> units() override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!readFailure_.empty())
            throw FleetError(readFailure_);
        std::vector<UnitRecord> all;
        for (const auto& entry : units_)
            all.push_back(entry.second);
        return all;
    }
    std::optional<UnitRecord> unit(const std::string& code) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = units_.find(code);
        return found == units_.end() ? std::nullopt : std::optional<UnitRecord>(found->second);
    }
    void registerUnit(const std::string& code, const std::string& name, const std::string& account) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        UnitRecord& unit = known(code);
        if (!unit.hasKey)
            throw FleetError("Unit " + code + " has not uploaded its key yet.");
        unit.registered = true;
        if (!name.empty())
            unit.name = name;
        if (!account.empty())
            unit.account = account;
    }
    void unregisterUnit(const std::string& code) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        known(code).registered = false;
    }
    void renameUnit(const std::string& code, const std::string& name) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        known(code).name = name;
    }
    void pushSettings(const std::string& code) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        known(code).pushState = "queued";
    }

    std::vector<ZoneRecord> zones() override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return zones_;
    }
    void saveZone(const ZoneRecord& zone) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (ZoneRecord& existing : zones_)
            if (existing.number == zone.number) {
                existing = zone;
                return;
            }
        zones_.push_back(zone);
    }
    void removeZone(int number) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const ChannelRecord& channel : channels_)
            if (channel.zoneNumber == number)
                throw FleetError("Zone " + std::to_string(number) + " still has talk groups.");
        zones_.erase(std::remove_if(zones_.begin(), zones_.end(), [&](const ZoneRecord& z) { return z.number == number; }),
                     zones_.end());
    }
    std::vector<ChannelRecord> channels() override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return channels_;
    }
    void saveChannel(const ChannelRecord& channel) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (std::none_of(zones_.begin(), zones_.end(), [&](const ZoneRecord& z) { return z.number == channel.zoneNumber; }))
            throw FleetError("There is no zone " + std::to_string(channel.zoneNumber) + ".");
        for (ChannelRecord& existing : channels_)
            if (existing.number == channel.number) {
                existing = channel;
                return;
            }
        channels_.push_back(channel);
    }
    void removeChannel(int number) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        channels_.erase(std::remove_if(channels_.begin(), channels_.end(),
                                       [&](const ChannelRecord& c) { return c.number == number; }),
                        channels_.end());
    }
    std::vector<RouterRecord> routers() override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return routers_;
    }
    void addRouter(const RouterRecord& router) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        routers_.push_back(router);
    }
    void removeRouter(const RouterRecord& router) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        routers_.erase(std::remove_if(routers_.begin(), routers_.end(),
                                      [&](const RouterRecord& r) { return r.address == router.address && r.port == router.port; }),
                       routers_.end());
    }
    ServiceOptions options() override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return options_;
    }
    void setOptions(const ServiceOptions& options) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        options_ = options;
    }
    VoicePrivacyState voicePrivacy(int number) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return voice_[number];
    }
    void changeVoicePrivacy(int number, VoicePrivacyChange change) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        VoicePrivacyState& state = voice_[number];
        if (change == VoicePrivacyChange::RotateKey && !state.encrypted)
            throw FleetError("voice is not encrypted: there is no key to replace");
        state.previousHeard = change == VoicePrivacyChange::EndGrace ? false
                              : change == VoicePrivacyChange::Encrypt ? state.previousHeard
                                                                      : state.encrypted;
        state.encrypted = change == VoicePrivacyChange::Encrypt || change == VoicePrivacyChange::RotateKey ||
                          (change == VoicePrivacyChange::EndGrace && state.encrypted);
    }
    std::string adminPasswordHash() override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return passwordHash_;
    }
    void setAdminPasswordHash(const std::string& hash) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        passwordHash_ = hash;
    }

private:
    UnitRecord& known(const std::string& code)
    {
        const auto found = units_.find(code);
        if (found == units_.end())
            throw FleetError("No unit has shown the code " + code + ".");
        return found->second;
    }

    std::mutex mutex_;
    std::map<std::string, UnitRecord> units_;
    std::vector<ZoneRecord> zones_;
    std::vector<ChannelRecord> channels_;
    std::vector<RouterRecord> routers_;
    ServiceOptions options_;
    std::map<int, VoicePrivacyState> voice_;
    std::string passwordHash_;
    std::string readFailure_;
};

} // namespace Manager
