// The desktop settings dialog behind the window's settings button: sound
// cards, codec and packet interval, the manual location, and the unit's
// identity and enrolment with a register / update button and the
// management service and server key it uses.
#pragma once

#include "ScreenName.h"

#include <QDialog>

#include <functional>

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QGroupBox;
class QKeySequenceEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;

class TalkboxSettings : public QDialog
{
    Q_OBJECT
public:
    static const QStringList& codecNames();
    static const QStringList& packetIntervals();
    // How many intervals, from the top of the list, the codec can use.
    static int usableIntervalCount(const QString& codec);

    explicit TalkboxSettings(QWidget* parent = nullptr);

    // Reloads every value from the store, then shows the dialog.
    void openDialog();

    // Asked before a restart; true restarts. Tests answer it themselves.
    void setRestartQuestion(std::function<bool()> ask) { askRestart_ = std::move(ask); }
    // What a restart does; the program's restart by default.
    void setRestartAction(std::function<void()> restart) { restart_ = std::move(restart); }

    QComboBox* playbackDevices() const { return cboPlaybackDevices_; }
    QComboBox* captureDevices() const { return cboCaptureDevices_; }
    // The push-to-talk key (FrontPanelKeys); takes effect at once.
    QKeySequenceEdit* pttKeyEntry() const { return pttKeyEdit_; }
    QComboBox* codecSelection() const { return cboCodecSelection_; }
    QComboBox* packetIntervalSelection() const { return cboPacketIntervalSelection_; }
    QGroupBox* locationGroup() const { return useLocationGroupBox_; }
    QLineEdit* latitudeEntry() const { return latitudeDataEntry_; }
    QLineEdit* longitudeEntry() const { return longitudeDataEntry_; }
    QComboBox* latitudeHemisphere() const { return latPosition_; }
    QComboBox* longitudeHemisphere() const { return lonPosition_; }
    QPushButton* okButton() const;
    QPushButton* updateSettingsButton() const { return updateSettingsButton_; }
    QLineEdit* managementUrlEntry() const { return managementUrlEntry_; }
    QLineEdit* serverFingerprintEntry() const { return serverFingerprintEntry_; }
    // Says that no valid server key is pinned; hidden while one is.
    QLabel* serverKeyProblem() const { return serverKeyProblem_; }

signals:
    void coRegisterButtonRestart();
    void miShowRegistration(bool show);
    void coSelectScreenFromSettings(LcdScreens::screenName_t screen);

public slots:
    void on_buttonBox_accepted();
    void on_audioPlayBackMixer_clicked();
    void on_audioCaptureMixer_clicked();
    void on_cboCodecSelection_currentIndexChanged();
    void on_updateSettingsButton_clicked();
    void updateAboutTab();
    void viUpdateVoipTabPacketIntervalOptions();
    void viCheckLatAndLonEntries(QString text);
    void viCheckServerFingerprint();
    void viUseLocation(bool on);
    void viSetStorageLocation();
    void openStorageLocation(QString link);

private:
    QWidget* buildAudioTab();
    QWidget* buildVoipLocationTab();
    QWidget* buildAboutTab();
    QGroupBox* buildServiceGroup(QWidget* tab);
    void loadSoundCards();
    void loadVoipAndLocation();
    void loadServiceSettings();
    void loadPttKey();
    void keepOneKey();
    bool storeDevices();
    void storePttKey();
    void storeLocation();
    bool storeCodecAndInterval();
    bool storeServiceSettings();
    bool coordinatesAcceptable() const;
    // OK only while everything it would store is acceptable.
    void updateOkButton();

    QTabWidget* tabs_ = nullptr;
    QComboBox* cboPlaybackDevices_ = nullptr;
    QComboBox* cboCaptureDevices_ = nullptr;
    QKeySequenceEdit* pttKeyEdit_ = nullptr;
    QComboBox* cboCodecSelection_ = nullptr;
    QComboBox* cboPacketIntervalSelection_ = nullptr;
    QGroupBox* useLocationGroupBox_ = nullptr;
    QLineEdit* latitudeDataEntry_ = nullptr;
    QLineEdit* longitudeDataEntry_ = nullptr;
    QComboBox* latPosition_ = nullptr;
    QComboBox* lonPosition_ = nullptr;
    QLabel* versionLabel_ = nullptr;
    QLabel* storageLink_ = nullptr;
    QWidget* storageRow_ = nullptr;
    QLabel* radioNameLabel_ = nullptr;
    QLabel* deviceIdLabel_ = nullptr;
    QLabel* deviceOwnerLabel_ = nullptr;
    QCheckBox* gbHalvaneUpdatedSettings_ = nullptr;
    QCheckBox* gbHalvaneRegistered_ = nullptr;
    QPushButton* updateSettingsButton_ = nullptr;
    QLineEdit* managementUrlEntry_ = nullptr;
    QLineEdit* serverFingerprintEntry_ = nullptr;
    QLabel* serverKeyProblem_ = nullptr;
    QDialogButtonBox* buttonBox_ = nullptr;
    std::function<bool()> askRestart_;
    std::function<void()> restart_;
};
