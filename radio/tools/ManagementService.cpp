// Addresses of the management service from the build settings and the
// run-time override.
#include "ManagementService.h"

#include "debug_log.h"

#include <cstdlib>

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

namespace {

std::string withoutTrailingSlash(std::string base)
{
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    return base;
}

} // namespace

bool usingStagingServer()
{
    return debug_log_is_enabled("USE_WEBMANAGEMENT_STAGING_SERVER");
}

std::string managementServiceUrl(const std::string& path)
{
    const char* override = std::getenv(kWebManagementUrlVariable);
    if (override && *override)
        return withoutTrailingSlash(override) + path;
    return (usingStagingServer() ? RVX_WEBMANAGEMENT_STAGING_URL : RVX_WEBMANAGEMENT_PRODUCTION_URL) + path;
}

std::string managementMailDomain()
{
    return RVX_WEBMANAGEMENT_MAIL_DOMAIN;
}

std::string serverKeyFingerprint()
{
    return RVX_SERVER_KEY_FINGERPRINT;
}
