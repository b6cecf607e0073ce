// The main window's controls: channel-knob steps with wrap and echo guard,
// PTT press, release and release on focus loss, the missing-microphone
// label, the settings button toggling the dialog, title-bar dragging, the
// menu actions (title-bar context menu and shortcuts: save, exit, settings),
// and the front panel's look (a screenshot kept as a test artefact).
#include "MainWindow.h"

#include "PersistentQSettings.h"
#include "TalkboxSettings.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDial>
#include <QDir>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QLineEdit>
#include <QTimer>

#include <functional>

namespace {

class MainWindowTest : public ::testing::Test
{
protected:
    MainWindowTest() : window(nullptr, MainWindow::Startup::None) {}

    QDial* knob() const { return window.form().rightKnob; }
    QPushButton* ptt() const { return window.form().pttButton; }

    void showActive()
    {
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    MainWindow window;
};

// What the settings file itself holds now, not the store's cache.
QVariant ValueOnFile(const QString& key)
{
    return QSettings(PersistentQSettings::settingsFilePath(), QSettings::IniFormat).value(key);
}

// One way of asking the window for something, by the user's hand.
struct UserRequest
{
    const char* name;
    std::function<void(MainWindow&)> make;
};

void Trigger(QAction* MainWindowForm::*action, MainWindow& window)
{
    (window.form().*action)->trigger();
}

void PressKeys(MainWindow& window, Qt::Key key)
{
    QTest::keyClick(&window, key, Qt::ControlModifier);
}

struct KnobTurn
{
    int from;
    int to;
    int up;
    int down;
};

TEST_F(MainWindowTest, ChannelKnobCountsShortTurnsAcrossTheWrapPoint)
{
    ASSERT_EQ(knob()->maximum(), 99);
    const KnobTurn turns[] = {{95, 5, 9, 0}, {5, 95, 0, 9}, {10, 13, 3, 0}, {40, 38, 0, 2}, {0, 49, 49, 0}};
    for (const KnobTurn& turn : turns) {
        window.viSetRightKnobPosition(turn.from);
        window.ciConvertRightKnobPositionToUpDown(turn.from);  // the user's last position
        QSignalSpy up(&window, &MainWindow::coRightKnobUpFromWindowClass);
        QSignalSpy down(&window, &MainWindow::coRightKnobDownFromWindowClass);
        knob()->setValue(turn.to);
        EXPECT_EQ(up.count(), turn.up) << turn.from << " -> " << turn.to;
        EXPECT_EQ(down.count(), turn.down) << turn.from << " -> " << turn.to;
    }
}

TEST_F(MainWindowTest, SettingTheKnobFromTheRadioGivesNoStepsAndTheNextTurnCountsFromTheUsersPosition)
{
    knob()->setValue(20);
    QSignalSpy up(&window, &MainWindow::coRightKnobUpFromWindowClass);
    QSignalSpy down(&window, &MainWindow::coRightKnobDownFromWindowClass);
    window.viSetRightKnobPosition(40);
    EXPECT_EQ(up.count() + down.count(), 0);
    knob()->setValue(42);
    EXPECT_EQ(up.count(), 22);
}

TEST_F(MainWindowTest, PttPressAndReleaseChangeStyleAndReport)
{
    QSignalSpy changes(&window, &MainWindow::coPttButtonStateChanged);
    QTest::mousePress(ptt(), Qt::LeftButton);
    EXPECT_TRUE(window.pttPressed());
    EXPECT_EQ(ptt()->styleSheet(), "background-color: red;");
    QTest::mouseRelease(ptt(), Qt::LeftButton);
    EXPECT_FALSE(window.pttPressed());
    EXPECT_EQ(ptt()->styleSheet(), "background-color: rgb(189,189,189);");
    ASSERT_EQ(changes.count(), 2);
    EXPECT_TRUE(changes.at(0).at(0).toBool());
    EXPECT_FALSE(changes.at(1).at(0).toBool());
}

TEST_F(MainWindowTest, LeavingTheApplicationReleasesPttOnce)
{
    QSignalSpy changes(&window, &MainWindow::coPttButtonStateChanged);
    QTest::mousePress(ptt(), Qt::LeftButton);
    window.ciAppFocusChanged(ptt(), nullptr);
    window.ciAppFocusChanged(nullptr, nullptr);
    QTest::mouseRelease(ptt(), Qt::LeftButton);  // the late release of the button changes nothing
    ASSERT_EQ(changes.count(), 2);
    EXPECT_FALSE(changes.at(1).at(0).toBool());
    EXPECT_FALSE(window.pttPressed());
}

TEST_F(MainWindowTest, FocusMovingInsideTheWindowKeepsPtt)
{
    QTest::mousePress(ptt(), Qt::LeftButton);
    window.ciAppFocusChanged(nullptr, window.form().keys[0]);
    EXPECT_TRUE(window.pttPressed());
    QTest::mouseRelease(ptt(), Qt::LeftButton);
}

TEST_F(MainWindowTest, MissingMicrophoneDisablesPtt)
{
    window.viDisablePTTButton(true);
    EXPECT_TRUE(ptt()->isEnabled());
    window.viDisablePTTButton(false);
    EXPECT_FALSE(ptt()->isEnabled());
    EXPECT_EQ(ptt()->text(), "No mic found,\nPTT Disabled.");
}

TEST_F(MainWindowTest, SettingsButtonTogglesTheDialog)
{
    window.show();
    window.form().settingsButton->click();
    EXPECT_TRUE(window.settingsDialog()->isVisible());
    window.form().settingsButton->click();
    EXPECT_FALSE(window.settingsDialog()->isVisible());
}

TEST_F(MainWindowTest, RightClickOnTheTitleBarOffersTheMenuActions)
{
    showActive();
    QWidget* titleBar = window.form().titleBar;
    const QPoint start = window.pos();
    QStringList offered;
    // The menu runs its own loop: read it and close it from inside.
    QTimer::singleShot(0, [&offered] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        for (QAction* action : menu->actions())
            offered << action->text();
        menu->close();
    });
    QTest::mousePress(titleBar, Qt::RightButton, {}, QPoint(30, 5));
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(30, 5), titleBar->mapToGlobal(QPoint(30, 5)));
    QApplication::sendEvent(titleBar, &click);
    QTest::mouseRelease(titleBar, Qt::RightButton, {}, QPoint(30, 5));
    EXPECT_EQ(offered, QStringList({"Save Changes", "System Settings...", "Exit"}));
    EXPECT_EQ(window.pos(), start) << "a right click must not drag the window";
}

TEST_F(MainWindowTest, SaveChangesWritesThePendingSettingAndTheWindowStateNow)
{
    const UserRequest requests[] = {
        {"menu action", [](MainWindow& w) { Trigger(&MainWindowForm::actionSave_Changes, w); }},
        {"Ctrl+S", [](MainWindow& w) { PressKeys(w, Qt::Key_S); }},
    };
    showActive();
    int volume = 10;
    for (const UserRequest& request : requests) {
        PersistentQSettings::instance()->setValue("volume", ++volume);  // written behind by 30 s
        ASSERT_NE(ValueOnFile("volume").toInt(), volume);
        request.make(window);
        EXPECT_EQ(ValueOnFile("volume").toInt(), volume) << request.name;
        EXPECT_EQ(ValueOnFile("geometry").toByteArray(), window.saveGeometry()) << request.name;
    }
}

TEST_F(MainWindowTest, ExitEndsTheProgramLikeTheCloseButtonAndSavesOnTheWay)
{
    const UserRequest requests[] = {
        {"close button", [](MainWindow& w) { w.form().closeButton->click(); }},
        {"menu action", [](MainWindow& w) { Trigger(&MainWindowForm::actionExit, w); }},
        {"Ctrl+Q", [](MainWindow& w) { PressKeys(w, Qt::Key_Q); }},
    };
    int volume = 20;
    for (const UserRequest& request : requests) {
        showActive();
        PersistentQSettings::instance()->setValue("volume", ++volume);
        QTimer::singleShot(0, &window, [this, &request] { request.make(window); });
        // Ends the loop with another code if the request did not.
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        watchdog.start(5000);
        EXPECT_EQ(QApplication::exec(), 0) << request.name;
        EXPECT_EQ(ValueOnFile("volume").toInt(), volume) << request.name;
        EXPECT_EQ(ValueOnFile("geometry").toByteArray(), window.saveGeometry()) << request.name;
    }
}

TEST_F(MainWindowTest, SystemSettingsOpensTheDialogAndKeepsItOpen)
{
    const UserRequest requests[] = {
        {"menu action", [](MainWindow& w) { Trigger(&MainWindowForm::actionSystem_Settings, w); }},
        {"Ctrl+,", [](MainWindow& w) { PressKeys(w, Qt::Key_Comma); }},
    };
    for (const UserRequest& request : requests) {
        showActive();
        request.make(window);
        EXPECT_TRUE(window.settingsDialog()->isVisible()) << request.name;
        // Asked again, it stays open with what was typed into it.
        window.settingsDialog()->latitudeEntry()->setText("12.5");
        showActive();
        request.make(window);
        EXPECT_TRUE(window.settingsDialog()->isVisible()) << request.name;
        EXPECT_EQ(window.settingsDialog()->latitudeEntry()->text(), "12.5") << request.name;
        window.settingsDialog()->hide();
    }
}

TEST_F(MainWindowTest, TitleBarDragMovesTheWindowAndTheFrontPictureDoesNot)
{
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QPoint start = window.pos();
    QWidget* titleBar = window.form().titleBar;
    QTest::mousePress(titleBar, Qt::LeftButton, {}, QPoint(10, 5));
    QMouseEvent move(QEvent::MouseMove, QPointF(40, 25), titleBar->mapToGlobal(QPointF(40, 25)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(titleBar, &move);
    QTest::mouseRelease(titleBar, Qt::LeftButton, {}, QPoint(40, 25));
    EXPECT_EQ(window.pos() - start, QPoint(30, 20));

    const QPoint moved = window.pos();
    QWidget* front = window.form().widgetRVX4400;
    QTest::mousePress(front, Qt::LeftButton, {}, QPoint(600, 350));
    QMouseEvent frontMove(QEvent::MouseMove, QPointF(650, 360), front->mapToGlobal(QPointF(650, 360)), Qt::NoButton,
                          Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(front, &frontMove);
    EXPECT_EQ(window.pos(), moved);
}

TEST_F(MainWindowTest, FrontPanelPictureIsCompiledInAndDrawn)
{
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QImage shot = window.grab().toImage();
    EXPECT_EQ(shot.size(), QSize(1180, 380));
    // The unit's dark face, not an empty grey window, shows at the centre bottom.
    const QColor face = shot.pixelColor(590, 350);
    EXPECT_LT(face.lightness(), 90);
    shot.save(QDir::current().filePath("main_window_test.png"));
}

} // namespace
