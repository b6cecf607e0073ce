// Runs a test process in a network namespace of its own, so that multicast
// and router traffic of tests never reaches the machine's real interfaces.
#pragma once

#include <string>

namespace rvx::test {

// Moves the calling thread (and every thread and child process started from
// it afterwards) into a fresh network namespace with the loopback interface
// up and 224.0.0.0/4 routed over it. Calling it again does nothing. Returns
// false, with the reason in why, when that is not possible (not root, no
// namespace support); the caller must then not send any multicast.
bool EnterPrivateNetNamespace(std::string* why = nullptr);

} // namespace rvx::test

// In a GoogleTest test: enter the namespace or skip the test.
#define RVX_REQUIRE_PRIVATE_NETNS()                                                      \
    do {                                                                                 \
        std::string rvxNetnsWhy_;                                                        \
        if (!rvx::test::EnterPrivateNetNamespace(&rvxNetnsWhy_))                         \
            GTEST_SKIP() << "needs a private network namespace: " << rvxNetnsWhy_;       \
    } while (0)
