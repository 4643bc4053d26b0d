#include "link/ListenSocket.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QHostAddress>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <cstring>

#include "core/Errors.h"

namespace vostrel {

namespace {

constexpr int kBacklog = 50;
// When the process has no descriptor left for a new connection, the listener rests this long
// instead of being woken again and again by the request it cannot take.
constexpr int kDescriptorsOutPauseMs = 100;

[[noreturn]] void FailWithErrno(int error) {
    throw AppError(error_number::kSocket, std::strerror(error));
}

}  // namespace

QString AddressText(const void* sockaddrStorage) {
    const QHostAddress address(static_cast<const sockaddr*>(sockaddrStorage));
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    return isIPv4 ? QHostAddress(ipv4).toString() : address.toString();
}

ListenSocket::~ListenSocket() {
    for (const auto& request : pending_) ::close(request.first);
    if (fd_ >= 0) ::close(fd_);
}

std::int32_t ListenSocket::LocalPort() const {
    return isListening() ? boundPort_ : localPort_;
}

void ListenSocket::Listen() {
    if (localPort_ < 0 || localPort_ > 65535) {
        throw AppError(error_number::kSocket, "Invalid port " + std::to_string(localPort_));
    }
    if (isListening()) throw AppError(error_number::kSocket, "Already listening");
    int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_storage address{};
    socklen_t length;
    if (fd >= 0) {
        const int off = 0;
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
        auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
        v6.sin6_family = AF_INET6;
        v6.sin6_addr = in6addr_any;
        v6.sin6_port = htons(static_cast<std::uint16_t>(localPort_));
        length = sizeof v6;
    } else {
        // No IPv6 on this machine: IPv4 only.
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) FailWithErrno(errno);
        auto& v4 = reinterpret_cast<sockaddr_in&>(address);
        v4.sin_family = AF_INET;
        v4.sin_addr.s_addr = htonl(INADDR_ANY);
        v4.sin_port = htons(static_cast<std::uint16_t>(localPort_));
        length = sizeof v4;
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(fd, kBacklog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const int error = errno;
        ::close(fd);
        FailWithErrno(error);
    }
    boundPort_ =
        ntohs(address.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(address).sin6_port
                                            : reinterpret_cast<sockaddr_in&>(address).sin_port);
    fd_ = fd;
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &ListenSocket::OnAcceptable);
}

// One connection request per wake-up; the notifier wakes again while more are waiting.
void ListenSocket::OnAcceptable() {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    const int fd =
        ::accept4(fd_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            notifier_->setEnabled(false);
            QTimer::singleShot(kDescriptorsOutPauseMs, this, [this] {
                if (!silenced_) notifier_->setEnabled(true);
            });
        }
        return;  // EAGAIN, EINTR, ECONNABORTED: nothing to take now
    }
    pending_[fd] = AddressText(&peer);
    emit ConnectionRequest(fd);
}

QString ListenSocket::TakeRequestAddress(std::int32_t requestId) {
    const auto found = pending_.find(requestId);
    if (found == pending_.end()) return {};
    QString address = found->second;
    pending_.erase(found);
    return address;
}

QString ListenSocket::RequestAddress(std::int32_t requestId) const {
    const auto found = pending_.find(requestId);
    return found == pending_.end() ? QString() : found->second;
}

void ListenSocket::Refuse(std::int32_t requestId) {
    pending_.erase(requestId);
    ::close(requestId);
}

void ListenSocket::Silence() {
    silenced_ = true;
    if (notifier_ != nullptr) notifier_->setEnabled(false);
}

}  // namespace vostrel
