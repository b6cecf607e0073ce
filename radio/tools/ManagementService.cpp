// Addresses of the management service and the pinned server key, from the
// build settings, the local settings and the run-time overrides.
#include "ManagementService.h"

#include "debug_log.h"

#include <cctype>
#include <cstdlib>
#include <mutex>

#ifndef RVX_WEBMANAGEMENT_PRODUCTION_URL
#define RVX_WEBMANAGEMENT_PRODUCTION_URL "http://management.rvx4400.example"
#endif
#ifndef RVX_WEBMANAGEMENT_STAGING_URL
#define RVX_WEBMANAGEMENT_STAGING_URL "http://staging.management.rvx4400.example"
#endif
#ifndef RVX_WEBMANAGEMENT_MAIL_DOMAIN
#define RVX_WEBMANAGEMENT_MAIL_DOMAIN "rvx4400.example"
#endif
#ifndef RVX_SERVER_KEY_FINGERPRINT
#define RVX_SERVER_KEY_FINGERPRINT "7D49154E40B7B66AE64C7F26DA258290836B5AB2"
#endif

const char* const kWebManagementUrlVariable = "RVX4400_WEBMANAGEMENT_URL";
const char* const kServerFingerprintVariable = "RVX4400_SERVER_FINGERPRINT";
const char* const kManagementUrlSetting = "management_url";
const char* const kServerFingerprintSetting = "server_fingerprint";

namespace {

constexpr std::size_t kFingerprintLength = 40;

// Set at start-up on the main thread, read by the retrieval worker too.
std::mutex localSettingsMutex;
LocalServiceSettings localSettings;

std::string withoutTrailingSlash(std::string base)
{
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    return base;
}

std::string trimmed(const std::string& text)
{
    const char* const blanks = " \t\r\n";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::string environmentValue(const char* name)
{
    const char* value = std::getenv(name);
    return value ? trimmed(value) : std::string();
}

LocalServiceSettings currentLocalSettings()
{
    std::lock_guard<std::mutex> lock(localSettingsMutex);
    return localSettings;
}

// A value and the name of the place it came from: the environment, then
// the local setting; empty when neither holds one.
struct Choice
{
    std::string value;
    std::string origin;
};

Choice overrideOf(const char* variable, const std::string& setting, const char* settingName)
{
    const std::string fromEnvironment = environmentValue(variable);
    if (!fromEnvironment.empty())
        return {fromEnvironment, variable};
    const std::string fromSetting = trimmed(setting);
    if (!fromSetting.empty())
        return {fromSetting, settingName};
    return {};
}

Choice serviceBaseChoice()
{
    return overrideOf(kWebManagementUrlVariable, currentLocalSettings().managementUrl, kManagementUrlSetting);
}

} // namespace

void useLocalServiceSettings(const LocalServiceSettings& settings)
{
    std::lock_guard<std::mutex> lock(localSettingsMutex);
    localSettings = settings;
}

bool usingStagingServer()
{
    return debug_log_is_enabled("USE_WEBMANAGEMENT_STAGING_SERVER");
}

std::string defaultManagementServiceUrl()
{
    return usingStagingServer() ? RVX_WEBMANAGEMENT_STAGING_URL : RVX_WEBMANAGEMENT_PRODUCTION_URL;
}

// An operator's base replaces production and staging alike.
std::string managementServiceUrl(const std::string& path)
{
    const Choice base = serviceBaseChoice();
    if (!base.value.empty())
        return withoutTrailingSlash(base.value) + path;
    return defaultManagementServiceUrl() + path;
}

std::string managementMailDomain()
{
    return RVX_WEBMANAGEMENT_MAIL_DOMAIN;
}

std::string normalisedFingerprint(const std::string& text)
{
    std::string digits;
    for (const char character : text) {
        const auto byte = static_cast<unsigned char>(character);
        if (std::isspace(byte))
            continue;
        if (!std::isxdigit(byte))
            return std::string();
        digits += static_cast<char>(std::toupper(byte));
    }
    return digits.size() == kFingerprintLength ? digits : std::string();
}

ServerKeyPin serverKeyPin()
{
    const Choice chosen =
        overrideOf(kServerFingerprintVariable, currentLocalSettings().serverFingerprint, kServerFingerprintSetting);
    if (chosen.value.empty())
        return {defaultServerKeyFingerprint(), "build default", std::string()};
    const std::string fingerprint = normalisedFingerprint(chosen.value);
    if (fingerprint.empty())
        return {std::string(), chosen.origin,
                "the server key fingerprint from " + chosen.origin + " (\"" + chosen.value +
                    "\") is not 40 hexadecimal digits; every settings message is refused until it is fixed"};
    return {fingerprint, chosen.origin, std::string()};
}

std::string serverKeyFingerprint()
{
    return serverKeyPin().fingerprint;
}

std::string defaultServerKeyFingerprint()
{
    return RVX_SERVER_KEY_FINGERPRINT;
}

void logServiceChoice()
{
    const Choice base = serviceBaseChoice();
    debug_log_printf_always("Management service: %s (%s)\n", managementServiceUrl("").c_str(),
                            base.value.empty() ? "build default" : base.origin.c_str());
    const ServerKeyPin pin = serverKeyPin();
    if (pin.fingerprint.empty())
        debug_log_printf_always("Server key: %s\n", pin.problem.c_str());
    else
        debug_log_printf_always("Server key fingerprint: %s (%s)\n", pin.fingerprint.c_str(), pin.origin.c_str());
}
