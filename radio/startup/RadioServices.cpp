// The program's radio model and the collaborators it is built with: the
// process-wide settings, PTT arbiter and contact list, the streams, the
// unit's identity, the demo talk-group download and the own position.
#include "VirtualRadio.h"

#include "ChannelPlan.h"
#include "DeviceIdentity.h"
#include "MyLocationManager.h"
#include "PersistentQSettings.h"
#include "PttManager.h"
#include "SilentRadioStream.h"

namespace {

// Streams that do nothing until the media streams are installed.
std::unique_ptr<RadioStream> createSilentStream(RadioStreamKind, int)
{
    return std::make_unique<SilentRadioStream>();
}

RadioStreamFactory& programStreamFactory()
{
    static RadioStreamFactory factory = createSilentStream;
    return factory;
}

VirtualRadioServices programServices()
{
    VirtualRadioServices services;
    services.settings = PersistentQSettings::instance();
    services.ptt = PttManager_t::instance();
    services.contacts = ContactsManager::instance();
    services.createStream = programStreamFactory();
    services.ownDeviceId = getDeviceId;
    services.keyIdToDeviceId = keyIdToDeviceId;
    services.demoDownload = downloadDemoTalkGroups;
    services.ownLocation = [](location_t& location) {
        MyLocationManager_t* own = MyLocationManager_t::instance();
        if (!own->hasLocation())
            return false;
        location = own->location();
        return true;
    };
    return services;
}

} // namespace

void setProgramStreamFactory(RadioStreamFactory factory)
{
    programStreamFactory() = std::move(factory);
}

VirtualRadio* VirtualRadio::instance()
{
    static VirtualRadio* const radio = new VirtualRadio(programServices());
    return radio;
}
