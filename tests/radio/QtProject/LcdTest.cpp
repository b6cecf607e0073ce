// The display's slots: contact cursor bounds, the volume page and its
// timer, emergency blinking, time-out bars, quiet channel-list changes,
// registration texts, screen feedback and distances; and every screen of the
// panel as a person reads it (pictures kept as test artefacts).
#include "LCD_t.h"

#include "ContactsManager.h"
#include "MainWindow.h"
#include "MyLocationManager.h"
#include "RadioInformation.h"
#include "SettingsFileParser.h"
#include "SoftwareVersionText.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QCheckBox>
#include <QDir>
#include <QHash>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

#include <cmath>
#include <functional>

using namespace LcdScreens;

namespace {

class LcdTest : public ::testing::Test
{
protected:
    LcdTest() : lcd(nullptr, &contacts)
    {
        contacts.addContact(0x11, "Alpha");
        contacts.addContact(0x22, "Bravo");
        contacts.addContact(0x33, "Charlie");
        lcd.viUpdateContactList();
    }

    const LcdForm& ui() const { return lcd.form(); }
    int volumeStackPage() const { return ui().stackedWidgetVolumeCallerId->currentIndex(); }

    ContactsManager contacts;
    LCD_t lcd;
};

TEST_F(LcdTest, ScreensAreInTheirOrderAndEveryChangeIsReported)
{
    const char* pages[] = {"splashScreenPage", "registrationPage", "homePage", "paModePage", "contactPage",
                           "emergencyPage", "gpsPage", "setupPage", "setupSettingsPage", "updateSettingsFromUsbPage",
                           "networkAndWirelessSettingsPage", "restartingPage", "softwareUpdatePage",
                           "softwareUpdate2Page", "networkConnectionPage", "selfTestPage", "unableToRegisterPage",
                           "individualCallPage", "waitingForStandbyPage"};
    ASSERT_EQ(ui().stackedWidget->count(), kScreenCount);
    RadioInformationSource::setSource([] { return RadioInformation{}; });
    QSignalSpy feedback(&lcd, &LCD_t::voCurrentScreenFeedback);
    for (int screen = 0; screen < kScreenCount; ++screen) {
        EXPECT_EQ(ui().stackedWidget->widget(screen)->objectName(), pages[screen]);
        lcd.viSelectScreen(static_cast<screenName_t>(screen));
        EXPECT_EQ(lcd.currentScreen(), screen);
        ASSERT_EQ(feedback.count(), screen + 1);
        EXPECT_EQ(feedback.last().at(0).value<screenName_t>(), screen);
    }
    RadioInformationSource::setSource({});
}

TEST_F(LcdTest, UnknownScreenNumberIsIgnored)
{
    lcd.viSelectScreen(homeScreen);
    QSignalSpy feedback(&lcd, &LCD_t::voCurrentScreenFeedback);
    lcd.viSelectScreen(static_cast<screenName_t>(kScreenCount));
    lcd.viSelectScreen(static_cast<screenName_t>(-1));
    EXPECT_EQ(feedback.count(), 0);
    EXPECT_EQ(lcd.currentScreen(), homeScreen);
}

TEST_F(LcdTest, ModeChoosesItsScreen)
{
    const int expected[] = {homeScreen, individualCallScreen, paModeScreen};
    for (int mode = 0; mode < 3; ++mode) {
        lcd.viVirtualRadioModeChanged(mode);
        EXPECT_EQ(lcd.currentScreen(), expected[mode]);
    }
}

TEST_F(LcdTest, ContactCursorStaysWithinTheListAndMovesOnlyOnTheContactsScreen)
{
    lcd.viSelectScreen(contactScreen);
    ASSERT_EQ(ui().listWidget->currentRow(), 0);
    lcd.viContactCursorBump(-1);
    EXPECT_EQ(ui().listWidget->currentRow(), 0);
    lcd.viContactCursorUp();
    lcd.viContactCursorUp();
    lcd.viContactCursorUp();
    EXPECT_EQ(ui().listWidget->currentRow(), 2);
    lcd.viContactCursorDown();
    EXPECT_EQ(ui().listWidget->currentRow(), 1);
    lcd.viSelectScreen(homeScreen);
    lcd.viContactCursorUp();
    EXPECT_EQ(ui().listWidget->currentRow(), 1);
}

TEST_F(LcdTest, EmptyContactListIgnoresCursorAndCall)
{
    ContactsManager none;
    LCD_t empty(nullptr, &none);
    empty.viUpdateContactList();
    empty.viSelectScreen(contactScreen);
    QSignalSpy calls(&empty, &LCD_t::coPlaceIndividualCall);
    empty.viContactCursorUp();
    empty.miPlaceIndividualCallToContactUnderCursor();
    EXPECT_EQ(calls.count(), 0);
}

TEST_F(LcdTest, CallGoesToTheContactUnderTheCursorOrTheClickedOne)
{
    lcd.viSelectScreen(contactScreen);
    lcd.viContactCursorUp();
    QSignalSpy calls(&lcd, &LCD_t::coPlaceIndividualCall);
    lcd.miPlaceIndividualCallToContactUnderCursor();
    ui().listWidget->itemClicked(ui().listWidget->item(2));
    ASSERT_EQ(calls.count(), 2);
    EXPECT_EQ(calls.at(0).at(0).value<device_id_t>(), 0x22u);
    EXPECT_EQ(calls.at(1).at(0).value<device_id_t>(), 0x33u);
}

TEST_F(LcdTest, VolumeShowsForTwoSecondsAndASecondChangeRestartsTheTime)
{
    lcd.viSetVolumeLcd(40);
    EXPECT_EQ(volumeStackPage(), 0);
    EXPECT_EQ(ui().homeVolumeBar->value(), 40);
    EXPECT_EQ(ui().paVolumeBar->value(), 40);
    EXPECT_EQ(ui().volumeStatusBarLabel->text(), "Vol 40%");
    QTest::qWait(1500);
    lcd.viSetVolumeLcd(45);
    QTest::qWait(1000);
    EXPECT_EQ(volumeStackPage(), 0) << "the second change restarted the two seconds";
    QTest::qWait(1300);
    EXPECT_EQ(volumeStackPage(), 1);
}

TEST_F(LcdTest, EmergencyIndicatorBlinksAndEndsHidden)
{
    lcd.show();
    lcd.viEmergencyStatusStart();
    EXPECT_TRUE(ui().emergencyStatusIndicator->isVisible());
    int toggles = 0;
    bool last = true;
    for (int update = 0; update < 10; ++update) {
        lcd.viEmergencyStatusUpdate();
        toggles += ui().emergencyStatusIndicator->isVisible() != last;
        last = ui().emergencyStatusIndicator->isVisible();
    }
    EXPECT_FALSE(ui().emergencyStatusIndicator->isVisible());
    EXPECT_GE(toggles, 9);
    lcd.viEmergencyStatusUpdate();
    EXPECT_FALSE(ui().emergencyStatusIndicator->isVisible());
}

TEST_F(LcdTest, TimeoutBarsShowOnlyInTheLastTenSeconds)
{
    lcd.show();
    const struct { int seconds; bool shown; } rows[] = {{11, false}, {10, true}, {3, true}, {0, true}, {60, false}};
    for (const auto& row : rows) {
        lcd.viPaModeSecondsRemainingChanged(row.seconds);
        lcd.viIndividualCallSecondsRemainingChanged(row.seconds);
        EXPECT_EQ(!ui().paTimeoutBar->isHidden(), row.shown) << row.seconds;
        EXPECT_EQ(!ui().callTimeoutBar->isHidden(), row.shown) << row.seconds;
        if (row.shown) {
            EXPECT_EQ(ui().paTimeoutBar->maximum(), 10);
            EXPECT_EQ(ui().paTimeoutBar->value(), row.seconds);
        }
    }
}

TEST_F(LcdTest, ProgrammaticChannelChangesNeverReportAPick)
{
    QSignalSpy picks(&lcd, &LCD_t::coSetChannelFromLcd);
    lcd.viSetComboBoxChannelList({"Ch 1", "Ch 2", "Ch 3"});
    lcd.viSetChannelIndex(2);
    lcd.viSetComboBoxChannelList({"Other 1", "Other 2"});
    lcd.viSetChannelIndex(1);
    EXPECT_EQ(picks.count(), 0);
    EXPECT_EQ(ui().talkGroupComboBox->currentText(), "Other 2");
    ui().talkGroupComboBox->setCurrentIndex(0);  // as the user's pick does
    ASSERT_EQ(picks.count(), 1);
    EXPECT_EQ(picks.at(0).at(0).toInt(), 0);
}

TEST_F(LcdTest, RegistrationTexts)
{
    lcd.viDisplayRegistrationCode("K7Q2");
    EXPECT_EQ(ui().registrationCodeLabel->text(), "Registration Code:K7Q2");
    lcd.viUpdateRegistrationStatus(false);
    EXPECT_EQ(ui().registrationCodeLabel->text(), "Please retry registering the device on Halvane using code:  K7Q2");
    lcd.show();
    lcd.viSelectScreen(registrationScreen);
    lcd.viUpdateRegistrationStatus(true);
    EXPECT_EQ(ui().registrationCodeLabel->text(), "Registration is now complete.  Restarting...");
    EXPECT_FALSE(ui().registrationRichText->isVisible());
    EXPECT_FALSE(ui().finishedLegend->isVisible());
    EXPECT_FALSE(ui().skipRegistrationLegend->isVisible());
}

// The caller block (name, distance, id) goes as one on a channel change, and
// later news of that caller's position does not bring its distance back.
TEST_F(LcdTest, CallerIdNameAndIdAreShownAndClearedOnChannelChange)
{
    location_t here;
    here.latitude = 45.0;
    here.longitude = -108.0;
    here.valid = true;
    MyLocationManager_t::instance()->setLocation(here);
    RadioContact bravo(0x22, "Bravo");
    location_t north = here;
    north.latitude += 1.0 / 69.0;
    bravo.setLocation(north);
    contacts.updateContact(bravo);

    lcd.viChannelCallContactID(0x22);
    EXPECT_EQ(ui().labelCallerID->text(), "Bravo");
    EXPECT_EQ(ui().callerIdNumberLabel->text(), "ID: 00000022");
    EXPECT_FALSE(ui().callerDistanceLabel->text().isEmpty());
    lcd.viSetChannelIndex(0);
    lcd.viUpdateContactInfo(0x22);
    for (const QLabel* line : {ui().labelCallerID, ui().callerDistanceLabel, ui().callerIdNumberLabel})
        EXPECT_TRUE(line->text().isEmpty()) << line->objectName().toStdString() << ": " << line->text().toStdString();
    EXPECT_EQ(ui().lastContactNameLabel->text(), "Bravo") << "the location page keeps the last contact";
}

TEST_F(LcdTest, EncryptedChannelsShowALockAndVoiceWithoutItsKeyShowsEncryptedAsTheCaller)
{
    EXPECT_TRUE(ui().channelLockIcon->isHidden()) << "clear until told otherwise";
    EXPECT_TRUE(ui().channelPrivacyNote->isHidden());
    lcd.viCurrentChannelPrivacy(true, QString());
    EXPECT_FALSE(ui().channelLockIcon->isHidden());
    EXPECT_TRUE(ui().channelPrivacyNote->isHidden());
    lcd.viCurrentChannelPrivacy(false, QStringLiteral("Key unusable: transmit disabled"));
    EXPECT_TRUE(ui().channelLockIcon->isHidden());
    EXPECT_FALSE(ui().channelPrivacyNote->isHidden());
    EXPECT_EQ(ui().channelPrivacyNote->text(), "Key unusable: transmit disabled");

    lcd.viChannelCallContactID(0x22);
    lcd.viChannelCallEncrypted(0x22);
    EXPECT_EQ(ui().labelCallerID->text(), "Encrypted");
    EXPECT_TRUE(ui().callerIdNumberLabel->text().isEmpty()) << "an id nobody vouches for is not shown";
}

TEST_F(LcdTest, DistanceToTheCallerNeedsBothPositions)
{
    lcd.viChannelCallContactID(0x33);
    EXPECT_TRUE(ui().callerDistanceLabel->text().isEmpty());
    location_t here;
    here.latitude = 45.0;
    here.longitude = -108.0;
    here.valid = true;
    MyLocationManager_t::instance()->setLocation(here);
    RadioContact there(0x33, "Charlie");
    location_t north = here;
    north.latitude += 1.0 / 69.0;  // about a mile
    there.setLocation(north);
    contacts.updateContact(there);
    lcd.viUpdateContactInfo(0x33);
    EXPECT_TRUE(ui().callerDistanceLabel->text().startsWith("1.0 Miles N")) << ui().callerDistanceLabel->text().toStdString();
    EXPECT_EQ(ui().gpsDistanceLabel->text(), ui().callerDistanceLabel->text());
    lcd.viMyLocation();
    EXPECT_EQ(ui().myLatitudeLabel->text(), "45.00000N");
    EXPECT_EQ(ui().myLongitudeLabel->text(), "108.00000W");
}

TEST_F(LcdTest, StatusIndicatorsAndStatusTexts)
{
    lcd.show();
    lcd.viUpdateTxActivity(true);
    lcd.viUpdateRxActivity(true);
    EXPECT_TRUE(ui().labelTX->isVisible());
    EXPECT_TRUE(ui().labelRX->isVisible());
    EXPECT_EQ(ui().pttToggleEntry->styleSheet(), "color: black; background-color: red;");
    lcd.viUpdateTxActivity(false);
    EXPECT_FALSE(ui().labelTX->isVisible());
    EXPECT_EQ(ui().pttToggleEntry->styleSheet(), "color: black; background-color: rgb(189,189,189);");
    lcd.viUpdateNetworkReadyStatus(true);
    EXPECT_EQ(ui().networkReadyLabel->text(), "Ready");
    lcd.viUpdateNetworkReadyStatus(false);
    EXPECT_EQ(ui().networkReadyLabel->styleSheet(), "color: rgb(255, 185, 185);");
    lcd.viCurrentZoneName("Zone North");
    EXPECT_EQ(ui().selectedZone->text(), "Zone North");
    lcd.viCurrentZoneName("Z\xC3\xBCrich");  // names are UTF-8
    EXPECT_EQ(ui().selectedZone->text(), QString::fromUtf8("Z\xC3\xBCrich"));
    lcd.viCurrentZoneName(nullptr);
    EXPECT_TRUE(ui().selectedZone->text().isEmpty());
}

// The network screen shows the selected interface's real state, or nothing
// while the platform reports no interface; the status bar shows no signal
// strength that nothing measures.
TEST_F(LcdTest, NetworkScreenShowsTheSelectionsStateOrNothing)
{
    lcd.show();
    lcd.viSelectScreen(networkAndWirelessSettingsScreen);
    const auto shown = [this] {
        QStringList lines;
        for (const QLabel* line : {ui().selectedInterfaceLabel, ui().networkReadyLabel, ui().ipAddressLabel})
            if (line->isVisible())
                lines << line->text();
        return lines.join(" | ").toStdString();
    };
    EXPECT_EQ(shown(), "IP Address:") << "nothing is known before the first report";
    EXPECT_FALSE(ui().tbSignalBarIndicator->isVisible());
    const struct
    {
        NetworkState state;
        const char* expected;
    } rows[] = {
        {{true, "eth0", true, "192.0.2.7"}, "Selected Interface: eth0 | Ready | IP Address: 192.0.2.7"},
        {{true, "ppp0", false, ""}, "Selected Interface: ppp0 | Not Ready | IP Address:"},
        {{true, "", false, ""}, "Selected Interface: none | Not Ready | IP Address:"},
        {{false, "", false, ""}, "IP Address:"},
    };
    for (const auto& row : rows) {
        lcd.viUpdateNetworkState(row.state);
        EXPECT_EQ(shown(), row.expected);
        EXPECT_FALSE(ui().tbSignalBarIndicator->isVisible());
    }
}

TEST_F(LcdTest, SetupScreenShowsTheUnitsInformation)
{
    RadioInformationSource::setSource([] {
        RadioInformation information;
        information.radioName = "Truck 7";
        information.owner = "County Fire";
        information.deviceId = "1A2B3C4D";
        information.registered = true;
        return information;
    });
    lcd.viSelectScreen(setupScreen);
    EXPECT_EQ(ui().radioNameLabel->text(), "Truck 7");
    EXPECT_EQ(ui().ownerLabel->text(), "County Fire");
    EXPECT_EQ(ui().deviceIdLabel->text(), "1A2B3C4D");
    EXPECT_TRUE(ui().registeredCheckBox->isChecked());
    EXPECT_FALSE(ui().settingsUpdatedCheckBox->isChecked());
    EXPECT_EQ(ui().webUpdateEntry->text(), "Update\n Settings");
    RadioInformationSource::setSource({});
}

// The parser gives document text as UTF-8 whatever the document's own
// encoding; the unit's names are read as such.
TEST(RadioInformationTest, NamesFromALatin1DocumentReadRight)
{
    SettingsFileParser::resetForTesting();
    SettingsFileParser::makeFirstInstance("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"
                                          "<Settings name=\"Z\xFCrich 1\"/>");
    EXPECT_EQ(RadioInformationSource::current().radioName, QString::fromUtf8("Z\xC3\xBCrich 1"));
    SettingsFileParser::resetForTesting();
}

TEST(SoftwareVersionTextTest, ComparesRunningAndReleasedVersions)
{
    SoftwareVersions versions;
    versions.running = "1.78";
    versions.registered = true;
    EXPECT_EQ(makeSoftwareVersionText(versions).html, "Current Version: V1.78");

    versions.released = "1.80";
    versions.updateUrl = "http://updates.example/1.80";
    SoftwareVersionText newer = makeSoftwareVersionText(versions);
    EXPECT_TRUE(newer.updateAvailable);
    EXPECT_TRUE(newer.html.contains("http://updates.example/1.80"));

    versions.released = "1.9";  // 1.9 < 1.78 as versions, not as text
    SoftwareVersionText older = makeSoftwareVersionText(versions);
    EXPECT_FALSE(older.updateAvailable);
    EXPECT_TRUE(older.html.contains(" <br> Released Version: V1.9<br> Unreleased/Internal Build "));

    versions.registered = false;
    versions.released.clear();
    EXPECT_TRUE(makeSoftwareVersionText(versions).html.contains("available only on registered units"));
}

// Relative luminance and contrast ratio as used for readable text.
double Luminance(const QColor& colour)
{
    const auto linear = [](int channel) {
        const double value = channel / 255.0;
        return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.red()) + 0.7152 * linear(colour.green()) + 0.0722 * linear(colour.blue());
}

double Contrast(const QColor& a, const QColor& b)
{
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The colours behind a text: every colour covering at least a fifth of its
// box in the picture (a bar's fill and its empty part are both behind it).
// Near colours count together (a shaded button), as their mean.
QList<QColor> BackgroundColours(const QImage& picture, const QRect& box)
{
    struct Shade
    {
        int count = 0;
        long red = 0, green = 0, blue = 0;
    };
    QHash<int, Shade> shades;
    const QRect inside = box & picture.rect();
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x) {
            const QColor pixel = picture.pixelColor(x, y);
            Shade& shade = shades[(pixel.red() / 16) << 8 | (pixel.green() / 16) << 4 | pixel.blue() / 16];
            ++shade.count;
            shade.red += pixel.red();
            shade.green += pixel.green();
            shade.blue += pixel.blue();
        }
    QList<QColor> colours;
    for (const Shade& shade : shades)
        if (shade.count * 5 >= inside.width() * inside.height())
            colours << QColor(int(shade.red / shade.count), int(shade.green / shade.count), int(shade.blue / shade.count));
    return colours;
}

// Whether the colour is drawn somewhere in the box: the style's colour is
// the one the person sees.
bool ColourAppears(const QImage& picture, const QRect& box, const QColor& colour)
{
    const QRect inside = box & picture.rect();
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x) {
            const QColor pixel = picture.pixelColor(x, y);
            if (std::abs(pixel.red() - colour.red()) + std::abs(pixel.green() - colour.green()) +
                    std::abs(pixel.blue() - colour.blue()) <= 48)
                return true;
        }
    return false;
}

// One text on the panel: where it is (window coordinates) and the colours it
// is drawn in.
struct PanelText
{
    QString what;
    QRect box;
    QList<QColor> inks;
    QWidget* widget;
};

QString Describe(const QWidget* widget, const QString& text)
{
    return widget->metaObject()->className() + QStringLiteral(" ") + widget->objectName() + " \"" +
           QString(text).replace('\n', ' ').left(40) + "\"";
}

QColor Ink(const QWidget* widget, QPalette::ColorRole role)
{
    return widget->palette().color(widget->isEnabled() ? QPalette::Active : QPalette::Disabled, role);
}

// The colours of a label's text: its own, and those that parts of a rich
// text (links) are given.
QList<QColor> RichTextInks(const QLabel* label, const QColor& ink)
{
    QList<QColor> inks{ink};
    if (label->textFormat() != Qt::RichText && !Qt::mightBeRichText(label->text()))
        return inks;
    QTextDocument document;
    document.setHtml(label->text());
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment) {
            const QTextCharFormat format = fragment.fragment().charFormat();
            if (format.foreground().style() != Qt::NoBrush && !fragment.fragment().text().trimmed().isEmpty() &&
                !inks.contains(format.foreground().color()))
                inks << format.foreground().color();
        }
    return inks;
}

QList<PanelText> TextsShownIn(QWidget* window)
{
    QList<PanelText> texts;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (!widget->isVisible())
            continue;
        const QRect box(widget->mapTo(window, QPoint(0, 0)), widget->size());
        QColor ink = Ink(widget, widget->foregroundRole());
        if (auto* label = qobject_cast<QLabel*>(widget); label && !label->text().isEmpty()) {
            texts << PanelText{Describe(label, label->text()), box, RichTextInks(label, ink), label};
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget); button && !button->text().isEmpty()) {
            texts << PanelText{Describe(button, button->text()), box, {ink}, button};
        } else if (auto* list = qobject_cast<QComboBox*>(widget); list && !list->currentText().isEmpty()) {
            QStyleOptionComboBox option;
            option.initFrom(list);
            const QRect field = list->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                              QStyle::SC_ComboBoxEditField, list);
            texts << PanelText{Describe(list, list->currentText()), field.translated(box.topLeft()), {ink}, list};
        } else if (auto* bar = qobject_cast<QProgressBar*>(widget); bar && bar->isTextVisible()) {
            texts << PanelText{Describe(bar, bar->text()), box, {ink}, bar};
        } else if (auto* items = qobject_cast<QListWidget*>(widget)) {
            for (int row = 0; row < items->count(); ++row) {
                const QRect item = items->visualItemRect(items->item(row)) & items->viewport()->rect();
                if (item.isEmpty())
                    continue;
                const QPoint origin = items->viewport()->mapTo(window, item.topLeft());
                const auto role = items->item(row)->isSelected() ? QPalette::HighlightedText : QPalette::Text;
                texts << PanelText{Describe(items, items->item(row)->text()), QRect(origin, item.size()),
                                   {Ink(items, role)}, items};
            }
        }
    }
    return texts;
}

// What the display shows: texts, pictures, lists and bars, not the pages
// and stacks that hold them nor the insides of lists.
QList<QWidget*> DisplayContents(QWidget* lcd)
{
    QList<QWidget*> contents;
    for (QWidget* widget : lcd->findChildren<QWidget*>()) {
        if (!widget->isVisible())
            continue;
        bool inside = false;
        for (QWidget* parent = widget->parentWidget(); parent && parent != lcd; parent = parent->parentWidget())
            inside = inside || qobject_cast<QComboBox*>(parent) || qobject_cast<QAbstractItemView*>(parent);
        const auto* label = qobject_cast<QLabel*>(widget);
        const bool shown = label ? !label->text().isEmpty() || !label->pixmap().isNull()
                                 : qobject_cast<QAbstractButton*>(widget) || qobject_cast<QComboBox*>(widget) ||
                                       qobject_cast<QProgressBar*>(widget) || qobject_cast<QAbstractItemView*>(widget);
        if (shown && !inside)
            contents << widget;
    }
    return contents;
}

// Where a widget shows on the display: its box as far as the widgets
// holding it let it be seen.
QRect VisibleBox(const QWidget* widget, const QWidget* lcd)
{
    QRect box(widget->mapTo(lcd, QPoint(0, 0)), widget->size());
    for (const QWidget* parent = widget->parentWidget(); parent && parent != lcd; parent = parent->parentWidget())
        box &= QRect(parent->mapTo(lcd, QPoint(0, 0)), parent->size());
    return box;
}

// Whether a label's text fits its box, wrapped as the label wraps it.
bool TextFits(const QLabel* label)
{
    QTextDocument document;
    document.setDocumentMargin(0);
    document.setDefaultFont(label->font());
    if (label->textFormat() == Qt::RichText || Qt::mightBeRichText(label->text()))
        document.setHtml(label->text());
    else
        document.setPlainText(label->text());
    const QRect room = label->contentsRect();
    if (label->wordWrap())
        document.setTextWidth(room.width());
    return document.idealWidth() <= room.width() + 1 && document.size().height() <= room.height() + 1;
}

class PanelScreensTest : public ::testing::Test
{
protected:
    PanelScreensTest() : window(nullptr, MainWindow::Startup::None)
    {
        lcd = new LCD_t(window.centralWidget(), &contacts);
        lcd->setGeometry(430, 50, 320, 240);
        contacts.addContact(0x0A1B2C3D, "Engine 12");
        contacts.addContact(0x22, "Dispatch North");
        contacts.addContact(0x33, "Harbour Master");
        lcd->viUpdateContactList();
        RadioInformationSource::setSource([this] { return information; });
        information.radioName = "Harbour Patrol 3";
        information.owner = "County Marine Unit";
        information.deviceId = "0A1B2C3D";
        information.registered = true;
        information.settingsUpdated = true;

        location_t here;
        here.latitude = 45.8005f;
        here.longitude = -108.459f;
        here.valid = true;
        MyLocationManager_t::instance()->setLocation(here);
        RadioContact caller(0x0A1B2C3D, "Engine 12");
        location_t there = here;
        there.latitude += 0.05f;
        there.longitude += 0.05f;
        caller.setLocation(there);
        contacts.updateContact(caller);

        lcd->viSetComboBoxChannelList({"Harbour", "Fire Ground 2", "County Wide", "Search and Rescue"});
        lcd->viSetChannelIndex(0);
        lcd->viCurrentZoneName("Field");
        lcd->viSetVolumeLcd(23);
        lcd->viShowCallerID();
        lcd->viChannelCallContactID(0x0A1B2C3D);
        lcd->viMyLocation();
        lcd->viDisplayRegistrationCode("0A1B2C3D");
        lcd->viUpdateSettingsFromUsbStatus("No USB drive found.");
        lcd->viUpdateSoftwareUpdateStatus("Copying files...");
        window.show();
    }
    ~PanelScreensTest() override { RadioInformationSource::setSource({}); }

    // Shows the screen, keeps its picture and checks what a person reads on it.
    void check(const char* name, screenName_t screen)
    {
        SCOPED_TRACE(name);
        lcd->viSelectScreen(screen);
        QTest::qWait(20);
        const QImage picture = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QString folder = QStringLiteral(PANEL_SCREENS_ARTEFACTS);
        QDir().mkpath(folder);
        picture.save(QStringLiteral("%1/%2-%3.png").arg(folder).arg(static_cast<int>(screen), 2, 10, QChar('0')).arg(name));

        for (const PanelText& text : TextsShownIn(&window)) {
            for (const QColor& ink : text.inks) {
                EXPECT_TRUE(ColourAppears(picture, text.box, ink))
                    << text.what.toStdString() << ": " << ink.name().toStdString() << " is not drawn";
                for (const QColor& behind : BackgroundColours(picture, text.box))
                    EXPECT_GE(Contrast(ink, behind), 4.5) << text.what.toStdString() << ": " << ink.name().toStdString()
                                                          << " on " << behind.name().toStdString();
            }
            const auto* label = qobject_cast<const QLabel*>(text.widget);
            if (label && lcd->isAncestorOf(label)) {
                EXPECT_TRUE(TextFits(label)) << text.what.toStdString() << " does not fit its box";
            }
        }
        const QList<QWidget*> shown = DisplayContents(lcd);
        for (int i = 0; i < shown.size(); ++i) {
            const QRect a = VisibleBox(shown[i], lcd);
            if (qobject_cast<QLabel*>(shown[i]) && !qobject_cast<QLabel*>(shown[i])->text().isEmpty()) {
                EXPECT_EQ(a, QRect(shown[i]->mapTo(lcd, QPoint(0, 0)), shown[i]->size()))
                    << Describe(shown[i], "").toStdString() << " is cut off by the display's edge";
            }
            for (int j = i + 1; j < shown.size(); ++j) {
                const QRect b = VisibleBox(shown[j], lcd);
                EXPECT_FALSE(a.intersects(b)) << Describe(shown[i], "").toStdString() << " overlaps "
                                              << Describe(shown[j], "").toStdString();
            }
        }
    }

    ContactsManager contacts;
    RadioInformation information;
    MainWindow window;
    LCD_t* lcd = nullptr;
};

TEST_F(PanelScreensTest, EveryScreenIsReadableAndNothingOverlaps)
{
    const struct
    {
        const char* name;
        screenName_t screen;
        std::function<void()> prepare;
    } states[] = {
        {"splash", splashScreen, {}},
        {"registration", registrationScreen, {}},
        {"home", homeScreen, {}},
        {"home-volume", homeScreen, [this] { lcd->viSetVolumeLcd(57); }},
        {"home-receiving", homeScreen,
         [this] {
             lcd->viShowCallerID();
             lcd->viUpdateRxActivity(true);
             lcd->viUpdateTxActivity(true);
             lcd->viEmergencyStatusStart();
         }},
        {"pa-mode", paModeScreen, [this] { lcd->viPaModeSecondsRemainingChanged(6); }},
        {"contacts", contactScreen, [this] { lcd->viContactCursorBump(1); }},
        {"emergency", emergencyScreen, {}},
        {"gps", gpsScreen, {}},
        {"setup", setupScreen, {}},
        {"settings-management", setupSettingsScreen, {}},
        {"usb-settings", updateSettingsFromUsbScreen, {}},
        {"network", networkAndWirelessSettingsScreen,
         [this] { lcd->viUpdateNetworkState({true, "eth0", true, "192.0.2.7"}); }},
        {"network-not-ready", networkAndWirelessSettingsScreen,
         [this] { lcd->viUpdateNetworkState({true, "ppp0", false, ""}); }},
        {"restarting", restartingScreen, {}},
        {"software-unregistered", softwareUpdateScreen,
         [this] { information.registered = false; }},
        {"software-update", softwareUpdateScreen,
         [this] {
             information.registered = true;
             information.releasedVersion = "99.1";
             information.updateUrl = "http://updates.example/rvx4400/99.1";
         }},
        {"installing", softwareUpdate2Screen, {}},
        {"network-wait", networkConnectionScreen, {}},
        {"diagnostics", selfTestScreen,
         [this] {
             lcd->viUpdateTxActivity(false);
             lcd->viSetRemoteDebugVisible(true);
         }},
        {"diagnostics-transmitting", selfTestScreen, [this] { lcd->viUpdateTxActivity(true); }},
        {"unable-to-register", unableToRegisterScreen, {}},
        {"individual-call", individualCallScreen,
         [this] {
             lcd->viVirtualRadioModeChanged(1);
             lcd->viIndividualCallContactID(0x33);
             lcd->viIndividualCallSecondsRemainingChanged(4);
         }},
        {"standby", waitingForStandbyScreen, {}},
        {"home-encrypted", homeScreen,
         [this] {
             lcd->viCurrentChannelPrivacy(true, QString());
             lcd->viChannelCallEncrypted(0x0A1B2C3D);
         }},
        {"home-key-unusable", homeScreen,
         [this] { lcd->viCurrentChannelPrivacy(true, QStringLiteral("Key unusable: transmit disabled")); }},
        {"home-no-microphone", homeScreen,
         [this] {
             lcd->viVirtualRadioModeChanged(0);
             window.viDisablePTTButton(false);
         }},
    };
    for (const auto& state : states) {
        if (state.prepare)
            state.prepare();
        check(state.name, state.screen);
    }
}

} // namespace
