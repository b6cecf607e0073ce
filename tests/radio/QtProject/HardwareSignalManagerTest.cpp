// The hardware PTT line: read only once start-up is complete and only from
// an open input; reported the first time and on every change, never on a
// short read.
#include "HardwareSignalManager.h"

#include "ProcessFlags.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

#include <cstdint>
#include <unistd.h>

namespace {

class HardwareSignalManagerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(::pipe(line), 0);
        manager->setHardwareInput(line[0]);
        ProcessFlags::startupComplete = true;
    }
    void TearDown() override
    {
        manager->setHardwareInput(-1);
        ProcessFlags::startupComplete = false;
        ::close(line[0]);
        ::close(line[1]);
    }
    void writeState(std::uint32_t state) { ASSERT_EQ(::write(line[1], &state, sizeof state), 4); }

    HardwareSignalManager* manager = HardwareSignalManager::instance();
    int line[2] = {-1, -1};
};

TEST_F(HardwareSignalManagerTest, ReportsTheLineFirstAndThenOnlyChanges)
{
    QSignalSpy ptt(manager, &HardwareSignalManager::coMicPttChanged);
    const std::uint32_t states[] = {1, 1, 0, 0, 3, 2};  // bit 0 low = pressed
    for (std::uint32_t state : states) {
        writeState(state);
        manager->pollOnce();
    }
    ASSERT_EQ(ptt.count(), 4);
    EXPECT_FALSE(ptt.at(0).at(0).toBool());
    EXPECT_TRUE(ptt.at(1).at(0).toBool());
    EXPECT_FALSE(ptt.at(2).at(0).toBool());
    EXPECT_TRUE(ptt.at(3).at(0).toBool());
}

TEST_F(HardwareSignalManagerTest, NothingIsReadBeforeStartUpCompletesOrWithoutAnInput)
{
    QSignalSpy ptt(manager, &HardwareSignalManager::coMicPttChanged);
    ProcessFlags::startupComplete = false;
    writeState(0);
    manager->pollOnce();
    ProcessFlags::startupComplete = true;
    manager->setHardwareInput(-1);
    manager->pollOnce();
    EXPECT_EQ(ptt.count(), 0);
}

} // namespace
