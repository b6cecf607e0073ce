// The settings dialog: the packet-interval rule, sound-card lists with a
// missing stored card, stored coordinates and hemispheres, the OK rule for
// empty coordinates, the restart question only for devices, codec or
// interval, the register / update button, and the management service and
// server key fields.
#include "TalkboxSettings.h"

#include "ManagementService.h"
#include "PersistentQSettings.h"
#include "RadioInformation.h"
#include "SoundCards.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

namespace {

class TalkboxSettingsTest : public ::testing::Test
{
protected:
    TalkboxSettingsTest()
    {
        SoundCards::setLister([] {
            return QVector<SoundCardInfo>{{"Speakers", "pulse:speakers", false, true},
                                          {"Microphone", "pulse:mic", true, false},
                                          {"Headset", "pulse:headset", true, true},
                                          {"Speakers", "pulse:speakers-2", false, true}};
        });
        RadioInformationSource::setSource([this] { return information; });
        const std::pair<const char*, QVariant> defaults[] = {
            {"playback_audio_dev_id", ""}, {"capture_audio_dev_id", ""}, {"voip_codec", "PCMU"},
            {"packet_interval", "140"},    {"enable_location", false},  {"latitude", "45.8005"},
            {"longitude", "108.459"},      {"latHemisphere", "N"},      {"lonHemisphere", "W"},
            {"management_url", ""},        {"server_fingerprint", ""}};
        for (const auto& [key, value] : defaults)
            store()->setValue(QString::fromLatin1(key), value);
        dialog.setRestartQuestion([this] {
            ++restartQuestions;
            return false;
        });
        dialog.setRestartAction([] { FAIL() << "no restart in tests"; });
    }
    ~TalkboxSettingsTest() override
    {
        SoundCards::setLister({});
        RadioInformationSource::setSource({});
    }

    static DelayedPersistentQSettings* store() { return PersistentQSettings::instance(); }

    RadioInformation information;
    TalkboxSettings dialog;
    int restartQuestions = 0;
};

TEST(TalkboxSettingsRuleTest, UsableIntervalsByCodec)
{
    EXPECT_EQ(TalkboxSettings::usableIntervalCount("Speex 7"), 10);
    EXPECT_EQ(TalkboxSettings::usableIntervalCount("PCMU"), 7);
    EXPECT_EQ(TalkboxSettings::usableIntervalCount("PCMA"), 7);
    EXPECT_EQ(TalkboxSettings::usableIntervalCount("Opus 6.4"), 6);
    EXPECT_EQ(TalkboxSettings::usableIntervalCount("Speex 3"), 15);
}

TEST_F(TalkboxSettingsTest, Opus16With140Selects120)
{
    store()->setValue("voip_codec", "Opus 16");
    store()->setValue("packet_interval", "140");
    dialog.openDialog();
    EXPECT_EQ(dialog.codecSelection()->currentText(), "Opus 16");
    EXPECT_EQ(dialog.packetIntervalSelection()->currentText(), "120");
}

TEST_F(TalkboxSettingsTest, CardsGoToTheirListsOnceAndAMissingStoredCardIsSystemDefault)
{
    store()->setValue("capture_audio_dev_id", "pulse:mic");
    store()->setValue("playback_audio_dev_id", "alsa:gone");
    dialog.openDialog();
    EXPECT_EQ(dialog.captureDevices()->count(), 1);
    EXPECT_EQ(dialog.captureDevices()->currentData().toString(), "pulse:mic");
    ASSERT_EQ(dialog.playbackDevices()->count(), 2);
    EXPECT_EQ(dialog.playbackDevices()->currentText(), "System Default");
    EXPECT_EQ(dialog.playbackDevices()->currentData().toString(), "alsa:gone");
    dialog.okButton()->click();
    EXPECT_EQ(restartQuestions, 0);
    EXPECT_EQ(store()->value("playback_audio_dev_id").toString(), "alsa:gone");
}

TEST_F(TalkboxSettingsTest, OkStoresSignedCoordinatesAndReopeningShowsHemispheres)
{
    dialog.openDialog();
    dialog.locationGroup()->setChecked(true);
    dialog.latitudeEntry()->setText("10.5");
    dialog.latitudeHemisphere()->setCurrentText("S");
    dialog.longitudeEntry()->setText("20");
    dialog.longitudeHemisphere()->setCurrentText("E");
    dialog.okButton()->click();
    EXPECT_EQ(restartQuestions, 0) << "a location change needs no restart";
    EXPECT_DOUBLE_EQ(store()->value("s_latitude").toDouble(), -10.5);
    EXPECT_DOUBLE_EQ(store()->value("s_longitude").toDouble(), 20.0);
    EXPECT_TRUE(store()->value("enable_location").toBool());

    dialog.openDialog();
    EXPECT_EQ(dialog.latitudeHemisphere()->currentText(), "S");
    EXPECT_EQ(dialog.longitudeHemisphere()->currentText(), "E");
    EXPECT_EQ(dialog.latitudeEntry()->text(), "10.5");
}

TEST_F(TalkboxSettingsTest, OkIsDisabledWhileACoordinateIsEmpty)
{
    dialog.openDialog();
    dialog.locationGroup()->setChecked(true);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog) || true);
    dialog.latitudeEntry()->setFocus();
    QApplication::setActiveWindow(&dialog);
    dialog.latitudeEntry()->setFocus();
    if (!dialog.latitudeEntry()->hasFocus())
        GTEST_SKIP() << "the platform gives no keyboard focus";
    dialog.latitudeEntry()->clear();
    EXPECT_FALSE(dialog.okButton()->isEnabled());
    dialog.latitudeEntry()->setText("4");
    EXPECT_TRUE(dialog.okButton()->isEnabled());
    dialog.locationGroup()->setChecked(false);
    EXPECT_TRUE(dialog.okButton()->isEnabled());
}

TEST_F(TalkboxSettingsTest, RestartIsAskedOnlyWhenDevicesCodecOrIntervalChanged)
{
    store()->setValue("playback_audio_dev_id", "pulse:speakers");
    store()->setValue("capture_audio_dev_id", "pulse:mic");
    dialog.openDialog();
    dialog.okButton()->click();
    EXPECT_EQ(restartQuestions, 0);

    dialog.openDialog();
    dialog.packetIntervalSelection()->setCurrentText("60");
    dialog.okButton()->click();
    EXPECT_EQ(restartQuestions, 1);
    EXPECT_EQ(store()->value("packet_interval").toString(), "60");

    dialog.openDialog();
    dialog.codecSelection()->setCurrentText("PCMA");
    dialog.okButton()->click();
    EXPECT_EQ(restartQuestions, 2);
}

TEST_F(TalkboxSettingsTest, CancelStoresNothing)
{
    dialog.openDialog();
    dialog.packetIntervalSelection()->setCurrentText("20");
    dialog.reject();
    EXPECT_EQ(store()->value("packet_interval").toString(), "140");
}

TEST_F(TalkboxSettingsTest, RegisterButtonAsksForRegistrationAndRestarts)
{
    information.registered = false;
    dialog.openDialog();
    EXPECT_EQ(dialog.updateSettingsButton()->text(), "Register Unit at Halvane");
    QSignalSpy show(&dialog, &TalkboxSettings::miShowRegistration);
    QSignalSpy screen(&dialog, &TalkboxSettings::coSelectScreenFromSettings);
    QSignalSpy restart(&dialog, &TalkboxSettings::coRegisterButtonRestart);
    dialog.updateSettingsButton()->click();
    ASSERT_EQ(show.count(), 1);
    EXPECT_TRUE(show.at(0).at(0).toBool());
    ASSERT_EQ(screen.count(), 1);
    EXPECT_EQ(screen.at(0).at(0).value<LcdScreens::screenName_t>(), LcdScreens::restartingScreen);
    EXPECT_EQ(restart.count(), 1);
    EXPECT_FALSE(dialog.isVisible());

    information.registered = true;
    dialog.updateAboutTab();
    EXPECT_EQ(dialog.updateSettingsButton()->text(), "Update Settings \nfrom Halvane");
}

// The service fields reach settings.ini as the radio reads them at start
// (address trimmed, fingerprint without blanks in upper case) and come back
// on reopening; OK waits for a complete fingerprint; a change asks for the
// restart; the tab says when the running radio pins no valid key.
TEST_F(TalkboxSettingsTest, ServiceFieldsRoundTripThroughTheSettingsFile)
{
    const std::string fingerprint = "0123456789ABCDEF0123456789ABCDEF01234567";
    dialog.openDialog();
    EXPECT_TRUE(dialog.managementUrlEntry()->text().isEmpty());
    dialog.managementUrlEntry()->setText(" http://fleet.example.org:8480 ");
    dialog.serverFingerprintEntry()->setText("0123 4567 89ab cdef 0123 4567 89ab cdef 0123 456");
    EXPECT_FALSE(dialog.okButton()->isEnabled());
    QTest::keyClicks(dialog.serverFingerprintEntry(), "g");
    QTest::keyClicks(dialog.serverFingerprintEntry(), "7");
    EXPECT_TRUE(dialog.okButton()->isEnabled()) << dialog.serverFingerprintEntry()->text().toStdString();
    dialog.okButton()->click();
    EXPECT_EQ(restartQuestions, 1);
    store()->sync();
    QSettings file(PersistentQSettings::settingsFilePath(), QSettings::IniFormat);
    EXPECT_EQ(file.value("management_url").toString().toStdString(), "http://fleet.example.org:8480");
    EXPECT_EQ(file.value("server_fingerprint").toString().toStdString(), fingerprint);

    dialog.openDialog();
    EXPECT_EQ(dialog.managementUrlEntry()->text().toStdString(), "http://fleet.example.org:8480");
    EXPECT_EQ(dialog.serverFingerprintEntry()->text().toStdString(), fingerprint);
    dialog.okButton()->click();
    EXPECT_EQ(restartQuestions, 1) << "nothing changed";

    store()->setValue("server_fingerprint", "not a fingerprint");
    dialog.openDialog();
    EXPECT_FALSE(dialog.okButton()->isEnabled());
    dialog.serverFingerprintEntry()->clear();
    EXPECT_TRUE(dialog.okButton()->isEnabled());

    EXPECT_TRUE(dialog.serverKeyProblem()->isHidden());
    useLocalServiceSettings({"", "not a fingerprint"});
    dialog.updateAboutTab();
    EXPECT_FALSE(dialog.serverKeyProblem()->isHidden());
    useLocalServiceSettings({});
}

} // namespace
