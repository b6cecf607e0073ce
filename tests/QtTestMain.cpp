// Test entry point for tests that need a Qt application object (timers,
// queued signals, QSignalSpy): runs GoogleTest inside a QCoreApplication,
// with the local settings store in a temporary folder unless the test run
// names one, so that no test writes into the user's own data folder.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdlib>

int main(int argc, char** argv)
{
    QTemporaryDir appData;
    setenv("appdata", appData.path().toLocal8Bit().constData(), 0);
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
