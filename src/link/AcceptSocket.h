// One accept socket: takes a pending connection by its request id, announces data arrival
// (level-triggered, so data that comes in while a handler waits is announced again, nested)
// and the end of the connection (orderly close, reset or keep-alive failure) exactly once per
// connection, reads everything pending, and closes. It can take a new connection after it is
// closed.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <string>

class QSocketNotifier;

namespace vostrel {

// Keep-alive timings for accepted connections: a link that died without a FIN ends after
// about kKeepAliveIdle + kKeepAliveCount * kKeepAliveInterval seconds.
inline constexpr int kKeepAliveIdleSeconds = 60;
inline constexpr int kKeepAliveIntervalSeconds = 10;
inline constexpr int kKeepAliveCount = 6;
inline constexpr unsigned kUserTimeoutMs = 120000;

class AcceptSocket : public QObject {
    Q_OBJECT
  public:
    explicit AcceptSocket(std::int16_t index, QObject* parent = nullptr);
    ~AcceptSocket() override;

    std::int16_t Index() const { return index_; }
    bool HasConnection() const { return fd_ >= 0; }
    int Descriptor() const { return fd_; }

    // Takes the pending connection named by `requestId`, whose peer has `remoteAddress`;
    // throws AppError when this socket already holds one.
    void Accept(std::int32_t requestId, const QString& remoteAddress);
    // Everything pending on the connection, one byte per character.
    std::string GetData();
    // The peer's IP address as text (an IPv4 peer in dotted form); kept after Close.
    QString RemoteHostIP() const { return remoteHostIP_; }
    void Close();
    // Announces nothing more on the current connection.
    void Silence();

  signals:
    void DataArrival(std::int16_t index, std::int32_t bytesTotal);
    void CloseEvent(std::int16_t index);

  private slots:
    void OnReadable();

  private:
    std::int16_t index_;
    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    QString remoteHostIP_;
    bool closeRaised_ = false;
};

// Turns on TCP keep-alive with the timings above on a connected socket.
void EnableKeepAlive(int fd);

}  // namespace vostrel
