// The start-up sequence of the program, run by MainWindow::startup() as the
// first event: each step creates, fetches or wires one part of the radio.
#include "MainWindow.h"

#include "HardwareSignalManager.h"
#include "ProvisioningStartup.h"
#include "SensorDataPublisher.h"
#include "SettingsFileRetrievalAgent.h"
#include "ChannelPlan.h"
#include "HardwareAudioChannel.h"
#include "MediaLibrary.h"
#include "MediaStartup.h"
#include "MyLocationManager.h"
#include "NetworkInterfaceManager.h"
#include "PersistentQSettings.h"
#include "PttManager.h"
#include "ProcessFlags.h"
#include "SettingsFileParser.h"
#include "StartupGuard.h"
#include "VirtualRadio.h"
#include "WorkerThreads.h"
#include "TrunkCalls.h"
#include "TerminationSignals.h"
#include "debug_log.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QMetaType>
#include <QThread>
#include <QTimer>


namespace {

const char* const kProductName = "RVX4400w";
const char* const kVersion = RVX_PROJECT_VERSION;

// The settings text the radio runs with: the decrypted cache, empty when
// the unit has no settings yet.
QByteArray& cachedSettingsText()
{
    static QByteArray text;
    return text;
}

// The radio model builds its channel plan and restores zone, channel and
// volumes; then each router of the plan is added to the trunk library.
void startRadioModel(VirtualRadio* radio)
{
    radio->initialise();
    initialiseRouting(radio->plan().routers, trunk::initRouting);
}

// Start-up goes on without gpg: the radio then runs without keys or settings.
void reportMissingGpg()
{
    if (ProvisioningStartup::gpgMissing())
        QMessageBox::critical(nullptr, QStringLiteral("Error"),
                              QStringLiteral("Unable to locate gpg.exe.  Reinstalling might help.\n"), QMessageBox::Ok);
}

// New settings found by the retrieval worker restart the program.
void startSettingsRetrievalThread(MainWindow* window)
{
    SettingsFileRetrievalAgent& agent = ProvisioningStartup::retrievalAgent();
    QObject::connect(&agent, &SettingsFileRetrievalAgent::coForceUpdatedSettingsRestart, window,
                     &MainWindow::miForceRestart);
    WorkerThreads::start(&agent, "worker_thread", QThread::InheritPriority, [&agent] { agent.requestStop(); });
}

} // namespace

void MainWindow::startup()
{
    runGuardedStartup([this] { runStartupSteps(); });
}

void MainWindow::runStartupSteps()
{
    debug_log_printf_always("This is %s V%s\n", kProductName, kVersion);
    reportMissingGpg();

    qRegisterMetaType<device_id_t>("device_id_t");
    qRegisterMetaType<VirtualRadio::VirtualRadioMode_t>("VirtualRadio::VirtualRadioMode_t");

    if (!layout())
        qFatal("MainWindow has no layout");
    createFrontPanelDisplay();

    HardwareSignalManager* inputs = HardwareSignalManager::instance();
    WorkerThreads::start(inputs, "eventLoop", QThread::HighestPriority, [inputs] { inputs->requestStop(); });
    ProvisioningStartup::checkEncryptionKeys();
    startMediaLibraries();

    TerminationSignals::keepRunningOnInterrupt();

    startNetworkInterfaceThread();
    startOneSecondTimer();
    connectOneSecondTimerToStateMachine();

    QByteArray& cachedSettings = cachedSettingsText();
    ProvisioningStartup::readCachedSettings(cachedSettings);
    readSettingsDocument(cachedSettings);
    ProvisioningStartup::initialiseTrunkInterface();

    debug_log_printf("DEBUG_NETWORK_READY", "\nNetwork is ready or the wait screen timed out.\n");
    connectRegistrationStatusToDisplay();

    if (logRegistrationState(cachedSettings))
        runRegistrationGate(cachedSettings);

    if (bypassRegistration_)
        miShowRegistration(false);
    if (cachedSettings.isEmpty())
        debug_log_printf_always("Using default settings (16 channels, no Halvane)\n");

    setProgramStreamFactory(createHalvaneChannel);
    VirtualRadio* radio = VirtualRadio::instance();
    HardwareAudioChannel* audio = createAudioChannel(radio);
    connectRadioViews(radio, &ProvisioningStartup::retrievalAgent());
    startRadioModel(radio);
    connectContactsAndMicrophone(radio, audio);
    attachRadioToAudioChannel(radio, audio, this);

    SensorDataPublisher_t& publisher = ProvisioningStartup::locationPublisher();
    WorkerThreads::start(&publisher, "worker_thread", QThread::InheritPriority, [&publisher] { publisher.requestStop(); });
    emit coSelectScreenFromBase(LcdScreens::homeScreen);
    connectControlsToRadio(radio);
    QCoreApplication::processEvents();
    connectModesAndCountdowns(radio);
    startSettingsRetrievalThread(this);
    connectTickerWatchdogNotice(audio);
    saveScreenshotWhenAsked();

    ProcessFlags::startupComplete = true;
}

void MainWindow::startNetworkInterfaceThread()
{
    NetworkInterfaceManager_t* interfaces = NetworkInterfaceManager_t::instance();
    WorkerThreads::start(interfaces, "worker_thread", QThread::InheritPriority, [interfaces] { interfaces->requestStop(); });
}

void MainWindow::startOneSecondTimer()
{
    oneSecondTimer_ = new QTimer(this);
    oneSecondTimer_->start(1000);
}

void MainWindow::readSettingsDocument(const QByteArray& cachedSettings)
{
    SettingsFileParser::makeFirstInstance(cachedSettings.constData());
    NetworkInterfaceManager_t::instance()->loadInterfaces();
}

bool MainWindow::logRegistrationState(const QByteArray& cachedSettings)
{
    debug_log_printf("DEBUG_REGISTRATION", "Cached settings length:  %lld\n", static_cast<long long>(cachedSettings.size()));
    debug_log_printf("DEBUG_REGISTRATION", "Registered:  %d\n", ProcessFlags::registered ? 1 : 0);
    const bool showRegistration = PersistentQSettings::instance()->value(QStringLiteral("show_reg"), false).toBool();
    debug_log_printf("DEBUG_REGISTRATION", "Setup option for registration was selected:  %d\n", showRegistration ? 1 : 0);
    return !ProcessFlags::registered && showRegistration;
}
