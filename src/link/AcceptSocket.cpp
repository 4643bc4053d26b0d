#include "link/AcceptSocket.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>

#include "core/Errors.h"

namespace vostrel {

void EnableKeepAlive(int fd) {
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepAliveIdleSeconds, sizeof(int));
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepAliveIntervalSeconds, sizeof(int));
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepAliveCount, sizeof(int));
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &kUserTimeoutMs, sizeof kUserTimeoutMs);
}

AcceptSocket::AcceptSocket(std::int16_t index, QObject* parent) : QObject(parent), index_(index) {}

AcceptSocket::~AcceptSocket() {
    if (fd_ >= 0) ::close(fd_);
}

void AcceptSocket::Accept(std::int32_t requestId, const QString& remoteAddress,
                          Clock::time_point now) {
    if (fd_ >= 0) {
        throw AppError(error_number::kSocket,
                       "Wrong protocol or connection state for the "
                       "requested transaction or request");
    }
    fd_ = requestId;
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
    ::fcntl(fd_, F_SETFD, FD_CLOEXEC);
    EnableKeepAlive(fd_);
    remoteHostIP_ = remoteAddress;
    closeRaised_ = false;
    ++connection_;
    bytesRead_ = 0;
    lastGoodReport_ = now;
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    // The signal is overloaded with private arguments; connect it by name.
    connect(notifier_, SIGNAL(activated(int)), this, SLOT(OnReadable()));
}

void AcceptSocket::OnReadable() {
    if (fd_ < 0 || closeRaised_) return;
    char probe;
    const ssize_t peeked = ::recv(fd_, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (peeked > 0) {
        int pending = 0;
        ::ioctl(fd_, FIONREAD, &pending);
        emit DataArrival(index_, pending);
        return;
    }
    if (peeked < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    // End of stream, reset or keep-alive failure: the connection is over.
    RaiseClose();
}

void AcceptSocket::RaiseClose() {
    if (fd_ < 0 || closeRaised_) return;
    closeRaised_ = true;
    if (notifier_ != nullptr) notifier_->setEnabled(false);
    emit CloseEvent(index_);
}

bool AcceptSocket::HasEnded() const {
    if (fd_ < 0) return false;
    pollfd p{fd_, POLLIN | POLLRDHUP, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

std::size_t AcceptSocket::PendingBytes() const {
    int pending = 0;
    if (fd_ < 0 || ::ioctl(fd_, FIONREAD, &pending) != 0 || pending < 0) return 0;
    return static_cast<std::size_t>(pending);
}

std::string AcceptSocket::GetData(std::size_t most) {
    std::string data(std::min(PendingBytes(), most), '\0');
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::recv(fd_, data.data() + done, data.size() - done, MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    data.resize(done);
    bytesRead_ += done;
    return data;
}

std::string AcceptSocket::PeekData(std::size_t most) const {
    std::string data(std::min(PendingBytes(), most), '\0');
    if (data.empty()) return data;
    const ssize_t seen = ::recv(fd_, data.data(), data.size(), MSG_PEEK | MSG_DONTWAIT);
    data.resize(seen > 0 ? static_cast<std::size_t>(seen) : 0);
    return data;
}

void AcceptSocket::Silence() {
    if (notifier_ != nullptr) notifier_->setEnabled(false);
}

void AcceptSocket::Close() {
    if (notifier_ != nullptr) {
        // Close may run inside this notifier's own activation, which Qt allows: the notifier
        // guards its emission against its own deletion.
        notifier_->setEnabled(false);
        delete notifier_;
        notifier_ = nullptr;
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace vostrel
