// The process-wide holder of the own location.
#include "MyLocationManager.h"

MyLocationManager_t* MyLocationManager_t::instance()
{
    static MyLocationManager_t* const holder = new MyLocationManager_t;
    return holder;
}

bool MyLocationManager_t::hasLocation() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return haveLocation_;
}

location_t MyLocationManager_t::location() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return location_;
}

void MyLocationManager_t::setLocation(const location_t& location)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        location_ = location;
        haveLocation_ = true;
    }
    emit moUpdatedLocationAvailable();
}
