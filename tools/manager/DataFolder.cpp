// The data folder's place, creation and serving lock.
#include "DataFolder.h"

#include "FleetModel.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <unistd.h>

namespace Manager {

namespace {

std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

} // namespace

std::string resolveDataFolder(const std::string& option)
{
    if (!option.empty())
        return option;
    for (const char* name : {"RVX_MANAGER_DATA", "STATE_DIRECTORY"}) {
        const std::string value = Environment(name);
        // systemd may list several state folders, separated by ':'.
        if (!value.empty())
            return value.substr(0, value.find(':'));
    }
    if (const std::string xdg = Environment("XDG_DATA_HOME"); !xdg.empty())
        return xdg + "/rvx-manager";
    if (const std::string home = Environment("HOME"); !home.empty())
        return home + "/.local/share/rvx-manager";
    return "/var/lib/rvx-manager";
}

void prepareDataFolder(const std::string& folder)
{
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error)) {
        std::filesystem::create_directories(folder, error);
        if (error)
            throw FleetError("cannot create the data folder " + folder + ": " + error.message());
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all, error);
    }
}

std::string databasePath(const std::string& folder)
{
    return folder + "/manager.db";
}

std::string gnupgHomePath(const std::string& folder)
{
    return folder + "/gnupg";
}

std::string keyLockPath(const std::string& folder)
{
    return folder + "/key.lock";
}

ServeLock::ServeLock(const std::string& folder)
    : fd_(::open((folder + "/serve.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600))
{
    held_ = fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
}

ServeLock::~ServeLock()
{
    if (fd_ >= 0)
        ::close(fd_);
}

} // namespace Manager
