// The radio's own location: stored by the location source, read by the
// publisher, the radio model and the display from their own threads.
#pragma once

#include "location.h"

#include <QObject>

#include <mutex>

class MyLocationManager_t : public QObject
{
    Q_OBJECT
public:
    static MyLocationManager_t* instance();

    bool hasLocation() const;
    location_t location() const;
    // Stores the whole record, marks the location known and signals it.
    void setLocation(const location_t& location);

signals:
    void moUpdatedLocationAvailable();

private:
    MyLocationManager_t() = default;

    mutable std::mutex mutex_;  // readers on other threads see whole records
    bool haveLocation_ = false;
    location_t location_;
};
