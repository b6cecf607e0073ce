// Test entry point for tests that need a Qt application object (timers,
// queued signals, QSignalSpy): runs GoogleTest inside a QCoreApplication.
#include <gtest/gtest.h>

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
