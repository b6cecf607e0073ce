// The display's slots: screen choice, status bar, volume and caller ID,
// contacts, location and distance, registration and version texts.
#include "LCD_t.h"

#include "ContactsManager.h"
#include "DeviceIdentity.h"
#include "LocationGeometry.h"
#include "ManagementService.h"
#include "MyLocationManager.h"
#include "RadioInformation.h"
#include "SoftwareVersionText.h"
#include "debug_log.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QStackedWidget>

#include <algorithm>

// Resources live in a static library: register them before the first use.
static void initialiseFrontPanelResources()
{
    Q_INIT_RESOURCE(frontpanel);
}

namespace {

constexpr int kVolumePageMs = 2000;
constexpr int kEmergencyBlinks = 10;
constexpr int kTimeoutBarSeconds = 10;
constexpr int kVolumePage = 0;
constexpr int kCallerIdPage = 1;
constexpr int kChannelMode = 0;
constexpr int kIndividualCallMode = 1;
constexpr int kPaMode = 2;
const char* const kServiceName = "Halvane";
// Diagnostic entries: grey when off, red when on, with black text that
// reads on both.
const char* const kGreyEntry = "color: black; background-color: rgb(189,189,189);";
const char* const kRedEntry = "color: black; background-color: red;";

void useDisplayFont()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    initialiseFrontPanelResources();
    QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/helvetica.ttf"));
    // The compiled-in font is Liberation Sans; "Helvetica" maps to it too.
    QFont font = QGuiApplication::font();
    font.setFamilies({QStringLiteral("Helvetica"), QStringLiteral("Liberation Sans")});
    QGuiApplication::setFont(font);
}

// Links on the blue pages in a light colour, as readable as the white text
// (rich text takes the application's dark link colour otherwise).
QString withLightLinks(const QString& html)
{
    return QStringLiteral("<style>a { color: #a0ebff; }</style>") + html;
}

QString registrationPageText()
{
    const QString url = QString::fromStdString(managementServiceUrl("/register"));
    return withLightLinks(QStringLiteral("Register this radio at <a href=\"%1\">%1</a> with the code above, "
                                         "then press Finished.")
                              .arg(url.toHtmlEscaped()));
}

QString hemisphereText(double value, char positive, char negative)
{
    return QString::number(std::abs(value), 'f', 5) + QLatin1Char(value >= 0 ? positive : negative);
}

void showTimeoutBar(QLabel* caption, QProgressBar* bar, int seconds)
{
    const bool shown = seconds < kTimeoutBarSeconds + 1;
    caption->setVisible(shown);
    bar->setVisible(shown);
    bar->setMaximum(kTimeoutBarSeconds);
    bar->setValue(std::clamp(seconds, 0, kTimeoutBarSeconds));
}

} // namespace

LCD_t::LCD_t(QWidget* parent, ContactsManager* contacts)
    : QWidget(parent), contacts_(contacts ? contacts : ContactsManager::instance())
{
    useDisplayFont();
    QFont lcdFont = font();
    lcdFont.setPixelSize(11);
    setFont(lcdFont);
    ui_.setupUi(this);
    volumeTimer_.setSingleShot(true);
    connectInternals();
    hideUnusedWidgets();
    ui_.registrationRichText->setText(registrationPageText());
}

void LCD_t::connectInternals()
{
    connect(this, &LCD_t::viSetVolumeLcd, this, [this](int volume) { volume_ = volume; });
    connect(this, &LCD_t::viSetVolumeLcd, ui_.homeVolumeBar, &QProgressBar::setValue);
    connect(this, &LCD_t::viSetVolumeLcd, ui_.paVolumeBar, &QProgressBar::setValue);
    connect(this, &LCD_t::viSetVolumeLcd, this, &LCD_t::viShowVolumeLevel);
    connect(this, &LCD_t::viSetVolumeLcd, this, &LCD_t::viUpdateStatusBarVolume);
    connect(&volumeTimer_, &QTimer::timeout, this, &LCD_t::viShowCallerID);
    connect(ui_.talkGroupComboBox, qOverload<int>(&QComboBox::currentIndexChanged), this, &LCD_t::coSetChannelFromLcd);
    connect(ui_.listWidget, &QListWidget::itemClicked, this, &LCD_t::viSelectContact);
}

void LCD_t::hideUnusedWidgets()
{
    ui_.stackedWidgetVolumeCallerId->setCurrentIndex(kCallerIdPage);
    for (QWidget* widget : std::initializer_list<QWidget*>{
             ui_.updateNowEntry, ui_.usbSettingsEntry, ui_.selectedInterfaceLabel, ui_.remoteDebugEntry,
             ui_.keyHashLabel, findChild<QLabel*>(QStringLiteral("keyHashTitle")), ui_.labelTX, ui_.labelRX,
             ui_.networkReadyLabel, ui_.tbSignalBarIndicator,
             ui_.emergencyStatusIndicator, ui_.paTimeoutLabel, ui_.paTimeoutBar, ui_.callTimeoutLabel,
             ui_.callTimeoutBar})
        widget->hide();
    ui_.usbStatusLabel->clear();
}

int LCD_t::currentScreen() const
{
    return ui_.stackedWidget->currentIndex();
}

void LCD_t::viSelectScreen(LcdScreens::screenName_t screen)
{
    debug_log_printf("LCD_DEBUG_OUTPUT", "Selecting screen index: %d\n", static_cast<int>(screen));
    if (screen < 0 || screen >= LcdScreens::kScreenCount) {
        debug_log_printf_always("Ignoring request for unknown screen %d\n", static_cast<int>(screen));
        return;
    }
    if (screen == LcdScreens::setupScreen)
        updateSettingsScreenHalvaneInfo();
    if (screen == LcdScreens::softwareUpdateScreen)
        updateSoftwareVersionText();
    ui_.stackedWidget->setCurrentIndex(screen);
    emit voCurrentScreenFeedback(screen);
}

void LCD_t::viVirtualRadioModeChanged(int mode)
{
    mode_ = mode;
    if (mode == kChannelMode)
        viSelectScreen(LcdScreens::homeScreen);
    else if (mode == kIndividualCallMode)
        viSelectScreen(LcdScreens::individualCallScreen);
    else if (mode == kPaMode)
        viSelectScreen(LcdScreens::paModeScreen);
}

void LCD_t::viDisplayRestartingScreen(QString message)
{
    ui_.restartingMessage->setText(message);
    viSelectScreen(LcdScreens::restartingScreen);
}

void LCD_t::viDisplayRegistrationCode(QString code)
{
    registrationCode_ = code;
    ui_.registrationCodeLabel->setText(QStringLiteral("Registration Code:") + code);
}

void LCD_t::viUpdateRegistrationStatus(bool ok)
{
    if (!ok) {
        ui_.registrationCodeLabel->setText(
            QStringLiteral("Please retry registering the device on %1 using code:  ").arg(kServiceName) +
            registrationCode_);
        return;
    }
    ui_.registrationRichText->hide();
    ui_.finishedLegend->hide();
    ui_.skipRegistrationLegend->hide();
    ui_.registrationCodeLabel->setText(QStringLiteral("Registration is now complete.  Restarting..."));
}

void LCD_t::setChannelListQuietly(const std::function<void()>& change)
{
    disconnect(ui_.talkGroupComboBox, qOverload<int>(&QComboBox::currentIndexChanged), this,
               &LCD_t::coSetChannelFromLcd);
    change();
    connect(ui_.talkGroupComboBox, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &LCD_t::coSetChannelFromLcd);
}

void LCD_t::viSetComboBoxChannelList(QStringList channels)
{
    debug_log_printf("LCD_DEBUG_OUTPUT", "Setting channel list with size:%d\n", static_cast<int>(channels.size()));
    setChannelListQuietly([&] {
        ui_.talkGroupComboBox->clear();
        ui_.talkGroupComboBox->addItems(channels);
    });
}

void LCD_t::viSetChannelIndex(int index)
{
    setChannelListQuietly([&] { ui_.talkGroupComboBox->setCurrentIndex(index); });
    clearCallerId();
}

// The caller block belongs to the channel's last talker: it goes as a whole,
// and stays empty until the next talker (the location page keeps the last
// contact).
void LCD_t::clearCallerId()
{
    callerIdShown_ = false;
    for (QLabel* line : {ui_.labelCallerID, ui_.callerDistanceLabel, ui_.callerIdNumberLabel})
        line->clear();
}

void LCD_t::viCurrentZoneName(const char* name)
{
    ui_.selectedZone->setText(QString::fromUtf8(name ? name : ""));
}

void LCD_t::viUpdateStatusBarVolume()
{
    ui_.volumeStatusBarLabel->setText(QString::asprintf("Vol %d%%", volume_));
}

void LCD_t::viShowVolumeLevel()
{
    ui_.stackedWidgetVolumeCallerId->setCurrentIndex(kVolumePage);
    volumeTimer_.start(kVolumePageMs);
}

void LCD_t::viShowCallerID()
{
    ui_.stackedWidgetVolumeCallerId->setCurrentIndex(kCallerIdPage);
    volumeTimer_.stop();
}

void LCD_t::showContact(device_id_t contact, QLabel* name, QLabel* idLine)
{
    const RadioContact entry = contacts_->contact(contact);
    name->setText(QString::fromStdString(entry.name()));
    char hex[9];
    idLine->setText(QStringLiteral("ID: ") + QString::fromLatin1(deviceIdToHex(contact, hex)));
    viUpdateContactUpdateDistanceFromMe();
}

void LCD_t::viChannelCallContactID(device_id_t contact)
{
    channelCaller_ = contact;
    callerIdShown_ = true;
    showContact(contact, ui_.labelCallerID, ui_.callerIdNumberLabel);
    ui_.lastContactNameLabel->setText(ui_.labelCallerID->text());
}

// Encrypted voice under a key this radio does not have: whoever it claims
// to be, nothing of it can be trusted or played.
void LCD_t::viChannelCallEncrypted(device_id_t)
{
    channelCaller_ = 0;
    ui_.labelCallerID->setText(QStringLiteral("Encrypted"));
    ui_.callerIdNumberLabel->clear();
    ui_.callerDistanceLabel->clear();
}

void LCD_t::viCurrentChannelPrivacy(bool encrypted, QString problem)
{
    ui_.channelLockIcon->setVisible(encrypted);
    ui_.channelPrivacyNote->setText(problem);
    ui_.channelPrivacyNote->setVisible(!problem.isEmpty());
}

void LCD_t::viIndividualCallContactID(device_id_t contact)
{
    individualCallPartner_ = contact;
    showContact(contact, ui_.individualCallName, ui_.individualCallIdLabel);
}

void LCD_t::viUpdateContactList()
{
    ui_.listWidget->clear();
    for (const auto& [id, contact] : contacts_->contacts()) {
        auto* item = new QListWidgetItem(QString::fromStdString(contact.name()), ui_.listWidget);
        item->setData(Qt::UserRole, static_cast<qulonglong>(id));
    }
    ui_.listWidget->setCurrentRow(0);
}

void LCD_t::viUpdateContactInfo(device_id_t contact)
{
    if (contact != 0 && (contact == channelCaller_ || contact == individualCallPartner_))
        viUpdateContactUpdateDistanceFromMe();
}

void LCD_t::viContactCursorBump(int delta)
{
    if (currentScreen() != LcdScreens::contactScreen || ui_.listWidget->count() == 0)
        return;
    const int row = std::clamp(ui_.listWidget->currentRow() + delta, 0, ui_.listWidget->count() - 1);
    ui_.listWidget->setCurrentRow(row);
}

void LCD_t::viSelectContact(QListWidgetItem* item)
{
    if (item)
        emit coPlaceIndividualCall(static_cast<device_id_t>(item->data(Qt::UserRole).toULongLong()));
}

void LCD_t::miPlaceIndividualCallToContactUnderCursor()
{
    viSelectContact(ui_.listWidget->currentItem());
}

void LCD_t::viMyLocation()
{
    const location_t own = MyLocationManager_t::instance()->location();
    if (!MyLocationManager_t::instance()->hasLocation() || !own.valid)
        return;
    ui_.myLatitudeLabel->setText(hemisphereText(own.latitude, 'N', 'S'));
    ui_.myLongitudeLabel->setText(hemisphereText(own.longitude, 'E', 'W'));
}

device_id_t LCD_t::currentPartner() const
{
    return mode_ == kChannelMode ? channelCaller_ : individualCallPartner_;
}

void LCD_t::viUpdateContactUpdateDistanceFromMe()
{
    QString text;
    const device_id_t partner = currentPartner();
    MyLocationManager_t* own = MyLocationManager_t::instance();
    if (partner != 0 && own->hasLocation()) {
        const location_t theirs = contacts_->contact(partner).location();
        const relative_position_t relative = relativePosition(own->location(), theirs);
        if (relative.valid)
            text = QString::fromStdString(distanceText(relative, "English"));
    }
    ui_.gpsDistanceLabel->setText(text);
    if (mode_ != kChannelMode)
        ui_.individualCallDistance->setText(text);
    else if (callerIdShown_)
        ui_.callerDistanceLabel->setText(text);
    if (partner != 0 && partner == channelCaller_) {
        const location_t theirs = contacts_->contact(partner).location();
        ui_.lastContactPositionLabel->setText(
            theirs.valid ? hemisphereText(theirs.latitude, 'N', 'S') + ' ' + hemisphereText(theirs.longitude, 'E', 'W')
                         : QString());
    }
}

void LCD_t::viUpdateTxActivity(bool active)
{
    if (active == ui_.labelTX->isHidden())
        debug_log_printf("LCD_DEBUG_OUTPUT", "TX indicator %s\n", active ? "shown" : "hidden");
    ui_.labelTX->setVisible(active);
    ui_.pttToggleEntry->setStyleSheet(QString::fromLatin1(active ? kRedEntry : kGreyEntry));
}

void LCD_t::viUpdateRxActivity(bool active)
{
    ui_.labelRX->setVisible(active);
}

void LCD_t::viUpdateRemoteDebugAccessStatus(bool enabled)
{
    ui_.remoteDebugEntry->setStyleSheet(QString::fromLatin1(enabled ? kRedEntry : kGreyEntry));
}

void LCD_t::viSetRemoteDebugVisible(bool visible)
{
    ui_.remoteDebugEntry->setVisible(visible);
}

void LCD_t::viUpdateNetworkReadyStatus(bool ready)
{
    ui_.networkReadyLabel->setText(ready ? QStringLiteral("Ready") : QStringLiteral("Not Ready"));
    // A light red: plain red does not stand out from the blue page.
    ui_.networkReadyLabel->setStyleSheet(ready ? QStringLiteral("color: rgb(118, 255, 14);")
                                               : QStringLiteral("color: rgb(255, 185, 185);"));
}

void LCD_t::viUpdateSelectedNetworkInterface(QString name)
{
    ui_.selectedInterfaceLabel->setText(QStringLiteral("Selected Interface: ") + name);
}

void LCD_t::viUpdateNetworkState(NetworkState state)
{
    ui_.selectedInterfaceLabel->setVisible(state.reported);
    ui_.networkReadyLabel->setVisible(state.reported);
    if (state.reported) {
        viUpdateSelectedNetworkInterface(state.selectedInterface.isEmpty() ? QStringLiteral("none")
                                                                           : state.selectedInterface);
        viUpdateNetworkReadyStatus(state.ready);
    }
    ui_.ipAddressLabel->setText(state.address.isEmpty() ? QStringLiteral("IP Address:")
                                                        : QStringLiteral("IP Address: ") + state.address);
}

void LCD_t::viUpdateSoftwareUpdateStatus(QString status)
{
    ui_.softwareUpdateStatusLabel->setText(status);
}

void LCD_t::viUpdateSettingsFromUsbStatus(QString status)
{
    ui_.usbStatusLabel->setText(status);
}

void LCD_t::viEmergencyStatusStart()
{
    emergencyBlinkCount_ = kEmergencyBlinks;
    ui_.emergencyStatusIndicator->show();
}

void LCD_t::viEmergencyStatusUpdate()
{
    if (emergencyBlinkCount_ <= 0)
        return;
    --emergencyBlinkCount_;
    if (emergencyBlinkCount_ == 0)
        ui_.emergencyStatusIndicator->hide();
    else
        ui_.emergencyStatusIndicator->setVisible(!ui_.emergencyStatusIndicator->isVisibleTo(this));
}

void LCD_t::viPaModeSecondsRemainingChanged(int seconds)
{
    showTimeoutBar(ui_.paTimeoutLabel, ui_.paTimeoutBar, seconds);
}

void LCD_t::viIndividualCallSecondsRemainingChanged(int seconds)
{
    showTimeoutBar(ui_.callTimeoutLabel, ui_.callTimeoutBar, seconds);
}

void LCD_t::updateSettingsScreenHalvaneInfo()
{
    const RadioInformation information = RadioInformationSource::current();
    ui_.registeredCheckBox->setChecked(information.registered);
    ui_.settingsUpdatedCheckBox->setChecked(information.settingsUpdated);
    debug_log_printf("ENABLE_SETTINGSFILE_DEBUG", "isRegistered: %d\n", information.registered ? 1 : 0);
    debug_log_printf("ENABLE_SETTINGSFILE_DEBUG", "updated: %d\n", information.settingsUpdated ? 1 : 0);
    ui_.webUpdateEntry->setText(information.registered ? QStringLiteral("Update\n Settings")
                                                       : QStringLiteral("Register"));
    ui_.ownerLabel->setText(information.owner);
    ui_.radioNameLabel->setText(information.radioName);
    ui_.deviceIdLabel->setText(information.deviceId);
}

void LCD_t::updateSoftwareVersionText()
{
    const RadioInformation information = RadioInformationSource::current();
    SoftwareVersions versions;
    versions.running = QCoreApplication::applicationVersion();
    versions.released = information.releasedVersion;
    versions.updateUrl = information.updateUrl;
    versions.devicePageUrl = QString::fromStdString(managementServiceUrl("/devices"));
    versions.registered = information.registered;
    const SoftwareVersionText text = makeSoftwareVersionText(versions);
    ui_.versionText->setText(withLightLinks(text.html));
    if (text.updateAvailable) {
        ui_.homeSettingsIcon->setPixmap(QPixmap(QStringLiteral(":/images/resources/cogIconWarning.png")));
        ui_.softwareVersionEntry->setStyleSheet(
            QStringLiteral("color: black; background-color: yellow; border-radius:5px;"));
    }
}
