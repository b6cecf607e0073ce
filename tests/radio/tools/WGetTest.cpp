// Tests of the HTTP form post against local HTTP servers: what is sent, what
// comes back, failures, time-outs and nested calls.
#include "wGet.h"
#include "wGet_control.h"

#include "LocalHttpServer.h"
#include "LogCapture.h"
#include "ProcessMemory.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <mutex>

namespace {

using rvx::test::LocalHttpServer;
using rvx::test::LogCapture;
using rvx::test::SilentTcpListener;

const char* const kReentrancyWarning = "wGet is going reentrant - might cause problems!!!";

// Records the last request's body and content type and answers with a
// fixed status and body.
class RecordingServer
{
public:
    RecordingServer(int status, std::string reply)
    {
        server.Server().Post(".*", [this, status, reply](const httplib::Request& request, httplib::Response& response) {
            std::lock_guard<std::mutex> lock(mutex);
            body = request.body;
            contentType = request.get_header_value("Content-Type");
            response.status = status;
            response.set_content(reply, "text/plain");
        });
        started = server.Start();
    }
    std::string Body()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return body;
    }
    std::string ContentType()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return contentType;
    }

    LocalHttpServer server;
    bool started = false;

private:
    std::mutex mutex;
    std::string body;
    std::string contentType;
};

class WGetTest : public ::testing::Test
{
protected:
    void TearDown() override { wGetResetLimits(); }
};

TEST_F(WGetTest, PostsTheFormByteForByteAndReturnsTheBody)
{
    RecordingServer server(200, "settings reply");
    ASSERT_TRUE(server.started);
    const char* form = "a=1+2&b=x/y&c=%2b&d=~!*";

    EXPECT_EQ(wGet(server.server.Url("/api/devconf/get").c_str(), form), "settings reply");
    EXPECT_EQ(server.Body(), form);
    EXPECT_EQ(server.ContentType(), "application/x-www-form-urlencoded");
}

TEST_F(WGetTest, ReplyIsCutAtItsFirstZeroByte)
{
    RecordingServer server(200, std::string("before\0after", 12));
    ASSERT_TRUE(server.started);
    EXPECT_EQ(wGet(server.server.Url("/").c_str(), "x=1"), "before");
}

TEST_F(WGetTest, HttpErrorRaisesWithLengthAndBody)
{
    RecordingServer server(404, "no such page");
    ASSERT_TRUE(server.started);
    LogCapture log;
    try {
        wGet(server.server.Url("/missing").c_str(), "x=1");
        FAIL() << "no error raised";
    } catch (const std::runtime_error& error) {
        const std::string text = error.what();
        EXPECT_EQ(text.rfind("wget error: ", 0), 0u) << text;
        EXPECT_NE(text.find(".  The data returned was 12 bytes: no such page"), std::string::npos) << text;
        EXPECT_TRUE(log.Contains(text + "\n"));
    }
}

TEST_F(WGetTest, RefusedConnectionRaises)
{
    int port;
    {
        SilentTcpListener closedAgain;
        port = closedAgain.Port();
    }
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/";
    EXPECT_THROW(wGet(url.c_str(), "x=1"), WGetError);
}

TEST_F(WGetTest, BodyBeyondTheLimitIsAnErrorNotAResult)
{
    RecordingServer server(200, std::string(5000, 'x'));
    ASSERT_TRUE(server.started);
    wGetSetBodyLimit(4096);
    EXPECT_THROW(wGet(server.server.Url("/").c_str(), "x=1"), WGetError);
    wGetSetBodyLimit(5000);
    EXPECT_EQ(wGet(server.server.Url("/").c_str(), "x=1").size(), 5000u);
}

// Serves 200 MiB of zeros, with or without a declared length, and a reply
// that trickles in one byte every 100 ms.
class ReluctantServer
{
public:
    static constexpr std::size_t kHugeSize = 200u << 20;

    ReluctantServer()
    {
        server.Server().Post("/huge-chunked", [](const httplib::Request&, httplib::Response& response) {
            response.set_chunked_content_provider("text/plain", [](std::size_t offset, httplib::DataSink& sink) {
                return offset < kHugeSize && Send(sink);
            });
        });
        server.Server().Post("/huge-declared", [](const httplib::Request&, httplib::Response& response) {
            response.set_content_provider(kHugeSize, "text/plain",
                                          [](std::size_t, std::size_t, httplib::DataSink& sink) { return Send(sink); });
        });
        server.Server().Post("/trickle", [](const httplib::Request&, httplib::Response& response) {
            response.set_chunked_content_provider("text/plain", [](std::size_t offset, httplib::DataSink& sink) {
                QThread::msleep(100);
                return offset < 100 && sink.write("x", 1);
            });
        });
        started = server.Start();
    }

    static bool Send(httplib::DataSink& sink)
    {
        static const std::string chunk(64 * 1024, '\0');
        return sink.write(chunk.data(), chunk.size());
    }

    LocalHttpServer server;
    bool started = false;
};

// A huge reply is refused as it arrives, not after it was read into memory,
// even while the calling thread is busy (as the window's thread is at
// start-up); with a declared length before its body arrives. What a chunked
// reply costs is bounded by the system's TCP buffers, not by its size. A
// reply that trickles in is given up at the time limit, however it trickles.
TEST_F(WGetTest, HugeAndSlowRepliesAreCutOffEarly)
{
    QTimer busy;
    QObject::connect(&busy, &QTimer::timeout, [] { QThread::msleep(100); });
    busy.start(0);
    const std::pair<const char*, long long> hugeReplies[] = {{"/huge-declared", 16ll << 20},
                                                             {"/huge-chunked", 96ll << 20}};
    for (const auto& [path, peakLimit] : hugeReplies) {
        ReluctantServer server;
        ASSERT_TRUE(server.started);
        const long long before = rvx::test::PeakMemoryAfterReset();
        EXPECT_THROW(wGet(server.server.Url(path).c_str(), "x=1"), WGetError) << path;
        if (rvx::test::kPeakMemoryMeansHeld) {
            EXPECT_LT(rvx::test::PeakMemory() - before, peakLimit) << path;
        }
    }
    busy.stop();

    ReluctantServer server;
    ASSERT_TRUE(server.started);
    wGetSetWaitLimit(20, 50);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(wGet(server.server.Url("/trickle").c_str(), "x=1"), "");
    EXPECT_GE(clock.elapsed(), 1000);
    EXPECT_LT(clock.elapsed(), 2000);
    clock.restart();
    EXPECT_EQ(wGet(server.server.Url("/trickle").c_str(), "x=1", 500), "");
    EXPECT_LT(clock.elapsed(), 1000);
}

TEST_F(WGetTest, SilentServerGivesEmptyResultAndLeavesNoNestingBehind)
{
    SilentTcpListener silent;
    RecordingServer answering(200, "ok");
    ASSERT_TRUE(answering.started);
    wGetSetWaitLimit(10, 20);
    LogCapture log;

    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(wGet(silent.Url("/").c_str(), "x=1"), "");
    EXPECT_GE(clock.elapsed(), 10 * 20);

    EXPECT_EQ(wGet(answering.server.Url("/").c_str(), "x=1"), "ok");
    EXPECT_FALSE(log.Contains(kReentrancyWarning));
}

TEST_F(WGetTest, SilentServerIsGivenUpAfterAboutTwentySeconds)
{
    SilentTcpListener silent;
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(wGet(silent.Url("/").c_str(), "x=1"), "");
    EXPECT_GE(clock.elapsed(), 20000);
    EXPECT_LT(clock.elapsed(), 26000);
}

TEST_F(WGetTest, NestedCallWarnsAndBothRequestsComplete)
{
    RecordingServer server(200, "ok");
    SilentTcpListener silent;
    ASSERT_TRUE(server.started);
    wGetSetWaitLimit(20, 20);
    LogCapture log;
    std::string nestedResult;
    QTimer::singleShot(0, [&] { nestedResult = wGet(server.server.Url("/").c_str(), "inner=1"); });

    EXPECT_EQ(wGet(silent.Url("/").c_str(), "outer=1"), "");
    EXPECT_EQ(nestedResult, "ok");
    EXPECT_EQ(log.Count(kReentrancyWarning), 1u);
}

} // namespace
