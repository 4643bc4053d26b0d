#include "sim/Connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "sim/SimError.h"

namespace vostrel::sim {

namespace {

constexpr double kCloseGraceSeconds = 2.0;

int Milliseconds(double seconds) {
    return static_cast<int>(std::clamp(std::ceil(seconds * 1000.0), 0.0, 2'000'000'000.0));
}

// poll() for `events` until they come or the time is up; EINTR does not shorten the wait.
// Returns the revents, 0 on timeout, -1 with errno on failure.
int WaitFor(int fd, short events, double seconds) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(Milliseconds(seconds));
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, static_cast<int>(std::max<long long>(0, left.count())));
        if (n > 0) return p.revents;
        if (n == 0) return 0;
        if (errno != EINTR) return -1;
    }
}

std::string Reason(int error) {
    return std::strerror(error);
}

// Connects one address; returns the socket or -1 with the error in `error`.
int ConnectOne(const addrinfo& address, double timeoutSeconds, const std::string& source,
               int& error) {
    const int fd =
        ::socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC, address.ai_protocol);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    if (!source.empty()) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        if (address.ai_family != AF_INET ||
            ::inet_pton(AF_INET, source.c_str(), &local.sin_addr) != 1 ||
            ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
            error = address.ai_family != AF_INET ? EAFNOSUPPORT : errno == 0 ? EINVAL : errno;
            ::close(fd);
            return -1;
        }
    }
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int rc = ::connect(fd, address.ai_addr, address.ai_addrlen);
    if (rc < 0 && errno == EINPROGRESS) {
        const int ready = WaitFor(fd, POLLOUT, timeoutSeconds);
        if (ready <= 0) {
            error = ready == 0 ? ETIMEDOUT : errno;
            ::close(fd);
            return -1;
        }
        socklen_t length = sizeof error;
        error = 0;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
        rc = error == 0 ? 0 : -1;
    } else if (rc < 0) {
        error = errno;
    }
    if (rc < 0) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);  // blocking from here on
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);  // one report, one segment
    const double whole = std::floor(timeoutSeconds);
    const timeval sendTimeout{static_cast<time_t>(whole),
                              static_cast<suseconds_t>((timeoutSeconds - whole) * 1e6)};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof sendTimeout);
    return fd;
}

}  // namespace

TrackerConnection::TrackerConnection(std::string host, std::uint16_t port, double timeoutSeconds)
    : host_(std::move(host)), port_(port), timeoutSeconds_(timeoutSeconds) {}

TrackerConnection::~TrackerConnection() {
    Discard();
}

void TrackerConnection::Discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void TrackerConnection::Open() {
    Discard();
    const std::string where = host_ + " port " + std::to_string(port_);
    addrinfo hints{};  // any address family: IPv4 and IPv6
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* addresses = nullptr;
    const int gai = ::getaddrinfo(host_.c_str(), std::to_string(port_).c_str(), &hints, &addresses);
    if (gai != 0) {
        const std::string reason = gai == EAI_SYSTEM ? Reason(errno) : ::gai_strerror(gai);
        throw SimError("cannot connect to " + where + ": cannot resolve \"" + host_ +
                       "\": " + reason);
    }
    int error = 0;
    for (const addrinfo* a = addresses; a != nullptr && fd_ < 0; a = a->ai_next) {
        fd_ = ConnectOne(*a, timeoutSeconds_, source_, error);
    }
    ::freeaddrinfo(addresses);
    if (fd_ < 0) throw SimError("cannot connect to " + where + ": " + Reason(error));
}

int TrackerConnection::Abandon() {
    return std::exchange(fd_, -1);
}

std::optional<std::string> TrackerConnection::ServerGone() {
    if (fd_ < 0) return "the connection is not open";
    for (;;) {
        char buffer[512];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) continue;  // the server talks; nothing it says matters here
        if (n == 0) return "the server closed the connection";
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return std::nullopt;
        if (errno == ECONNRESET) return "the server reset the connection";
        return "the connection failed (" + Reason(errno) + ")";
    }
}

void TrackerConnection::Send(std::string_view bytes) {
    if (fd_ < 0) throw SimError("the connection is not open");
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            if (error == EAGAIN || error == EWOULDBLOCK) {
                char seconds[32];
                std::snprintf(seconds, sizeof seconds, "%g", timeoutSeconds_);
                throw SimError(std::string("the server took no data for ") + seconds + " s");
            }
            if (error == EPIPE || error == ECONNRESET) {
                throw SimError(Reason(error) + " (the server closed the connection)");
            }
            throw SimError(Reason(error));
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

std::optional<std::string> TrackerConnection::Close() {
    if (fd_ < 0) return std::nullopt;
    std::optional<std::string> problem;
    if (::shutdown(fd_, SHUT_WR) < 0) {
        if (errno != ENOTCONN) problem = "closing the connection failed (" + Reason(errno) + ")";
    } else {
        // Wait for the server's end of the connection, dropping whatever it sends, so a reset
        // (data thrown away unread) is noticed and the next connection does not race this one.
        using Clock = std::chrono::steady_clock;
        const auto deadline =
            Clock::now() + std::chrono::milliseconds(Milliseconds(kCloseGraceSeconds));
        for (;;) {
            const double left = std::chrono::duration<double>(deadline - Clock::now()).count();
            if (left <= 0 || WaitFor(fd_, POLLIN, left) <= 0) break;
            char buffer[512];
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n == 0) break;
            if (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
                problem = errno == ECONNRESET
                              ? std::string("the server reset the connection")
                              : "the connection failed while closing (" + Reason(errno) + ")";
                break;
            }
        }
    }
    Discard();
    return problem;
}

}  // namespace vostrel::sim
