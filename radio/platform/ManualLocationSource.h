// The own location entered by hand in the settings dialog: read from the
// local settings every 5 seconds while "enable_location" is on.
#pragma once

#include "halvane2.h"

class DelayedPersistentQSettings;
class MyLocationManager_t;

class ManualLocationSource
{
public:
    ManualLocationSource(DelayedPersistentQSettings& settings, MyLocationManager_t& holder,
                         unsigned int readingIntervalMs = 5000);

    // One pass of the front-panel input loop: reads the settings on the
    // first pass and whenever the interval has passed since the last reading.
    void pollManualLocation();

private:
    void readSettings();

    DelayedPersistentQSettings& settings_;
    MyLocationManager_t& holder_;
    polled_timer_t readingTimer_;
    bool enabled_ = false;
    bool announced_ = false;
    bool rejectionReported_ = false;
};

// The source the program's front-panel input loop polls.
void pollManualLocation();
