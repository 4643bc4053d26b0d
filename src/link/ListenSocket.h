// The listener: a TCP socket on every local address (IPv6 and, through mapped addresses,
// IPv4) that announces each incoming connection as a connection request carrying its request
// id (the accepted descriptor), for the window's handler to take into a slot or refuse. The
// peer's address is taken from the accept itself, so it is known even for a peer that reset
// the connection before it was taken.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <map>

class QSocketNotifier;

namespace vostrel {

class ListenSocket : public QObject {
    Q_OBJECT
  public:
    explicit ListenSocket(QObject* parent = nullptr) : QObject(parent) {}
    ~ListenSocket() override;

    void SetLocalPort(std::int32_t port) { localPort_ = port; }
    // The port that was set, or the bound one once listening (port 0 binds a free one).
    std::int32_t LocalPort() const;
    // Listens on the local port; throws AppError with the system's reason when it can't.
    void Listen();
    bool isListening() const { return fd_ >= 0; }

    // The peer address of a pending request, as text (an IPv4 peer in dotted form); the
    // request is then no longer pending here.
    QString TakeRequestAddress(std::int32_t requestId);
    // The same, the request staying pending.
    QString RequestAddress(std::int32_t requestId) const;
    // Disposes of a request that is not taken into a slot: the connection is closed at once.
    void Refuse(std::int32_t requestId);
    // Stops announcing requests (for good).
    void Silence();

  signals:
    void ConnectionRequest(std::int32_t requestId);

  private slots:
    void OnAcceptable();

  private:
    std::int32_t localPort_ = 0;
    std::int32_t boundPort_ = 0;
    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    bool silenced_ = false;
    std::map<std::int32_t, QString> pending_;
};

// The text form of a socket address: an IPv4 or IPv4-mapped peer in dotted form, else IPv6.
QString AddressText(const void* sockaddrStorage);

}  // namespace vostrel
