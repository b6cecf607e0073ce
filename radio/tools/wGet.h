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
// the body up to its first zero byte; the empty string when no answer came
// in about 20 s. Throws WGetError on a failed request. Keeps the calling
// thread's events turning while it waits.
std::string wGet(const char* url, const char* postData);

// One request: its manager and reply live exactly as long as it does.
class wGetHelper_t : public QObject
{
    Q_OBJECT
public:
    wGetHelper_t();
    ~wGetHelper_t() override;

    void post(const char* url, const char* postData);
    bool isFinished() const { return finished; }
    // The body, or throws WGetError when the reply reports an error.
    QByteArray readResponse();

public slots:
    void finish();

private slots:
    void limitBodySize(qint64 bytesReceived, qint64 bytesTotal);

private:
    QNetworkRequest request;
    QNetworkReply* finishedReply = nullptr;
    QNetworkAccessManager* networkManager = nullptr;
    bool finished = false;
    bool bodyTooLarge = false;
};
