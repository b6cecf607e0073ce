// The display's slots: contact cursor bounds, the volume page and its
// timer, emergency blinking, time-out bars, quiet channel-list changes,
// registration texts, screen feedback and distances.
#include "LCD_t.h"

#include "ContactsManager.h"
#include "MyLocationManager.h"
#include "RadioInformation.h"
#include "SettingsFileParser.h"
#include "SoftwareVersionText.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTest>

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

TEST_F(LcdTest, CallerIdNameAndIdAreShownAndClearedOnChannelChange)
{
    lcd.viChannelCallContactID(0x22);
    EXPECT_EQ(ui().labelCallerID->text(), "Bravo");
    EXPECT_EQ(ui().callerIdNumberLabel->text(), "ID: 00000022");
    lcd.viSetChannelIndex(0);
    EXPECT_TRUE(ui().labelCallerID->text().isEmpty());
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
    EXPECT_EQ(ui().pttToggleEntry->styleSheet(), "background-color: red;");
    lcd.viUpdateTxActivity(false);
    EXPECT_FALSE(ui().labelTX->isVisible());
    EXPECT_EQ(ui().pttToggleEntry->styleSheet(), "background-color: rgb(189,189,189);");
    lcd.viUpdateNetworkReadyStatus(true);
    EXPECT_EQ(ui().networkReadyLabel->text(), "Ready");
    lcd.viUpdateNetworkReadyStatus(false);
    EXPECT_EQ(ui().networkReadyLabel->styleSheet(), "color: red;");
    lcd.viCurrentZoneName("Zone North");
    EXPECT_EQ(ui().selectedZone->text(), "Zone North");
    lcd.viCurrentZoneName("Z\xC3\xBCrich");  // names are UTF-8
    EXPECT_EQ(ui().selectedZone->text(), QString::fromUtf8("Z\xC3\xBCrich"));
    lcd.viCurrentZoneName(nullptr);
    EXPECT_TRUE(ui().selectedZone->text().isEmpty());
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

} // namespace
