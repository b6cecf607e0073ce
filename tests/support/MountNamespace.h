// Mounts for tests that need a full or a read-only disk: the work runs on
// a thread of its own in a private mount namespace, so its mounts are seen
// by that thread and the processes it starts, never by the rest of the
// machine, and go away with it.
#pragma once

#include <functional>
#include <string>

namespace rvx::test {

// Runs work on a new thread in a private mount namespace and waits for it.
// False, with the reason in why, when no namespace can be made (not root);
// work has not run then.
bool RunInPrivateMountNamespace(const std::function<void()>& work, std::string* why = nullptr);

// Inside such work: a tmpfs of sizeKb kibibytes on folder.
bool MountTmpfs(const std::string& folder, int sizeKb, std::string* why = nullptr);
// Inside such work: folder becomes read-only (a read-only bind of itself).
bool MountReadOnly(const std::string& folder, std::string* why = nullptr);
// Writes a file into folder until its file system has no space left.
void FillFileSystem(const std::string& folder);

} // namespace rvx::test

// In a GoogleTest test: runs the statements in a private mount namespace,
// or skips the test when that is not possible.
#define RVX_IN_PRIVATE_MOUNT_NAMESPACE(work)                                                  \
    do {                                                                                      \
        std::string rvxMountWhy_;                                                             \
        if (!rvx::test::RunInPrivateMountNamespace(work, &rvxMountWhy_))                      \
            GTEST_SKIP() << "needs a private mount namespace: " << rvxMountWhy_;              \
    } while (0)
