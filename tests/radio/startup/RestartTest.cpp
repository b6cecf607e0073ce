// Tests of the restart: a real detached copy with the program's own path as
// its first argument, and a failed start that leaves the program running.
#include "ProgramRestart.h"

#include "debug_log_control.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

namespace {

TEST(RestartTest, StartsADetachedCopyWithItsOwnPathFirst)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString record = folder.filePath("arguments.txt");
    QProcess probe;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("RESTART_PROBE_RECORD", record);
    environment.insert("appdata", folder.path());
    probe.setProcessEnvironment(environment);
    probe.start(RESTART_PROBE_PATH, QStringList());
    ASSERT_TRUE(probe.waitForFinished(10000));
    EXPECT_EQ(probe.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(probe.exitCode(), 0);
    const QByteArray output = probe.readAllStandardError();
    EXPECT_TRUE(output.contains("Restarting now...\n")) << output.constData();
    EXPECT_TRUE(output.contains("Event processing shut down\n")) << output.constData();

    // The copy runs detached; give it a moment to write what it was given.
    for (int i = 0; i < 100 && !QFile::exists(record); ++i)
        QTest::qWait(50);
    QTest::qWait(50);
    QFile file(record);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << "the detached copy never ran";
    const QList<QByteArray> lines = file.readAll().split('\n');
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines.at(0), QByteArray(RESTART_PROBE_PATH));
    EXPECT_EQ(lines.at(1), QByteArray(RESTART_PROBE_PATH));
}

TEST(RestartTest, ArgumentsOfTheCopy)
{
    const QStringList original{"/opt/radio/bin/RVX4400w", "-style", "fusion"};
    EXPECT_EQ(ProgramRestart::restartProgram(original), "/opt/radio/bin/RVX4400w");
    EXPECT_EQ(ProgramRestart::restartArguments(original), original);
}

TEST(RestartTest, FailedStartKeepsThisCopyRunning)
{
    std::string log;
    debug_log_set_sink([&log](const char* text, std::size_t n) { log.append(text, n); });
    QStringList started;
    ProgramRestart::setStarter([&started](const QString& program, const QStringList&) {
        started << program;
        return false;
    });
    ProgramRestart::restartNow(); // returns instead of ending the test process
    debug_log_set_sink(nullptr);
    EXPECT_EQ(started.size(), 1);
    EXPECT_NE(log.find("Restart failed"), std::string::npos) << log;
    EXPECT_EQ(log.find("Event processing shut down"), std::string::npos);
}

} // namespace
