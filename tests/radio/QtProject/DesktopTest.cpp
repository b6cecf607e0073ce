// The radio on a desktop, on a real X server (Xvfb) in a network namespace
// of this test: keyboard push-to-talk and the knob keys through real key
// events (held, auto-repeated, released, and let go when the window loses
// the focus), a key chosen in the settings dialog, and the real program
// started twice with one data folder, where the second start raises the
// first radio's window and ends, and the window names the class that the
// desktop entry groups by.
#include "FrontPanelKeys.h"
#include "MainWindow.h"
#include "NetNamespace.h"
#include "PersistentQSettings.h"
#include "RadioProgramRun.h"
#include "TalkboxSettings.h"
#include "TemporaryGnupgHome.h"
#include "VirtualDisplay.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDial>
#include <QFile>
#include <QKeyEvent>
#include <QKeySequenceEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

using rvx::test::RadioProgramRun;
using rvx::test::TemporaryGnupgHome;
using rvx::test::VirtualDisplay;

// The X server of this test run, started by main() before the application.
VirtualDisplay* display = nullptr;
std::string displayProblem;

#define REQUIRE_DISPLAY()                                                          \
    do {                                                                           \
        if (!display)                                                              \
            GTEST_SKIP() << "needs an X server in a private network namespace: " \
                         << displayProblem;                                        \
    } while (0)

// Counts the key presses that the X server repeated while a key was held.
class RepeatCounter : public QObject
{
public:
    RepeatCounter() { qApp->installEventFilter(this); }
    int repeats = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->isAutoRepeat())
            ++repeats;
        return false;
    }
};

class KeyboardPttTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        REQUIRE_DISPLAY();
        PersistentQSettings::instance()->setValue(FrontPanelKeys::kPttKeySetting, QStringLiteral("Space"));
        window = std::make_unique<MainWindow>(nullptr, MainWindow::Startup::None);
        ptt = std::make_unique<QSignalSpy>(window.get(), &MainWindow::coPttButtonStateChanged);
        focus(window.get());
    }

    void focus(QWidget* widget)
    {
        widget->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(widget));
        display->xdotool({"windowfocus", "--sync", QString::number(widget->winId())});
        ASSERT_TRUE(QTest::qWaitForWindowActive(widget));
    }
    void keys(const QStringList& arguments) { display->xdotool(arguments); }
    bool pttSignals(int count) { return QTest::qWaitFor([&] { return ptt->count() == count; }, 3000); }
    bool lastPtt() const { return ptt->last().at(0).toBool(); }

    std::unique_ptr<MainWindow> window;
    std::unique_ptr<QSignalSpy> ptt;
};

TEST_F(KeyboardPttTest, HeldSpacePressesPttOnceThroughItsRepeatsAndReleasesIt)
{
    RepeatCounter counter;
    keys({"keydown", "space"});
    ASSERT_TRUE(pttSignals(1));
    EXPECT_TRUE(lastPtt());
    EXPECT_TRUE(window->pttPressed());
    EXPECT_TRUE(window->form().pttButton->isDown()) << "the button shows itself held";

    QTest::qWait(1200);
    EXPECT_GT(counter.repeats, 0) << "the X server repeated the held key";
    EXPECT_EQ(ptt->count(), 1) << "repeats neither press again nor let go";

    keys({"keyup", "space"});
    ASSERT_TRUE(pttSignals(2));
    EXPECT_FALSE(lastPtt());
    EXPECT_FALSE(window->form().pttButton->isDown());
    QTest::qWait(200);
    EXPECT_EQ(ptt->count(), 2);
}

TEST_F(KeyboardPttTest, PttLetsGoWhenAnotherWindowTakesTheFocus)
{
    keys({"keydown", "space"});
    ASSERT_TRUE(pttSignals(1));

    QWidget other;
    other.resize(200, 100);
    focus(&other);
    ASSERT_TRUE(pttSignals(2)) << "PTT must not stay pressed after the window is left";
    EXPECT_FALSE(lastPtt());

    // The key comes up over the other window, and back here nothing is held.
    keys({"keyup", "space"});
    focus(window.get());
    keys({"key", "space"});
    ASSERT_TRUE(pttSignals(4));
    EXPECT_FALSE(lastPtt());
}

TEST_F(KeyboardPttTest, ArrowsTurnTheChannelKnobAndPlusMinusTheVolume)
{
    QSignalSpy up(window.get(), &MainWindow::coRightKnobUpFromWindowClass);
    QSignalSpy down(window.get(), &MainWindow::coRightKnobDownFromWindowClass);
    QDial* volume = window->form().leftKnob;
    volume->setValue(50);

    keys({"key", "Up", "Up", "Down"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return up.count() == 2 && down.count() == 1; }, 3000))
        << up.count() << " up, " << down.count() << " down";
    keys({"key", "plus", "plus", "minus"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return volume->value() == 55; }, 3000)) << volume->value();
    // Ctrl with an arrow stays the window's own.
    keys({"key", "ctrl+Up"});
    QTest::qWait(200);
    EXPECT_EQ(up.count(), 2);
    EXPECT_EQ(ptt->count(), 0);
}

TEST_F(KeyboardPttTest, KeyChosenInTheSettingsDialogTakesOverAtOnce)
{
    TalkboxSettings* dialog = window->settingsDialog();
    dialog->setRestartQuestion([] { return false; });
    dialog->openDialog();
    EXPECT_EQ(dialog->pttKeyEntry()->keySequence(), QKeySequence(Qt::Key_Space));
    // A combination typed into the entry keeps its key alone.
    dialog->pttKeyEntry()->setKeySequence(QKeySequence(QStringLiteral("Ctrl+F8")));
    dialog->on_buttonBox_accepted();
    EXPECT_EQ(PersistentQSettings::instance()->value(FrontPanelKeys::kPttKeySetting).toString(), "F8");
    focus(window.get());

    keys({"key", "space"});
    QTest::qWait(300);
    EXPECT_EQ(ptt->count(), 0) << "the space bar is no longer PTT";
    keys({"keydown", "F8"});
    ASSERT_TRUE(pttSignals(1));
    keys({"keyup", "F8"});
    ASSERT_TRUE(pttSignals(2));

    // Without a microphone the key does nothing, as the disabled button.
    window->viDisablePTTButton(false);
    keys({"key", "F8"});
    QTest::qWait(300);
    EXPECT_EQ(ptt->count(), 2);
}

// The desktop entry's StartupWMClass, by which desktops group the window.
QString DesktopEntryWindowClass()
{
    QFile entry(QStringLiteral(RVX_DESKTOP_ENTRY));
    if (!entry.open(QIODevice::ReadOnly))
        return {};
    const auto match = QRegularExpression("^StartupWMClass=(.*)$", QRegularExpression::MultilineOption)
                           .match(QString::fromUtf8(entry.readAll()));
    return match.captured(1).trimmed();
}

// The X window that has the input focus.
QString FocusedWindow()
{
    return display->xdotool({"getwindowfocus"});
}

TEST(OneRadioPerDataFolder, ASecondStartRaisesTheRunningRadioAndEnds)
{
    REQUIRE_DISPLAY();
    TemporaryGnupgHome home;
    QTemporaryDir folder;
    ASSERT_TRUE(home.Valid() && folder.isValid());
    auto radioRun = [&] {
        auto run = std::make_unique<RadioProgramRun>(folder.path(), home.Path(), QStringLiteral("http://127.0.0.1:9"));
        run->setEnvironmentValue("QT_QPA_PLATFORM", "xcb");
        run->setEnvironmentValue("DISPLAY", display->name());
        return run;
    };
    std::unique_ptr<RadioProgramRun> first = radioRun();
    ASSERT_TRUE(first->start());
    ASSERT_TRUE(first->waitForOutput("Using default settings", 30000)) << first->output().constData();
    const QString firstWindow = display->windowOf(first->process().processId());
    ASSERT_FALSE(firstWindow.isEmpty());

    // The window names the class its desktop entry groups by.
    const QString windowClass = DesktopEntryWindowClass();
    ASSERT_FALSE(windowClass.isEmpty());
    EXPECT_TRUE(display->xdotool({"search", "--class", "^" + windowClass + "$"}).split('\n').contains(firstWindow));

    // The focus is elsewhere when the radio is started again.
    QWidget elsewhere;
    elsewhere.resize(200, 100);
    elsewhere.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&elsewhere));
    display->xdotool({"windowfocus", "--sync", QString::number(elsewhere.winId())});
    ASSERT_NE(FocusedWindow(), firstWindow);

    std::unique_ptr<RadioProgramRun> second = radioRun();
    ASSERT_TRUE(second->start());
    ASSERT_TRUE(second->waitForEnd(15000)) << second->output().constData();
    EXPECT_EQ(second->process().exitCode(), 0);
    EXPECT_TRUE(second->output().contains("already running")) << second->output().constData();
    EXPECT_FALSE(second->output().contains("This is RVX4400w")) << "the second start must not bring a radio up";
    EXPECT_TRUE(first->waitForOutput("bringing its window to the front", 5000)) << first->output().constData();
    EXPECT_TRUE(QTest::qWaitFor([&] { return FocusedWindow() == firstWindow; }, 5000))
        << "the running radio's window has the focus";

    // A radio that died without cleaning up does not lock the folder.
    ::kill(static_cast<pid_t>(first->process().processId()), SIGKILL);
    ASSERT_TRUE(first->waitForEnd(5000));
    std::unique_ptr<RadioProgramRun> third = radioRun();
    ASSERT_TRUE(third->start());
    EXPECT_TRUE(third->waitForOutput("Using default settings", 30000)) << third->output().constData();
    third->stop();
}

} // namespace

int main(int argc, char** argv)
{
    // The radio program started here sends multicast: everything runs in a
    // network namespace of this test, the X server included (its clients
    // reach it by an abstract socket of that namespace).
    QTemporaryDir appData;
    setenv("appdata", appData.path().toLocal8Bit().constData(), 1);
    std::unique_ptr<VirtualDisplay> server;
    const bool onlyListing = argc > 1 && std::string(argv[1]).rfind("--gtest_list_tests", 0) == 0;
    if (onlyListing)
        displayProblem = "listing the tests";
    else if (!VirtualDisplay::Available())
        displayProblem = "Xvfb and xdotool are not installed";
    else if (!rvx::test::EnterPrivateNetNamespace(&displayProblem))
        ;
    else if (server = std::make_unique<VirtualDisplay>(); !server->started())
        displayProblem = "Xvfb did not start";
    else
        display = server.get();
    if (display) {
        setenv("DISPLAY", display->name().toLocal8Bit().constData(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
    } else {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
