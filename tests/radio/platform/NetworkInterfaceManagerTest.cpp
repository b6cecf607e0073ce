// Tests of network interface selection: status files in a temporary root,
// choice by cost and status, the files written, and the signals.
#include "NetworkInterfaceManager.h"
#include "PlatformFiles.h"

#include "debug_log_control.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>

#include <map>
#include <sys/stat.h>

namespace {

class NetworkInterfaceManagerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root.isValid());
        PlatformFiles::setRootFolder(root.path().toStdString());
        QDir(root.path()).mkpath("ipc/net");
        QDir(root.path()).mkpath("data/local/tmp");
    }
    void TearDown() override
    {
        PlatformFiles::setRootFolder("");
        debug_log_load_flags_from_text("");
    }

    void setStatus(const QString& name, const QByteArray& status)
    {
        QDir(root.path()).mkpath("ipc/net/" + name);
        QFile file(root.filePath("ipc/net/" + name + "/status"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(status);
    }
    void removeStatus(const QString& name) { QFile::remove(root.filePath("ipc/net/" + name + "/status")); }

    QString selectedFile() const { return root.filePath("ipc/net/selected_interface"); }
    QByteArray read(const QString& path) const
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    QTemporaryDir root;
};

struct SelectionCase
{
    const char* what;
    std::map<QString, QByteArray> statuses; // absent: no status file
    const char* flags;
    const char* expectedChoice;            // "" for none
    bool expectedReady;
    bool expectedReported = true;          // some status came from the platform
};

TEST_F(NetworkInterfaceManagerTest, ChoosesTheCheapestUsableInterface)
{
    const std::vector<SelectionCase> cases = {
        {"both usable, eth0 cheaper", {{"eth0", "Ready\n"}, {"ppp0", "Available\n"}}, "", "eth0", true},
        {"gateway missing still usable", {{"eth0", "Default gateway is not set for eth0\n"}, {"ppp0", "Ready\n"}}, "", "eth0", false},
        {"eth0 down", {{"eth0", "Disconnected\n"}, {"ppp0", "Ready\n"}}, "", "ppp0", true},
        {"eth0 disabled by flag", {{"eth0", "Ready\n"}, {"ppp0", "Available\n"}}, "DISABLE_ETH0\n", "ppp0", false},
        {"status without line end", {{"eth0", "Ready"}}, "", "eth0", true},
        {"status words are exact", {{"eth0", "ready\n"}, {"ppp0", " Ready\n"}}, "", "", false, true},
        {"windows line end", {{"eth0", "Ready\r\n"}}, "", "eth0", true},
        {"no status files", {}, "", "", false, false},
        {"overlong status line", {{"eth0", QByteArray(300, 'R')}, {"ppp0", "Ready\n"}}, "", "ppp0", true},
    };
    for (const SelectionCase& c : cases) {
        removeStatus("eth0");
        removeStatus("ppp0");
        for (const auto& [name, status] : c.statuses)
            setStatus(name, status);
        debug_log_load_flags_from_text(c.flags);
        NetworkInterfaceManager_t manager;
        manager.addInterface("eth0", 0);
        manager.addInterface("ppp0", 1);
        QSignalSpy shown(&manager, &NetworkInterfaceManager_t::moUpdateNetworkState);
        manager.runPass();
        EXPECT_EQ(manager.selectedInterfaceName(), QString::fromLatin1(c.expectedChoice)) << c.what;
        EXPECT_EQ(manager.isNetworkReady(), c.expectedReady) << c.what;
        // The display is told the same, and whether anything is known at all.
        ASSERT_EQ(shown.count(), 1) << c.what;
        const auto state = shown.first().at(0).value<NetworkState>();
        EXPECT_EQ(state.reported, c.expectedReported) << c.what;
        EXPECT_EQ(state.selectedInterface, QString::fromLatin1(c.expectedChoice)) << c.what;
        EXPECT_EQ(state.ready, c.expectedReady) << c.what;
    }
}

TEST_F(NetworkInterfaceManagerTest, StateForTheDisplayCarriesTheSelectedInterfacesAddress)
{
    setStatus("lo", "Ready\n");
    NetworkInterfaceManager_t manager;
    manager.addInterface("lo", 0);
    QSignalSpy shown(&manager, &NetworkInterfaceManager_t::moUpdateNetworkState);
    manager.runPass();
    ASSERT_EQ(shown.count(), 1);
    EXPECT_EQ(shown.first().at(0).value<NetworkState>().address, "127.0.0.1");
}

TEST_F(NetworkInterfaceManagerTest, EqualCostsKeepTheFirstListed)
{
    setStatus("wlan0", "Ready\n");
    setStatus("eth1", "Ready\n");
    NetworkInterfaceManager_t manager;
    manager.addInterface("wlan0", 3);
    manager.addInterface("eth1", 3);
    manager.runPass();
    EXPECT_EQ(manager.selectedInterfaceName(), "wlan0");
}

TEST_F(NetworkInterfaceManagerTest, SelectionFileWrittenOnlyOnChange)
{
    NetworkInterfaceManager_t manager;
    manager.addInterface("eth0", 0);
    manager.addInterface("ppp0", 1);

    manager.runPass();
    EXPECT_FALSE(QFileInfo::exists(selectedFile())) << "nothing was ever selected, so nothing is written";

    setStatus("ppp0", "Ready\n");
    manager.runPass();
    EXPECT_EQ(read(selectedFile()), "ppp0");
    struct stat info;
    ASSERT_EQ(::stat(selectedFile().toLocal8Bit().constData(), &info), 0);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(info.st_mode & 0777, 0644 & ~mask);

    setStatus("eth0", "Available\n");
    manager.runPass();
    EXPECT_EQ(read(selectedFile()), "eth0");

    QFile::remove(selectedFile());
    manager.runPass(); // same choice: the file is not written again
    EXPECT_FALSE(QFileInfo::exists(selectedFile()));

    removeStatus("eth0");
    removeStatus("ppp0");
    manager.runPass();
    EXPECT_EQ(read(selectedFile()), "none");
    QFile::remove(selectedFile());
    manager.runPass();
    EXPECT_FALSE(QFileInfo::exists(selectedFile())) << "\"none\" is written once";
}

TEST_F(NetworkInterfaceManagerTest, ReportListsEveryInterfaceEachPass)
{
    setStatus("eth0", "Ready\n");
    NetworkInterfaceManager_t manager;
    manager.addInterface("eth0", 0);
    manager.addInterface("ppp0", 1);
    manager.runPass();
    EXPECT_EQ(read(root.filePath("data/local/tmp/interface_status")), "eth0 status:  Ready\nppp0 status:  unknown\n");
}

TEST_F(NetworkInterfaceManagerTest, MissingPlatformFoldersAreNotFatal)
{
    PlatformFiles::setRootFolder((root.path() + "/does/not/exist").toStdString());
    NetworkInterfaceManager_t manager;
    manager.addInterface("eth0", 0);
    manager.runPass();
    EXPECT_EQ(manager.selectedInterfaceName(), "");
}

TEST_F(NetworkInterfaceManagerTest, SignalsFromTheWorkerThread)
{
    setStatus("eth0", "Ready\n");
    NetworkInterfaceManager_t manager;
    manager.setPassIntervalMs(20);
    manager.addInterface("eth0", 0);
    QSignalSpy selected(&manager, &NetworkInterfaceManager_t::moUpdateSelectedNetworkInterface);
    QSignalSpy ready(&manager, &NetworkInterfaceManager_t::moUpdateNetworkReadyStatus);

    QThread thread;
    manager.moveToThread(&thread);
    thread.start();
    QMetaObject::invokeMethod(&manager, "worker_thread", Qt::QueuedConnection);
    ASSERT_TRUE(selected.wait(2000));
    ASSERT_TRUE(ready.count() > 0 || ready.wait(2000));
    manager.requestStop();
    thread.quit();
    ASSERT_TRUE(thread.wait(2000));

    EXPECT_EQ(selected.first().at(0).toString(), "eth0");
    EXPECT_TRUE(ready.first().at(0).toBool());
}

TEST_F(NetworkInterfaceManagerTest, InterfacesAddedWhileThePollRuns)
{
    NetworkInterfaceManager_t manager;
    manager.setPassIntervalMs(1);
    QThread* poller = QThread::create([&manager] { manager.worker_thread(); });
    poller->start();
    for (int i = 0; i < 200; ++i)
        manager.addInterface("if" + std::to_string(i), i);
    manager.requestStop();
    poller->wait();
    delete poller;
    EXPECT_EQ(manager.interfaces().size(), 200u);
}

} // namespace
