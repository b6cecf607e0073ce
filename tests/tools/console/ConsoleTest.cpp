// The web console driven through handle() against an in-memory fleet:
// sign-in and its throttling, form tokens, escaping of names, changes
// reaching the model, and the map's distances; plus its pure helpers.
#include "Console.h"
#include "Html.h"
#include "HttpMessage.h"
#include "InMemoryFleet.h"
#include "LoginThrottle.h"
#include "MapProjection.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <cstring>

using namespace Manager;

namespace {

constexpr const char* kPassword = "correct horse battery staple";

std::string hashOf(const std::string& password)
{
    if (sodium_init() < 0)
        throw std::runtime_error("libsodium could not be initialised");
    char hash[crypto_pwhash_STRBYTES];
    // The smallest cost: the check is the same, the test stays quick.
    if (crypto_pwhash_str(hash, password.c_str(), password.size(), crypto_pwhash_OPSLIMIT_MIN,
                          crypto_pwhash_MEMLIMIT_MIN) != 0)
        throw std::runtime_error("hashing failed");
    return hash;
}

std::string headerOf(const HttpResponse& response, const std::string& name)
{
    for (const auto& header : response.headers)
        if (header.first == name)
            return header.second;
    return {};
}

// "name=value" of the response's Set-Cookie for that cookie, or "".
std::string cookieSet(const HttpResponse& response, const std::string& name)
{
    for (const auto& header : response.headers)
        if (header.first == "Set-Cookie" && header.second.rfind(name + "=", 0) == 0)
            return header.second.substr(0, header.second.find(';'));
    return {};
}

std::string formToken(const std::string& html)
{
    const std::string field = "name=\"csrf\" value=\"";
    const std::size_t start = html.find(field);
    if (start == std::string::npos)
        return {};
    const std::size_t value = start + field.size();
    return html.substr(value, html.find('"', value) - value);
}

std::string formBody(const std::map<std::string, std::string>& fields)
{
    std::string body;
    for (const auto& [name, value] : fields) {
        if (!body.empty())
            body += '&';
        body += name + '=';
        for (unsigned char c : value) {
            if (std::isalnum(c))
                body += static_cast<char>(c);
            else {
                char escaped[4];
                std::snprintf(escaped, sizeof escaped, "%%%02X", c);
                body += escaped;
            }
        }
    }
    return body;
}

UnitRecord unitAt(const std::string& code, const std::string& name, double latitude, double longitude)
{
    UnitRecord unit;
    unit.code = code;
    unit.name = name;
    unit.account = "Default";
    unit.registered = true;
    unit.hasKey = true;
    unit.lastSeen = 1'800'000'000;
    unit.lastPosition = Position{latitude, longitude, 1'800'000'000};
    return unit;
}

class ConsoleTest : public ::testing::Test
{
protected:
    ConsoleTest()
    {
        fleet.setAdminPasswordHash(hashOf(kPassword));
        fleet.addUnit(unitAt("1A2B3C4D", "Truck 7", 45.5, -122.25));
        fleet.addUnit(unitAt("5E6F7A8B", "Base", 46.5, -122.25));
        UnitRecord fresh;
        fresh.code = "0C0FFEE0";
        fresh.hasKey = true;
        fleet.addUnit(fresh);
        fleet.saveZone({1, "North"});
    }

    ConsoleOptions options()
    {
        ConsoleOptions options;
        options.steadyNow = [this] { return now; };
        options.secondsSince1970 = [] { return std::int64_t{1'800'000'300}; };
        return options;
    }

    HttpResponse request(const std::string& method, const std::string& target, const std::string& cookie = {},
                         const std::string& body = {}, const std::string& peer = "127.0.0.1")
    {
        HttpRequest request;
        request.method = method;
        const auto question = target.find('?');
        request.path = target.substr(0, question);
        if (question != std::string::npos)
            request.query = target.substr(question + 1);
        if (!cookie.empty())
            request.headers["cookie"] = cookie;
        if (!body.empty())
            request.headers["content-type"] = "application/x-www-form-urlencoded";
        request.body = body;
        request.peerAddress = peer;
        return console.handle(request);
    }

    HttpResponse trySignIn(const std::string& password, const std::string& peer = "127.0.0.1")
    {
        const HttpResponse form = request("GET", "/sign-in", {}, {}, peer);
        return request("POST", "/sign-in", cookieSet(form, "rvx_signin"),
                       formBody({{"password", password}, {"csrf", formToken(form.body)}}), peer);
    }

    // Signs in; the session cookie and the session's form token.
    std::pair<std::string, std::string> signIn()
    {
        const HttpResponse done = trySignIn(kPassword);
        EXPECT_EQ(done.status, 303);
        const std::string cookie = cookieSet(done, "rvx_session");
        EXPECT_FALSE(cookie.empty());
        return {cookie, formToken(request("GET", "/units", cookie).body)};
    }

    // Posts a change with the session's token; the page it leads back to.
    HttpResponse change(const std::string& path, std::map<std::string, std::string> fields,
                        const std::pair<std::string, std::string>& session)
    {
        fields["csrf"] = session.second;
        const HttpResponse posted = request("POST", path, session.first, formBody(fields));
        EXPECT_EQ(posted.status, 303) << path;
        return request("GET", headerOf(posted, "Location"), session.first);
    }

    InMemoryFleet fleet;
    std::chrono::steady_clock::time_point now = std::chrono::steady_clock::time_point{} + std::chrono::hours(1000);
    Console console{fleet, options()};
};

} // namespace

TEST_F(ConsoleTest, EveryPageAndChangeNeedsSignIn)
{
    const auto session = signIn();
    const struct
    {
        const char* method;
        const char* target;
    } requests[] = {{"GET", "/"},          {"GET", "/units"},  {"GET", "/channels"},
                    {"GET", "/service"},   {"GET", "/map?from=1A2B3C4D"}, {"GET", "/anything"},
                    {"POST", "/units/unregister"}, {"POST", "/channels/remove-zone"}, {"POST", "/sign-out"}};
    for (const auto& r : requests) {
        SCOPED_TRACE(std::string(r.method) + " " + r.target);
        const std::string body = formBody({{"code", "1A2B3C4D"}, {"number", "1"}, {"csrf", session.second}});
        const HttpResponse anonymous = request(r.method, r.target, {}, body);
        EXPECT_EQ(anonymous.status, 303);
        EXPECT_EQ(headerOf(anonymous, "Location"), "/sign-in");
        EXPECT_EQ(headerOf(anonymous, "X-Frame-Options"), "DENY");
        EXPECT_EQ(headerOf(anonymous, "Cache-Control"), "no-store");
        EXPECT_NE(headerOf(anonymous, "Content-Security-Policy").find("default-src 'self'"), std::string::npos);
        // A made-up session id is no session either.
        const HttpResponse forged = request(r.method, r.target, "rvx_session=" + std::string(64, 'a'), body);
        EXPECT_EQ(headerOf(forged, "Location"), "/sign-in?after=ended");
    }
    EXPECT_TRUE(fleet.unit("1A2B3C4D")->registered);
    EXPECT_EQ(fleet.zones().size(), 1u);

    const HttpResponse signInPage = request("GET", "/sign-in");
    EXPECT_EQ(signInPage.status, 200);
    EXPECT_NE(signInPage.body.find("type=\"password\""), std::string::npos);
    EXPECT_NE(cookieSet(signInPage, "rvx_signin"), "");
    EXPECT_EQ(request("GET", "/console.css").status, 200);

    // The session works, ends after the idle time, and ends on sign-out.
    EXPECT_EQ(request("GET", "/units", session.first).status, 200);
    now += std::chrono::hours(8);
    EXPECT_EQ(headerOf(request("GET", "/units", session.first), "Location"), "/sign-in?after=ended");
    const auto second = signIn();
    const HttpResponse out = request("POST", "/sign-out", second.first, formBody({{"csrf", second.second}}));
    EXPECT_EQ(headerOf(out, "Location"), "/sign-in?after=signed-out");
    EXPECT_NE(headerOf(out, "Set-Cookie").find("Max-Age=0"), std::string::npos);
    EXPECT_EQ(request("GET", "/units", second.first).status, 303);
}

TEST_F(ConsoleTest, SessionAndSignInFormCookies)
{
    const HttpResponse first = trySignIn(kPassword);
    const HttpResponse second = trySignIn(kPassword);
    std::string setCookie;
    for (const auto& header : first.headers)
        if (header.first == "Set-Cookie" && header.second.rfind("rvx_session=", 0) == 0)
            setCookie = header.second;
    const std::string id = cookieSet(first, "rvx_session").substr(std::strlen("rvx_session="));
    EXPECT_EQ(id.size(), 64u);
    EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(setCookie, "rvx_session=" + id + "; Path=/; HttpOnly; SameSite=Strict");
    EXPECT_NE(cookieSet(first, "rvx_session"), cookieSet(second, "rvx_session"));

    // Showing the sign-in page again in the same browser (another tab, a
    // redirect) keeps the form it already shows valid.
    const HttpResponse form = request("GET", "/sign-in");
    std::string browserCookie = cookieSet(form, "rvx_signin");
    const HttpResponse again = request("GET", "/sign-in", browserCookie);
    if (!cookieSet(again, "rvx_signin").empty())
        browserCookie = cookieSet(again, "rvx_signin");
    EXPECT_EQ(request("POST", "/sign-in", browserCookie, formBody({{"password", kPassword}, {"csrf", formToken(form.body)}}))
                  .status,
              303);
}

TEST_F(ConsoleTest, NoPasswordSetMeansNobodySignsIn)
{
    fleet.setAdminPasswordHash("");
    const HttpResponse page = request("GET", "/sign-in");
    EXPECT_NE(page.body.find("rvx-manager set-password"), std::string::npos);
    EXPECT_EQ(page.body.find("type=\"password\""), std::string::npos);
    for (const char* password : {"", kPassword}) {
        const HttpResponse tried = trySignIn(password);
        EXPECT_EQ(tried.status, 403);
        EXPECT_EQ(cookieSet(tried, "rvx_session"), "");
    }
}

TEST_F(ConsoleTest, WrongPasswordsAreThrottledPerAddressAndInAll)
{
    // Three free failures, then waits of 1, 2, 4 ... seconds for that address.
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(trySignIn("guess", "192.0.2.7").status, 403) << i;
    HttpResponse refused = trySignIn(kPassword, "192.0.2.7");
    EXPECT_EQ(refused.status, 429);
    EXPECT_EQ(headerOf(refused, "Retry-After"), "1");
    EXPECT_NE(refused.body.find("Too many failed sign-ins from your address"), std::string::npos);
    EXPECT_EQ(cookieSet(refused, "rvx_session"), "");
    now += std::chrono::seconds(1);
    EXPECT_EQ(trySignIn("guess", "192.0.2.7").status, 403);
    EXPECT_EQ(headerOf(trySignIn(kPassword, "192.0.2.7"), "Retry-After"), "2");
    // Another address is not held up, and a success clears the record.
    EXPECT_EQ(trySignIn(kPassword, "192.0.2.8").status, 303);
    now += std::chrono::seconds(2);
    EXPECT_EQ(trySignIn(kPassword, "192.0.2.7").status, 303);

    // Guessing spread over many addresses pauses sign-in for all.
    for (int i = 0; i < 21; ++i)
        EXPECT_EQ(trySignIn("guess", "198.51.100." + std::to_string(i)).status, 403);
    refused = trySignIn(kPassword, "203.0.113.1");
    EXPECT_EQ(refused.status, 429);
    EXPECT_NE(refused.body.find("Too many failed sign-ins to this console"), std::string::npos);
}

TEST(LoginThrottleTest, WaitsDoubleUpToTheLongestAndOneCheckPerAddress)
{
    LoginThrottleLimits limits;
    limits.freeFailuresPerAddress = 2;
    limits.longestAddressWait = std::chrono::seconds(5);
    limits.freeFailuresInAll = 1000;
    LoginThrottle throttle(limits);
    auto now = LoginThrottle::Clock::time_point{} + std::chrono::hours(10);
    auto fail = [&] {
        ASSERT_TRUE(throttle.begin("a", now).allowed);
        // While one try is checked, another from the same address waits.
        EXPECT_FALSE(throttle.begin("a", now).allowed);
        throttle.finish("a", false, now);
    };
    const int waitAfterFailure[] = {0, 0, 1, 2, 4, 5, 5};
    for (int wait : waitAfterFailure) {
        fail();
        if (wait > 0) {
            const auto refused = throttle.begin("a", now);
            EXPECT_FALSE(refused.allowed);
            EXPECT_EQ(refused.retryAfter, std::chrono::seconds(wait));
            now += std::chrono::seconds(wait);
        }
    }
    // An hour after the last failure, or after a success, the count starts again.
    now += std::chrono::hours(1);
    fail();
    EXPECT_TRUE(throttle.begin("a", now).allowed);
    throttle.finish("a", true, now);
    fail();
    fail();
    EXPECT_TRUE(throttle.begin("a", now).allowed);
    throttle.finish("a", false, now);
    EXPECT_FALSE(throttle.begin("a", now).allowed);
}

TEST_F(ConsoleTest, ChangesWithoutTheSessionsFormTokenAreRefused)
{
    const auto session = signIn();
    const auto other = signIn();
    const std::string wrongToken(session.second.size(), '0');
    const struct
    {
        const char* name;
        std::map<std::string, std::string> extra;
    } cases[] = {{"missing", {}},
                 {"empty", {{"csrf", ""}}},
                 {"wrong", {{"csrf", wrongToken}}},
                 {"prefix", {{"csrf", session.second.substr(0, 10)}}},
                 {"another session's", {{"csrf", other.second}}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto fields = c.extra;
        fields["code"] = "1A2B3C4D";
        const HttpResponse refused = request("POST", "/units/unregister", session.first, formBody(fields));
        EXPECT_EQ(refused.status, 403);
        EXPECT_NE(refused.body.find("Nothing was changed"), std::string::npos);
        EXPECT_TRUE(fleet.unit("1A2B3C4D")->registered);
        EXPECT_EQ(request("POST", "/sign-out", session.first, formBody(c.extra)).status, 403);
    }
    // The sign-in form's token must match its cookie too.
    const HttpResponse form = request("GET", "/sign-in");
    const HttpResponse forged = request("POST", "/sign-in", "rvx_signin=" + wrongToken,
                                        formBody({{"password", kPassword}, {"csrf", formToken(form.body)}}));
    EXPECT_EQ(forged.status, 403);
    EXPECT_EQ(cookieSet(forged, "rvx_session"), "");
    // Changes are posted, never fetched.
    EXPECT_EQ(request("GET", "/units/unregister?code=1A2B3C4D&csrf=" + session.second, session.first).status, 405);
    EXPECT_TRUE(fleet.unit("1A2B3C4D")->registered);
}

TEST_F(ConsoleTest, NamesFromOperatorsAndRadiosAreEscaped)
{
    const char* hostile[] = {"<script>alert(1)</script>", "\"><img src=x onerror=alert(1)>", "' onfocus='alert(1)",
                             "&lt;b&gt;"};
    const char* escaped[] = {"&lt;script&gt;alert(1)&lt;/script&gt;", "&quot;&gt;&lt;img src=x onerror=alert(1)&gt;",
                             "&#39; onfocus=&#39;alert(1)", "&amp;lt;b&amp;gt;"};
    const auto session = signIn();
    for (std::size_t i = 0; i < std::size(hostile); ++i) {
        SCOPED_TRACE(hostile[i]);
        const std::string name = hostile[i];
        UnitRecord unit = unitAt("1A2B3C4D", name, 45.5, -122.25);
        unit.account = name;
        unit.pushState = "failed: " + name;
        fleet.addUnit(unit);
        fleet.saveZone({1, name});
        fleet.saveChannel({7, name, 1});
        for (const char* page : {"/units", "/channels", "/map?from=1A2B3C4D", "/map?from=5E6F7A8B"}) {
            const std::string body = request("GET", page, session.first).body;
            EXPECT_EQ(body.find(name), std::string::npos) << page;
            EXPECT_NE(body.find(escaped[i]), std::string::npos) << page;
        }
        // Texts the console echoes back: a refused change and a confirmation.
        const std::string refused = change("/units/rename", {{"code", name}, {"name", "x"}}, session).body;
        EXPECT_EQ(refused.find(name), std::string::npos);
        EXPECT_NE(refused.find(escaped[i]), std::string::npos);
        const std::string renamed = change("/units/rename", {{"code", "1A2B3C4D"}, {"name", name}}, session).body;
        EXPECT_EQ(renamed.find(name), std::string::npos);
    }
}

TEST_F(ConsoleTest, FormChangesReachTheModelAndRefusalsShowOnThePage)
{
    const auto session = signIn();
    const struct
    {
        const char* path;
        std::map<std::string, std::string> fields;
        const char* notice;  // shown on the page the change leads to
    } changes[] = {
        {"/units/register", {{"code", "0C0FFEE0"}, {"name", "Van 3"}, {"account", "Fleet"}}, "Unit 0C0FFEE0 is registered."},
        {"/units/rename", {{"code", "0C0FFEE0"}, {"name", "Van 4"}}, "Unit 0C0FFEE0 is now called Van 4."},
        {"/units/push", {{"code", "0C0FFEE0"}}, "will be told to fetch its settings now"},
        {"/units/unregister", {{"code", "5E6F7A8B"}}, "Unit 5E6F7A8B is unregistered."},
        {"/units/register", {{"code", "99999999"}}, "No unit has shown the code 99999999."},
        {"/channels/save-zone", {{"number", "2"}, {"name", "South"}}, "Zone 2 (South) is saved."},
        {"/channels/save-zone", {{"number", "3"}, {"name", "South"}}, "Zone 2 is already called South"},
        {"/channels/save-zone", {{"number", "x"}, {"name", "East"}}, "The zone number must be a whole number"},
        {"/channels/save-channel", {{"number", "300"}, {"name", "Dispatch"}, {"zone", "2"}}, "Talk group 300 (Dispatch) is saved."},
        {"/channels/save-channel", {{"number", "301"}, {"name", std::string(32, 'n')}, {"zone", "2"}}, "at most 31 bytes"},
        {"/channels/remove-zone", {{"number", "2"}}, "Zone 2 still has talk groups."},
        {"/channels/voice", {{"number", "300"}, {"change", "encrypt"}}, "Voice of talk group 300 is encrypted"},
        {"/channels/voice", {{"number", "300"}, {"change", "rotate"}}, "radios still hear the old one for 24 hours"},
        {"/channels/voice", {{"number", "0"}, {"change", "rotate"}}, "there is no key to replace"},
        {"/channels/voice", {{"number", "0"}, {"change", "encrypt"}}, "Voice of individual calls is encrypted"},
        {"/channels/voice", {{"number", "300"}, {"change", "decrypt"}}, "Unknown change of voice privacy."},
        {"/service/add-router", {{"address", "192.0.2.10"}, {"port", "3301"}}, "Router 192.0.2.10:3301 is added."},
        {"/service/add-router", {{"address", "router.example"}, {"port", "3301"}}, "must be an IPv4 address"},
        {"/service/options",
         {{"codec", "Opus 12"}, {"packetInterval", "60"}, {"gpsInterval", "120"}, {"demoChannels", "on"}},
         "The options are saved."},
        {"/service/options", {{"codec", "Opus 99"}, {"packetInterval", "60"}, {"gpsInterval", "120"}}, "Radios do not know the codec"},
    };
    for (const auto& c : changes) {
        SCOPED_TRACE(c.path);
        const HttpResponse page = change(c.path, c.fields, session);
        EXPECT_EQ(page.status, 200);
        EXPECT_NE(page.body.find(Html::escape(c.notice)), std::string::npos);
        EXPECT_EQ(request("GET", "/units", session.first).body.find("id=\"notice\""), std::string::npos)
            << "a notice shows once";
    }
    const UnitRecord van = *fleet.unit("0C0FFEE0");
    EXPECT_TRUE(van.registered);
    EXPECT_EQ(van.name, "Van 4");
    EXPECT_EQ(van.account, "Fleet");
    EXPECT_EQ(van.pushState, "queued");
    EXPECT_FALSE(fleet.unit("5E6F7A8B")->registered);
    ASSERT_EQ(fleet.zones().size(), 2u);
    EXPECT_EQ(fleet.zones()[1].name, "South");
    ASSERT_EQ(fleet.channels().size(), 1u);
    EXPECT_EQ(fleet.channels()[0].zoneNumber, 2);
    EXPECT_TRUE(fleet.voicePrivacy(300).encrypted);
    EXPECT_TRUE(fleet.voicePrivacy(300).previousHeard);
    EXPECT_TRUE(fleet.voicePrivacy(kIndividualCallsVoiceScope).encrypted);
    const std::string page = request("GET", "/channels", session.first).body;
    EXPECT_NE(page.find("Replaced key heard until"), std::string::npos);
    EXPECT_NE(page.find("id=\"individual-call-voice\""), std::string::npos);
    ASSERT_EQ(fleet.routers().size(), 1u);
    EXPECT_EQ(fleet.routers()[0].port, 3301);
    const ServiceOptions options = fleet.options();
    EXPECT_EQ(options.codec, "Opus 12");
    EXPECT_EQ(options.packetIntervalMs, 60);
    EXPECT_EQ(options.gpsIntervalSeconds, 120);
    EXPECT_FALSE(options.localChannels);
    EXPECT_TRUE(options.demoChannels);

    // A store that cannot be read: the page says so and the console goes on.
    fleet.failReadingUnits("The database is locked <try later>.");
    const HttpResponse failed = request("GET", "/units", session.first);
    EXPECT_EQ(failed.status, 500);
    EXPECT_NE(failed.body.find("The database is locked &lt;try later&gt;."), std::string::npos);
    EXPECT_EQ(request("GET", "/channels", session.first).status, 200);
}

TEST_F(ConsoleTest, MapShowsDistanceAndBearingFromTheChosenUnit)
{
    const auto session = signIn();
    // One degree of latitude apart on one meridian.
    const struct
    {
        const char* from;
        const char* other;
        const char* bearing;
        const char* onRadio;
    } cases[] = {{"1A2B3C4D", "5E6F7A8B", "0\u00B0 N", "69 Miles N"}, {"5E6F7A8B", "1A2B3C4D", "180\u00B0 S", "69 Miles S"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.from);
        const std::string body = request("GET", std::string("/map?from=") + c.from, session.first).body;
        const std::size_t row = body.find(std::string("id=\"position-") + c.other);
        ASSERT_NE(row, std::string::npos);
        const std::string rowText = body.substr(row, body.find("</tr>", row) - row);
        EXPECT_NE(rowText.find(">111.3 km<"), std::string::npos) << rowText;
        EXPECT_NE(rowText.find(c.bearing), std::string::npos) << rowText;
        EXPECT_NE(rowText.find(c.onRadio), std::string::npos) << rowText;
        EXPECT_NE(body.find("<svg class=\"map\""), std::string::npos);
        EXPECT_NE(body.find("class=\"ray\""), std::string::npos);
    }
}

TEST(MapProjectionTest, FitsTheFleetAndChoosesRoundScaleBars)
{
    const MapProjection projection({{45.5, -122.25}, {46.5, -122.25}, {46.0, -121.0}}, 800.0);
    const MapPoint south = projection.place({45.5, -122.25});
    const MapPoint north = projection.place({46.5, -122.25});
    const MapPoint east = projection.place({46.0, -121.0});
    EXPECT_LT(north.y, south.y);
    EXPECT_GT(east.x, south.x);
    for (const MapPoint& point : {south, north, east}) {
        EXPECT_GT(point.x, 0.0);
        EXPECT_LT(point.x, projection.width());
        EXPECT_GT(point.y, 0.0);
        EXPECT_LT(point.y, projection.height());
    }
    // A degree of latitude is about 111.3 km on the radios' sphere.
    EXPECT_NEAR((south.y - north.y) * projection.metresPerUnit(), 111317.0, 10.0);

    const struct
    {
        double metresPerUnit;
        double longest;
        double metres;
        const char* label;
    } bars[] = {{10.0, 200.0, 2000.0, "2 km"}, {3.0, 200.0, 500.0, "500 m"}, {1.0, 99.0, 50.0, "50 m"},
                {1000.0, 100.0, 100000.0, "100 km"}};
    for (const auto& b : bars) {
        const ScaleBar bar = scaleBarFor(b.metresPerUnit, b.longest);
        EXPECT_DOUBLE_EQ(bar.metres, b.metres);
        EXPECT_EQ(bar.label, b.label);
        EXPECT_LE(bar.length, b.longest);
    }
}

TEST(HttpMessageTest, PercentDecodingAndForms)
{
    const struct
    {
        const char* text;
        bool plusIsSpace;
        const char* decoded;
    } texts[] = {{"a+b%20c", true, "a b c"}, {"a+b", false, "a+b"}, {"%3Cb%3e", true, "<b>"},
                 {"100%", true, "100%"},      {"%4", true, "%4"},     {"%zz%41", true, "%zzA"}};
    for (const auto& t : texts)
        EXPECT_EQ(percentDecode(t.text, t.plusIsSpace), t.decoded) << t.text;

    const auto fields = parseForm("name=Van+3&name=second&empty=&flag&&code=%41%42");
    EXPECT_EQ(fields.at("name"), "Van 3");
    EXPECT_EQ(fields.at("empty"), "");
    EXPECT_EQ(fields.at("flag"), "");
    EXPECT_EQ(fields.at("code"), "AB");
    EXPECT_EQ(fields.size(), 4u);
}
