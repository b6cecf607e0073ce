// Reads one HTTP/1.x request from the bytes of a connection as they arrive,
// within fixed limits: nothing beyond the limits is ever kept, and a request
// that breaks one fails as soon as its bytes (or its Content-Length) show it.
#pragma once

#include "HttpMessage.h"

#include <cstddef>
#include <string>

namespace Manager {

struct HttpLimits
{
    std::size_t maxRequestLine = 8 * 1024;
    std::size_t maxHeaderBytes = 16 * 1024;  // all header lines together
    std::size_t maxHeaderCount = 100;
    std::size_t maxBody = 64 * 1024;
};

class HttpRequestParser
{
public:
    enum class State
    {
        Incomplete,
        Complete,
        Failed,
    };

    explicit HttpRequestParser(const HttpLimits& limits) : limits_(limits) {}

    // Takes the next bytes of the connection. Bytes after a complete
    // request are ignored (every response closes the connection).
    State feed(const char* data, std::size_t size);
    State state() const { return state_; }
    // The request, once Complete (peerAddress is left to the caller).
    HttpRequest& request() { return request_; }
    // Once Failed: the status to answer with (400, 411, 413, 414, 431, 505)
    // and why.
    int errorStatus() const { return errorStatus_; }
    const std::string& errorReason() const { return errorReason_; }

private:
    enum class Phase
    {
        RequestLine,
        Headers,
        Body,
    };

    std::size_t feedLine(const char* data, std::size_t size);
    void takeLine(std::string line);
    void takeRequestLine(const std::string& line);
    void takeHeaderLine(const std::string& line);
    void headersEnded();
    State fail(int status, const std::string& reason);

    HttpLimits limits_;
    State state_ = State::Incomplete;
    Phase phase_ = Phase::RequestLine;
    std::string line_;
    std::size_t headerBytes_ = 0;
    std::size_t headerCount_ = 0;
    int emptyLinesBefore_ = 0;
    std::size_t bodyLength_ = 0;
    bool sawContentLength_ = false;
    HttpRequest request_;
    int errorStatus_ = 0;
    std::string errorReason_;
};

} // namespace Manager
