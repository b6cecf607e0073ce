// The sign-in form, the password check and the session cookie.
#include "SignIn.h"

#include "Csrf.h"
#include "FleetModel.h"
#include "Html.h"
#include "HttpReplies.h"
#include "Layout.h"
#include "Tokens.h"

#include <sodium.h>

namespace Manager {

namespace {

constexpr long kFormTokenSeconds = 3600;
// Longer is no password anyone types; refusing it spares the hash work.
constexpr std::size_t kLongestPassword = 1024;

std::string noPasswordBody()
{
    return R"(<section class="panel narrow" id="no-password">
<p>No console password is set yet, so nobody can sign in.</p>
<p>On the service's machine, run <code>rvx-manager set-password</code>, then reload this page.</p>
</section>
)";
}

std::string formBody(const std::string& formToken)
{
    return Html::fill(R"(<section class="panel narrow">
<form method="post" action="/sign-in" class="fields stacked" id="sign-in">{!token}
<label>Password <input type="password" name="password" autocomplete="current-password" required autofocus></label>
<button type="submit">Sign in</button>
</form>
</section>
)",
                      {{"token", Html::csrfField(formToken)}});
}

bool looksLikeToken(const std::string& text)
{
    return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

std::optional<Notice> noticeFor(const std::map<std::string, std::string>& query)
{
    const auto after = query.find("after");
    if (after == query.end())
        return std::nullopt;
    if (after->second == "signed-out")
        return Notice{"You are signed out.", false};
    if (after->second == "ended")
        return Notice{"Your session has ended. Please sign in again.", true};
    return std::nullopt;
}

} // namespace

SignIn::SignIn(FleetModel& model, SessionStore& sessions, LoginThrottle& throttle, bool secureCookies)
    : model_(model), sessions_(sessions), throttle_(throttle), secureCookies_(secureCookies)
{
    if (sodium_init() < 0)
        throw std::runtime_error("libsodium could not be initialised");
}

HttpResponse SignIn::form(const HttpRequest& request)
{
    return formReply(request, 200, noticeFor(parseForm(request.query)));
}

HttpResponse SignIn::submit(const HttpRequest& request, SessionStore::Clock::time_point now)
{
    const auto form = parseForm(request.body);
    if (!Csrf::accepts(cookieValue(request, kFormCookie), form))
        return formReply(request, 403, Notice{"This sign-in form has expired. Please try again.", true});

    const std::string hash = model_.adminPasswordHash();
    if (hash.empty())
        return formReply(request, 403, std::nullopt);

    const LoginThrottle::Verdict verdict = throttle_.begin(request.peerAddress, now);
    if (!verdict.allowed) {
        const long seconds = static_cast<long>(verdict.retryAfter.count());
        HttpResponse response = formReply(
            request, 429, Notice{verdict.reason + " Try again in " + std::to_string(seconds) + (seconds == 1 ? " second." : " seconds."),
                        true});
        response.headers.emplace_back("Retry-After", std::to_string(seconds));
        return response;
    }
    const auto password = form.find("password");
    const bool matches = password != form.end() && passwordMatches(hash, password->second);
    throttle_.finish(request.peerAddress, matches, now);
    if (!matches)
        return formReply(request, 403, Notice{"Wrong password.", true});

    HttpResponse response = seeOther("/units");
    response.headers.emplace_back("Set-Cookie", setCookieValue({kSessionCookie, sessions_.create(now), "/", -1, secureCookies_}));
    response.headers.emplace_back("Set-Cookie", setCookieValue({kFormCookie, "", "/sign-in", 0, secureCookies_}));
    return response;
}

HttpResponse SignIn::signOut(const std::string& sessionId)
{
    sessions_.end(sessionId);
    HttpResponse response = seeOther("/sign-in?after=signed-out");
    response.headers.emplace_back("Set-Cookie", setCookieValue({kSessionCookie, "", "/", 0, secureCookies_}));
    return response;
}

HttpResponse SignIn::formReply(const HttpRequest& request, int status, std::optional<Notice> notice)
{
    PageFrame frame;
    frame.title = "Sign in";
    frame.notice = std::move(notice);
    HttpResponse response;
    if (model_.adminPasswordHash().empty()) {
        frame.body = noPasswordBody();
        return htmlReply(status, renderPage(frame));
    }
    // A browser keeps its form token: another look at this page (a second
    // tab, a redirect here) must not spoil a form it already shows.
    std::string token = cookieValue(request, kFormCookie);
    if (!looksLikeToken(token))
        token = randomToken();
    frame.body = formBody(token);
    response = htmlReply(status, renderPage(frame));
    response.headers.emplace_back("Set-Cookie",
                                  setCookieValue({kFormCookie, token, "/sign-in", kFormTokenSeconds, secureCookies_}));
    return response;
}

bool SignIn::passwordMatches(const std::string& hash, const std::string& password) const
{
    if (password.empty() || password.size() > kLongestPassword)
        return false;
    // A hash the library cannot read (damaged, another algorithm) matches no
    // password.
    return crypto_pwhash_str_verify(hash.c_str(), password.c_str(), password.size()) == 0;
}

} // namespace Manager
