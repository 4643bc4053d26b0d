#include "kit/TestKit.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QMessageBox>
#include <QTest>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <stdexcept>

#include "core/Errors.h"

namespace vostrel::test {

std::int32_t StubViewer::IsViewerReady() {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (firstPollMs_ < 0) firstPollMs_ = now;
    ++polls;
    if (failReady) throw ViewerError("viewer broken");
    return polls >= pollsUntilReady && now - firstPollMs_ >= readyAfterMs ? 1 : 0;
}

void StubViewer::ShowKmlFile(const QString& path, std::int32_t /*flag*/) {
    if (keepPaths) shown << path;
}

StubRegistry::StubRegistry() {
    registry.Register("VostrelDemo.GlobeViewer.1", [this] {
        auto viewer = std::make_unique<StubViewer>();
        if (configure) configure(*viewer);
        last = viewer.get();
        return viewer;
    });
}

NoticeWatcher::NoticeWatcher(bool dismiss) : dismiss_(dismiss) {
    connect(&timer_, &QTimer::timeout, this, &NoticeWatcher::Tick);
    timer_.start(5);
}

namespace {
std::vector<QMessageBox*> OpenNotices() {
    std::vector<QMessageBox*> boxes;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (box != nullptr && box->isVisible()) boxes.push_back(box);
    }
    return boxes;
}

sockaddr_in Ipv4(const char* host, int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, host, &address.sin_addr);
    return address;
}
}  // namespace

int NoticeWatcher::OpenNow() const {
    return static_cast<int>(OpenNotices().size());
}

void NoticeWatcher::Tick() {
    const auto boxes = OpenNotices();
    mostOpen_ = std::max(mostOpen_, static_cast<int>(boxes.size()));
    for (QMessageBox* box : boxes) {
        if (std::ranges::find(recorded_, box) != recorded_.end()) continue;
        recorded_.push_back(box);
        seen.push_back({box->windowTitle(), box->text(), box->informativeText(),
                        box->icon() == QMessageBox::Critical,
                        static_cast<int>(box->buttons().size()),
                        box->button(QMessageBox::Ok) != nullptr});
    }
    if (onTick) onTick();
    if (dismiss_) DismissAll();
}

void NoticeWatcher::DismissAll() {
    for (QMessageBox* box : OpenNotices()) {
        std::erase(recorded_, box);
        if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
            ok->click();
        } else {
            box->reject();
        }
    }
}

int ConnectClient(const char* host, int port, const char* from) {
    const bool v6 = std::strchr(host, ':') != nullptr;
    const int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int rc;
    if (v6) {
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_port = htons(static_cast<std::uint16_t>(port));
        ::inet_pton(AF_INET6, host, &address.sin6_addr);
        rc = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    } else {
        if (from != nullptr) {
            const sockaddr_in local = Ipv4(from, 0);
            ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local);
        }
        const sockaddr_in address = Ipv4(host, port);
        rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
    if (rc != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void SendAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            throw std::runtime_error(std::string("send failed: ") + std::strerror(errno));
        }
        done += static_cast<std::size_t>(n);
    }
}

bool PeerClosed(int fd, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 0) > 0) {
            char byte;
            const ssize_t n = ::recv(fd, &byte, 1, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN)) return true;
        }
        if (deadline.hasExpired()) return false;
        QTest::qWait(1);
    }
}

void ResetAndClose(int fd) {
    const linger reset{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    ::close(fd);
}

int OpenDescriptorCount() {
    return static_cast<int>(
        std::ranges::distance(std::filesystem::directory_iterator("/proc/self/fd")));
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
    return QTest::qWaitFor(done, timeoutMs);
}

}  // namespace vostrel::test
