// The listener: a TCP server on every local address (IPv4 and IPv6) that announces each
// incoming connection as a connection request carrying its request id (the accepted
// descriptor), for the window's handler to take into a slot or refuse.
#pragma once

#include <QTcpServer>
#include <cstdint>

namespace vostrel {

class ListenSocket : public QTcpServer {
    Q_OBJECT
  public:
    explicit ListenSocket(QObject* parent = nullptr) : QTcpServer(parent) {}

    void SetLocalPort(std::int32_t port) { localPort_ = port; }
    // The port that was set, or the bound one once listening on port 0.
    std::int32_t LocalPort() const;
    // Listens on the local port; throws AppError with the system's reason when it can't.
    void Listen();

    // Disposes of a request that is not taken into a slot: the connection is closed at once.
    static void Refuse(std::int32_t requestId);

  signals:
    void ConnectionRequest(std::int32_t requestId);

  protected:
    void incomingConnection(qintptr socketDescriptor) override;

  private:
    std::int32_t localPort_ = 0;
};

}  // namespace vostrel
