// The blocking HTTP form post: one wGetHelper_t per request, a wait that
// keeps the calling thread's events turning, and bounded reply bodies.
#include "wGet.h"
#include "wGet_control.h"

#include "debug_log.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QThread>
#include <QUrl>

#include <atomic>
#include <memory>

namespace {

constexpr int kDefaultWaitPasses = 400;
constexpr int kDefaultPauseMs = 50;
constexpr std::int64_t kDefaultBodyLimit = 4 * 1024 * 1024;

std::atomic<int> waitPasses{kDefaultWaitPasses};
std::atomic<int> pauseMs{kDefaultPauseMs};
std::atomic<std::int64_t> bodyLimit{kDefaultBodyLimit};

// Counts wGet calls in progress, only to warn about nested use.
std::atomic<int> callDepth{0};

class CallDepthGuard
{
public:
    CallDepthGuard()
    {
        if (++callDepth > 1)
            debug_log_printf_always("%s is going reentrant - might cause problems!!!\n", "wGet");
    }
    ~CallDepthGuard() { --callDepth; }
    CallDepthGuard(const CallDepthGuard&) = delete;
    CallDepthGuard& operator=(const CallDepthGuard&) = delete;
};

// Waits until the request finished or the passes ran out; true when it finished.
bool waitForFinish(const wGetHelper_t& helper)
{
    for (int pass = 0; !helper.isFinished(); ++pass) {
        debug_log_printf("ENABLE_WGET_DEBUG", "Waiting for response from wGet()\n");
        QCoreApplication::processEvents();
        QThread::msleep(static_cast<unsigned long>(pauseMs.load()));
        if (pass >= waitPasses)
            return helper.isFinished();
    }
    return true;
}

std::string upToFirstZero(const QByteArray& body)
{
    return std::string(body.constData(), ::strnlen(body.constData(), static_cast<size_t>(body.size())));
}

} // namespace

void wGetSetWaitLimit(int passes, int pause)
{
    waitPasses = passes;
    pauseMs = pause;
}

void wGetSetBodyLimit(std::int64_t bytes)
{
    bodyLimit = bytes;
}

void wGetResetLimits()
{
    wGetSetWaitLimit(kDefaultWaitPasses, kDefaultPauseMs);
    wGetSetBodyLimit(kDefaultBodyLimit);
}

std::string wGet(const char* url, const char* postData)
{
    CallDepthGuard depth;
    auto helper = std::make_unique<wGetHelper_t>();
    debug_log_printf("ENABLE_WGET_DEBUG", "Wget post with url %s and postData %s\n", url, postData);
    helper->post(url, postData);
    if (!waitForFinish(*helper))
        return std::string();
    return upToFirstZero(helper->readResponse());
}

wGetHelper_t::wGetHelper_t() : networkManager(new QNetworkAccessManager(this)) {}

wGetHelper_t::~wGetHelper_t()
{
    if (finishedReply) {
        finishedReply->disconnect(this);
        finishedReply->abort();
        delete finishedReply;
    }
}

void wGetHelper_t::post(const char* url, const char* postData)
{
    request.setUrl(QUrl(QString::fromLatin1(url)));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
    Q_ASSERT(finishedReply == nullptr);
    finishedReply = networkManager->post(request, QByteArray(postData));
    debug_log_printf("ENABLE_WGET_DEBUG", "Wget post submitted.  Connecting signal to detect when finished\n");
    connect(finishedReply, &QNetworkReply::finished, this, &wGetHelper_t::finish);
    connect(finishedReply, &QNetworkReply::downloadProgress, this, &wGetHelper_t::limitBodySize);
}

void wGetHelper_t::finish()
{
    finished = true;
}

// A body beyond the limit is never read into memory: the request is aborted.
void wGetHelper_t::limitBodySize(qint64 bytesReceived, qint64 bytesTotal)
{
    const std::int64_t limit = bodyLimit;
    if (bytesReceived > limit || bytesTotal > limit) {
        bodyTooLarge = true;
        finishedReply->abort();
    }
}

QByteArray wGetHelper_t::readResponse()
{
    if (!finishedReply)
        return QByteArray();
    const QByteArray body = bodyTooLarge ? QByteArray() : finishedReply->readAll();
    if (!bodyTooLarge && finishedReply->error() == QNetworkReply::NoError)
        return body;
    const QByteArray reason = bodyTooLarge
                                  ? QByteArray("reply body larger than ") + QByteArray::number(qint64(bodyLimit)) + " bytes"
                                  : finishedReply->errorString().toLatin1();
    const std::string message = "wget error: " + reason.toStdString() + ".  The data returned was " +
                                std::to_string(body.size()) + " bytes: " + body.toStdString();
    debug_log_output_string((message + "\n").c_str());
    throw WGetError(message);
}
