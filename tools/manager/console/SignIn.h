// Signing in and out of the console. One operator account: the password
// is checked against the Argon2id hash the service keeps (set with
// "rvx-manager set-password"); a correct one starts a session whose id goes
// into an HttpOnly cookie. Tries are throttled, and the sign-in form carries
// its own token (cookie and form field must agree), since there is no
// session yet to hold one.
#pragma once

#include "HttpMessage.h"
#include "LoginThrottle.h"
#include "SessionStore.h"

#include <optional>

namespace Manager {

class FleetModel;

class SignIn
{
public:
    static constexpr const char* kSessionCookie = "rvx_session";
    static constexpr const char* kFormCookie = "rvx_signin";

    SignIn(FleetModel& model, SessionStore& sessions, LoginThrottle& throttle, bool secureCookies);

    // GET /sign-in; the query field "after" may say why the visitor is here.
    HttpResponse form(const HttpRequest& request);
    // POST /sign-in.
    HttpResponse submit(const HttpRequest& request, SessionStore::Clock::time_point now);
    // POST /sign-out of a signed-in session.
    HttpResponse signOut(const std::string& sessionId);

private:
    HttpResponse formReply(const HttpRequest& request, int status, std::optional<Notice> notice);
    bool passwordMatches(const std::string& hash, const std::string& password) const;

    FleetModel& model_;
    SessionStore& sessions_;
    LoginThrottle& throttle_;
    const bool secureCookies_;
};

} // namespace Manager
