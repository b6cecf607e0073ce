// Where rvx-manager keeps its data, and the lock that lets one serving
// process use a data folder at a time.
//
// The folder is, in this order: --data DIR; $RVX_MANAGER_DATA;
// $STATE_DIRECTORY (set by systemd for a service with
// StateDirectory=rvx-manager, that is /var/lib/rvx-manager for the system
// service); $XDG_DATA_HOME/rvx-manager; $HOME/.local/share/rvx-manager;
// /var/lib/rvx-manager when there is no home either.
#pragma once

#include <string>

namespace Manager {

std::string resolveDataFolder(const std::string& option);

// Creates the folder (mode 700) when missing; throws FleetError when it
// cannot.
void prepareDataFolder(const std::string& folder);

std::string databasePath(const std::string& folder);   // <folder>/manager.db
std::string gnupgHomePath(const std::string& folder);  // <folder>/gnupg
std::string keyLockPath(const std::string& folder);    // <folder>/key.lock

// Holds <folder>/serve.lock (flock) while it lives.
class ServeLock
{
public:
    explicit ServeLock(const std::string& folder);
    ~ServeLock();
    ServeLock(const ServeLock&) = delete;
    ServeLock& operator=(const ServeLock&) = delete;
    // False when another process holds it.
    bool held() const { return held_; }

private:
    int fd_ = -1;
    bool held_ = false;
};

} // namespace Manager
