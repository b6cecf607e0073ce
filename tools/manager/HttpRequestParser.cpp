// The request reader of rvx-manager's listeners: request line, header lines
// and a body of a declared length; chunked bodies are not taken.
#include "HttpRequestParser.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace Manager {

namespace {

bool IsTokenCharacter(unsigned char c)
{
    return std::isalnum(c) || std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool IsToken(const std::string& text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return IsTokenCharacter(static_cast<unsigned char>(c));
    });
}

// Visible ASCII only: no blanks, control characters or raw bytes above 127.
bool IsTarget(const std::string& text)
{
    return !text.empty() && text[0] == '/' && std::all_of(text.begin(), text.end(), [](char c) {
        return c > 0x20 && c < 0x7F;
    });
}

// Header values may hold blanks, tabs and bytes above 127, but no other
// control characters.
bool IsFieldValue(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte == '\t' || (byte >= 0x20 && byte != 0x7F);
    });
}

std::string Trimmed(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    const std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::string LowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return text;
}

} // namespace

HttpRequestParser::State HttpRequestParser::fail(int status, const std::string& reason)
{
    state_ = State::Failed;
    errorStatus_ = status;
    errorReason_ = reason;
    line_.clear();
    request_.body.clear();
    return state_;
}

HttpRequestParser::State HttpRequestParser::feed(const char* data, std::size_t size)
{
    std::size_t used = 0;
    while (used < size && state_ == State::Incomplete) {
        if (phase_ == Phase::Body) {
            const std::size_t wanted = std::min(size - used, bodyLength_ - request_.body.size());
            request_.body.append(data + used, wanted);
            used += wanted;
        } else {
            used += feedLine(data + used, size - used);
        }
        if (state_ == State::Incomplete && phase_ == Phase::Body && request_.body.size() == bodyLength_)
            state_ = State::Complete;
    }
    return state_;
}

// Gathers bytes up to a line end, within the limit of the current phase.
std::size_t HttpRequestParser::feedLine(const char* data, std::size_t size)
{
    const void* found = std::memchr(data, '\n', size);
    const std::size_t taken = found ? static_cast<std::size_t>(static_cast<const char*>(found) - data) + 1 : size;
    line_.append(data, taken);
    if (phase_ == Phase::RequestLine && line_.size() > limits_.maxRequestLine + 2) {
        fail(414, "request line too long");
        return taken;
    }
    if (phase_ == Phase::Headers && headerBytes_ + line_.size() > limits_.maxHeaderBytes) {
        fail(431, "header lines too large");
        return taken;
    }
    if (found) {
        std::string line;
        line.swap(line_);
        line.pop_back();
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        takeLine(std::move(line));
    }
    return taken;
}

void HttpRequestParser::takeLine(std::string line)
{
    if (line.find('\r') != std::string::npos || line.find('\0') != std::string::npos) {
        fail(400, "stray CR or NUL in a line");
        return;
    }
    if (phase_ == Phase::RequestLine)
        takeRequestLine(line);
    else
        takeHeaderLine(line);
}

void HttpRequestParser::takeRequestLine(const std::string& line)
{
    // A few empty lines before a request are tolerated, as clients may
    // send a line end after a previous body.
    if (line.empty()) {
        if (++emptyLinesBefore_ > 4)
            fail(400, "no request line");
        return;
    }
    const std::size_t firstSpace = line.find(' ');
    const std::size_t secondSpace = firstSpace == std::string::npos ? firstSpace : line.find(' ', firstSpace + 1);
    if (secondSpace == std::string::npos || line.find(' ', secondSpace + 1) != std::string::npos) {
        fail(400, "malformed request line");
        return;
    }
    const std::string method = line.substr(0, firstSpace);
    const std::string target = line.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    const std::string version = line.substr(secondSpace + 1);
    if (!IsToken(method) || !IsTarget(target)) {
        fail(400, "malformed method or target");
        return;
    }
    if (version != "HTTP/1.1" && version != "HTTP/1.0") {
        const bool looksLikeHttp = version.size() == 8 && version.compare(0, 5, "HTTP/") == 0;
        fail(looksLikeHttp ? 505 : 400, "unsupported protocol version");
        return;
    }
    request_.method = method;
    const std::size_t question = target.find('?');
    request_.path = target.substr(0, question);
    request_.query = question == std::string::npos ? std::string() : target.substr(question + 1);
    phase_ = Phase::Headers;
}

void HttpRequestParser::takeHeaderLine(const std::string& line)
{
    if (line.empty()) {
        headersEnded();
        return;
    }
    headerBytes_ += line.size() + 2;
    if (++headerCount_ > limits_.maxHeaderCount) {
        fail(431, "too many header lines");
        return;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos || !IsToken(line.substr(0, colon))) {
        fail(400, "malformed header line");  // also folded continuation lines
        return;
    }
    const std::string name = LowerCase(line.substr(0, colon));
    const std::string value = Trimmed(line.substr(colon + 1));
    if (!IsFieldValue(value)) {
        fail(400, "control character in a header value");
        return;
    }
    if (name == "content-length") {
        const bool digits = !value.empty() && value.size() <= 18 &&
                            std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (!digits || (sawContentLength_ && std::stoull(value) != bodyLength_)) {
            fail(400, "malformed Content-Length");
            return;
        }
        sawContentLength_ = true;
        bodyLength_ = static_cast<std::size_t>(std::stoull(value));
    }
    request_.headers[name] = value;
}

void HttpRequestParser::headersEnded()
{
    if (request_.headers.count("transfer-encoding")) {
        fail(411, "chunked or encoded request bodies are not taken; send Content-Length");
        return;
    }
    const bool needsBody = request_.method == "POST" || request_.method == "PUT" || request_.method == "PATCH";
    if (needsBody && !sawContentLength_) {
        fail(411, "Content-Length required");
        return;
    }
    if (bodyLength_ > limits_.maxBody) {
        fail(413, "request body too large");
        return;
    }
    phase_ = Phase::Body;
    if (bodyLength_ == 0)
        state_ = State::Complete;
    else
        request_.body.reserve(bodyLength_);
}

} // namespace Manager
