// A manual position typed into the settings dialog reaches the running
// radio: the program's own start-up runs in this process (in a network
// namespace of the test, against the management-service simulator), the
// dialog is filled in and confirmed, and then the own-location holder, the
// display's location page, the caller-ID location of outgoing calls and the
// location posted to the service must all carry the new position. The
// display also shows the network state the platform reports.
#include "MainWindow.h"

#include "LogCapture.h"
#include "ManagementSimProcess.h"
#include "MyLocationManager.h"
#include "NetNamespace.h"
#include "PlatformFiles.h"
#include "ProcessFlags.h"
#include "TalkboxSettings.h"
#include "TemporaryGnupgHome.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <cstdlib>
#include <functional>

namespace {

using rvx::test::LogCapture;
using rvx::test::ManagementSimProcess;
using rvx::test::TemporaryGnupgHome;

// Runs the event loop until the condition holds or the time runs out.
bool EventuallyTrue(const std::function<bool()>& condition, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!condition() && !deadline.hasExpired())
        QTest::qWait(50);
    return condition();
}

QString LabelText(const QWidget& window, const char* name)
{
    const auto* label = window.findChild<QLabel*>(QString::fromLatin1(name));
    return label ? label->text() : QString();
}

TEST(SettingsDialogLocation, PositionEnteredInTheSettingsDialogReachesTheRunningRadio)
{
    RVX_REQUIRE_PRIVATE_NETNS();
    ManagementSimProcess sim;
    ASSERT_TRUE(sim.Started());
    TemporaryGnupgHome home;
    ASSERT_TRUE(home.Valid());
    setenv("RVX4400_WEBMANAGEMENT_URL", sim.BaseUrl().c_str(), 1);
    LogCapture log("DEBUG_CALLER_ID_LOCATION\n");
    // The platform's network service says the wired interface is ready.
    QTemporaryDir platform;
    ASSERT_TRUE(QDir(platform.path()).mkpath("ipc/net/eth0") && QDir(platform.path()).mkpath("data/local/tmp"));
    QFile status(platform.filePath("ipc/net/eth0/status"));
    ASSERT_TRUE(status.open(QIODevice::WriteOnly) && status.write("Ready\n") > 0);
    status.close();
    PlatformFiles::setRootFolder(platform.path().toStdString());

    // The window as the program makes it, with its queued start-up.
    MainWindow window;
    window.show();
    ASSERT_TRUE(EventuallyTrue([] { return ProcessFlags::startupComplete.load(); }, 60000)) << log.Text();
    ASSERT_FALSE(MyLocationManager_t::instance()->hasLocation()) << "no position before the user gives one";
    EXPECT_TRUE(EventuallyTrue(
        [&window] { return LabelText(window, "selectedInterfaceLabel") == "Selected Interface: eth0"; }, 5000))
        << LabelText(window, "selectedInterfaceLabel").toStdString();
    EXPECT_EQ(LabelText(window, "networkReadyLabel"), "Ready");

    window.form().actionSystem_Settings->trigger();
    TalkboxSettings& dialog = *window.settingsDialog();
    ASSERT_TRUE(dialog.isVisible());
    dialog.locationGroup()->setChecked(true);
    dialog.latitudeEntry()->setText("47.25");
    dialog.latitudeHemisphere()->setCurrentText("S");
    dialog.longitudeEntry()->setText("11.5");
    dialog.longitudeHemisphere()->setCurrentText("E");
    QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    ASSERT_FALSE(dialog.isVisible());

    // The front-panel loop reads the manual position every few seconds.
    MyLocationManager_t& own = *MyLocationManager_t::instance();
    ASSERT_TRUE(EventuallyTrue([&own] { return own.hasLocation(); }, 15000));
    EXPECT_FLOAT_EQ(own.location().latitude, -47.25f);
    EXPECT_FLOAT_EQ(own.location().longitude, 11.5f);
    EXPECT_TRUE(own.location().valid);

    EXPECT_TRUE(EventuallyTrue([&window] { return LabelText(window, "myLatitudeLabel") == "47.25000S"; }, 5000))
        << LabelText(window, "myLatitudeLabel").toStdString();
    EXPECT_EQ(LabelText(window, "myLongitudeLabel"), "11.50000E");
    EXPECT_TRUE(EventuallyTrue(
        [&log] { return log.Contains("Setting location for outgoing callerID: -47.250000S,11.500000E\n"); }, 5000))
        << log.Text();

    // The location publisher was waiting for a first position: it posts it.
    std::string units;
    EXPECT_TRUE(EventuallyTrue(
        [&] {
            units = sim.Admin({"list"});
            return units.find("location=-47.25000000,11.50000000") != std::string::npos;
        },
        30000))
        << units;
}

} // namespace
