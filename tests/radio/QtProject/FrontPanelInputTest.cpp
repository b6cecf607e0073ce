// The front panel under real input: xdotool moves and presses the pointer,
// turns the wheel and types through an X server of the test's own, as a
// person at the desktop does. The knobs step like knobs with detents, the
// talk-group list pops up on the display, and the settings dialog's
// coordinate entries take only positions that exist.
#include "ContactsManager.h"
#include "LCD_t.h"
#include "MainWindow.h"
#include "PersistentQSettings.h"
#include "SoundCards.h"
#include "TalkboxSettings.h"
#include "VirtualDisplay.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDial>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTest>

#include <cmath>
#include <functional>

namespace rvx::test {
VirtualDisplay* TestDisplay();
}

namespace {

constexpr int kSettleMs = 30;

QStringList At(const QPoint& point)
{
    return {"mousemove", QString::number(point.x()), QString::number(point.y())};
}

QPoint CentreOf(const QWidget* widget)
{
    return widget->mapToGlobal(widget->rect().center());
}

// A point on the knob at the angle (degrees anticlockwise from three
// o'clock) and the share of its radius, on the screen.
QPoint OnKnob(const QDial* knob, double degrees, double share = 0.8)
{
    const double radius = std::min(knob->width(), knob->height()) / 2.0 * share;
    const double radians = degrees * M_PI / 180.0;
    return knob->mapToGlobal(QPoint(int(std::lround(knob->width() / 2.0 + radius * std::cos(radians))),
                                    int(std::lround(knob->height() / 2.0 - radius * std::sin(radians)))));
}

// Grabs the knob at an angle and turns it clockwise (negative: anticlockwise)
// in small moves along its rim.
QStringList Turn(const QDial* knob, double fromDegrees, double clockwise)
{
    QStringList words = At(OnKnob(knob, fromDegrees)) << "mousedown" << "1";
    const int moves = int(std::ceil(std::abs(clockwise) / 5.0));
    for (int move = 1; move <= moves; ++move)
        words << At(OnKnob(knob, fromDegrees - clockwise * move / moves));
    return words << "mouseup" << "1";
}

class RealInputTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!rvx::test::TestDisplay())
            GTEST_SKIP() << "needs Xvfb, xdotool and a private network namespace";
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    // Runs xdotool with the words, then lets the program take the events:
    // a round trip to the X server brings in all it has sent so far.
    void xdotool(const QStringList& words)
    {
        rvx::test::TestDisplay()->xdotool(words);
        QGuiApplication::sync();
        QTest::qWait(kSettleMs);
    }

    MainWindow window{nullptr, MainWindow::Startup::None};
};

// Steps the channel knob gives (up less down) and the volume knob's change.
TEST_F(RealInputTest, KnobsStepLikeKnobsWithDetents)
{
    QDial* channel = window.form().rightKnob;
    QDial* volume = window.form().leftKnob;
    QSignalSpy up(&window, &MainWindow::coRightKnobUpFromWindowClass);
    QSignalSpy down(&window, &MainWindow::coRightKnobDownFromWindowClass);
    const auto stepsOf = [&](QDial* knob, const std::function<void()>& action) {
        const int before = knob->value();
        up.clear();
        down.clear();
        action();
        return knob == channel ? int(up.count() - down.count()) : knob->value() - before;
    };
    window.viSetRightKnobPosition(10);
    volume->setValue(50);

    const struct
    {
        const char* what;
        std::function<QStringList(const QDial*)> input;
        double clockwiseDegrees;  // turned by a drag; 0 for none
        int steps;                // otherwise: the steps expected
    } cases[] = {
        {"a click on the rim", [](const QDial* k) { return At(OnKnob(k, 150)) << "click" << "1"; }, 0, 0},
        {"a click near the centre", [](const QDial* k) { return At(OnKnob(k, 200, 0.2)) << "click" << "1"; }, 0, 0},
        {"a press that slips a pixel",
         [](const QDial* k) {
             return At(OnKnob(k, 30)) << "mousedown" << "1" << "mousemove_relative" << "--" << "1" << "1"
                                      << "mouseup" << "1";
         },
         0, 0},
        {"a quarter turn clockwise", [](const QDial* k) { return Turn(k, 90, 90); }, 90, 0},
        {"a third of a turn back", [](const QDial* k) { return Turn(k, -45, -120); }, -120, 0},
        {"one wheel notch up", [](const QDial* k) { return At(OnKnob(k, 0)) << "click" << "4"; }, 0, 1},
        {"one wheel notch down", [](const QDial* k) { return At(OnKnob(k, 0)) << "click" << "5"; }, 0, -1},
        {"three wheel notches up",
         [](const QDial* k) { return At(OnKnob(k, 0)) << "click" << "--repeat" << "3" << "4"; }, 0, 3},
    };
    for (QDial* knob : {channel, volume}) {
        const double degreesPerStep = (knob->wrapping() ? 360.0 : 300.0) / (knob->maximum() - knob->minimum());
        for (const auto& c : cases) {
            const int steps = stepsOf(knob, [&] { xdotool(c.input(knob)); });
            const std::string what = knob->objectName().toStdString() + ": " + c.what;
            if (c.clockwiseDegrees == 0.0)
                EXPECT_EQ(steps, c.steps) << what;
            else
                EXPECT_NEAR(steps, c.clockwiseDegrees / degreesPerStep, 1.0) << what;
        }
    }
}

TEST_F(RealInputTest, TalkGroupListPopsUpWithinTheDisplay)
{
    ContactsManager contacts;
    auto* lcd = new LCD_t(window.centralWidget(), &contacts);
    lcd->setGeometry(430, 50, 320, 240);
    lcd->show();
    QStringList channels;
    for (int number = 1; number <= 16; ++number)
        channels << QStringLiteral("Channel %1").arg(number);
    lcd->viSetComboBoxChannelList(channels);
    lcd->viSetChannelIndex(7);
    lcd->viSelectScreen(LcdScreens::homeScreen);
    QSignalSpy picks(lcd, &LCD_t::coSetChannelFromLcd);

    xdotool(At(CentreOf(lcd->form().talkGroupComboBox)) << "click" << "1");
    QWidget* popup = QApplication::activePopupWidget();
    ASSERT_NE(popup, nullptr) << "no list popped up";
    const QRect display(lcd->form().stackedWidget->mapToGlobal(QPoint(0, 0)), lcd->form().stackedWidget->size());
    EXPECT_TRUE(display.contains(popup->geometry()))
        << "popup at " << popup->geometry().x() << "," << popup->geometry().y() << " " << popup->width() << "x"
        << popup->height() << ", display at " << display.x() << "," << display.y();

    // A row of the moved list is still picked where it shows (a click right
    // after the list opened would count as the opening click's release).
    QTest::qWait(QApplication::doubleClickInterval());
    QAbstractItemView* rows = lcd->form().talkGroupComboBox->view();
    const QModelIndex shown = rows->indexAt(rows->viewport()->rect().center());
    ASSERT_TRUE(shown.isValid());
    xdotool(At(rows->viewport()->mapToGlobal(rows->visualRect(shown).center())) << "click" << "1");
    ASSERT_EQ(picks.count(), 1);
    EXPECT_EQ(picks.first().at(0).toInt(), shown.row());
}

TEST_F(RealInputTest, CoordinateEntriesTakeOnlyPositionsThatExist)
{
    SoundCards::setLister([] { return QVector<SoundCardInfo>{}; });
    DelayedPersistentQSettings* store = PersistentQSettings::instance();
    const std::pair<const char*, QVariant> stored[] = {{"enable_location", true}, {"latitude", "45.8005"},
                                                       {"longitude", "108.459"},  {"latHemisphere", "N"},
                                                       {"lonHemisphere", "W"}};
    for (const auto& [key, value] : stored)
        store->setValue(QString::fromLatin1(key), value);
    TalkboxSettings& dialog = *window.settingsDialog();
    const auto open = [&] {
        xdotool(At(CentreOf(window.form().settingsButton)) << "click" << "1");
        dialog.activateWindow();
        return QTest::qWaitForWindowActive(&dialog);
    };
    const auto typeInto = [&](QLineEdit* entry, const QString& text) {
        QStringList words = At(CentreOf(entry)) << "click" << "1" << "key" << "ctrl+a" << "BackSpace";
        if (!text.isEmpty())
            words << "type" << "--delay" << "20" << "--" << text;
        xdotool(words);
    };
    ASSERT_TRUE(open());

    const struct
    {
        bool latitude;
        const char* typed;
        const char* shown;
        bool ok;
    } rows[] = {
        {true, "95", "9", true},
        {true, "90.5", "90.", false},
        {true, "45,5", "45.5", true},
        {false, "500", "50", true},
        {false, "179.123456789", "179.1234567", true},
        {false, "-20", "20", true},
        {true, "", "", false},
        {true, "N45", "45", true},
    };
    for (const auto& row : rows) {
        QLineEdit* entry = row.latitude ? dialog.latitudeEntry() : dialog.longitudeEntry();
        typeInto(entry, row.typed);
        EXPECT_EQ(entry->text().toStdString(), row.shown) << "typed " << row.typed;
        EXPECT_EQ(dialog.okButton()->isEnabled(), row.ok) << "typed " << row.typed;
    }

    typeInto(dialog.latitudeEntry(), "10.5");
    typeInto(dialog.longitudeEntry(), "20,25");
    dialog.latitudeHemisphere()->setCurrentText("S");
    dialog.longitudeHemisphere()->setCurrentText("E");
    xdotool(At(CentreOf(dialog.okButton())) << "click" << "1");
    ASSERT_FALSE(dialog.isVisible());
    EXPECT_DOUBLE_EQ(store->value("s_latitude").toDouble(), -10.5);
    EXPECT_DOUBLE_EQ(store->value("s_longitude").toDouble(), 20.25);

    // An entry cleared and abandoned with Cancel: reopened, the dialog shows
    // the stored position again and OK takes it.
    ASSERT_TRUE(open());
    typeInto(dialog.latitudeEntry(), "");
    EXPECT_FALSE(dialog.okButton()->isEnabled());
    xdotool(At(CentreOf(dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel))) << "click" << "1");
    ASSERT_FALSE(dialog.isVisible());
    ASSERT_TRUE(open());
    EXPECT_EQ(dialog.latitudeEntry()->text(), "10.5");
    EXPECT_TRUE(dialog.okButton()->isEnabled());
    SoundCards::setLister({});
}

} // namespace
