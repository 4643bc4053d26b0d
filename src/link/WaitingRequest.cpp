#include "link/WaitingRequest.h"

#include <sys/socket.h>

#include <QSocketNotifier>
#include <cerrno>

namespace vostrel {

WaitingRequest::WaitingRequest(std::int32_t requestId, std::string address,
                               const ReportFramingPort& framing, std::chrono::milliseconds limit,
                               QObject* parent)
    : QObject(parent), requestId_(requestId), address_(std::move(address)), framing_(framing) {
    limit_.setSingleShot(true);
    connect(&limit_, &QTimer::timeout, this, &WaitingRequest::Decide);
    limit_.start(limit);
    notifier_ = new QSocketNotifier(requestId_, QSocketNotifier::Read, this);
    connect(notifier_, SIGNAL(activated(int)), this, SLOT(OnReadable()));
}

WaitingRequest::~WaitingRequest() {
    Stop();
}

void WaitingRequest::OnReadable() {
    if (decided_) return;
    char buffer[kWaitingBytes];
    const ssize_t n =
        ::recv(requestId_, buffer, kWaitingBytes - received_.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0) {
        received_.append(buffer, static_cast<std::size_t>(n));
        const bool whole = First().verdict != ReportFramingPort::FirstReport::Verdict::OnItsWay;
        if (whole || received_.size() >= kWaitingBytes) Decide();
        return;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    Decide();  // the peer left
}

void WaitingRequest::Decide() {
    if (decided_) return;
    decided_ = true;
    Stop();
    emit Decided(this);
}

void WaitingRequest::Stop() {
    limit_.stop();
    if (notifier_ != nullptr) {
        // May run inside the notifier's own activation, which Qt allows.
        notifier_->setEnabled(false);
        delete notifier_;
        notifier_ = nullptr;
    }
}

}  // namespace vostrel
