// One network interface the radio may use, with its cost (lower is
// preferred) and its status as the platform's network service reports it.
#pragma once

#include <string>

class NetworkInterface_t
{
public:
    NetworkInterface_t(std::string name, int cost) : name_(std::move(name)), cost_(cost) {}
    virtual ~NetworkInterface_t() = default;

    const std::string& name() const { return name_; }
    int cost() const { return cost_; }

    // First line of "/ipc/net/<name>/status", or "unknown" when unreadable.
    virtual std::string status() const;

    // Whether a status text makes an interface usable.
    static bool isUsableStatus(const std::string& status);

private:
    std::string name_;
    int cost_;
};
