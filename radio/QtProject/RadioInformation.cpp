// The unit's information from the settings document, the radio model's
// account name, the key id and the retrieval flags. Document text is UTF-8
// whatever the document's own encoding (the parser converts it).
#include "RadioInformation.h"

#include "DeviceIdentity.h"
#include "ProcessFlags.h"
#include "SettingsFileParser.h"
#include "SettingsFileRetrievalAgent.h"
#include "VirtualRadio.h"

namespace RadioInformationSource {
namespace {

QString callerIdName()
{
    SettingsFileParser* parser = SettingsFileParser::getInstance();
    const std::string name = parser ? getAttribute(parser->getDom(), "name") : std::string();
    return QString::fromUtf8(name.empty() ? "Default" : name.c_str());
}

void readOfferedUpdate(RadioInformation& information)
{
    SettingsFileParser* parser = SettingsFileParser::getInstance();
    if (!parser)
        return;
    const SettingsElement update = firstChild(firstChild(parser->getDom(), "Windows"), "update");
    information.releasedVersion = QString::fromUtf8(getAttribute(update, "version").c_str());
    information.updateUrl = QString::fromUtf8(getAttribute(update, "url").c_str());
}

RadioInformation fromProgram()
{
    RadioInformation information;
    information.radioName = callerIdName();
    information.owner = QString::fromUtf8(accountName().c_str());
    information.deviceId = QString::fromLatin1(getKeyId().value_or(std::string()).c_str());
    information.registered = ProcessFlags::registered;
    information.settingsUpdated = SettingsFileRetrievalAgent::isRetrievalOk();
    readOfferedUpdate(information);
    return information;
}

Source& installedSource()
{
    static Source source;
    return source;
}

} // namespace

RadioInformation current()
{
    return installedSource() ? installedSource()() : fromProgram();
}

void setSource(Source source)
{
    installedSource() = std::move(source);
}

} // namespace RadioInformationSource
