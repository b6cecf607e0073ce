// The listeners' I/O thread, their connections and the worker pool.
//
// Each connection goes Reading -> Handling -> Writing -> Lingering. While a
// worker handles it, the I/O thread does not read from it. After the
// response the connection's sending side is shut and what the client still
// sends is read and thrown away for a short while (bounded), so that a
// client whose body was refused gets the response instead of a reset.
#include "HttpServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace Manager {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kWakeId = 0;
constexpr std::uint64_t kFirstListenerId = 1;
constexpr std::uint64_t kFirstConnectionId = 1000;
constexpr std::size_t kReadChunk = 16 * 1024;
constexpr std::size_t kMostDiscardedAfterResponse = 256 * 1024;
constexpr std::chrono::milliseconds kSweepInterval{100};

const char* ReasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 302: return "Found";
    case 303: return "See Other";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 409: return "Conflict";
    case 411: return "Length Required";
    case 413: return "Content Too Large";
    case 414: return "URI Too Long";
    case 429: return "Too Many Requests";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    case 505: return "HTTP Version Not Supported";
    default: return "Unknown";
    }
}

bool IsSafeHeaderText(const std::string& text)
{
    return text.find_first_of("\r\n") == std::string::npos && text.find('\0') == std::string::npos;
}

std::string PeerAddressText(const sockaddr_storage& peer)
{
    char text[INET6_ADDRSTRLEN] = "";
    if (peer.ss_family == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(peer).sin_addr, text, sizeof text);
    else if (peer.ss_family == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr, text, sizeof text);
    return text;
}

int BoundPort(int fd)
{
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
    if (bound.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<sockaddr_in6&>(bound).sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in&>(bound).sin_port);
}

int OpenListeningSocket(const std::string& address, int port)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (::getaddrinfo(address.c_str(), service.c_str(), &hints, &found) != 0 || !found)
        throw std::runtime_error("not a numeric address: " + address);
    const int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        ::freeaddrinfo(found);
        throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const bool bound = ::bind(fd, found->ai_addr, found->ai_addrlen) == 0 && ::listen(fd, 512) == 0;
    const int error = errno;
    ::freeaddrinfo(found);
    if (!bound) {
        ::close(fd);
        throw std::runtime_error("cannot listen on " + address + ":" + service + ": " + std::strerror(error));
    }
    return fd;
}

} // namespace

bool parseListenAddress(const std::string& text, std::string& address, int& port)
{
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size() || text.size() - colon > 6)
        return false;
    address = text.substr(0, colon);
    if (address.size() > 2 && address.front() == '[' && address.back() == ']')
        address = address.substr(1, address.size() - 2);
    const std::string portText = text.substr(colon + 1);
    if (portText.find_first_not_of("0123456789") != std::string::npos)
        return false;
    port = std::stoi(portText);
    in6_addr ignored6;
    in_addr ignored4;
    const bool numeric = ::inet_pton(AF_INET, address.c_str(), &ignored4) == 1 ||
                         ::inet_pton(AF_INET6, address.c_str(), &ignored6) == 1;
    return numeric && port >= 0 && port <= 65535;
}

std::string serializeResponse(const HttpResponse& response, bool withBody)
{
    std::string bytes = "HTTP/1.1 " + std::to_string(response.status) + " " + ReasonPhrase(response.status) + "\r\n";
    if (IsSafeHeaderText(response.contentType))
        bytes += "Content-Type: " + response.contentType + "\r\n";
    bytes += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    bytes += "Connection: close\r\n";
    for (const auto& [name, value] : response.headers) {
        // A header carrying a line end would let a value forge headers.
        if (IsSafeHeaderText(name) && IsSafeHeaderText(value) && !name.empty())
            bytes += name + ": " + value + "\r\n";
    }
    bytes += "\r\n";
    if (withBody)
        bytes += response.body;
    return bytes;
}

struct HttpServer::Impl
{
    struct Listener
    {
        int fd = -1;
        ListenerSettings settings;
        HttpHandler handler;
        std::size_t open = 0;
        std::map<std::string, std::size_t> perClient;
    };

    enum class Phase
    {
        Reading,
        Handling,
        Writing,
        Lingering,
    };

    struct Connection
    {
        Connection(int socket, std::size_t listenerIndex, const HttpLimits& limits)
            : fd(socket), listener(listenerIndex), parser(limits)
        {
        }
        int fd;
        std::size_t listener;
        std::string peer;
        HttpRequestParser parser;
        Phase phase = Phase::Reading;
        Clock::time_point deadline;
        std::string output;
        std::size_t sent = 0;
        std::size_t discarded = 0;
    };

    struct Job
    {
        std::uint64_t connection;
        std::size_t listener;
        HttpRequest request;
    };

    struct Done
    {
        std::uint64_t connection;
        std::string bytes;
    };

    Impl(std::size_t workers, std::size_t maxQueued, std::atomic<std::size_t>& openCount)
        : workerCount(workers == 0 ? 1 : workers), maxQueuedRequests(maxQueued), openConnections(openCount)
    {
        epollFd = ::epoll_create1(EPOLL_CLOEXEC);
        wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (epollFd < 0 || wakeFd < 0)
            throw std::runtime_error("cannot create the I/O thread's descriptors");
        Watch(wakeFd, kWakeId, EPOLLIN, EPOLL_CTL_ADD);
    }

    ~Impl()
    {
        for (Listener& listener : listeners)
            ::close(listener.fd);
        ::close(wakeFd);
        ::close(epollFd);
    }

    void Watch(int fd, std::uint64_t id, std::uint32_t events, int operation)
    {
        epoll_event event{};
        event.events = events;
        event.data.u64 = id;
        ::epoll_ctl(epollFd, operation, fd, &event);
    }

    void Wake()
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(wakeFd, &one, sizeof one);
    }

    // ----- the I/O thread -----

    void Run()
    {
        Clock::time_point lastSweep = Clock::now();
        std::vector<epoll_event> events(256);
        while (!stopping) {
            const int count = ::epoll_wait(epollFd, events.data(), static_cast<int>(events.size()),
                                           static_cast<int>(kSweepInterval.count()));
            for (int i = 0; i < count; ++i)
                Dispatch(events[static_cast<std::size_t>(i)]);
            const Clock::time_point now = Clock::now();
            if (now - lastSweep >= kSweepInterval) {
                CloseExpired(now);
                lastSweep = now;
            }
        }
        while (!connections.empty())
            Close(connections.begin()->first);
    }

    void Dispatch(const epoll_event& event)
    {
        const std::uint64_t id = event.data.u64;
        if (id == kWakeId) {
            std::uint64_t ignored;
            while (::read(wakeFd, &ignored, sizeof ignored) > 0) {
            }
            TakeFinishedResponses();
        } else if (id < kFirstConnectionId) {
            Accept(static_cast<std::size_t>(id - kFirstListenerId));
        } else {
            Serve(id, event.events);
        }
    }

    void Accept(std::size_t index)
    {
        Listener& listener = listeners[index];
        for (;;) {
            sockaddr_storage peer{};
            socklen_t length = sizeof peer;
            const int fd = ::accept4(listener.fd, reinterpret_cast<sockaddr*>(&peer), &length,
                                     SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0)
                return;  // EAGAIN, or out of descriptors: the next wake-up tries again
            const std::string address = PeerAddressText(peer);
            if (listener.open >= listener.settings.maxConnections ||
                listener.perClient[address] >= listener.settings.maxConnectionsPerClient) {
                RefuseAtOnce(fd, listener.open >= listener.settings.maxConnections ? "too many connections\n"
                                                                                   : "too many connections from your address\n");
                if (listener.perClient[address] == 0)
                    listener.perClient.erase(address);
                continue;
            }
            ++listener.open;
            ++listener.perClient[address];
            ++openConnections;
            const std::uint64_t id = nextConnectionId++;
            auto connection = std::make_unique<Connection>(fd, index, listener.settings.limits);
            connection->peer = address;
            connection->deadline = Clock::now() + listener.settings.requestDeadline;
            connections.emplace(id, std::move(connection));
            Watch(fd, id, EPOLLIN, EPOLL_CTL_ADD);
        }
    }

    // Over a cap: a short answer without reading anything, then the socket goes.
    static void RefuseAtOnce(int fd, const std::string& why)
    {
        const std::string bytes = serializeResponse(HttpResponse::text(503, "busy: " + why));
        [[maybe_unused]] const ssize_t ignored = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        ::close(fd);
    }

    void Serve(std::uint64_t id, std::uint32_t events)
    {
        const auto found = connections.find(id);
        if (found == connections.end())
            return;
        Connection& connection = *found->second;
        switch (connection.phase) {
        case Phase::Reading: ReadRequest(id, connection); break;
        case Phase::Writing:
            if (events & (EPOLLOUT | EPOLLERR | EPOLLHUP))
                WriteResponse(id, connection);
            break;
        case Phase::Lingering: Discard(id, connection); break;
        case Phase::Handling: break;
        }
    }

    void ReadRequest(std::uint64_t id, Connection& connection)
    {
        char buffer[kReadChunk];
        for (;;) {
            const ssize_t count = ::recv(connection.fd, buffer, sizeof buffer, 0);
            if (count == 0 || (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                Close(id);  // the client went before its request was whole
                return;
            }
            if (count < 0)
                return;
            const HttpRequestParser::State state = connection.parser.feed(buffer, static_cast<std::size_t>(count));
            if (state == HttpRequestParser::State::Failed) {
                Respond(id, connection,
                        serializeResponse(HttpResponse::text(connection.parser.errorStatus(),
                                                             "error: " + connection.parser.errorReason() + "\n")));
                return;
            }
            if (state == HttpRequestParser::State::Complete) {
                Handle(id, connection);
                return;
            }
        }
    }

    void Handle(std::uint64_t id, Connection& connection)
    {
        connection.phase = Phase::Handling;
        Watch(connection.fd, id, 0, EPOLL_CTL_MOD);
        HttpRequest& request = connection.parser.request();
        request.peerAddress = connection.peer;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (jobs.size() < maxQueuedRequests) {
                jobs.push_back(Job{id, connection.listener, std::move(request)});
                jobReady.notify_one();
                return;
            }
        }
        Respond(id, connection, serializeResponse(HttpResponse::text(503, "busy: too many requests waiting\n")));
    }

    void TakeFinishedResponses()
    {
        std::deque<Done> finished;
        {
            std::lock_guard<std::mutex> lock(mutex);
            finished.swap(done);
        }
        for (Done& response : finished) {
            const auto found = connections.find(response.connection);
            if (found != connections.end())
                Respond(response.connection, *found->second, std::move(response.bytes));
        }
    }

    void Respond(std::uint64_t id, Connection& connection, std::string bytes)
    {
        connection.phase = Phase::Writing;
        connection.output = std::move(bytes);
        connection.sent = 0;
        connection.deadline = Clock::now() + listeners[connection.listener].settings.responseDeadline;
        Watch(connection.fd, id, EPOLLOUT, EPOLL_CTL_MOD);
        WriteResponse(id, connection);
    }

    void WriteResponse(std::uint64_t id, Connection& connection)
    {
        while (connection.sent < connection.output.size()) {
            const ssize_t count = ::send(connection.fd, connection.output.data() + connection.sent,
                                         connection.output.size() - connection.sent, MSG_NOSIGNAL);
            if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
                return;
            if (count <= 0) {
                Close(id);
                return;
            }
            connection.sent += static_cast<std::size_t>(count);
        }
        connection.output.clear();
        connection.output.shrink_to_fit();
        ::shutdown(connection.fd, SHUT_WR);
        connection.phase = Phase::Lingering;
        Watch(connection.fd, id, EPOLLIN, EPOLL_CTL_MOD);
        Discard(id, connection);
    }

    void Discard(std::uint64_t id, Connection& connection)
    {
        char buffer[kReadChunk];
        for (;;) {
            const ssize_t count = ::recv(connection.fd, buffer, sizeof buffer, 0);
            if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
                return;
            connection.discarded += count > 0 ? static_cast<std::size_t>(count) : 0;
            if (count <= 0 || connection.discarded > kMostDiscardedAfterResponse) {
                Close(id);
                return;
            }
        }
    }

    void CloseExpired(Clock::time_point now)
    {
        std::vector<std::uint64_t> expired;
        for (const auto& [id, connection] : connections) {
            if (connection->phase != Phase::Handling && now >= connection->deadline)
                expired.push_back(id);
        }
        for (const std::uint64_t id : expired)
            Close(id);
    }

    void Close(std::uint64_t id)
    {
        const auto found = connections.find(id);
        if (found == connections.end())
            return;
        Connection& connection = *found->second;
        ::epoll_ctl(epollFd, EPOLL_CTL_DEL, connection.fd, nullptr);
        ::close(connection.fd);
        Listener& listener = listeners[connection.listener];
        --listener.open;
        if (--listener.perClient[connection.peer] == 0)
            listener.perClient.erase(connection.peer);
        --openConnections;
        connections.erase(found);
    }

    // ----- the workers -----

    void Work()
    {
        for (;;) {
            Job job;
            {
                std::unique_lock<std::mutex> lock(mutex);
                jobReady.wait(lock, [this] { return stopping || !jobs.empty(); });
                if (stopping)
                    return;
                job = std::move(jobs.front());
                jobs.pop_front();
            }
            HttpResponse response;
            try {
                response = listeners[job.listener].handler(job.request);
            } catch (const std::exception& error) {
                response = HttpResponse::text(500, std::string("error: ") + error.what() + "\n");
            }
            std::string bytes = serializeResponse(response, job.request.method != "HEAD");
            {
                std::lock_guard<std::mutex> lock(mutex);
                done.push_back(Done{job.connection, std::move(bytes)});
            }
            Wake();
        }
    }

    std::size_t workerCount;
    std::size_t maxQueuedRequests;
    std::atomic<std::size_t>& openConnections;
    int epollFd = -1;
    int wakeFd = -1;
    std::vector<Listener> listeners;
    std::unordered_map<std::uint64_t, std::unique_ptr<Connection>> connections;
    std::uint64_t nextConnectionId = kFirstConnectionId;
    std::atomic<bool> stopping{false};

    std::mutex mutex;  // guards jobs and done
    std::condition_variable jobReady;
    std::deque<Job> jobs;
    std::deque<Done> done;

    std::thread ioThread;
    std::vector<std::thread> workers;
};

HttpServer::HttpServer(std::size_t workerThreads, std::size_t maxQueuedRequests)
    : impl_(std::make_unique<Impl>(workerThreads, maxQueuedRequests, openConnections_))
{
}

HttpServer::~HttpServer()
{
    stop();
}

int HttpServer::addListener(const ListenerSettings& settings, HttpHandler handler)
{
    if (impl_->listeners.size() >= kFirstConnectionId - kFirstListenerId)
        throw std::runtime_error("too many listeners");
    Impl::Listener listener;
    listener.fd = OpenListeningSocket(settings.address, settings.port);
    listener.settings = settings;
    listener.handler = std::move(handler);
    impl_->Watch(listener.fd, kFirstListenerId + impl_->listeners.size(), EPOLLIN, EPOLL_CTL_ADD);
    impl_->listeners.push_back(std::move(listener));
    return BoundPort(impl_->listeners.back().fd);
}

void HttpServer::start()
{
    for (std::size_t i = 0; i < impl_->workerCount; ++i)
        impl_->workers.emplace_back([this] { impl_->Work(); });
    impl_->ioThread = std::thread([this] { impl_->Run(); });
}

void HttpServer::stop()
{
    if (!impl_ || impl_->stopping.exchange(true))
        return;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->jobReady.notify_all();
    }
    impl_->Wake();
    if (impl_->ioThread.joinable())
        impl_->ioThread.join();
    for (std::thread& worker : impl_->workers)
        worker.join();
}

} // namespace Manager
