// Construction of the display's widgets: status bar, nineteen pages in
// screen-number order, their texts, fixed pixel fonts and style.
#include "LcdForm.h"

#include "BoundedPopupComboBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QProgressBar>
#include <QStackedWidget>

#include <algorithm>

namespace {

// Pixel sizes of the display's text classes.
constexpr int kTitlePx = 18;
constexpr int kCallPx = 20;
constexpr int kMessagePx = 15;
constexpr int kMenuPx = 14;
constexpr int kStatusPx = 13;
constexpr int kCaptionPx = 11;

constexpr int kWidth = 320;
constexpr int kStatusBarHeight = 18;
constexpr int kPageHeight = 240 - kStatusBarHeight;

// Vertical centres, in page coordinates, of the three keys on each side.
constexpr int kKeyRowCentre[3] = {37, 111, 188};
// Screen titles take the top of a page; legends of the top keys start below.
constexpr int kTitleBottom = 28;
constexpr int kLegendWidth = 92;

const char* const kStyle = R"(
QStackedWidget#stackedWidget > QWidget { background-color: rgb(31,22,255); }
QWidget#homePage { border-image: url(":/images/resources/Home Screen rev 6.png"); }
QLabel { color: white; background: transparent; }
QCheckBox { color: white; }
QFrame#statusBar, QStackedWidget#stackedWidgetVolumeCallerId, QStackedWidget#stackedWidgetVolumeCallerId > QWidget
  { background-color: rgb(0,0,0); }
QLabel[entry="true"], QGroupBox { color: white; background-color: rgb(0,85,255); border-radius: 5px; }
QLabel#labelRX { background-color: rgb(0,128,0); border-radius: 3px; }
QLabel#labelTX { background-color: rgb(220,0,0); border-radius: 3px; }
QComboBox { color: white; background-color: rgb(0,0,0); border: 1px solid white; border-radius: 4px; padding-left: 6px;
  combobox-popup: 0; }
QComboBox QAbstractItemView { color: white; background-color: rgb(0,0,0); selection-background-color: rgb(0,85,255); }
QListWidget { color: white; background-color: rgb(0,0,0); border: none; }
QListWidget::item:selected { background-color: rgb(0,85,255); }
QProgressBar { color: white; background-color: rgb(0,0,0); border: 1px solid white; border-radius: 3px; text-align: center; }
QProgressBar::chunk { background-color: rgb(0,128,0); }
QProgressBar[timeout="true"]::chunk { background-color: rgb(176,64,0); }
)";

void setPixelFont(QWidget* widget, int pixels)
{
    QFont font = widget->font();
    font.setPixelSize(pixels);
    widget->setFont(font);
}

QLabel* label(QWidget* parent, const char* name, const QString& text, const QRect& rect, int pixels,
              Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter)
{
    auto* widget = new QLabel(text, parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(rect);
    widget->setAlignment(alignment);
    widget->setWordWrap(rect.height() > pixels * 2);
    setPixelFont(widget, pixels);
    return widget;
}

QLabel* title(QWidget* parent, const char* name, const QString& text)
{
    return label(parent, name, text, QRect(0, 2, kWidth, 26), kTitlePx, Qt::AlignCenter);
}

QLabel* message(QWidget* parent, const char* name, const QString& text, const QRect& rect)
{
    return label(parent, name, text, rect, kMessagePx, Qt::AlignHCenter | Qt::AlignTop);
}

QLabel* entry(QWidget* parent, const char* name, const QString& text, const QRect& rect)
{
    QLabel* widget = label(parent, name, text, rect, kMenuPx, Qt::AlignCenter);
    widget->setWordWrap(true);
    widget->setProperty("entry", true);
    return widget;
}

// A key legend beside key 1 to 6: keys 1-3 on the left edge, 4-6 on the
// right, as tall as its text wrapped (at least minimumLines lines, for
// legends whose text changes). Legends of the top keys stay clear of the
// screen's title.
QLabel* legend(QWidget* parent, const char* name, const QString& text, int key, int minimumLines = 1)
{
    QLabel* widget = entry(parent, name, text, QRect());
    const QFontMetrics metrics(widget->font());
    const int textHeight =
        metrics.boundingRect(QRect(0, 0, kLegendWidth - 4, 1000), Qt::AlignCenter | Qt::TextWordWrap, text).height();
    const int height = std::max(textHeight, minimumLines * metrics.lineSpacing()) + 10;
    const int row = (key - 1) % 3;
    int top = kKeyRowCentre[row] - height / 2;
    if (row == 0)
        top = std::max(top, kTitleBottom + 2);
    widget->setGeometry(key <= 3 ? 2 : kWidth - kLegendWidth - 2, top, kLegendWidth, height);
    return widget;
}

QProgressBar* bar(QWidget* parent, const char* name, const QRect& rect, int maximum)
{
    auto* widget = new QProgressBar(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(rect);
    widget->setRange(0, maximum);
    widget->setFormat(QStringLiteral("%v"));
    setPixelFont(widget, kStatusPx);
    return widget;
}

QLabel* picture(QWidget* parent, const char* name, const char* resource, const QRect& rect)
{
    auto* widget = new QLabel(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(rect);
    widget->setPixmap(QPixmap(QString::fromLatin1(resource)));
    widget->setScaledContents(true);
    return widget;
}

// A closed padlock, drawn rather than loaded: white on the display's blue.
QPixmap lockPicture()
{
    QPixmap pixmap(14, 18);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::white, 2));
    painter.drawArc(QRectF(3, 1, 8, 10), 0, 180 * 16);
    painter.drawLine(QPointF(3, 6), QPointF(3, 9));
    painter.drawLine(QPointF(11, 6), QPointF(11, 9));
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(QRectF(1, 8, 12, 9), 1.5, 1.5);
    return pixmap;
}

QLabel* homeLegend(QWidget* parent, const char* name, int key)
{
    return picture(parent, name, ":/images/resources/home-icon.png",
                   QRect(key <= 3 ? 8 : kWidth - 34, kKeyRowCentre[(key - 1) % 3] - 13, 26, 26));
}

} // namespace

void LcdForm::setupUi(QWidget* lcd)
{
    lcd->setObjectName(QStringLiteral("LCD_t"));
    lcd->setFixedSize(kWidth, kStatusBarHeight + kPageHeight);
    lcd->setStyleSheet(QString::fromLatin1(kStyle));
    buildStatusBar(lcd);
    stackedWidget = new QStackedWidget(lcd);
    stackedWidget->setObjectName(QStringLiteral("stackedWidget"));
    stackedWidget->setGeometry(0, kStatusBarHeight, kWidth, kPageHeight);
    buildSplashPage();
    buildRegistrationPage();
    buildHomePage();
    buildPaModePage();
    buildContactPage();
    buildEmergencyPage();
    buildGpsPage();
    buildSetupPage();
    buildSetupSettingsPage();
    buildUpdateSettingsFromUsbPage();
    buildNetworkAndWirelessPage();
    buildRestartingPage();
    buildSoftwareUpdatePage();
    buildSoftwareUpdate2Page();
    buildNetworkConnectionPage();
    buildSelfTestPage();
    buildUnableToRegisterPage();
    buildIndividualCallPage();
    buildWaitingForStandbyPage();
}

QWidget* LcdForm::addPage(const char* name)
{
    auto* page = new QWidget;
    page->setObjectName(QString::fromLatin1(name));
    page->setAttribute(Qt::WA_StyledBackground);
    stackedWidget->addWidget(page);
    return page;
}

void LcdForm::buildStatusBar(QWidget* lcd)
{
    statusBar = new QFrame(lcd);
    statusBar->setObjectName(QStringLiteral("statusBar"));
    statusBar->setGeometry(0, 0, kWidth, kStatusBarHeight);
    labelRX = label(statusBar, "labelRX", QStringLiteral("RX"), QRect(2, 2, 24, 14), kStatusPx, Qt::AlignCenter);
    labelTX = label(statusBar, "labelTX", QStringLiteral("TX"), QRect(28, 2, 24, 14), kStatusPx, Qt::AlignCenter);
    emergencyStatusIndicator = picture(statusBar, "emergencyStatusIndicator",
                                       ":/images/resources/emergency_indicator.png", QRect(56, 1, 16, 16));
    selectedZone = label(statusBar, "selectedZone", QString(), QRect(76, 0, 132, 18), kStatusPx, Qt::AlignCenter);
    volumeStatusBarLabel = label(statusBar, "volumeStatusBarLabel", QString(), QRect(210, 0, 70, 18), kStatusPx,
                                 Qt::AlignRight | Qt::AlignVCenter);
    // Shown only for a measured signal strength, which no interface reports yet.
    tbSignalBarIndicator = picture(statusBar, "tbSignalBarIndicator", ":/images/resources/signal_bars_0.png",
                                   QRect(286, 1, 32, 16));
}

void LcdForm::buildSplashPage()
{
    QWidget* page = addPage("splashScreenPage");
    picture(page, "splashPicture", ":/images/resources/splashScreen.png", QRect(0, -9, kWidth, 240));
}

void LcdForm::buildRegistrationPage()
{
    QWidget* page = addPage("registrationPage");
    registrationCodeLabel = message(page, "registrationCodeLabel", QStringLiteral("Registration Code:"),
                                    QRect(8, 6, 304, 44));
    registrationRichText = message(page, "registrationRichText", QString(), QRect(8, 52, 304, 74));
    registrationRichText->setTextFormat(Qt::RichText);
    registrationNoteLabel = message(page, "registrationNoteLabel",
                                    QStringLiteral("Note: Only local talk groups will be usable if skip registration."),
                                    QRect(8, 128, 304, 40));
    finishedLegend = entry(page, "finishedLegend", QStringLiteral("Finished"), QRect(2, 175, 92, 26));
    skipRegistrationLegend = entry(page, "skipRegistrationLegend", QStringLiteral("Skip Registration"),
                                   QRect(kWidth - 134, 175, 132, 26));
}

void LcdForm::buildHomePage()
{
    QWidget* page = addPage("homePage");
    // Its list drops down over the page, not beyond the display.
    talkGroupComboBox = new BoundedPopupComboBox(stackedWidget, page);
    talkGroupComboBox->setObjectName(QStringLiteral("talkGroupComboBox"));
    talkGroupComboBox->setGeometry(52, 8, 216, 30);
    setPixelFont(talkGroupComboBox, kTitlePx);
    // Beside the channel name: the lock of an encrypted channel, and under
    // it why a channel cannot transmit.
    channelLockIcon = new QLabel(page);
    channelLockIcon->setObjectName(QStringLiteral("channelLockIcon"));
    channelLockIcon->setGeometry(36, 14, 14, 18);
    channelLockIcon->setPixmap(lockPicture());
    channelLockIcon->hide();
    channelPrivacyNote = label(page, "channelPrivacyNote", QString(), QRect(36, 38, 248, 12), kCaptionPx,
                               Qt::AlignCenter);
    channelPrivacyNote->setStyleSheet(QStringLiteral("color: yellow;"));
    channelPrivacyNote->hide();
    buildVolumeCallerIdStack(page);
    const struct { const char* name; const char* text; int key; } captions[] = {
        {"contactsCaption", "Contacts", 1}, {"settingsCaption", "Settings", 2},
        {"paModeCaption", "PA Mode", 4}, {"gpsCaption", "GPS", 5}};
    for (const auto& caption : captions) {
        const int y = kKeyRowCentre[(caption.key - 1) % 3] + 14;
        label(page, caption.name, QString::fromLatin1(caption.text),
              QRect(caption.key <= 3 ? 0 : kWidth - 48, y, 48, 14), kCaptionPx, Qt::AlignCenter);
    }
    // Above its caption, like the pictured icons of the other keys.
    homeSettingsIcon = picture(page, "homeSettingsIcon", ":/images/resources/process_info _large.png",
                               QRect(6, kKeyRowCentre[1] - 18, 32, 32));
    picture(page, "dispatchIcon", ":/images/resources/dispatch.png", QRect(148, 190, 24, 24));
}

void LcdForm::buildVolumeCallerIdStack(QWidget* home)
{
    stackedWidgetVolumeCallerId = new QStackedWidget(home);
    stackedWidgetVolumeCallerId->setObjectName(QStringLiteral("stackedWidgetVolumeCallerId"));
    stackedWidgetVolumeCallerId->setGeometry(52, 50, 216, 130);

    auto* volumePage = new QWidget;
    volumePage->setObjectName(QStringLiteral("pageVolume"));
    label(volumePage, "volumeTitle", QStringLiteral("Volume"), QRect(0, 14, 216, 26), kTitlePx, Qt::AlignCenter);
    homeVolumeBar = bar(volumePage, "homeVolumeBar", QRect(14, 60, 188, 26), 100);
    stackedWidgetVolumeCallerId->addWidget(volumePage);

    auto* callerPage = new QWidget;
    callerPage->setObjectName(QStringLiteral("pageCallerId"));
    label(callerPage, "callerIdTitle", QStringLiteral("Caller ID"), QRect(0, 4, 216, 24), kTitlePx, Qt::AlignCenter);
    labelCallerID = label(callerPage, "labelCallerID", QString(), QRect(4, 34, 208, 26), kTitlePx, Qt::AlignCenter);
    callerDistanceLabel = label(callerPage, "callerDistanceLabel", QString(), QRect(4, 64, 208, 20), kMenuPx,
                                Qt::AlignCenter);
    callerIdNumberLabel = label(callerPage, "callerIdNumberLabel", QString(), QRect(4, 92, 208, 20), kMenuPx,
                                Qt::AlignCenter);
    stackedWidgetVolumeCallerId->addWidget(callerPage);
}

void LcdForm::buildPaModePage()
{
    QWidget* page = addPage("paModePage");
    title(page, "paModeTitle", QStringLiteral("PA Mode"));
    message(page, "paDescription",
            QStringLiteral("Key mic to talk through the speaker.  Reduce volume or move mic away from speaker to "
                           "prevent feedback."),
            QRect(10, 32, 300, 60));
    // The bars end above the key legend at the bottom right.
    paVolumeBar = bar(page, "paVolumeBar", QRect(40, 96, 240, 22), 100);
    paTimeoutLabel = label(page, "paTimeoutLabel", QStringLiteral("Timeout"), QRect(40, 124, 240, 18), kMenuPx);
    paTimeoutBar = bar(page, "paTimeoutBar", QRect(40, 144, 240, 18), 10);
    paTimeoutBar->setProperty("timeout", true);
    legend(page, "paHomeLegend", QStringLiteral("Exit"), 6);
}

void LcdForm::buildContactPage()
{
    QWidget* page = addPage("contactPage");
    title(page, "contactsTitleLabel", QStringLiteral("Contacts"));
    listWidget = new QListWidget(page);
    listWidget->setObjectName(QStringLiteral("listWidget"));
    listWidget->setGeometry(100, 32, 120, 180);
    setPixelFont(listWidget, kTitlePx);
    legend(page, "placeCallLegend", QStringLiteral("Place\nIndividual Call"), 3);
    homeLegend(page, "contactHomeButton", 6);
}

void LcdForm::buildEmergencyPage()
{
    QWidget* page = addPage("emergencyPage");
    picture(page, "emergencyWarningIcon", ":/images/resources/warning.png", QRect(112, 40, 96, 96));
    label(page, "emergencyLabel", QStringLiteral("Emergency"), QRect(0, 146, kWidth, 24), kMessagePx,
          Qt::AlignCenter);
    picture(page, "emergencyCancelIcon", ":/images/resources/cancel.png", QRect(10, 172, 32, 32));
}

void LcdForm::buildGpsPage()
{
    QWidget* page = addPage("gpsPage");
    label(page, "myLocationTitle", QStringLiteral("My Location:"), QRect(10, 6, 200, 20), kMenuPx);
    myLatitudeLabel = label(page, "myLatitudeLabel", QString(), QRect(24, 28, 240, 20), kMenuPx);
    myLongitudeLabel = label(page, "myLongitudeLabel", QString(), QRect(24, 48, 240, 20), kMenuPx);
    label(page, "lastContactTitle", QStringLiteral("Last Contact:"), QRect(10, 76, 200, 20), kMenuPx);
    lastContactNameLabel = label(page, "lastContactNameLabel", QString(), QRect(24, 98, 240, 20), kMenuPx);
    lastContactPositionLabel = label(page, "lastContactPositionLabel", QString(), QRect(24, 118, 240, 20), kMenuPx);
    label(page, "distanceTitle", QStringLiteral("Distance:"), QRect(10, 146, 80, 20), kMenuPx);
    gpsDistanceLabel = label(page, "gpsDistanceLabel", QString(), QRect(92, 146, 180, 20), kMenuPx);
    homeLegend(page, "gpsHomeButton", 6);
}

void LcdForm::buildSetupPage()
{
    QWidget* page = addPage("setupPage");
    const struct { const char* name; const char* text; QLabel** value; } rows[] = {
        {"radioNameTitle", "Radio:", &radioNameLabel}, {"ownerTitle", "Owner:", &ownerLabel},
        {"deviceIdTitle", "Device ID:", &deviceIdLabel}, {"keyHashTitle", "Key Hash:", &keyHashLabel}};
    // Under the title, above the legends of the middle keys.
    int y = kTitleBottom + 2;
    for (const auto& row : rows) {
        label(page, row.name, QString::fromLatin1(row.text), QRect(8, y, 80, 18), kMenuPx);
        *row.value = label(page, "", QString(), QRect(90, y, 226, 18), kMenuPx);
        y += 20;
    }
    radioNameLabel->setObjectName(QStringLiteral("radioNameLabel"));
    ownerLabel->setObjectName(QStringLiteral("ownerLabel"));
    deviceIdLabel->setObjectName(QStringLiteral("deviceIdLabel"));
    keyHashLabel->setObjectName(QStringLiteral("keyHashLabel"));
    title(page, "setupTitle", QStringLiteral("Settings"));
    legend(page, "networkEntry", QStringLiteral("Network &\n Wireless"), 2);
    softwareVersionEntry = legend(page, "softwareVersionEntry", QStringLiteral("Software\nVersion"), 3);
    legend(page, "settingsManagementEntry", QStringLiteral("Settings Management"), 5);
    homeLegend(page, "setupHomeButton", 6);
}

void LcdForm::buildSetupSettingsPage()
{
    QWidget* page = addPage("setupSettingsPage");
    title(page, "setupSettingsTitle", QStringLiteral("Settings Management"));
    registeredCheckBox = new QCheckBox(QStringLiteral("Registered"), page);
    registeredCheckBox->setObjectName(QStringLiteral("registeredCheckBox"));
    registeredCheckBox->setGeometry(110, 80, 200, 22);
    settingsUpdatedCheckBox = new QCheckBox(QStringLiteral("Settings Updated"), page);
    settingsUpdatedCheckBox->setObjectName(QStringLiteral("settingsUpdatedCheckBox"));
    settingsUpdatedCheckBox->setGeometry(110, 106, 200, 22);
    for (QCheckBox* box : {registeredCheckBox, settingsUpdatedCheckBox}) {
        setPixelFont(box, kMenuPx);
        box->setAttribute(Qt::WA_TransparentForMouseEvents);
        box->setFocusPolicy(Qt::NoFocus);
    }
    webUpdateEntry = legend(page, "webUpdateEntry", QStringLiteral("Register"), 2, 2);
    usbSettingsEntry = legend(page, "usbSettingsEntry", QStringLiteral("Update Settings From USB Drive"), 3);
    homeLegend(page, "setupSettingsHomeButton", 6);
}

void LcdForm::buildUpdateSettingsFromUsbPage()
{
    QWidget* page = addPage("updateSettingsFromUsbPage");
    title(page, "usbUpdateTitle", QStringLiteral("Updating Settings From USB"));
    usbStatusLabel = message(page, "usbStatusLabel", QString(), QRect(10, 60, 300, 60));
    legend(page, "usbRebootLegend", QStringLiteral("Reboot"), 3);
    homeLegend(page, "usbHomeButton", 6);
}

void LcdForm::buildNetworkAndWirelessPage()
{
    QWidget* page = addPage("networkAndWirelessSettingsPage");
    title(page, "networkTitle", QStringLiteral("Network and Wireless Settings"));
    selectedInterfaceLabel = label(page, "selectedInterfaceLabel", QStringLiteral("Selected Interface: "),
                                   QRect(100, 34, 216, 18), kMenuPx);
    networkReadyLabel = label(page, "networkReadyLabel", QStringLiteral("Not Ready"), QRect(100, 54, 216, 18),
                              kMenuPx);
    networkReadyLabel->setStyleSheet(QStringLiteral("color: rgb(255, 185, 185);"));
    const char* rows[] = {"Signal Strength:", "Mode:", "Signal Bars:"};
    int y = 76;
    for (const char* row : rows) {
        label(page, "", QString::fromLatin1(row), QRect(100, y, 216, 18), kMenuPx);
        y += 20;
    }
    ipAddressLabel = label(page, "ipAddressLabel", QStringLiteral("IP Address:"), QRect(100, 140, 216, 18),
                           kStatusPx);
    legend(page, "networkRebootLegend", QStringLiteral("Reboot"), 3);
    homeLegend(page, "networkHomeButton", 6);
}

void LcdForm::buildRestartingPage()
{
    QWidget* page = addPage("restartingPage");
    restartingMessage = message(page, "restartingMessage", QStringLiteral("Resetting..."), QRect(10, 70, 300, 80));
    restartingMessage->setAlignment(Qt::AlignCenter);
}

void LcdForm::buildSoftwareUpdatePage()
{
    QWidget* page = addPage("softwareUpdatePage");
    title(page, "softwareUpdateTitle", QStringLiteral("Software Updates"));
    // Across the page, above the legends of the bottom keys.
    versionText = label(page, "versionText", QString(), QRect(8, 32, 304, 134), kMenuPx,
                        Qt::AlignLeft | Qt::AlignTop);
    versionText->setTextFormat(Qt::RichText);
    versionText->setWordWrap(true);
    versionText->setOpenExternalLinks(true);
    legend(page, "installFromUsbEntry", QStringLiteral("Install from\nUSB Drive"), 3);
    updateNowEntry = legend(page, "updateNowEntry", QStringLiteral("Update Now"), 2);
    homeLegend(page, "softwareUpdateHomeButton", 6);
}

void LcdForm::buildSoftwareUpdate2Page()
{
    QWidget* page = addPage("softwareUpdate2Page");
    message(page, "installingMessage",
            QStringLiteral("Currently installing firmware.  This takes about four minutes. If the power is turned "
                           "off during this time, the RVX4400 will become inoperable. The RVX4400 will reset "
                           "automatically when the update is finished."),
            QRect(8, 4, 304, 120));
    label(page, "doNotTurnOffLabel", QStringLiteral("Do Not Turn Off The Power!"), QRect(0, 128, kWidth, 22),
          kMessagePx, Qt::AlignCenter)
        ->setStyleSheet(QStringLiteral("color: yellow;"));
    label(page, "statusTitle", QStringLiteral("Status:"), QRect(10, 160, 60, 20), kMenuPx);
    softwareUpdateStatusLabel = label(page, "softwareUpdateStatusLabel", QString(), QRect(72, 160, 240, 20), kMenuPx);
}

void LcdForm::buildNetworkConnectionPage()
{
    QWidget* page = addPage("networkConnectionPage");
    message(page, "networkWaitMessage",
            QStringLiteral("Waiting for ethernet or cellular modem connection.  For ethernet, check cable and DHCP "
                           "server.  For cellular modem, wait until this screen disappears, then press \"Settings\", "
                           "\"Network & Wireless\" for status info or \"Settings\", \"Settings Management\", \"Load "
                           "settings from USB\" to update wireless settings."),
            QRect(8, 4, 304, 214));
}

void LcdForm::buildSelfTestPage()
{
    QWidget* page = addPage("selfTestPage");
    title(page, "selfTestTitle", QStringLiteral("Diagnostic Options"));
    pttToggleEntry = legend(page, "pttToggleEntry", QStringLiteral("PTT Toggle"), 3);
    pttToggleEntry->setStyleSheet(QStringLiteral("color: black; background-color: rgb(189,189,189);"));
    remoteDebugEntry = legend(page, "remoteDebugEntry", QStringLiteral("Enable Remote\nDebug"), 2);
    legend(page, "encryptionEntry", QStringLiteral("Enable\nEncryption"), 4);
    homeLegend(page, "selfTestHomeButton", 6);
}

void LcdForm::buildUnableToRegisterPage()
{
    QWidget* page = addPage("unableToRegisterPage");
    message(page, "unableToRegisterMessage",
            QStringLiteral("Unable to reach the registration site.  Check the network connection and press Retry, "
                           "or skip registration to use local talk groups only."),
            QRect(8, 8, 304, 120));
    legend(page, "retryLegend", QStringLiteral("Retry"), 3);
    legend(page, "skipLegend", QStringLiteral("Skip\nRegistration"), 6);
}

void LcdForm::buildIndividualCallPage()
{
    QWidget* page = addPage("individualCallPage");
    label(page, "individualCallTitle", QStringLiteral("Individual Call"), QRect(0, 4, kWidth, 26), kCallPx,
          Qt::AlignCenter);
    individualCallName = label(page, "individualCallName", QString(), QRect(10, 40, 300, 26), kCallPx, Qt::AlignCenter);
    individualCallIdLabel = label(page, "individualCallIdLabel", QStringLiteral("ID: "), QRect(10, 70, 300, 26),
                                  kCallPx, Qt::AlignCenter);
    individualCallDistance = label(page, "individualCallDistance", QString(), QRect(10, 100, 300, 26), kCallPx,
                                   Qt::AlignCenter);
    callTimeoutLabel = label(page, "callTimeoutLabel", QStringLiteral("Call Timeout"), QRect(60, 134, 200, 18),
                             kMenuPx);
    callTimeoutBar = bar(page, "callTimeoutBar", QRect(60, 154, 200, 16), 10);
    callTimeoutBar->setProperty("timeout", true);
    legend(page, "endCallLegend", QStringLiteral("End Call"), 6);
}

void LcdForm::buildWaitingForStandbyPage()
{
    QWidget* page = addPage("waitingForStandbyPage");
    label(page, "standbyTitle", QStringLiteral("Standby..."), QRect(0, 20, kWidth, 26), kTitlePx, Qt::AlignCenter);
    message(page, "standbyMessage", QStringLiteral("Continue holding the volume knob to enter standby mode..."),
            QRect(10, 60, 300, 60));
    bar(page, "standbyProgressBar", QRect(40, 140, 240, 20), 100);
}
