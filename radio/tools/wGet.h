// The blocking HTTP form post used for every request to the management
// service: posts URL-encoded form data and returns the reply body.
#pragma once

#include <QByteArray>
#include <QNetworkRequest>
#include <QObject>

#include <stdexcept>
#include <string>

class QNetworkAccessManager;
class QNetworkReply;

// A network or HTTP failure of a request; the text says what went wrong.
class WGetError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Posts postData (already encoded, sent byte for byte) to url and returns
// the body up to its first zero byte; the empty string when no complete
// answer came within timeLimitMs in all (0: the default of 20 s), however
// slowly it trickled in. Throws WGetError on a failed request and on a body
// larger than the limit (4 MiB), which is refused as it arrives. Keeps the
// calling thread's events turning while it waits.
std::string wGet(const char* url, const char* postData, int timeLimitMs = 0);

// How one request ended.
struct wGetOutcome
{
    bool finished = false;
    bool bodyTooLarge = false;
    bool failed = false;  // the reply reported an error
    QByteArray errorText;
    QByteArray body;
};

// One request: its manager and reply live exactly as long as it does. It
// runs on a thread of its own, so that the reply is read, measured and if
// need be refused as it arrives, however busy the calling thread is.
class wGetHelper_t : public QObject
{
    Q_OBJECT
public:
    wGetHelper_t();
    ~wGetHelper_t() override;

    void post(const QByteArray& url, const QByteArray& postData);
    const wGetOutcome& outcome() const { return result; }

signals:
    void finishedRequest();

public slots:
    void finish();

private slots:
    void takeArrivedBody();
    void refuseDeclaredOversize();

private:
    void refuseOversize();

    QNetworkRequest request;
    QNetworkReply* finishedReply = nullptr;
    QNetworkAccessManager* networkManager = nullptr;
    wGetOutcome result;
};
