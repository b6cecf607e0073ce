// rvx-manager's HTTP layer on 127.0.0.1: the request reader's limits and
// refusals, an oversized body refused before it is read, slow clients that
// cannot hold up an honest one, and the connection caps.
#include "HttpRequestParser.h"
#include "HttpServer.h"
#include "ProcessMemory.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace Manager;
using Clock = std::chrono::steady_clock;

// A raw client connection, bound to a loopback source address of its own
// choosing so that tests can play several clients.
class RawClient
{
public:
    explicit RawClient(int port, const std::string& source = "127.0.0.1")
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, source.c_str(), &local.sin_addr);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local);
        sockaddr_in server{};
        server.sin_family = AF_INET;
        server.sin_port = htons(static_cast<unsigned short>(port));
        server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&server), sizeof server) == 0;
    }
    ~RawClient() { ::close(fd_); }
    bool connected() const { return connected_; }
    bool send(const std::string& bytes) { return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size()); }
    // Everything until the server closes, or until the time-out.
    std::string receive(std::chrono::milliseconds timeout = std::chrono::milliseconds(3000))
    {
        std::string received;
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            pollfd waiting{fd_, POLLIN, 0};
            if (left <= 0 || ::poll(&waiting, 1, static_cast<int>(left)) <= 0)
                return received;
            char buffer[4096];
            const ssize_t count = ::recv(fd_, buffer, sizeof buffer, 0);
            if (count <= 0)
                return received;
            received.append(buffer, static_cast<std::size_t>(count));
        }
    }

private:
    int fd_ = -1;
    bool connected_ = false;
};

std::string StatusLine(const std::string& response)
{
    return response.substr(0, response.find("\r\n"));
}

class ManagerHttpServerTest : public ::testing::Test
{
protected:
    void Start(const ListenerSettings& settings)
    {
        port_ = server_.addListener(settings, [](const HttpRequest& request) {
            return HttpResponse::text(200, "got " + request.method + " " + request.path + " " +
                                               std::to_string(request.body.size()) + " from " + request.peerAddress);
        });
        server_.start();
    }
    // An honest form post; how long it took, and the response.
    std::string Honest(std::chrono::milliseconds* took = nullptr)
    {
        const auto start = Clock::now();
        RawClient client(port_);
        client.send("POST /api/devconf/get HTTP/1.1\r\nHost: x\r\nContent-Length: 7\r\n\r\nkid=0A1");
        const std::string response = client.receive();
        if (took)
            *took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        return response;
    }

    HttpServer server_{2};
    int port_ = 0;
};

TEST(ManagerHttpParserTest, RequestsAreReadOrRefusedByTheirBytes)
{
    HttpLimits limits;
    limits.maxBody = 64;
    limits.maxRequestLine = 64;
    limits.maxHeaderBytes = 256;
    limits.maxHeaderCount = 5;
    struct Case
    {
        const char* what;
        std::string bytes;
        int status;  // 0: complete; -1: waits for more
    };
    const std::vector<Case> cases = {
        {"form post", "POST /a?x=1 HTTP/1.1\r\nHost: h\r\nContent-Length: 3\r\n\r\nk=v", 0},
        {"bare line ends", "GET / HTTP/1.0\n\n", 0},
        {"body still coming", "POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\nabc", -1},
        {"no length on a post", "POST / HTTP/1.1\r\nHost: h\r\n\r\n", 411},
        {"chunked body", "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n", 411},
        {"body over the limit", "POST / HTTP/1.1\r\nContent-Length: 65\r\n\r\n", 413},
        {"huge length", "POST / HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n", 400},
        {"length with junk", "POST / HTTP/1.1\r\nContent-Length: 3x\r\n\r\nabc", 400},
        {"two lengths", "POST / HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabcd", 400},
        {"request line too long", "GET /" + std::string(80, 'a') + " HTTP/1.1\r\n\r\n", 414},
        {"endless request line", "GET /" + std::string(100, 'a'), 414},
        {"too many headers", "GET / HTTP/1.1\r\na: 1\r\nb: 1\r\nc: 1\r\nd: 1\r\ne: 1\r\nf: 1\r\n\r\n", 431},
        {"header bytes over the limit", "GET / HTTP/1.1\r\nx: " + std::string(300, 'x') + "\r\n\r\n", 431},
        {"folded header", "GET / HTTP/1.1\r\nx: 1\r\n  more\r\n\r\n", 400},
        {"space before colon", "GET / HTTP/1.1\r\nHost : h\r\n\r\n", 400},
        {"control byte in value", std::string("GET / HTTP/1.1\r\nx: a\x01" "b\r\n\r\n"), 400},
        {"NUL in line", std::string("GET / HTTP/1.1\r\nx: a\0b\r\n\r\n", 26), 400},
        {"stray CR", "GET / HTTP/1.1\r\nx: a\rb\r\n\r\n", 400},
        {"other protocol version", "GET / HTTP/2.0\r\n\r\n", 505},
        {"not HTTP", "GET / SPDY\r\n\r\n", 400},
        {"absolute target", "GET http://h/ HTTP/1.1\r\n\r\n", 400},
        {"space in target", "GET /a b HTTP/1.1\r\n\r\n", 400},
        {"raw byte in target", "GET /\xC3\xA9 HTTP/1.1\r\n\r\n", 400},
        {"no method", " / HTTP/1.1\r\n\r\n", 400},
        {"empty lines only", "\r\n\r\n\r\n\r\n\r\n\r\n", 400},
    };
    for (const Case& c : cases) {
        // Whole, and one byte at a time: the outcome must not depend on how
        // the bytes arrive.
        for (const bool byteWise : {false, true}) {
            HttpRequestParser parser(limits);
            if (byteWise) {
                for (const char byte : c.bytes)
                    if (parser.feed(&byte, 1) != HttpRequestParser::State::Incomplete)
                        break;
            } else {
                parser.feed(c.bytes.data(), c.bytes.size());
            }
            const int outcome = parser.state() == HttpRequestParser::State::Complete ? 0
                                : parser.state() == HttpRequestParser::State::Failed ? parser.errorStatus()
                                                                                      : -1;
            EXPECT_EQ(outcome, c.status) << c.what << (byteWise ? " (byte-wise)" : "");
        }
    }

    HttpRequestParser parser(limits);
    const std::string post = "POST /api/x?a=1 HTTP/1.1\r\nX-Thing:  padded \r\nContent-Length: 3\r\n\r\nk=v";
    ASSERT_EQ(parser.feed(post.data(), post.size()), HttpRequestParser::State::Complete);
    EXPECT_EQ(parser.request().path, "/api/x");
    EXPECT_EQ(parser.request().query, "a=1");
    EXPECT_EQ(parser.request().header("x-thing"), "padded");
    EXPECT_EQ(parser.request().body, "k=v");

    EXPECT_EQ(parseForm("a=1&b=%41+B&a=2&c&=x&d=%zz")["b"], "A B");
    EXPECT_EQ(parseForm("a=1&a=2")["a"], "1");
    EXPECT_EQ(percentDecode("%zz%4", false), "%zz%4");
    HttpResponse forged = HttpResponse::text(200, "x");
    forged.headers.emplace_back("X-Ok", "1\r\nSet-Cookie: stolen=1");
    EXPECT_EQ(serializeResponse(forged).find("stolen"), std::string::npos);
}

TEST_F(ManagerHttpServerTest, OversizedBodyIsRefusedBeforeItIsRead)
{
    ListenerSettings settings;
    Start(settings);
    const long long peakBefore = rvx::test::PeakMemoryAfterReset();
    {
        RawClient client(port_);
        const auto start = Clock::now();
        ASSERT_TRUE(client.send("POST /api/initialize HTTP/1.1\r\nContent-Length: 1073741824\r\n\r\n"));
        // The body keeps coming (8 MiB at most); the refusal does not wait for it.
        std::thread sender([&client] {
            const std::string chunk(64 * 1024, 'k');
            for (int i = 0; i < 128 && client.send(chunk); ++i) {
            }
        });
        const std::string response = client.receive(std::chrono::milliseconds(5000));
        sender.join();
        EXPECT_EQ(StatusLine(response), "HTTP/1.1 413 Content Too Large");
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
    }
    {
        // No length at all, only ever longer header lines.
        RawClient client(port_);
        client.send("GET / HTTP/1.1\r\nX: ");
        for (int i = 0; i < 64 && client.send(std::string(1024, 'h')); ++i) {
        }
        EXPECT_EQ(StatusLine(client.receive()), "HTTP/1.1 431 Request Header Fields Too Large");
    }
    if (rvx::test::kPeakMemoryMeansHeld) {
        EXPECT_LT(rvx::test::PeakMemory() - peakBefore, 4 * 1024 * 1024);
    }
    EXPECT_NE(Honest().find("got POST /api/devconf/get 7"), std::string::npos);
}

TEST_F(ManagerHttpServerTest, SlowClientsNeitherDelayAnHonestRequestNorOutstayTheirDeadline)
{
    ListenerSettings settings;
    settings.requestDeadline = std::chrono::milliseconds(4000);
    Start(settings);
    std::vector<std::unique_ptr<RawClient>> slow;
    for (int i = 0; i < 20; ++i) {
        slow.push_back(std::make_unique<RawClient>(port_, "127.0.0." + std::to_string(10 + i)));
        slow.back()->send("P");
    }
    std::chrono::milliseconds took{};
    EXPECT_NE(Honest(&took).find("got POST"), std::string::npos);
    EXPECT_LT(took, std::chrono::milliseconds(1000));

    // A byte every 3 s keeps no client past its deadline.
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    for (auto& client : slow)
        client->send("O");
    EXPECT_NE(Honest(&took).find("got POST"), std::string::npos);
    EXPECT_LT(took, std::chrono::milliseconds(1000));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(server_.openConnections(), 0u);
    for (auto& client : slow)
        EXPECT_EQ(client->receive(std::chrono::milliseconds(100)), "");  // dropped without a word
}

TEST_F(ManagerHttpServerTest, ConnectionCapsRefuseTheExtraOnes)
{
    ListenerSettings settings;
    settings.maxConnections = 6;
    settings.maxConnectionsPerClient = 3;
    Start(settings);
    std::vector<std::unique_ptr<RawClient>> held;
    for (int i = 0; i < 3; ++i)
        held.push_back(std::make_unique<RawClient>(port_, "127.0.0.2"));
    RawClient fourthFromOne(port_, "127.0.0.2");
    EXPECT_NE(fourthFromOne.receive().find("503 Service Unavailable"), std::string::npos);
    for (int i = 0; i < 3; ++i)
        held.push_back(std::make_unique<RawClient>(port_, "127.0.0." + std::to_string(3 + i)));
    RawClient seventh(port_, "127.0.0.9");
    EXPECT_NE(seventh.receive().find("busy: too many connections\n"), std::string::npos);

    // Room again once one goes.
    held.pop_back();
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    while (server_.openConnections() > 5 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_NE(Honest().find("got POST"), std::string::npos);
}

} // namespace
