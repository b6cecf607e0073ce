// Tests of the local settings store: the write-behind rules, the keys that
// go to the file at once, and what reaches the file when.
#include "DelayedPersistentQSettings.h"
#include "LogCapture.h"
#include "MountNamespace.h"
#include "PersistentQSettings.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>

namespace {

constexpr int kShortDelayMs = 150;

class WriteBehindTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        path = folder.filePath("settings.ini");
        store = std::make_unique<DelayedPersistentQSettings>(path, QSettings::IniFormat);
        store->setWriteDelayMs(kShortDelayMs);
    }

    // What a fresh reader of the file sees.
    QVariant onFile(const QString& key) const
    {
        QSettings file(path, QSettings::IniFormat);
        return file.value(key);
    }

    void waitPastDelay() { QTest::qWait(kShortDelayMs * 3); }

    QTemporaryDir folder;
    QString path;
    std::unique_ptr<DelayedPersistentQSettings> store;
};

TEST_F(WriteBehindTest, BurstOfChangesIsWrittenOnceAfterItSettles)
{
    for (int volume = 21; volume <= 30; ++volume) {
        store->setValue("volume", volume);
        QTest::qWait(kShortDelayMs / 5); // each change restarts the delay
    }
    EXPECT_EQ(store->value("volume").toInt(), 30) << "the pending value is read back at once";
    EXPECT_FALSE(onFile("volume").isValid()) << "nothing written while changes keep coming";
    waitPastDelay();
    EXPECT_EQ(onFile("volume").toInt(), 30);
    EXPECT_FALSE(store->hasPendingValue());
}

TEST_F(WriteBehindTest, SecondKeyWritesTheFirstAtOnce)
{
    store->setValue("volume", 35);
    store->setValue("zone_index", 2);
    EXPECT_EQ(onFile("volume").toInt(), 35);
    EXPECT_FALSE(onFile("zone_index").isValid());
    waitPastDelay();
    EXPECT_EQ(onFile("zone_index").toInt(), 2);
}

TEST_F(WriteBehindTest, ImmediateKeysReachTheFileAtOnce)
{
    for (const char* key : {"show_reg", "encryption_enabled"}) {
        store->setValue(key, true);
        EXPECT_TRUE(onFile(key).toBool()) << key;
    }
    store->setValue("volume", 10);
    EXPECT_FALSE(onFile("volume").isValid());
}

TEST_F(WriteBehindTest, ValueEqualToTheFilesIsNotWritten)
{
    store->setValue("volume", 40);
    store->sync();
    const QDateTime writtenAt = QFileInfo(path).lastModified();
    QTest::qWait(20);
    store->setValue("volume", QStringLiteral("40")); // the text form the file gives back
    store->setValue("volume", 40);
    waitPastDelay();
    store->sync();
    EXPECT_EQ(QFileInfo(path).lastModified(), writtenAt);
    EXPECT_EQ(onFile("volume").toInt(), 40);
}

TEST_F(WriteBehindTest, RepeatingTheSameValueDoesNotPostponeTheWrite)
{
    store->setValue("volume", 50);
    for (int i = 0; i < 6; ++i) {
        QTest::qWait(kShortDelayMs / 3);
        store->setValue("volume", 50);
    }
    EXPECT_EQ(onFile("volume").toInt(), 50);
}

TEST_F(WriteBehindTest, DefaultsForMissingKeysAndUnreadableFile)
{
    EXPECT_EQ(store->value("volume", 20).toInt(), 20);
    EXPECT_FALSE(store->value("never_set").isValid());

    const QString garbage = folder.filePath("garbage.ini");
    QFile file(garbage);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("\x00\xff[[[=\n=\n\xfe", 11));
    file.close();
    DelayedPersistentQSettings damaged(garbage, QSettings::IniFormat);
    EXPECT_EQ(damaged.value("volume", 20).toInt(), 20);
}

TEST_F(WriteBehindTest, DestroyingTheStoreWritesThePendingValue)
{
    store->setValue("pa_mode_volume", 77);
    store.reset();
    EXPECT_EQ(onFile("pa_mode_volume").toInt(), 77);
}

TEST_F(WriteBehindTest, ByteArraysRoundTrip)
{
    const QByteArray geometry("\x01\x00\xd9\xff", 4);
    store->setValue("geometry", geometry);
    store->sync();
    EXPECT_EQ(onFile("geometry").toByteArray(), geometry);
}

TEST_F(WriteBehindTest, ChangesFromAnotherThreadAreWrittenByTheOwnersTimer)
{
    QThread* worker = QThread::create([this] { store->setValue("s_latitude", -10.5); });
    worker->start();
    worker->wait();
    delete worker;
    EXPECT_DOUBLE_EQ(store->value("s_latitude").toDouble(), -10.5);
    waitPastDelay();
    EXPECT_DOUBLE_EQ(onFile("s_latitude").toDouble(), -10.5);
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// On a full disk QSettings reports success and leaves an empty file: the
// store reads every write back, puts the previous file back and says so,
// for delayed, immediate and final writes alike.
TEST(PersistentSettingsDiskTest, FullDiskKeepsThePreviousFileAndSaysSo)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString path = folder.filePath("settings.ini");
    RVX_IN_PRIVATE_MOUNT_NAMESPACE([&] {
        ASSERT_TRUE(rvx::test::MountTmpfs(folder.path().toStdString(), 16));
        rvx::test::LogCapture log;
        QByteArray before;
        {
            DelayedPersistentQSettings store(path, QSettings::IniFormat);
            store.setValue("geometry", QByteArray(1500, 'g'));
            store.setValue("volume", 20);
            store.sync();
            before = fileBytes(path);
            ASSERT_TRUE(before.contains("volume=20")) << before.constData();
            ASSERT_FALSE(log.Contains("Unable to write the local settings"));

            rvx::test::FillFileSystem(folder.path().toStdString());
            store.setValue("volume", 30);
            store.sync();
            EXPECT_EQ(fileBytes(path), before);
            store.setValue("show_reg", true);
            EXPECT_EQ(fileBytes(path), before);
            store.setValue("zone_index", 2);
        }
        EXPECT_EQ(fileBytes(path), before);
        EXPECT_GE(log.Count("Unable to write the local settings to " + path.toStdString()), 3u) << log.Text();
    });
}

TEST(PersistentQSettingsTest, FileLivesInTheTalkboxFolderUnderAppdata)
{
    QTemporaryDir appdata;
    ASSERT_TRUE(appdata.isValid());
    qputenv("appdata", appdata.path().toLocal8Bit() + "/");
    EXPECT_EQ(PersistentQSettings::settingsFilePath(), appdata.path() + "/Talkbox/settings.ini");

    PersistentQSettings* store = PersistentQSettings::instance();
    EXPECT_EQ(store, PersistentQSettings::instance());
    EXPECT_EQ(QCoreApplication::organizationName(), "Ardentel");
    EXPECT_EQ(QCoreApplication::applicationName(), "RVX4400");
    store->setValue("show_reg", true);
    EXPECT_TRUE(QFileInfo::exists(appdata.path() + "/Talkbox/settings.ini"));
    store->setValue("volume", 33);
    PersistentQSettings::flushIfOpen();
    QSettings file(appdata.path() + "/Talkbox/settings.ini", QSettings::IniFormat);
    EXPECT_EQ(file.value("volume").toInt(), 33);
    qunsetenv("appdata");
}

TEST(AppDataFolderTest, FallsBackToXdgDataHome)
{
    qunsetenv("appdata");
    qputenv("XDG_DATA_HOME", "/tmp/xdg-test");
    EXPECT_EQ(PersistentQSettings::settingsFilePath(), "/tmp/xdg-test/Talkbox/settings.ini");
    qunsetenv("XDG_DATA_HOME");
    EXPECT_EQ(PersistentQSettings::settingsFilePath(), QDir::homePath() + "/.local/share/Talkbox/settings.ini");
}

} // namespace
