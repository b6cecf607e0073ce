// Routing of the console's requests: public files, signing in, and the
// pages and their changes for a signed-in operator.
#include "Console.h"

#include "ChannelsPage.h"
#include "ConsoleAssets.h"
#include "Csrf.h"
#include "FleetModel.h"
#include "HttpReplies.h"
#include "Layout.h"
#include "MapPage.h"
#include "ServicePage.h"
#include "UnitsPage.h"

namespace Manager {

namespace {

// Only the console's own style sheet and script; no inline script or
// style, no framing by other sites, forms only to the console.
constexpr const char* kContentSecurityPolicy =
    "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self'; object-src 'none'; "
    "base-uri 'none'; form-action 'self'; frame-ancestors 'none'";

void addSecurityHeaders(HttpResponse& response)
{
    bool hasCacheControl = false;
    for (const auto& header : response.headers)
        hasCacheControl = hasCacheControl || header.first == "Cache-Control";
    if (!hasCacheControl)
        response.headers.emplace_back("Cache-Control", "no-store");
    response.headers.emplace_back("Content-Security-Policy", kContentSecurityPolicy);
    response.headers.emplace_back("X-Frame-Options", "DENY");
    response.headers.emplace_back("X-Content-Type-Options", "nosniff");
    response.headers.emplace_back("Referrer-Policy", "same-origin");
}

HttpResponse asset(const char* contentType, const char* content)
{
    HttpResponse response;
    response.contentType = contentType;
    response.body = content;
    // Checked again on every use, so that a new version shows at once.
    response.headers.emplace_back("Cache-Control", "no-cache");
    return response;
}

HttpResponse methodNotAllowed(const char* allowed)
{
    HttpResponse response = HttpResponse::text(405, "Method not allowed\n");
    response.headers.emplace_back("Allow", allowed);
    return response;
}

HttpResponse simpleErrorPage(int status, const std::string& title, const std::string& message)
{
    PageFrame frame;
    frame.title = title;
    frame.notice = Notice{message, true};
    return htmlReply(status, renderPage(frame));
}

} // namespace

Console::Console(FleetModel& model, ConsoleOptions options)
    : model_(model),
      options_(std::move(options)),
      sessions_(options_.idleTimeout, options_.sessionCapacity),
      throttle_(options_.throttle),
      signIn_(model_, sessions_, throttle_, options_.secureCookies)
{
    pages_.push_back(std::make_unique<UnitsPage>());
    pages_.push_back(std::make_unique<ChannelsPage>());
    pages_.push_back(std::make_unique<ServicePage>());
    pages_.push_back(std::make_unique<MapPage>());
}

Console::~Console() = default;

HttpResponse Console::handle(const HttpRequest& request)
{
    HttpResponse response;
    try {
        response = route(request);
    } catch (...) {
        // The details stay out of a page that anyone may be shown.
        response = simpleErrorPage(500, "Error", "The console could not answer this request. Please try again.");
    }
    addSecurityHeaders(response);
    return response;
}

HttpResponse Console::route(const HttpRequest& request)
{
    const std::string& path = request.path;
    const bool isGet = request.method == "GET";
    const bool isPost = request.method == "POST";
    if (path == "/console.css")
        return isGet ? asset("text/css; charset=utf-8", consoleStyleSheet()) : methodNotAllowed("GET");
    if (path == "/console.js")
        return isGet ? asset("text/javascript; charset=utf-8", consoleScript()) : methodNotAllowed("GET");
    if (path == "/console-icon.svg")
        return isGet ? asset("image/svg+xml", consoleIcon()) : methodNotAllowed("GET");
    // Pages name their icon; a client that asks for the usual one anyway
    // gets no sign-in page in its place.
    if (path == "/favicon.ico")
        return HttpResponse::text(404, "No icon here: see /console-icon.svg\n");

    const auto now = options_.steadyNow();
    const std::string sessionId = cookieValue(request, SignIn::kSessionCookie);
    const std::optional<SessionView> session = sessions_.find(sessionId, now);
    if (path == "/sign-in") {
        if (isGet)
            return session ? seeOther("/units") : signIn_.form(request);
        return isPost ? signIn_.submit(request, now) : methodNotAllowed("GET, POST");
    }
    // Every other page and change needs a signed-in operator.
    if (!session)
        return seeOther(sessionId.empty() ? "/sign-in" : "/sign-in?after=ended");
    return signedIn(request, sessionId, *session);
}

HttpResponse Console::signedIn(const HttpRequest& request, const std::string& sessionId, const SessionView& session)
{
    const std::string& path = request.path;
    const bool isGet = request.method == "GET";
    const bool isPost = request.method == "POST";
    if (path == "/")
        return isGet ? seeOther("/units") : methodNotAllowed("GET");
    if (path == "/sign-out") {
        if (!isPost)
            return methodNotAllowed("POST");
        if (!Csrf::accepts(session.csrfToken, parseForm(request.body)))
            return framed(403, PageFrame{"Sign out", {}, {}, {}, Notice{"This form has expired. Please reload the page and try again.", true}, {}},
                          session, {});
        return signIn_.signOut(sessionId);
    }
    if (ConsolePage* page = pageAt(path))
        return isGet ? showPage(*page, request, sessionId, session) : methodNotAllowed("GET");
    const std::size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        if (ConsolePage* page = pageAt(path.substr(0, slash)))
            return isPost ? applyChange(*page, path.substr(slash + 1), request, sessionId, session)
                          : methodNotAllowed("POST");
    }
    return framed(404, PageFrame{"Not found", {}, {}, {}, Notice{"There is no such page.", true}, {}}, session, {});
}

HttpResponse Console::showPage(ConsolePage& page, const HttpRequest& request, const std::string& sessionId,
                               const SessionView& session)
{
    PageFrame frame;
    frame.title = page.title();
    frame.notice = sessions_.takeNotice(sessionId);
    PageRequest pageRequest{parseForm(request.query), session.csrfToken, options_.secondsSince1970()};
    int status = 200;
    try {
        frame.body = page.body(model_, pageRequest);
    } catch (const FleetError& error) {
        frame.notice = Notice{error.what(), true};
        status = 500;
    }
    return framed(status, std::move(frame), session, page.path());
}

HttpResponse Console::applyChange(ConsolePage& page, const std::string& action, const HttpRequest& request,
                                  const std::string& sessionId, const SessionView& session)
{
    const auto form = parseForm(request.body);
    if (!Csrf::accepts(session.csrfToken, form))
        return framed(403,
                      PageFrame{page.title(), {}, {}, {},
                                Notice{"This form has expired or did not come from this console. Nothing was "
                                       "changed; please reload the page and try again.",
                                       true},
                                {}},
                      session, page.path());
    Notice notice;
    try {
        const std::optional<std::string> done = page.change(model_, action, FormFields(form));
        if (!done)
            return framed(404, PageFrame{"Not found", {}, {}, {}, Notice{"There is no such action.", true}, {}},
                          session, {});
        notice = Notice{*done, false};
    } catch (const FleetError& error) {
        notice = Notice{error.what(), true};
    } catch (const FormError& error) {
        notice = Notice{error.what(), true};
    }
    sessions_.setNotice(sessionId, notice);
    return seeOther(page.path());
}

HttpResponse Console::framed(int status, PageFrame frame, const SessionView& session, const std::string& activePath)
{
    for (const auto& page : pages_)
        frame.menu.push_back({page->path(), page->menuName()});
    frame.csrfToken = session.csrfToken;
    frame.activePath = activePath;
    return htmlReply(status, renderPage(frame));
}

ConsolePage* Console::pageAt(const std::string& path) const
{
    for (const auto& page : pages_)
        if (path == page->path())
            return page.get();
    return nullptr;
}

} // namespace Manager
