// Private mount namespaces for tests: unshare on a thread of its own, no
// propagation back to the machine, tmpfs and read-only binds inside.
#include "MountNamespace.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <thread>
#include <unistd.h>

namespace rvx::test {

namespace {

bool Failed(const char* what, std::string* why)
{
    if (why)
        *why = std::string(what) + ": " + std::strerror(errno);
    return false;
}

} // namespace

bool RunInPrivateMountNamespace(const std::function<void()>& work, std::string* why)
{
    bool entered = false;
    std::thread worker([&] {
        if (::unshare(CLONE_NEWNS) != 0) {
            Failed("unshare(CLONE_NEWNS)", why);
            return;
        }
        // Without this, mounts made here would propagate to the machine's
        // own namespace through shared mount points.
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            Failed("making / private", why);
            return;
        }
        entered = true;
        work();
    });
    worker.join();
    return entered;
}

bool MountTmpfs(const std::string& folder, int sizeKb, std::string* why)
{
    const std::string options = "size=" + std::to_string(sizeKb) + "k,mode=0755";
    if (::mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0)
        return Failed("mounting a tmpfs", why);
    return true;
}

bool MountReadOnly(const std::string& folder, std::string* why)
{
    if (::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0)
        return Failed("binding the folder", why);
    if (::mount(nullptr, folder.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0)
        return Failed("making the bind read-only", why);
    return true;
}

void FillFileSystem(const std::string& folder)
{
    const int file = ::open((folder + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (file < 0)
        return;
    static const char block[4096] = {};
    for (std::size_t size = sizeof block; size > 0; size /= 2)
        while (::write(file, block, size) == static_cast<ssize_t>(size)) {
        }
    ::close(file);
}

} // namespace rvx::test
