// The XML documents rvx-manager serves: a unit's settings document (its
// caller-ID and account names, the trunk options, the managed talk groups
// and its account's other units as contacts) and the demo talk groups. UTF-8
// with an XML declaration saying so; every text escaped.
#pragma once

#include "Store.h"

#include <string>
#include <vector>

namespace Manager {

// Text for an attribute value or element content: markup characters and
// line ends as references; control characters XML cannot carry become
// U+FFFD.
std::string xmlEscaped(const std::string& text);

std::string settingsDocument(const SettingsSnapshot& snapshot);

// The managed talk groups in the form the demo download reads.
std::string demoDocument(const std::vector<ZoneRecord>& zones, const std::vector<ChannelRecord>& channels);

} // namespace Manager
