// Making the control socket's file safely.
#include "ControlSocket.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace Relay {

namespace {

bool ToAddress(const std::string& path, sockaddr_un& address, std::string& error)
{
    address = {};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        error = "control socket path must have 1 to " + std::to_string(sizeof address.sun_path - 1) +
                " characters: " + path;
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

std::string Parent(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// True when something listens at the path.
bool Answers(const sockaddr_un& address)
{
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool answers = probe >= 0 && ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (probe >= 0)
        ::close(probe);
    return answers;
}

// Clears the way for bind: only a socket nobody listens on may go.
bool ClearStaleSocket(const std::string& path, const sockaddr_un& address, std::string& error)
{
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) != 0) {
        if (errno == ENOENT)
            return true;
        error = "cannot look at " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISSOCK(existing.st_mode)) {
        error = path + " exists and is not a socket; not replacing it";
        return false;
    }
    if (Answers(address)) {
        error = "another relay is using the control socket " + path;
        return false;
    }
    ::unlink(path.c_str());
    return true;
}

bool GroupAccess(const std::string& path, const std::string& group, std::string& error)
{
    if (group.empty())
        return true;
    const struct group* entry = ::getgrnam(group.c_str());
    if (entry == nullptr) {
        error = "no such group for the control socket: " + group;
        return false;
    }
    if (::chown(path.c_str(), static_cast<uid_t>(-1), entry->gr_gid) != 0 || ::chmod(path.c_str(), 0660) != 0) {
        error = "cannot give group " + group + " the control socket: " + std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace

std::string DefaultControlPath(unsigned short trunkPort)
{
    const std::string name = "/control-" + std::to_string(trunkPort);
    if (::geteuid() == 0)
        return "/run/halvane-relay" + name;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/')
        return std::string(runtime) + "/halvane-relay" + name;
    return "/tmp/halvane-relay-" + std::to_string(::geteuid()) + name;
}

int OpenControlSocket(const std::string& path, const std::string& group, std::string& error)
{
    sockaddr_un address{};
    if (!ToAddress(path, address, error))
        return -1;
    // The folder is made for the relay if missing, readable by all (the
    // socket's own mode guards it).
    const std::string folder = Parent(path);
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
        error = "cannot make the folder " + folder + " for the control socket: " + std::strerror(errno);
        return -1;
    }
    // Whoever owns the folder could swap the socket for their own.
    struct stat owner {};
    if (::stat(folder.c_str(), &owner) != 0 || (owner.st_uid != ::geteuid() && owner.st_uid != 0)) {
        error = "the folder " + folder + " of the control socket belongs to another user";
        return -1;
    }
    if (!ClearStaleSocket(path, address, error))
        return -1;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    // The mode is right from the start: no moment in which others could connect.
    const mode_t previous = ::umask(0177);
    const bool bound = fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::umask(previous);
    if (!bound || ::listen(fd, 16) != 0) {
        error = "cannot listen on the control socket " + path + ": " + std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    if (!GroupAccess(path, group, error)) {
        ::close(fd);
        ::unlink(path.c_str());
        return -1;
    }
    return fd;
}

ino_t InodeOf(const std::string& path)
{
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 ? status.st_ino : 0;
}

void RemoveControlSocket(const std::string& path, ino_t inode)
{
    if (inode != 0 && InodeOf(path) == inode)
        ::unlink(path.c_str());
}

} // namespace Relay
