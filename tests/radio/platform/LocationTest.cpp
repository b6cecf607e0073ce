// Tests of the own location: the manual source, the holder, the publisher
// against a local server, and the distance and direction helpers.
#include "DelayedPersistentQSettings.h"
#include "DeviceIdentity.h"
#include "LocationGeometry.h"
#include "ManagementService.h"
#include "ManualLocationSource.h"
#include "MyLocationManager.h"
#include "SensorDataPublisher.h"

#include "CommaDecimalLocale.h"
#include "LocalHttpServer.h"
#include "LogCapture.h"
#include "WorkerLoopRun.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cmath>
#include <mutex>

namespace {

using rvx::test::LocalHttpServer;
using rvx::test::LogCapture;

location_t at(double latitude, double longitude, bool valid = true)
{
    location_t location;
    location.latitude = latitude;
    location.longitude = longitude;
    location.valid = valid;
    return location;
}

TEST(LocationGeometryTest, OneDegreeOfLatitudeNorthAndSouth)
{
    const relative_position_t north = relativePosition(at(45.0, -122.0), at(46.0, -122.0));
    ASSERT_TRUE(north.valid);
    EXPECT_NEAR(north.distance, 111300.0, 100.0);
    EXPECT_NEAR(north.bearing, 0.0, 1e-6);
    EXPECT_STREQ(compassPoint(bearingDegrees(north)), "N");
    EXPECT_EQ(distanceText(north, "English"), "69 Miles N");

    const relative_position_t south = relativePosition(at(46.0, -122.0), at(45.0, -122.0));
    EXPECT_NEAR(std::fabs(south.bearing), M_PI, 1e-6);
    EXPECT_STREQ(compassPoint(bearingDegrees(south)), "S");
}

TEST(LocationGeometryTest, InvalidOrIdenticalPositions)
{
    for (const auto& [from, to] : {std::pair{at(1, 2, false), at(3, 4)}, std::pair{at(1, 2), at(3, 4, false)}}) {
        const relative_position_t result = relativePosition(from, to);
        EXPECT_FALSE(result.valid);
        EXPECT_EQ(result.distance, 0.0);
        EXPECT_EQ(result.bearing, 0.0);
    }
    // Rounding must not turn the distance of a point to itself into NaN.
    for (double latitude : {0.0, 45.5, 51.4779, -89.9}) {
        const relative_position_t same = relativePosition(at(latitude, 7.1), at(latitude, 7.1));
        EXPECT_TRUE(same.valid);
        EXPECT_FALSE(std::isnan(same.distance)) << latitude;
        EXPECT_LT(same.distance, 1.0) << latitude;
    }
}

TEST(LocationGeometryTest, CompassPointsAndBearingRange)
{
    const std::pair<double, const char*> table[] = {{0.0, "N"},    {22.4, "N"},   {22.5, "NE"}, {67.5, "E"},
                                                    {180.0, "S"},  {225.0, "SW"}, {270.0, "W"}, {315.0, "NW"},
                                                    {337.4, "NW"}, {337.5, "N"},  {359.9, "N"}};
    for (const auto& [degrees, point] : table)
        EXPECT_STREQ(compassPoint(degrees), point) << degrees;
    relative_position_t west;
    west.valid = true;
    west.bearing = -M_PI / 2;
    EXPECT_NEAR(bearingDegrees(west), 270.0, 1e-9);
}

TEST(LocationGeometryTest, EnglishDistanceTexts)
{
    rvx::test::CommaDecimalLocale german;
    ASSERT_TRUE(german.Active()) << "de_DE.UTF-8 is missing: run scripts/install-deps.sh";
    struct Row
    {
        double metres;
        const char* text;
        const char* unit;
    };
    const Row rows[] = {{16093.44, "10", "Miles"}, {1609.344, "1.0", "Miles"}, {100.0, "109", "Yards"},
                        {160.9344, "0.1", "Miles"}, {0.0, "0", "Yards"},       {50000.0, "31", "Miles"}};
    for (const Row& row : rows) {
        const char* unit = nullptr;
        EXPECT_STREQ(formatDistance(row.metres, "English", &unit), row.text) << row.metres;
        EXPECT_STREQ(unit, row.unit) << row.metres;
    }
    const char* unit = nullptr;
    EXPECT_STREQ(formatDistance(5.0, "Metric", &unit), "Metric not implemented");
    EXPECT_STREQ(unit, "N/A");

    LogCapture log;
    formatDistance(100.0, "English", &unit);
    EXPECT_STREQ(formatDistance(9999.0, "Furlongs", &unit), "109");
    EXPECT_STREQ(unit, "Yards");
    EXPECT_TRUE(log.Contains("Invalid unit system: Furlongs\n"));
}

class ManualLocationTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        settings = std::make_unique<DelayedPersistentQSettings>(folder.filePath("settings.ini"), QSettings::IniFormat);
    }
    QTemporaryDir folder;
    std::unique_ptr<DelayedPersistentQSettings> settings;
};

TEST_F(ManualLocationTest, EnabledLocationIsSetOnTheFirstPassAndAgainEachInterval)
{
    settings->setValue("enable_location", true);
    settings->setValue("s_latitude", 45.5);
    settings->setValue("s_longitude", -122.25);
    MyLocationManager_t& holder = *MyLocationManager_t::instance();
    QSignalSpy updates(&holder, &MyLocationManager_t::moUpdatedLocationAvailable);
    ManualLocationSource source(*settings, holder, 200);
    LogCapture log;

    source.pollManualLocation();
    ASSERT_EQ(updates.count(), 1);
    ASSERT_TRUE(holder.hasLocation());
    const location_t location = holder.location();
    EXPECT_EQ(location.latitude, 45.5);
    EXPECT_EQ(location.longitude, -122.25);
    EXPECT_EQ(location.fix, 0);
    EXPECT_TRUE(location.valid);

    source.pollManualLocation();
    EXPECT_EQ(updates.count(), 1);
    QTest::qWait(250);
    source.pollManualLocation();
    EXPECT_EQ(updates.count(), 2);
    EXPECT_EQ(log.Count("Setting location manually using QSettings (disables GPS)\n"), 1u);
}

// A stored position that cannot exist (written by hand or by an older
// settings dialog) is never taken as the radio's position.
TEST_F(ManualLocationTest, StoredPositionsThatCannotExistAreNotUsed)
{
    const struct
    {
        QVariant latitude;
        QVariant longitude;
    } rows[] = {{95.0, 20.0}, {45.0, -500.0}, {"45,5", 20.0}, {-90.5, 0.0}, {"nan", 10.0}};
    MyLocationManager_t& holder = *MyLocationManager_t::instance();
    QSignalSpy updates(&holder, &MyLocationManager_t::moUpdatedLocationAvailable);
    LogCapture log;
    for (const auto& row : rows) {
        settings->setValue("enable_location", true);
        settings->setValue("s_latitude", row.latitude);
        settings->setValue("s_longitude", row.longitude);
        ManualLocationSource source(*settings, holder, 50);
        source.pollManualLocation();
        EXPECT_EQ(updates.count(), 0) << row.latitude.toString().toStdString() << ","
                                      << row.longitude.toString().toStdString();
    }
    EXPECT_TRUE(log.Contains("Ignoring the manual location 95,20: no such position\n")) << log.Text();
}

TEST_F(ManualLocationTest, DisabledLocationLeavesTheHolderAlone)
{
    MyLocationManager_t& holder = *MyLocationManager_t::instance();
    QSignalSpy updates(&holder, &MyLocationManager_t::moUpdatedLocationAvailable);
    ManualLocationSource source(*settings, holder, 50);
    source.pollManualLocation();
    QTest::qWait(80);
    source.pollManualLocation();
    EXPECT_EQ(updates.count(), 0);
}

// A location service that records each post and answers with a status.
class LocationService
{
public:
    explicit LocationService(int status = 200)
    {
        server_.Server().Post(".*", [this, status](const httplib::Request& request, httplib::Response& response) {
            std::lock_guard<std::mutex> lock(mutex_);
            posts_.push_back(request.path + "?" + request.body);
            response.status = status;
            response.set_content("OK", "text/plain");
        });
        server_.Start();
        ::setenv(kWebManagementUrlVariable, server_.Url().c_str(), 1);
    }
    ~LocationService() { ::unsetenv(kWebManagementUrlVariable); }
    std::vector<std::string> Posts()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return posts_;
    }

private:
    LocalHttpServer server_;
    std::mutex mutex_;
    std::vector<std::string> posts_;
};

// The publisher's loop on its own thread until the end of a scope.
struct PublisherRun : rvx::test::WorkerLoopRun<SensorDataPublisher_t>
{
    explicit PublisherRun(SensorDataPublisher_t& publisher)
        : WorkerLoopRun(publisher, &SensorDataPublisher_t::worker_thread)
    {
    }
};

TEST(SensorDataPublisherTest, PostsOnceAndSkipsAnUnchangedBody)
{
    setKeyIdSource([] { return std::string("0A1B2C3D"); });
    MyLocationManager_t& holder = *MyLocationManager_t::instance();
    holder.setLocation(at(45.5, -122.25));
    LocationService service;
    LogCapture log("DEBUG_SENSOR_DATA_PUBLISHER\n");
    SensorDataPublisher_t publisher(holder);
    publisher.setPauses(100, 50);
    {
        PublisherRun run(publisher);
        ASSERT_TRUE(QTest::qWaitFor([&] { return log.Count("hasn't changed (enough)") >= 2; }, 5000));
        EXPECT_EQ(service.Posts(),
                  std::vector<std::string>{
                      "/index.php/api/location/put?kid=0A1B2C3D&lat=45.50000000&lon=-122.25000000&ts=0"});

        holder.setLocation(at(45.6, -122.25));
        ASSERT_TRUE(QTest::qWaitFor([&] { return service.Posts().size() == 2; }, 5000));
        EXPECT_NE(service.Posts()[1].find("&lat=45.60000000&"), std::string::npos);
    }
    EXPECT_TRUE(log.Contains("gps updates every 5.000 minute(s).\n"));
    setKeyIdSource({});
}

TEST(SensorDataPublisherTest, FailedPostIsRetriedOnTheNextPass)
{
    MyLocationManager_t::instance()->setLocation(at(1.0, 2.0));
    LocationService failing(500);
    LogCapture log;
    SensorDataPublisher_t publisher(*MyLocationManager_t::instance());
    publisher.setPauses(100, 50);
    PublisherRun run(publisher);
    ASSERT_TRUE(QTest::qWaitFor([&] { return failing.Posts().size() >= 2; }, 5000));
    EXPECT_TRUE(log.Contains("wGet threw an exception in SensorDataPublisher_t::worker_thread(): wget error: "));
}

TEST(SensorDataPublisherTest, BodyFormatKeepsWithinItsLimitAndItsDecimalPoint)
{
    rvx::test::CommaDecimalLocale german;
    ASSERT_TRUE(german.Active()) << "de_DE.UTF-8 is missing: run scripts/install-deps.sh";
    EXPECT_EQ(SensorDataPublisher_t::locationBody("89ABCDEF", -33.865143, 151.2099, 1700000000),
              "kid=89ABCDEF&lat=-33.86514300&lon=151.20990000&ts=1700000000");
    EXPECT_EQ(SensorDataPublisher_t::locationBody(std::string(400, 'k'), 0, 0, 0).size(), 255u);
}

} // namespace
