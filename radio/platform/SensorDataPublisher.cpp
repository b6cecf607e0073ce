// The location posting loop.
#include "SensorDataPublisher.h"

#include "DeviceIdentity.h"
#include "LocationText.h"
#include "ManagementService.h"
#include "MyLocationManager.h"
#include "debug_log.h"
#include "wGet.h"

#include <QThread>

#include <cstdio>

namespace {

const char* const kFlag = "DEBUG_SENSOR_DATA_PUBLISHER";
constexpr std::size_t kLongestBody = 255;
constexpr int kPauseSliceMs = 100;

} // namespace

SensorDataPublisher_t::SensorDataPublisher_t(MyLocationManager_t& holder, QObject* parent)
    : QObject(parent), holder_(holder)
{
    debug_log_printf(kFlag, "gps updates every %.3f minute(s).\n", periodSeconds_ / 60.0);
}

void SensorDataPublisher_t::setPauses(int periodMs, int firstFixPollMs)
{
    periodMs_ = periodMs;
    firstFixPollMs_ = firstFixPollMs;
}

std::string SensorDataPublisher_t::locationBody(const std::string& keyId, double latitude, double longitude,
                                                long time)
{
    const std::string body = "kid=" + keyId + "&lat=" + decimalText(latitude, 8) + "&lon=" +
                             decimalText(longitude, 8) + "&ts=" + std::to_string(time);
    return body.substr(0, kLongestBody);
}

// Sleeps in short slices so that a stop request ends the loop promptly.
void SensorDataPublisher_t::pause(int milliseconds)
{
    for (int slept = 0; slept < milliseconds && !stopRequested_; slept += kPauseSliceMs)
        QThread::msleep(static_cast<unsigned long>(std::min(kPauseSliceMs, milliseconds - slept)));
}

void SensorDataPublisher_t::waitForFirstFix()
{
    while (!holder_.hasLocation() && !stopRequested_) {
        debug_log_printf(kFlag, "%s%s%s", "worker_thread", " waiting for first fix...", "\n");
        pause(firstFixPollMs_);
    }
}

void SensorDataPublisher_t::postIfChanged(const std::string& url)
{
    const location_t location = holder_.location();
    const std::string body =
        locationBody(getKeyId().value_or(std::string()), location.latitude, location.longitude, location.time);
    if (body == lastPostedBody_) {
        debug_log_printf(kFlag, "%s%s%s", "worker_thread",
                         " skipping location post because location hasn't changed (enough).", "\n");
        return;
    }
    debug_log_printf(kFlag, "%s%s%s", "worker_thread", " attempting to post current location...", "\n");
    try {
        const std::string reply = wGet(url.c_str(), body.c_str());
        debug_log_printf("DEBUG_LOCATION_POST_REPLIES", "When posting location to webmanagement, got this back: %s\n",
                         reply.c_str());
        lastPostedBody_ = body;
    } catch (const std::exception& error) {
        debug_log_printf_always("wGet threw an exception in SensorDataPublisher_t::worker_thread(): %s\n",
                                error.what());
    }
}

void SensorDataPublisher_t::worker_thread()
{
    waitForFirstFix();
    const std::string url = managementServiceUrl("/index.php/api/location/put");
    while (!stopRequested_ && periodSeconds_ != 0) {
        postIfChanged(url);
        pause(periodMs_);
    }
}
