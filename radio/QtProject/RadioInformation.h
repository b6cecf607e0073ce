// What the display's setup screens and the settings dialog's About tab show
// about this unit: its names, key id and enrolment state.
#pragma once

#include <QString>

#include <functional>

struct RadioInformation
{
    QString radioName;   // the caller-ID name of the settings
    QString owner;       // the account name
    QString deviceId;    // the key id
    bool registered = false;
    bool settingsUpdated = false;
    QString releasedVersion;  // the newest released program, from the settings
    QString updateUrl;        // where to get it
};

namespace RadioInformationSource {

using Source = std::function<RadioInformation()>;

// The current information; from the program's components unless a test
// installed its own source.
RadioInformation current();
// Replaces the source; an empty source restores the program's.
void setSource(Source source);

} // namespace RadioInformationSource
