// The blocking HTTP form post. Each request runs on a thread of its own
// with its own wGetHelper_t, while the caller waits with its thread's
// events turning; the whole request has a time limit, and the reply body is
// measured and refused as it arrives.
#include "wGet.h"
#include "wGet_control.h"

#include "debug_log.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <atomic>

namespace {

constexpr int kDefaultWaitPasses = 400;
constexpr int kDefaultPauseMs = 50;
constexpr std::int64_t kDefaultBodyLimit = 4 * 1024 * 1024;
// What the network layer may read ahead of the body taken so far.
constexpr qint64 kReadAheadBytes = 64 * 1024;

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

// The thread one request runs on; stopped and joined on every way out.
class RequestThread
{
public:
    RequestThread() { thread.start(); }
    ~RequestThread()
    {
        thread.quit();
        thread.wait();
    }
    RequestThread(const RequestThread&) = delete;
    RequestThread& operator=(const RequestThread&) = delete;

    QThread thread;
};

int defaultTimeLimitMs()
{
    return waitPasses * pauseMs;
}

// Runs the calling thread's events until loop is quit (the request
// finished) or the deadline passed.
void waitInEvents(QEventLoop& loop, const QDeadlineTimer& deadline)
{
    QTimer limit;
    limit.setSingleShot(true);
    limit.setTimerType(Qt::PreciseTimer);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    limit.start(static_cast<int>(qMax<qint64>(0, deadline.remainingTime())));
    QTimer pass;
    QObject::connect(&pass, &QTimer::timeout,
                     [] { debug_log_printf("ENABLE_WGET_DEBUG", "Waiting for response from wGet()\n"); });
    pass.start(pauseMs.load());
    loop.exec();
}

// The body of a request that ended well; otherwise logs and throws.
QByteArray bodyOrError(const wGetOutcome& outcome)
{
    if (!outcome.bodyTooLarge && !outcome.failed)
        return outcome.body;
    const QByteArray reason = outcome.bodyTooLarge ? QByteArray("reply body larger than ") +
                                                         QByteArray::number(qint64(bodyLimit)) + " bytes"
                                                   : outcome.errorText;
    const std::string message = "wget error: " + reason.toStdString() + ".  The data returned was " +
                                std::to_string(outcome.body.size()) + " bytes: " + outcome.body.toStdString();
    debug_log_output_string((message + "\n").c_str());
    throw WGetError(message);
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

std::string wGet(const char* url, const char* postData, int timeLimitMs)
{
    const QDeadlineTimer deadline(timeLimitMs > 0 ? timeLimitMs : defaultTimeLimitMs(), Qt::PreciseTimer);
    CallDepthGuard depth;
    debug_log_printf("ENABLE_WGET_DEBUG", "Wget post with url %s and postData %s\n", url, postData);
    RequestThread requestThread;
    auto* helper = new wGetHelper_t;
    helper->moveToThread(&requestThread.thread);
    QEventLoop loop;
    QObject::connect(helper, &wGetHelper_t::finishedRequest, &loop, &QEventLoop::quit);
    const QByteArray target(url), form(postData);
    QMetaObject::invokeMethod(helper, [helper, target, form] { helper->post(target, form); });
    waitInEvents(loop, deadline);
    // The helper (and with it a request still going) ends in its own thread.
    wGetOutcome outcome;
    QMetaObject::invokeMethod(
        helper,
        [helper, &outcome] {
            outcome = helper->outcome();
            delete helper;
        },
        Qt::BlockingQueuedConnection);
    if (!outcome.finished)
        return std::string();
    return upToFirstZero(bodyOrError(outcome));
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

void wGetHelper_t::post(const QByteArray& url, const QByteArray& postData)
{
    request.setUrl(QUrl(QString::fromLatin1(url)));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
    Q_ASSERT(finishedReply == nullptr);
    finishedReply = networkManager->post(request, postData);
    finishedReply->setReadBufferSize(kReadAheadBytes);
    debug_log_printf("ENABLE_WGET_DEBUG", "Wget post submitted.  Connecting signal to detect when finished\n");
    connect(finishedReply, &QNetworkReply::metaDataChanged, this, &wGetHelper_t::refuseDeclaredOversize);
    connect(finishedReply, &QNetworkReply::readyRead, this, &wGetHelper_t::takeArrivedBody);
    connect(finishedReply, &QNetworkReply::finished, this, &wGetHelper_t::finish);
}

void wGetHelper_t::finish()
{
    if (!result.bodyTooLarge) {
        takeArrivedBody();
        if (finishedReply->error() != QNetworkReply::NoError) {
            result.failed = true;
            result.errorText = finishedReply->errorString().toLatin1();
        }
    }
    result.finished = true;
    emit finishedRequest();
}

// The body is taken as it arrives, so that its size is known at every step
// and a body beyond the limit is never read into memory.
void wGetHelper_t::takeArrivedBody()
{
    if (result.bodyTooLarge)
        return;
    result.body += finishedReply->readAll();
    if (result.body.size() > bodyLimit)
        refuseOversize();
}

void wGetHelper_t::refuseDeclaredOversize()
{
    const QVariant declared = finishedReply->header(QNetworkRequest::ContentLengthHeader);
    if (declared.isValid() && declared.toLongLong() > bodyLimit)
        refuseOversize();
}

void wGetHelper_t::refuseOversize()
{
    result.bodyTooLarge = true;
    result.body.clear();
    finishedReply->abort();
}
