// The settings dialog: its three tabs built in code, loading from and
// storing to the local settings store, the interval rule and the restart.
#include "TalkboxSettings.h"

#include "AppDataFolder.h"
#include "CoordinateValidator.h"
#include "FrontPanelKeys.h"
#include "ManagementService.h"
#include "PersistentQSettings.h"
#include "ProgramRestart.h"
#include "RadioInformation.h"
#include "SoundCards.h"
#include "debug_log.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QStandardItemModel>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QThread>
#include <QUrl>
#include <QVBoxLayout>
#include <QValidator>

namespace {

const char* const kServiceName = "Halvane";
constexpr int kVoipTab = 1;
constexpr double kMaximumLatitude = 90.0;
constexpr double kMaximumLongitude = 180.0;

DelayedPersistentQSettings* store()
{
    return PersistentQSettings::instance();
}

QString storedText(const char* key, const char* fallback)
{
    return store()->value(QString::fromLatin1(key), QString::fromLatin1(fallback)).toString();
}

// Selects the item whose text equals the value exactly; none when absent.
void selectByText(QComboBox* list, const QString& text)
{
    list->setCurrentIndex(list->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive));
}

// Selects the item holding the id, or adds "System Default" holding it.
void selectDevice(QComboBox* list, const QString& storedId)
{
    int index = list->findData(storedId, Qt::UserRole, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index < 0) {
        list->addItem(QStringLiteral("System Default"), storedId);
        index = list->count() - 1;
    }
    list->setCurrentIndex(index);
}

QLineEdit* coordinateEntry(const char* name, double maximum, QWidget* parent)
{
    auto* entry = new QLineEdit(parent);
    entry->setObjectName(QString::fromLatin1(name));
    entry->setValidator(new CoordinateValidator(maximum, entry));
    return entry;
}

QComboBox* listOf(const char* name, const QStringList& items, QWidget* parent)
{
    auto* list = new QComboBox(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->addItems(items);
    return list;
}

// Lets through what can become a fingerprint: hexadecimal digits and
// blanks, at most 40 digits. Empty (the build's default) and complete are
// acceptable; anything between is not yet.
class FingerprintValidator : public QValidator
{
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override
    {
        int digits = 0;
        for (const QChar character : input) {
            if (character.isSpace())
                continue;
            if (!QStringLiteral("0123456789abcdefABCDEF").contains(character))
                return Invalid;
            ++digits;
        }
        if (digits > 40)
            return Invalid;
        return digits == 0 || digits == 40 ? Acceptable : Intermediate;
    }
};

bool askRestartWithWarningBox(QWidget* parent)
{
    return QMessageBox::warning(parent, QStringLiteral("Effective Upon Restart."),
                                QStringLiteral("The settings that you have modified will take effect\nafter the "
                                               "program is restarted. Would you like \nto restart now? \n"),
                                QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

} // namespace

const QStringList& TalkboxSettings::codecNames()
{
    static const QStringList names{"PCMU",    "PCMA",    "Speex 1", "Speex 2",  "Speex 3",
                                   "Speex 4", "Speex 5", "Speex 6", "Speex 7",  "Speex 8",
                                   "Opus 6.4", "Opus 8", "Opus 12", "Opus 16", "Opus 24"};
    return names;
}

const QStringList& TalkboxSettings::packetIntervals()
{
    static const QStringList intervals{"20",  "40",  "60",  "80",  "100", "120", "140", "200",
                                       "300", "400", "500", "520", "540", "560", "580"};
    return intervals;
}

int TalkboxSettings::usableIntervalCount(const QString& codec)
{
    if (codec == QLatin1String("Speex 7"))
        return 10;
    if (codec == QLatin1String("PCMU") || codec == QLatin1String("PCMA"))
        return 7;
    if (codec.contains(QLatin1String("Opus")))
        return 6;
    return packetIntervals().size();
}

TalkboxSettings::TalkboxSettings(QWidget* parent)
    : QDialog(parent),
      askRestart_([this] { return askRestartWithWarningBox(this); }),
      restart_(ProgramRestart::restartNow)
{
    setWindowTitle(QStringLiteral("RVX4400 Settings"));
    tabs_ = new QTabWidget(this);
    tabs_->addTab(buildAudioTab(), QStringLiteral("Audio Devices"));
    tabs_->addTab(buildVoipLocationTab(), QStringLiteral("VoIP/ Location Settings"));
    tabs_->addTab(buildAboutTab(), QStringLiteral("About"));
    tabs_->setCurrentIndex(kVoipTab);
    buttonBox_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    layout->addWidget(buttonBox_);

    connect(buttonBox_, &QDialogButtonBox::accepted, this, &TalkboxSettings::on_buttonBox_accepted);
    connect(buttonBox_, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(useLocationGroupBox_, &QGroupBox::toggled, this, &TalkboxSettings::viUseLocation);
    connect(latitudeDataEntry_, &QLineEdit::textChanged, this, &TalkboxSettings::viCheckLatAndLonEntries);
    connect(longitudeDataEntry_, &QLineEdit::textChanged, this, &TalkboxSettings::viCheckLatAndLonEntries);
    connect(storageLink_, &QLabel::linkActivated, this, &TalkboxSettings::openStorageLocation);
    connect(cboCodecSelection_, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &TalkboxSettings::on_cboCodecSelection_currentIndexChanged);
    connect(updateSettingsButton_, &QPushButton::clicked, this, &TalkboxSettings::on_updateSettingsButton_clicked);
    const bool override = debug_log_is_enabled("OVERRIDE_WEBMANAGEMENT_CODEC_SETTINGS");
    cboCodecSelection_->setEnabled(override);
    cboPacketIntervalSelection_->setEnabled(override);
}

QWidget* TalkboxSettings::buildAudioTab()
{
    auto* tab = new QWidget;
    auto* form = new QFormLayout(tab);
    QStyle* style = QApplication::style();
    cboPlaybackDevices_ = listOf("cboPlaybackDevices", {}, tab);
    cboCaptureDevices_ = listOf("cboCaptureDevices", {}, tab);
    auto* playbackMixer = new QPushButton(style->standardIcon(QStyle::SP_MediaVolume), QString(), tab);
    auto* captureMixer = new QPushButton(style->standardIcon(QStyle::SP_MediaVolume), QString(), tab);
    playbackMixer->setObjectName(QStringLiteral("audioPlayBackMixer"));
    captureMixer->setObjectName(QStringLiteral("audioCaptureMixer"));
    connect(playbackMixer, &QPushButton::clicked, this, &TalkboxSettings::on_audioPlayBackMixer_clicked);
    connect(captureMixer, &QPushButton::clicked, this, &TalkboxSettings::on_audioCaptureMixer_clicked);
    auto* playbackRow = new QHBoxLayout;
    playbackRow->addWidget(cboPlaybackDevices_, 1);
    playbackRow->addWidget(playbackMixer);
    auto* captureRow = new QHBoxLayout;
    captureRow->addWidget(cboCaptureDevices_, 1);
    captureRow->addWidget(captureMixer);
    form->addRow(QStringLiteral("Audio Play Back:"), playbackRow);
    form->addRow(QStringLiteral("Audio Capture:"), captureRow);
    pttKeyEdit_ = new QKeySequenceEdit(tab);
    pttKeyEdit_->setObjectName(QStringLiteral("pttKeyEdit"));
    pttKeyEdit_->setClearButtonEnabled(true);
    pttKeyEdit_->setToolTip(QStringLiteral("Held down while the radio's window has the focus, this key presses PTT. "
                                           "Clear it for no key."));
    connect(pttKeyEdit_, &QKeySequenceEdit::editingFinished, this, &TalkboxSettings::keepOneKey);
    form->addRow(QStringLiteral("Push-to-talk key:"), pttKeyEdit_);
    return tab;
}

QWidget* TalkboxSettings::buildVoipLocationTab()
{
    auto* tab = new QWidget;
    auto* column = new QVBoxLayout(tab);
    auto* voip = new QGroupBox(
        QStringLiteral("VoIP Settings (use %1 for adjusting codec options)").arg(kServiceName), tab);
    auto* voipForm = new QFormLayout(voip);
    cboCodecSelection_ = listOf("cboCodecSelection", codecNames(), voip);
    cboPacketIntervalSelection_ = listOf("cboPacketIntervalSelection", packetIntervals(), voip);
    voipForm->addRow(QStringLiteral("Codec"), cboCodecSelection_);
    voipForm->addRow(QStringLiteral("Packet Interval"), cboPacketIntervalSelection_);

    useLocationGroupBox_ = new QGroupBox(QStringLiteral("Location"), tab);
    useLocationGroupBox_->setObjectName(QStringLiteral("useLocationGroupBox"));
    useLocationGroupBox_->setCheckable(true);
    auto* locationForm = new QFormLayout(useLocationGroupBox_);
    locationForm->addRow(new QLabel(QStringLiteral("Manual"), useLocationGroupBox_));
    latitudeDataEntry_ = coordinateEntry("latitudeDataEntry", kMaximumLatitude, useLocationGroupBox_);
    longitudeDataEntry_ = coordinateEntry("longitudeDataEntry", kMaximumLongitude, useLocationGroupBox_);
    latPosition_ = listOf("latPosition", {"N", "S"}, useLocationGroupBox_);
    lonPosition_ = listOf("lonPosition", {"W", "E"}, useLocationGroupBox_);
    auto* latitudeRow = new QHBoxLayout;
    latitudeRow->addWidget(latitudeDataEntry_, 1);
    latitudeRow->addWidget(latPosition_);
    auto* longitudeRow = new QHBoxLayout;
    longitudeRow->addWidget(longitudeDataEntry_, 1);
    longitudeRow->addWidget(lonPosition_);
    locationForm->addRow(QStringLiteral("Latitude"), latitudeRow);
    locationForm->addRow(QStringLiteral("Longitude"), longitudeRow);

    column->addWidget(voip);
    column->addWidget(useLocationGroupBox_);
    column->addStretch();
    return tab;
}

QWidget* TalkboxSettings::buildAboutTab()
{
    auto* tab = new QWidget;
    auto* column = new QVBoxLayout(tab);
    auto* information = new QGroupBox(QStringLiteral("Information"), tab);
    auto* informationForm = new QFormLayout(information);
    versionLabel_ = new QLabel(QCoreApplication::applicationVersion(), information);
    versionLabel_->setObjectName(QStringLiteral("versionLabel"));
    informationForm->addRow(QStringLiteral("Version:"), versionLabel_);
    storageLink_ = new QLabel(information);
    storageLink_->setObjectName(QStringLiteral("storageLabel"));
    informationForm->addRow(QStringLiteral("Storage:"), storageLink_);
    storageRow_ = informationForm->labelForField(storageLink_);
    storageRow_->hide();
    storageLink_->hide();

    auto* radio = new QGroupBox(QStringLiteral("Radio Information"), tab);
    auto* radioForm = new QFormLayout(radio);
    radioNameLabel_ = new QLabel(radio);
    deviceIdLabel_ = new QLabel(radio);
    deviceOwnerLabel_ = new QLabel(radio);
    radioForm->addRow(QStringLiteral("Radio:"), radioNameLabel_);
    radioForm->addRow(QStringLiteral("Device ID:"), deviceIdLabel_);
    radioForm->addRow(QStringLiteral("Owner:"), deviceOwnerLabel_);

    auto* status = new QGroupBox(QStringLiteral("%1 Status").arg(kServiceName), tab);
    auto* statusRow = new QHBoxLayout(status);
    gbHalvaneUpdatedSettings_ = new QCheckBox(QStringLiteral("Settings\n Updated"), status);
    gbHalvaneRegistered_ = new QCheckBox(QStringLiteral("Registered on\n%1").arg(kServiceName), status);
    for (QCheckBox* box : {gbHalvaneUpdatedSettings_, gbHalvaneRegistered_}) {
        box->setAttribute(Qt::WA_TransparentForMouseEvents);
        box->setFocusPolicy(Qt::NoFocus);
        statusRow->addWidget(box);
    }
    updateSettingsButton_ = new QPushButton(status);
    updateSettingsButton_->setObjectName(QStringLiteral("updateSettingsButton"));
    statusRow->addWidget(updateSettingsButton_);

    column->addWidget(information);
    column->addWidget(radio);
    column->addWidget(status);
    column->addWidget(buildServiceGroup(tab));
    column->addStretch();
    return tab;
}

// An operator's own service and its key; empty fields keep the build's.
QGroupBox* TalkboxSettings::buildServiceGroup(QWidget* tab)
{
    auto* service = new QGroupBox(QStringLiteral("Management Service"), tab);
    auto* form = new QFormLayout(service);
    managementUrlEntry_ = new QLineEdit(service);
    managementUrlEntry_->setObjectName(QStringLiteral("managementUrlEntry"));
    managementUrlEntry_->setPlaceholderText(QString::fromStdString(defaultManagementServiceUrl()));
    serverFingerprintEntry_ = new QLineEdit(service);
    serverFingerprintEntry_->setObjectName(QStringLiteral("serverFingerprintEntry"));
    serverFingerprintEntry_->setPlaceholderText(QString::fromStdString(defaultServerKeyFingerprint()));
    serverFingerprintEntry_->setValidator(new FingerprintValidator(serverFingerprintEntry_));
    connect(serverFingerprintEntry_, &QLineEdit::textChanged, this, &TalkboxSettings::viCheckServerFingerprint);
    serverKeyProblem_ = new QLabel(QStringLiteral("The server key fingerprint in use is not valid: all settings are "
                                                  "refused until it is fixed."),
                                   service);
    serverKeyProblem_->setWordWrap(true);
    serverKeyProblem_->hide();
    form->addRow(QStringLiteral("Management service:"), managementUrlEntry_);
    form->addRow(QStringLiteral("Server key fingerprint:"), serverFingerprintEntry_);
    form->addRow(new QLabel(QStringLiteral("Takes effect after a restart."), service));
    form->addRow(serverKeyProblem_);
    return service;
}

QPushButton* TalkboxSettings::okButton() const
{
    return buttonBox_->button(QDialogButtonBox::Ok);
}

void TalkboxSettings::openDialog()
{
    useLocationGroupBox_->setChecked(store()->value(QStringLiteral("enable_location"), false).toBool());
    loadSoundCards();
    loadVoipAndLocation();
    loadServiceSettings();
    loadPttKey();
    updateAboutTab();
    // Loaded texts equal to the last ones change nothing: decide OK afresh.
    updateOkButton();
    show();
}

void TalkboxSettings::loadSoundCards()
{
    cboPlaybackDevices_->clear();
    cboCaptureDevices_->clear();
    for (const SoundCardInfo& card : SoundCards::listForSettings()) {
        QComboBox* list = nullptr;
        if (card.capture && !card.playback)
            list = cboCaptureDevices_;
        else if (card.playback && !card.capture)
            list = cboPlaybackDevices_;
        if (list && list->findText(card.name, Qt::MatchExactly | Qt::MatchCaseSensitive) < 0)
            list->addItem(card.name, card.id);
    }
    selectDevice(cboCaptureDevices_, storedText("capture_audio_dev_id", ""));
    selectDevice(cboPlaybackDevices_, storedText("playback_audio_dev_id", ""));
}

void TalkboxSettings::loadVoipAndLocation()
{
    selectByText(cboCodecSelection_, storedText("voip_codec", "PCMU"));
    selectByText(cboPacketIntervalSelection_, storedText("packet_interval", "140"));
    useLocationGroupBox_->setChecked(store()->value(QStringLiteral("enable_location"), false).toBool());
    latitudeDataEntry_->setText(storedText("latitude", "45.8005"));
    selectByText(latPosition_, storedText("latHemisphere", "N"));
    longitudeDataEntry_->setText(storedText("longitude", "108.459"));
    selectByText(lonPosition_, storedText("lonHemisphere", "W"));
    viUpdateVoipTabPacketIntervalOptions();
}

void TalkboxSettings::loadServiceSettings()
{
    managementUrlEntry_->setText(storedText(kManagementUrlSetting, ""));
    serverFingerprintEntry_->setText(storedText(kServerFingerprintSetting, ""));
    viCheckServerFingerprint();
}

void TalkboxSettings::on_cboCodecSelection_currentIndexChanged()
{
    viUpdateVoipTabPacketIntervalOptions();
}

void TalkboxSettings::viUpdateVoipTabPacketIntervalOptions()
{
    const int usable = usableIntervalCount(cboCodecSelection_->currentText());
    auto* model = qobject_cast<QStandardItemModel*>(cboPacketIntervalSelection_->model());
    for (int row = 0; row < cboPacketIntervalSelection_->count(); ++row) {
        QStandardItem* item = model->item(row);
        item->setFlags(row < usable ? item->flags() | Qt::ItemIsEnabled | Qt::ItemIsSelectable
                                    : item->flags() & ~(Qt::ItemIsEnabled | Qt::ItemIsSelectable));
    }
    if (cboPacketIntervalSelection_->currentIndex() >= usable)
        cboPacketIntervalSelection_->setCurrentIndex(usable - 1);
}

void TalkboxSettings::viUseLocation(bool)
{
    updateOkButton();
}

void TalkboxSettings::viCheckLatAndLonEntries(QString)
{
    updateOkButton();
}

bool TalkboxSettings::coordinatesAcceptable() const
{
    return latitudeDataEntry_->hasAcceptableInput() && longitudeDataEntry_->hasAcceptableInput();
}

// A fingerprint that is not complete is never stored: OK waits for it.
void TalkboxSettings::viCheckServerFingerprint()
{
    updateOkButton();
}

// A manual location in use needs both coordinates in range; an unused one
// may be left unfinished (it is then not stored).
void TalkboxSettings::updateOkButton()
{
    const bool locationAcceptable = !useLocationGroupBox_->isChecked() || coordinatesAcceptable();
    okButton()->setEnabled(serverFingerprintEntry_->hasAcceptableInput() && locationAcceptable);
}

void TalkboxSettings::on_audioPlayBackMixer_clicked()
{
    QProcess::startDetached(QStringLiteral("pavucontrol"), {QStringLiteral("--tab=1")});
}

void TalkboxSettings::on_audioCaptureMixer_clicked()
{
    QProcess::startDetached(QStringLiteral("pavucontrol"), {QStringLiteral("--tab=2")});
}

void TalkboxSettings::updateAboutTab()
{
    viSetStorageLocation();
    const RadioInformation information = RadioInformationSource::current();
    gbHalvaneRegistered_->setChecked(information.registered);
    gbHalvaneUpdatedSettings_->setChecked(information.settingsUpdated);
    deviceIdLabel_->setText(information.deviceId);
    deviceOwnerLabel_->setText(information.owner);
    radioNameLabel_->setText(information.radioName);
    serverKeyProblem_->setVisible(serverKeyFingerprint().empty());
    updateSettingsButton_->setText(information.registered
                                       ? QStringLiteral("Update Settings \nfrom %1").arg(kServiceName)
                                       : QStringLiteral("Register Unit at %1").arg(kServiceName));
}

void TalkboxSettings::viSetStorageLocation()
{
    storageLink_->setText(QStringLiteral("<a href=\"%1\">Settings Storage</a>").arg(appDataFolder().toHtmlEscaped()));
}

void TalkboxSettings::openStorageLocation(QString)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(appDataFolder()));
}

void TalkboxSettings::on_updateSettingsButton_clicked()
{
    emit miShowRegistration(true);
    close();
    emit coSelectScreenFromSettings(LcdScreens::restartingScreen);
    QCoreApplication::processEvents();
    QThread::sleep(1);
    emit coRegisterButtonRestart();
}

bool TalkboxSettings::storeDevices()
{
    const QString playback = cboPlaybackDevices_->currentData().toString();
    const QString capture = cboCaptureDevices_->currentData().toString();
    const bool changed = playback != storedText("playback_audio_dev_id", "") ||
                         capture != storedText("capture_audio_dev_id", "");
    store()->setValue(QStringLiteral("playback_audio_dev_id"), playback);
    store()->setValue(QStringLiteral("capture_audio_dev_id"), capture);
    return changed;
}

// Coordinates are stored only as a pair of acceptable numbers; otherwise the
// stored position stays.
void TalkboxSettings::storeLocation()
{
    store()->setValue(QStringLiteral("enable_location"), useLocationGroupBox_->isChecked());
    const std::optional<double> latitudeEntered =
        CoordinateValidator::value(latitudeDataEntry_->text(), kMaximumLatitude);
    const std::optional<double> longitudeEntered =
        CoordinateValidator::value(longitudeDataEntry_->text(), kMaximumLongitude);
    if (!latitudeEntered || !longitudeEntered)
        return;
    const double latitude = *latitudeEntered;
    const double longitude = *longitudeEntered;
    store()->setValue(QStringLiteral("latitude"), latitude);
    store()->setValue(QStringLiteral("longitude"), longitude);
    store()->setValue(QStringLiteral("latHemisphere"), latPosition_->currentText());
    store()->setValue(QStringLiteral("lonHemisphere"), lonPosition_->currentText());
    store()->setValue(QStringLiteral("s_latitude"), latPosition_->currentText() == "S" ? -latitude : latitude);
    store()->setValue(QStringLiteral("s_longitude"), lonPosition_->currentText() == "W" ? -longitude : longitude);
}

bool TalkboxSettings::storeCodecAndInterval()
{
    const QString codec = cboCodecSelection_->currentText();
    const QString interval = cboPacketIntervalSelection_->currentText();
    // A stored value the lists do not hold leaves no selection: keep it.
    const bool changed = (!codec.isEmpty() && codec != storedText("voip_codec", "PCMU")) ||
                         (!interval.isEmpty() && interval != storedText("packet_interval", "140"));
    if (!codec.isEmpty())
        store()->setValue(QStringLiteral("voip_codec"), codec);
    if (!interval.isEmpty())
        store()->setValue(QStringLiteral("packet_interval"), interval);
    return changed;
}

// Stored as the radio reads them: the address without surrounding blanks,
// the fingerprint as 40 upper-case digits (or empty for the default). An
// incomplete fingerprint keeps the stored one.
bool TalkboxSettings::storeServiceSettings()
{
    const std::pair<const char*, QString> entries[] = {
        {kManagementUrlSetting, managementUrlEntry_->text().trimmed()},
        {kServerFingerprintSetting,
         serverFingerprintEntry_->hasAcceptableInput()
             ? QString::fromStdString(normalisedFingerprint(serverFingerprintEntry_->text().toStdString()))
             : storedText(kServerFingerprintSetting, "")},
    };
    bool changed = false;
    for (const auto& [key, value] : entries) {
        if (value == storedText(key, ""))
            continue;
        store()->setValue(QString::fromLatin1(key), value);
        changed = true;
    }
    return changed;
}

void TalkboxSettings::loadPttKey()
{
    const int key = FrontPanelKeys::pttKey();
    pttKeyEdit_->setKeySequence(key == 0 ? QKeySequence() : QKeySequence(key));
}

// PTT is one key held down: the first key typed, without Shift, Ctrl or the like.
void TalkboxSettings::keepOneKey()
{
    const int key = FrontPanelKeys::keyOfText(pttKeyEdit_->keySequence().toString(QKeySequence::PortableText));
    pttKeyEdit_->setKeySequence(key == 0 ? QKeySequence() : QKeySequence(key));
}

void TalkboxSettings::storePttKey()
{
    keepOneKey();
    const QString text = pttKeyEdit_->keySequence().toString(QKeySequence::PortableText);
    if (FrontPanelKeys::keyOfText(text) != FrontPanelKeys::pttKey())
        store()->setValue(QString::fromLatin1(FrontPanelKeys::kPttKeySetting), text);
}

void TalkboxSettings::on_buttonBox_accepted()
{
    bool restartNeeded = storeDevices();
    storePttKey();
    storeLocation();
    restartNeeded = storeCodecAndInterval() || restartNeeded;
    restartNeeded = storeServiceSettings() || restartNeeded;
    accept();
    if (restartNeeded && askRestart_())
        restart_();
}
