// The records and lists of the channel plan: zones, channels, the relations
// between them and the relay routers, with their index and drop rules.
#pragma once

#include "VoiceKey.h"

#include <cstdint>
#include <string>
#include <vector>

// Longest name a zone or channel keeps; longer names are cut.
constexpr std::size_t kMaxPlanNameLength = 31;
// Longest router address text kept.
constexpr std::size_t kMaxRouterAddressLength = 19;

struct Zone_t
{
    std::int32_t number = 0;
    std::string name;
};

struct Channel_t
{
    std::int32_t number = 0;
    std::string address;
    std::int32_t remoteRtpPort = 0;
    std::int32_t remoteRtcpPort = 0;
    std::string name;
    // Clear unless the settings document gives the channel a key.
    ChannelPrivacy privacy;
};

struct Relation_t
{
    std::int32_t zoneNumber = 0;
    std::int32_t channelNumber = 0;
};

struct Router_t
{
    std::string address;
    std::int32_t port = 0;
};

// The first characters of a UTF-8 text (document text is UTF-8), at most
// maxLength of them; a character is never cut in two.
std::string cutText(const std::string& text, std::size_t maxLength);

// A decimal number as atoi reads it (leading blanks and sign, digits up to
// the first other character; 0 when there are none), limited to int32.
std::int32_t readDecimal(const std::string& text);

// An ordered list of named records with a current index. Records are told
// apart by name: adding a name that is present drops the new record.
// next and previous wrap; set clamps (an empty list gives index 0).
template <typename Record>
class NamedRecordList
{
public:
    // Appends unless the name is present; true when it was appended.
    bool add(const Record& record)
    {
        if (findByName(record.name))
            return false;
        records_.push_back(record);
        return true;
    }

    void clear()
    {
        records_.clear();
        index_ = 0;
    }

    int count() const { return static_cast<int>(records_.size()); }
    bool empty() const { return records_.empty(); }
    int index() const { return index_; }

    void setIndex(int index)
    {
        if (index >= count())
            index = count() - 1;
        if (index < 0)
            index = 0;
        index_ = index;
    }
    void next() { index_ = (index_ + 1 >= count()) ? 0 : index_ + 1; }
    void previous() { index_ = (index_ - 1 < 0) ? count() - 1 : index_ - 1; }
    // The index that next/previous would choose, without choosing it.
    int nextIndex() const { return (index_ + 1 >= count()) ? 0 : index_ + 1; }
    int previousIndex() const { return (index_ - 1 < 0) ? count() - 1 : index_ - 1; }

    // The record at index, or nullptr outside 0..count-1.
    const Record* at(int index) const
    {
        if (index < 0 || index >= count())
            return nullptr;
        return &records_[static_cast<std::size_t>(index)];
    }
    const Record* current() const { return at(index_); }

    const Record* findByName(const std::string& name) const
    {
        for (const Record& record : records_)
            if (record.name == name)
                return &record;
        return nullptr;
    }

    const std::vector<Record>& records() const { return records_; }

private:
    std::vector<Record> records_;
    int index_ = 0;
};

class ZoneList : public NamedRecordList<Zone_t>
{
public:
    // Diagnostic listing on the debug output.
    void print() const;
};

class ChannelList : public NamedRecordList<Channel_t>
{
public:
    // The current channel, or the empty channel when the list is empty.
    Channel_t currentOrEmpty() const;
    // The first channel with that number, or nullptr.
    const Channel_t* findByNumber(std::int32_t number) const;
    void print() const;
};

class RelationTable
{
public:
    void add(const Relation_t& relation) { relations_.push_back(relation); }
    void clear() { relations_.clear(); }
    const std::vector<Relation_t>& relations() const { return relations_; }
    void print() const;

private:
    std::vector<Relation_t> relations_;
};

using RouterList = std::vector<Router_t>;

// The name shown for the zone at an index: "No Zones (b)" outside the list.
std::string zoneNameAt(const ZoneList& zones, int index);
