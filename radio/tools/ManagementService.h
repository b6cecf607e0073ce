// Where the management service is: its production and staging addresses
// (build settings, replaceable at run time for self-hosted services and
// tests), its mail domain, and the server key the radio trusts.
#pragma once

#include <string>

// The environment variable whose value ("http://host:port") replaces the
// scheme, host and port of every management-service address.
extern const char* const kWebManagementUrlVariable;

// The full address of a path of the service: the production host, or the
// staging host when the USE_WEBMANAGEMENT_STAGING_SERVER flag is set.
std::string managementServiceUrl(const std::string& path);

// Whether managementServiceUrl() chooses the staging host.
bool usingStagingServer();

// The mail domain of the device key's e-mail addresses.
std::string managementMailDomain();

// The fingerprint of the service's public key (40 upper-case digits).
std::string serverKeyFingerprint();
