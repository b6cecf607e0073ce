// Manual own location from "enable_location", "s_latitude", "s_longitude".
#include "ManualLocationSource.h"

#include "MyLocationManager.h"
#include "PersistentQSettings.h"
#include "debug_log.h"

#include <cmath>

ManualLocationSource::ManualLocationSource(DelayedPersistentQSettings& settings, MyLocationManager_t& holder,
                                           unsigned int readingIntervalMs)
    : settings_(settings), holder_(holder), readingTimer_(readingIntervalMs)
{
}

void ManualLocationSource::pollManualLocation()
{
    if (!readingTimer_.is_expired())
        return;
    readingTimer_.start_timer();
    readSettings();
}

void ManualLocationSource::readSettings()
{
    enabled_ = settings_.value(QStringLiteral("enable_location"), false).toBool();
    if (!enabled_)
        return;
    if (!announced_) {
        announced_ = true;
        debug_log_printf_always("Setting location manually using QSettings (disables GPS)\n");
    }
    const QVariant latitudeText = settings_.value(QStringLiteral("s_latitude"), 0);
    const QVariant longitudeText = settings_.value(QStringLiteral("s_longitude"), 0);
    bool latitudeRead = false;
    bool longitudeRead = false;
    const double latitude = latitudeText.toDouble(&latitudeRead);
    const double longitude = longitudeText.toDouble(&longitudeRead);
    // Written by hand or by an older dialog: never publish a place that cannot exist.
    if (!latitudeRead || !longitudeRead || !(std::abs(latitude) <= 90.0) || !(std::abs(longitude) <= 180.0)) {
        if (!rejectionReported_)
            debug_log_printf_always("Ignoring the manual location %s,%s: no such position\n",
                                    latitudeText.toString().toLocal8Bit().constData(),
                                    longitudeText.toString().toLocal8Bit().constData());
        rejectionReported_ = true;
        return;
    }
    location_t location;
    location.latitude = latitude;
    location.longitude = longitude;
    location.fix = 0;
    location.valid = true;
    holder_.setLocation(location);
}

void pollManualLocation()
{
    // Never destroyed: the front-panel input thread polls it until the end.
    static ManualLocationSource* const source =
        new ManualLocationSource(*PersistentQSettings::instance(), *MyLocationManager_t::instance());
    source->pollManualLocation();
}
