// The text of the display's software-update screen: the running version,
// the released one from the settings, and what the user should do.
#pragma once

#include <QString>

struct SoftwareVersionText
{
    QString html;
    bool updateAvailable = false;  // the released version is newer
};

struct SoftwareVersions
{
    QString running;       // "1.78"
    QString released;      // from the settings; empty when unknown
    QString updateUrl;     // link to the released version
    QString devicePageUrl; // the service's page for this device
    bool registered = false;
};

SoftwareVersionText makeSoftwareVersionText(const SoftwareVersions& versions);
