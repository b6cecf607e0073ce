// Runs the radio model with recording stand-in streams through a short
// script (start-up, channel and zone changes, a transmission interrupted by a
// caller, an individual call, PA mode) and prints every signal it emits and
// every stream operation it calls. Optional argument: a settings document.
#include "ContactsManager.h"
#include "DelayedPersistentQSettings.h"
#include "PttManager.h"
#include "VirtualRadio.h"
#include "support/RecordingRadioStream.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <functional>

namespace {

using rvx::test::RecordingStreams;

void say(const char* format, const std::string& text)
{
    std::printf(format, text.c_str());
    std::fflush(stdout);
}

void connectPrinters(VirtualRadio* radio)
{
    auto flag = [](bool on) { return std::string(on ? "true" : "false"); };
    auto number = [](long long n) { return std::to_string(n); };
    QObject::connect(radio, &VirtualRadio::moTxActiveUpdate, [=](bool on) { say("  moTxActiveUpdate(%s)\n", flag(on)); });
    QObject::connect(radio, &VirtualRadio::moRxActivityUpdate, [=](bool on) { say("  moRxActivityUpdate(%s)\n", flag(on)); });
    QObject::connect(radio, &VirtualRadio::moVirtualRadioModeChanged,
                     [=](VirtualRadio::VirtualRadioMode_t mode) { say("  moVirtualRadioModeChanged(%s)\n", number(mode)); });
    QObject::connect(radio, &VirtualRadio::moNewChannelList, [](const QStringList& names) {
        say("  moNewChannelList(%s)\n", names.join(", ").toStdString());
    });
    QObject::connect(radio, &VirtualRadio::moChannelIndexChanged, [=](int i) { say("  moChannelIndexChanged(%s)\n", number(i)); });
    QObject::connect(radio, &VirtualRadio::moCurrentChannelName, [](const char* name) { say("  moCurrentChannelName(%s)\n", name); });
    QObject::connect(radio, &VirtualRadio::moCurrentZoneName, [](const char* name) { say("  moCurrentZoneName(%s)\n", name); });
    QObject::connect(radio, &VirtualRadio::moIndividualCallSecondsRemainingChanged,
                     [=](int s) { say("  moIndividualCallSecondsRemainingChanged(%s)\n", number(s)); });
    QObject::connect(radio, &VirtualRadio::moIndividualCallContactID,
                     [=](device_id_t id) { say("  moIndividualCallContactID(%s)\n", number(id)); });
    QObject::connect(radio, &VirtualRadio::moIncomingChannelCallCallerIDUpdate,
                     [=](device_id_t id) { say("  moIncomingChannelCallCallerIDUpdate(%s)\n", number(id)); });
    QObject::connect(radio, &VirtualRadio::moSetVolume, [=](int v) { say("  moSetVolume(%s)\n", number(v)); });
    QObject::connect(radio, &VirtualRadio::moPaModeSecondsRemainingChanged,
                     [=](int s) { say("  moPaModeSecondsRemainingChanged(%s)\n", number(s)); });
}

QByteArray documentFrom(int argc, char** argv)
{
    if (argc < 2)
        return QByteArray();
    QFile file(QString::fromLocal8Bit(argv[1]));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QTemporaryDir folder;
    DelayedPersistentQSettings settings(folder.filePath("settings.ini"), QSettings::IniFormat);
    const QByteArray document = documentFrom(argc, argv);
    SettingsFileParser::makeFirstInstance(document.constData());

    RecordingStreams streams;
    PttManager_t ptt;
    VirtualRadioServices services;
    services.settings = &settings;
    services.ptt = &ptt;
    services.contacts = ContactsManager::instance();
    services.createStream = streams.factory();
    services.ownDeviceId = [] { return device_id_t(0x0A1B2C3D); };
    services.keyIdToDeviceId = [](const char*) { return device_id_t(0); };
    services.demoDownload = [] { return std::string(); };
    services.ownLocation = [](location_t&) { return false; };

    VirtualRadio radio(services);
    connectPrinters(&radio);
    QObject::connect(&radio, &VirtualRadio::moRxActivityUpdate, &ptt, &PttManager_t::setPttBlockRxActive);
    QObject::connect(&ptt, &PttManager_t::coMicPttStateChanged, &radio, &VirtualRadio::miUpdateTxState);

    auto step = [&](const char* what, const std::function<void()>& action) {
        std::printf("%s\n", what);
        streams.log->clear();
        action();
        for (const std::string& call : *streams.log)
            say("  stream: %s\n", call);
    };
    step("initialise", [&] { radio.initialise(); });
    step("next channel", [&] { radio.miSelectChannelNext(); });
    step("next zone", [&] { radio.miSelectZoneNext(); });
    step("press PTT", [&] { ptt.ciMicPttChanged_Gui(true); });
    step("key-up timer runs out", [&] { QTest::qWait(300); });
    step("a station talks on the channel", [&] { streams.channel->becomeActive(0x00112233); });
    step("the channel frees", [&] { streams.channel->becomeInactive(); });
    step("key-up timer runs out", [&] { QTest::qWait(300); });
    step("release PTT", [&] { ptt.ciMicPttChanged_Gui(false); });
    step("incoming individual call", [&] { streams.individualRx->becomeActive(0x00445566); });
    step("end individual call", [&] { radio.miEndIndividualCall(); });
    step("PA mode", [&] { radio.miPaModeStart(); });
    step("20 seconds pass", [&] {
        for (int n = 0; n < 20; ++n)
            radio.miOneSecondElapsed();
    });
    return radio.mode() == VirtualRadio::ChannelMode ? 0 : 1;
}
