// The key state machine as a table: for each screen and event, the exact
// requests it emits, plus its registration poll rule and self-test toggle.
#include "UI_Handler.h"

#include <gtest/gtest.h>

#include <QMetaMethod>
#include <QSignalSpy>
#include <QStringList>

#include <memory>
#include <vector>

using namespace LcdScreens;

namespace {

QString argumentText(const QVariant& argument)
{
    if (argument.metaType() == QMetaType::fromType<screenName_t>())
        return QString::number(argument.value<screenName_t>());
    return argument.toString();
}

// Records every signal of a handler as "name" or "name(argument)".
class SignalRecorder
{
public:
    explicit SignalRecorder(UI_Handler& handler)
    {
        const QMetaObject* meta = handler.metaObject();
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
            const QMetaMethod method = meta->method(i);
            if (method.methodType() == QMetaMethod::Signal)
                spies_.push_back(std::make_unique<QSignalSpy>(&handler, method));
        }
    }

    // The signals since the last call, sorted, as one text.
    std::string take() { return takeList().join(", ").toStdString(); }

    QStringList takeList()
    {
        QStringList names;
        for (auto& spy : spies_) {
            for (const QList<QVariant>& arguments : *spy) {
                QString name = QString::fromLatin1(spy->signal().left(spy->signal().indexOf('(')));
                if (!arguments.isEmpty())
                    name += '(' + argumentText(arguments.first()) + ')';
                names << name;
            }
            spy->clear();
        }
        names.sort();
        return names;
    }

private:
    std::vector<std::unique_ptr<QSignalSpy>> spies_;
};

struct Row
{
    int screen;
    int event;
    QStringList expected;
};

void sendEvent(UI_Handler& handler, int event)
{
    switch (event) {
    case 0: handler.miKey1_PressedEvent(); break;
    case 1: handler.miKey2_PressedEvent(); break;
    case 2: handler.miKey3_PressedEvent(); break;
    case 3: handler.miKey4_PressedEvent(); break;
    case 4: handler.miKey5_PressedEvent(); break;
    case 5: handler.miKey6_PressedEvent(); break;
    case 6: handler.miKey7_PressedEvent(); break;
    case 7: handler.miKey8_PressedEvent(); break;
    case 8: handler.miRightKnobUp(); break;
    case 9: handler.miRightKnobDown(); break;
    case 12: handler.miVolumeChangedEvent(55); break;
    case 13: handler.miUpdateUiMicPttState(); break;
    default: FAIL() << "no source for event " << event;
    }
}

const std::vector<int> kAllEvents{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 12, 13};

// Everything a screen does; events not listed emit nothing (besides the
// transmit-state update that event 13 always gives).
const std::vector<Row>& table()
{
    static const std::vector<Row> rows{
        {registrationScreen, 2, {"coFinishRegistration(true)"}},
        {registrationScreen, 5, {"coBypassRegistration(true)"}},
        {homeScreen, 0, {"coSelectScreen(4)"}},
        {homeScreen, 1, {"coSelectScreen(7)"}},
        {homeScreen, 2, {"coDecreaseZone"}},
        {homeScreen, 3, {"coPaModeStart"}},
        {homeScreen, 4, {"coSelectScreen(6)"}},
        {homeScreen, 5, {"coIncreaseZone"}},
        {homeScreen, 6, {"coEmergencyStatusStart"}},
        {homeScreen, 8, {"coChannelUpUi"}},
        {homeScreen, 9, {"coChannelDownUi"}},
        {homeScreen, 12, {"volumeChangedSignal"}},
        {paModeScreen, 5, {"coPaModeEnd"}},
        {contactScreen, 2, {"coPlaceIndividualCallToContactUnderCursor"}},
        {contactScreen, 5, {"coSelectScreen(2)"}},
        {contactScreen, 8, {"coContactCursorUp"}},
        {contactScreen, 9, {"coContactCursorDown"}},
        {emergencyScreen, 2, {"coSelectScreen(2)"}},
        {gpsScreen, 5, {"coSelectScreen(2)"}},
        {setupScreen, 1, {"coSelectScreen(10)"}},
        {setupScreen, 2, {"coSelectScreen(12)"}},
        {setupScreen, 3, {"coSelectScreen(15)"}},
        {setupScreen, 4, {"coSelectScreen(8)"}},
        {setupScreen, 5, {"coSelectScreen(2)"}},
        {setupSettingsScreen, 1, {"coRestartTalkboxSetupButton", "coSelectScreen(11)", "miShowRegistration(true)"}},
        {setupSettingsScreen, 5, {"coSelectScreen(2)"}},
        {updateSettingsFromUsbScreen, 2, {"coSetSettingsFromUsbStatus(Rebooting...)"}},
        {updateSettingsFromUsbScreen, 5, {"coSelectScreen(2)"}},
        {networkAndWirelessSettingsScreen, 5, {"coSelectScreen(2)"}},
        {softwareUpdateScreen, 5, {"coSelectScreen(2)"}},
        {softwareUpdate2Screen, 2, {"coSelectScreen(2)"}},
        {selfTestScreen, 2, {"coSelfTestPttChanged(true)"}},
        {selfTestScreen, 5, {"coSelectScreen(2)"}},
        {unableToRegisterScreen, 2, {"coFinishRegistration(true)"}},
        {unableToRegisterScreen, 5, {"coBypassRegistration(true)"}},
        {individualCallScreen, 5, {"coEndIndividualCall"}},
    };
    return rows;
}

QStringList expectedFor(int screen, int event)
{
    QStringList expected;
    for (const Row& row : table())
        if (row.screen == screen && row.event == event)
            expected = row.expected;
    if (event == UI_Handler::kMicPttStateEvent)
        expected << "moUpdateMicPttState";
    expected.sort();
    return expected;
}

class UiHandlerTest : public ::testing::Test
{
protected:
    UiHandlerTest()
    {
        handler.setPauseBeforeAction([] {});
        handler.setMicPttPressedQuery([this] { return micPttPressed; });
        handler.setRebootAction([this] { ++reboots; });
    }

    void showScreen(int screen) { handler.miCurrentScreenFeedback(static_cast<screenName_t>(screen)); }

    UI_Handler handler;
    bool micPttPressed = false;
    int reboots = 0;
};

TEST_F(UiHandlerTest, EveryScreenAndEventEmitsExactlyItsRequests)
{
    for (int screen = 0; screen <= kScreenCount; ++screen) {
        for (int event : kAllEvents) {
            UI_Handler fresh;
            fresh.setPauseBeforeAction([] {});
            fresh.setMicPttPressedQuery([] { return false; });
            fresh.setRebootAction([] {});
            SignalRecorder recorder(fresh);
            fresh.miCurrentScreenFeedback(static_cast<screenName_t>(screen));
            sendEvent(fresh, event);
            EXPECT_EQ(recorder.take(), expectedFor(screen, event).join(", ").toStdString())
                << "screen " << screen << " event " << event;
        }
    }
}

TEST_F(UiHandlerTest, KeyEightDoesNothingAnywhereAndKeySevenOnlyRaisesEmergencyAtHome)
{
    SignalRecorder recorder(handler);
    for (int screen = 0; screen < kScreenCount; ++screen) {
        showScreen(screen);
        handler.miKey8_PressedEvent();
        EXPECT_EQ(recorder.take(), "") << "screen " << screen;
        handler.miKey7_PressedEvent();
        EXPECT_EQ(recorder.take(), screen == homeScreen ? "coEmergencyStatusStart" : "") << "screen " << screen;
    }
}

TEST_F(UiHandlerTest, MicPttOnContactsScreenPlacesCallAndUpdatesTransmitState)
{
    SignalRecorder recorder(handler);
    showScreen(contactScreen);
    micPttPressed = true;
    handler.miUpdateUiMicPttState();
    EXPECT_EQ(recorder.take(), "coPlaceIndividualCallToContactUnderCursor, moUpdateMicPttState");
}

TEST_F(UiHandlerTest, SelfTestPttTogglesOnEachSelectPress)
{
    QSignalSpy changes(&handler, &UI_Handler::coSelfTestPttChanged);
    showScreen(selfTestScreen);
    for (int press = 0; press < 3; ++press)
        handler.miKey3_PressedEvent();
    ASSERT_EQ(changes.count(), 3);
    EXPECT_TRUE(changes.at(0).at(0).toBool());
    EXPECT_FALSE(changes.at(1).at(0).toBool());
    EXPECT_TRUE(changes.at(2).at(0).toBool());
}

TEST_F(UiHandlerTest, RebootKeysRebootOnlyFromTheirScreens)
{
    showScreen(networkAndWirelessSettingsScreen);
    for (int key = 0; key < 3; ++key)
        sendEvent(handler, key);
    showScreen(updateSettingsFromUsbScreen);
    handler.miKey3_PressedEvent();
    showScreen(homeScreen);
    handler.miKey3_PressedEvent();
    EXPECT_EQ(reboots, 4);
}

TEST_F(UiHandlerTest, RestartFromSettingsManagementShowsRestartingScreenFirst)
{
    QStringList order;
    QObject::connect(&handler, &UI_Handler::coSelectScreen, [&](screenName_t s) { order << QString("screen %1").arg(s); });
    handler.setPauseBeforeAction([&] { order << "pause"; });
    QObject::connect(&handler, &UI_Handler::miShowRegistration, [&](bool) { order << "show registration"; });
    QObject::connect(&handler, &UI_Handler::coRestartTalkboxSetupButton, [&] { order << "restart"; });
    showScreen(setupSettingsScreen);
    handler.miKey2_PressedEvent();
    EXPECT_EQ(order, (QStringList{"screen 11", "pause", "show registration", "restart"}));
}

TEST_F(UiHandlerTest, RegistrationPollIsDueEveryFifteenSecondsInTheFirstTenMinutes)
{
    std::vector<int> due;
    for (int second = 0; second <= 700; ++second) {
        if (handler.registrationPollDue())
            due.push_back(handler.secondsElapsed());
        handler.miOneSecondElapsed();
    }
    ASSERT_EQ(due.size(), 40u);
    EXPECT_EQ(due.front(), 0);
    EXPECT_EQ(due[1], 15);
    EXPECT_EQ(due.back(), 585);
}

TEST_F(UiHandlerTest, ScreenIsRecordedOnlyFromFeedback)
{
    showScreen(homeScreen);
    handler.miKey1_PressedEvent();  // asks for the contacts screen
    EXPECT_EQ(handler.currentScreen(), homeScreen);
    handler.miRightKnobUp();        // still the home screen: a channel step
    SignalRecorder recorder(handler);
    handler.miRightKnobUp();
    EXPECT_EQ(recorder.take(), "coChannelUpUi");
}

} // namespace
