// rvx-manager's web console: server-rendered pages for the operator to
// manage units, talk groups and zones, routers and codec, and to see the
// units on a map. The service's admin listener hands every request to
// handle(), from several worker threads at once; the request's peerAddress
// must be the client's address, since failed sign-ins are throttled by it.
#pragma once

#include "HttpMessage.h"
#include "LoginThrottle.h"
#include "SessionStore.h"
#include "SignIn.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace Manager {

class ConsolePage;
class FleetModel;
struct PageFrame;

struct ConsoleOptions
{
    // A session ends after this long without a request.
    std::chrono::seconds idleTimeout{8 * 60 * 60};
    std::size_t sessionCapacity = 64;
    LoginThrottleLimits throttle;
    // Set when browsers reach the console over HTTPS (a proxy in front):
    // cookies are then never sent in the clear.
    bool secureCookies = false;
    // Clocks, replaceable in tests.
    std::function<std::chrono::steady_clock::time_point()> steadyNow = [] { return std::chrono::steady_clock::now(); };
    std::function<std::int64_t()> secondsSince1970 = [] {
        return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    };
};

class Console
{
public:
    explicit Console(FleetModel& model, ConsoleOptions options = {});
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    HttpResponse handle(const HttpRequest& request);

private:
    HttpResponse route(const HttpRequest& request);
    HttpResponse signedIn(const HttpRequest& request, const std::string& sessionId, const SessionView& session);
    HttpResponse showPage(ConsolePage& page, const HttpRequest& request, const std::string& sessionId,
                          const SessionView& session);
    HttpResponse applyChange(ConsolePage& page, const std::string& action, const HttpRequest& request,
                             const std::string& sessionId, const SessionView& session);
    HttpResponse framed(int status, PageFrame frame, const SessionView& session, const std::string& activePath);
    ConsolePage* pageAt(const std::string& path) const;

    FleetModel& model_;
    ConsoleOptions options_;
    SessionStore sessions_;
    LoginThrottle throttle_;
    SignIn signIn_;
    std::vector<std::unique_ptr<ConsolePage>> pages_;
};

} // namespace Manager
