// Rebooting the unit: on a desktop (no "/ipc/net" folder) nothing runs; on
// the unit "reboot" goes through the system-command seam, which this test
// replaces, so no real command ever runs.
#include "PlatformFiles.h"
#include "SystemCommand.h"
#include "UnitReboot.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <string>
#include <vector>

namespace {

class UnitRebootTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root.isValid());
        PlatformFiles::setRootFolder(root.path().toStdString());
        SystemCommand::setRunner([this](const std::string& command) {
            commands.push_back(command);
            return 0;
        });
    }
    void TearDown() override
    {
        SystemCommand::setRunner({});
        PlatformFiles::setRootFolder("");
    }

    QTemporaryDir root;
    std::vector<std::string> commands;
};

TEST_F(UnitRebootTest, DesktopSkipsTheReboot)
{
    EXPECT_FALSE(UnitReboot::rebootUnit());
    EXPECT_TRUE(commands.empty());
}

TEST_F(UnitRebootTest, UnitRebootsThroughTheCommandSeam)
{
    ASSERT_TRUE(QDir(root.path()).mkpath("ipc/net"));
    EXPECT_TRUE(UnitReboot::rebootUnit());
    EXPECT_EQ(commands, std::vector<std::string>{"reboot"});
}

} // namespace
