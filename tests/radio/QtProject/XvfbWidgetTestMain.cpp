// Test entry point for front-panel tests driven by real input: the process
// enters a network namespace of its own, starts an X server (Xvfb) there and
// runs GoogleTest inside a QApplication on that server, so that xdotool's
// pointer, wheel and keys reach the widgets through the X server as a
// person's do. Without Xvfb, xdotool or a namespace it runs offscreen and the
// tests skip themselves; listing the tests starts nothing.
#include "NetNamespace.h"
#include "VirtualDisplay.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace rvx::test {

namespace {
VirtualDisplay* display = nullptr;
}

VirtualDisplay* TestDisplay()
{
    return display;
}

} // namespace rvx::test

namespace {

bool OnlyListing(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--gtest_list_tests") == 0)
            return true;
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir appData;
    setenv("appdata", appData.path().toLocal8Bit().constData(), 1);
    std::unique_ptr<rvx::test::VirtualDisplay> display;
    if (!OnlyListing(argc, argv) && rvx::test::VirtualDisplay::Available() && rvx::test::EnterPrivateNetNamespace()) {
        display = std::make_unique<rvx::test::VirtualDisplay>();
        if (display->started()) {
            setenv("DISPLAY", display->name().toLocal8Bit().constData(), 1);
            setenv("QT_QPA_PLATFORM", "xcb", 1);
            rvx::test::display = display.get();
        }
    }
    if (!rvx::test::display)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int result = 0;
    {
        QApplication application(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    return result;
}
