// Two-radio media tests: joins the test's network namespace to a peer
// radio's namespace by a veth pair, with multicast routed over it or not,
// and a relay router on this side of the pair.
#pragma once

#include "ChildProcess.h"
#include "RelayProcess.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace rvx::test {

// Runs a program to its end; its exit status, or -1.
inline int Run(const std::vector<std::string>& arguments)
{
    const pid_t child = fork();
    if (child == 0) {
        std::vector<char*> argv;
        for (const std::string& a : arguments)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// True once the peer runs in a network namespace other than this thread's
// (within 5 s): a peer just started through unshare may not have made its
// own yet, and a veth end moved "to it" would then stay on this side.
inline bool WaitForOwnNamespace(pid_t peer)
{
    struct stat here {}, there {};
    if (stat("/proc/thread-self/ns/net", &here) != 0)
        return false;
    const std::string peerNamespace = "/proc/" + std::to_string(peer) + "/ns/net";
    for (int i = 0; i < 250; ++i) {
        if (stat(peerNamespace.c_str(), &there) == 0 && there.st_ino != here.st_ino)
            return true;
        usleep(20000);
    }
    return false;
}

// Joins this namespace to the peer's by a veth pair, 10.77.0.1 here and
// 10.77.0.2 there. Multicast is routed over it on both sides, or, when
// multicastAcross is false, kept on each side's loopback.
inline bool ConnectToPeerNamespace(pid_t peer, bool multicastAcross)
{
    if (!WaitForOwnNamespace(peer))
        return false;
    const std::string ns = std::to_string(peer);
    const std::string multicastHere = multicastAcross ? "vetha" : "lo";
    const std::string multicastThere = multicastAcross ? "vethb" : "lo";
    Run({"/usr/sbin/ip", "link", "del", "vetha"}); // left by an earlier test of this process, if any
    const std::vector<std::vector<std::string>> commands = {
        {"/usr/sbin/ip", "link", "add", "vetha", "type", "veth", "peer", "name", "vethb"},
        {"/usr/sbin/ip", "link", "set", "vethb", "netns", ns},
        {"/usr/sbin/ip", "addr", "add", "10.77.0.1/24", "dev", "vetha"},
        {"/usr/sbin/ip", "link", "set", "vetha", "up"},
        {"/usr/sbin/ip", "route", "replace", "224.0.0.0/4", "dev", multicastHere},
        {"/usr/bin/nsenter", "-t", ns, "-n", "/usr/sbin/ip", "link", "set", "lo", "up"},
        {"/usr/bin/nsenter", "-t", ns, "-n", "/usr/sbin/ip", "addr", "add", "10.77.0.2/24", "dev", "vethb"},
        {"/usr/bin/nsenter", "-t", ns, "-n", "/usr/sbin/ip", "link", "set", "vethb", "up"},
        {"/usr/bin/nsenter", "-t", ns, "-n", "/usr/sbin/ip", "route", "add", "224.0.0.0/4", "dev", multicastThere},
    };
    for (const auto& command : commands)
        if (Run(command) != 0)
            return false;
    return true;
}

// A relay router listening on this side of the veth pair.
class RelayOnVeth
{
public:
    RelayOnVeth()
        : process_(RelayProgram(), {"--listen", "10.77.0.1", "--port", "0", "--control-socket", "off"})
    {
        const auto banner = process_.WaitForLine("listening on", std::chrono::milliseconds(5000));
        unsigned port = 0;
        if (banner && std::sscanf(banner->c_str(), "halvane-relay listening on 10.77.0.1:%u", &port) == 1)
            port_ = static_cast<unsigned short>(port);
    }
    unsigned short Port() const { return port_; }

private:
    ChildProcess process_;
    unsigned short port_ = 0;
};

} // namespace rvx::test
