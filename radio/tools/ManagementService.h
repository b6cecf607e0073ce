// Where the management service is: its production and staging addresses
// (build settings, replaceable at run time for self-hosted services and
// tests), its mail domain, and the server key the radio trusts.
#pragma once

#include <string>

// The environment variable whose value ("http://host:port") replaces the
// scheme, host and port of every management-service address.
extern const char* const kWebManagementUrlVariable;
// The environment variable whose value replaces the pinned server key
// fingerprint.
extern const char* const kServerFingerprintVariable;
// The local settings (settings.ini) that do the same as the two variables,
// which take precedence over them.
extern const char* const kManagementUrlSetting;
extern const char* const kServerFingerprintSetting;

// An operator's own service as stored in the local settings; empty values
// leave the build's defaults. Read once at start-up, so that a change
// takes effect at the next start.
struct LocalServiceSettings
{
    std::string managementUrl;
    std::string serverFingerprint;
};
void useLocalServiceSettings(const LocalServiceSettings& settings);

// The full address of a path of the service: the environment variable's
// base, else the local setting's, else the production host, or the staging
// host when the USE_WEBMANAGEMENT_STAGING_SERVER flag is set.
std::string managementServiceUrl(const std::string& path);
// The base address the build uses when nothing replaces it.
std::string defaultManagementServiceUrl();

// Whether managementServiceUrl() chooses the staging host.
bool usingStagingServer();

// The mail domain of the device key's e-mail addresses.
std::string managementMailDomain();

// A fingerprint typed by a person: 40 upper-case hexadecimal digits with
// blanks removed and letters upper-cased; empty when it is none.
std::string normalisedFingerprint(const std::string& text);

// The server key the radio accepts settings from, and where that choice
// came from. A value that was set but is no fingerprint gives no pin at
// all (every settings message is then refused), never the build's default.
struct ServerKeyPin
{
    std::string fingerprint;  // 40 upper-case digits; empty when invalid
    std::string origin;       // the variable, the setting, or "build default"
    std::string problem;      // why there is no valid pin; empty when there is
};
ServerKeyPin serverKeyPin();

// The pinned fingerprint (serverKeyPin().fingerprint).
std::string serverKeyFingerprint();
// The fingerprint the build pins when nothing replaces it.
std::string defaultServerKeyFingerprint();

// Logs which service and which server key this run uses, and why.
void logServiceChoice();
