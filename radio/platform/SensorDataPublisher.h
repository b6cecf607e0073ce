// Posts the radio's own location to the management service every five
// minutes, skipping posts that would repeat the last one.
#pragma once

#include <QObject>

#include <atomic>
#include <string>

class MyLocationManager_t;

class SensorDataPublisher_t : public QObject
{
    Q_OBJECT
public:
    explicit SensorDataPublisher_t(MyLocationManager_t& holder, QObject* parent = nullptr);

    // Shorter pauses for tests: between posts, and while waiting for a
    // first location.
    void setPauses(int periodMs, int firstFixPollMs);
    // Ends worker_thread() at its next pause; for tests.
    void requestStop() { stopRequested_ = true; }

    // The form posted for a location: key id, position, time.
    static std::string locationBody(const std::string& keyId, double latitude, double longitude, long time);

public slots:
    void worker_thread();

private:
    void waitForFirstFix();
    void postIfChanged(const std::string& url);
    void pause(int milliseconds);

    MyLocationManager_t& holder_;
    int periodSeconds_ = 300;
    int periodMs_ = 300000;
    int firstFixPollMs_ = 10000;
    std::string lastPostedBody_;
    std::atomic<bool> stopRequested_{false};
};
