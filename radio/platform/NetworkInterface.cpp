// Status of one network interface, read from the platform's status file.
#include "NetworkInterface.h"

#include "PlatformFiles.h"
#include "debug_log.h"

#include <cstdio>
#include <cstring>

std::string NetworkInterface_t::status() const
{
    // The platform names interfaces with at most 39 characters.
    const std::string path = PlatformFiles::path("/ipc/net/" + name_.substr(0, 39) + "/status");
    FILE* file = std::fopen(path.c_str(), "r");
    if (!file)
        return "unknown";
    char line[40] = {};
    if (!std::fgets(line, sizeof line, file))
        line[0] = '\0';
    std::fclose(file);
    line[std::strcspn(line, "\r\n")] = '\0';
    return line;
}

bool NetworkInterface_t::isUsableStatus(const std::string& status)
{
    return status == "Available" || status == "Ready" || status == "Default gateway is not set for eth0";
}
