// One accept socket: takes a pending connection by its request id, announces data arrival
// (level-triggered, so data that comes in while a handler waits is announced again, nested)
// and the end of the connection (orderly close, reset or keep-alive failure) exactly once per
// connection, reads what is pending, and closes. It can take a new connection after it is
// closed.
#pragma once

#include <QObject>
#include <QString>
#include <chrono>
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

    bool HasConnection() const { return fd_ >= 0; }
    int Descriptor() const { return fd_; }

    using Clock = std::chrono::steady_clock;

    // Takes the pending connection named by `requestId`, whose peer has `remoteAddress`, at
    // time `now`; throws AppError when this socket already holds one.
    void Accept(std::int32_t requestId, const QString& remoteAddress, Clock::time_point now);
    // What is pending on the connection, one byte per character, at most `most` bytes.
    std::string GetData(std::size_t most);
    // The same, left pending.
    std::string PeekData(std::size_t most) const;
    // A number that names the current connection: it changes with every Accept.
    std::uint64_t Connection() const { return connection_; }
    // When the current connection was accepted or last delivered a good report.
    Clock::time_point LastGoodReport() const { return lastGoodReport_; }
    void NoteGoodReport(Clock::time_point now) { lastGoodReport_ = now; }
    // Whether the peer has closed or reset the connection (data may still be pending).
    bool HasEnded() const;
    // The bytes waiting to be read, and those read so far on the current connection.
    std::size_t PendingBytes() const;
    std::uint64_t BytesRead() const { return bytesRead_; }
    // Ends the connection from this side: raises its close event (once per connection).
    void RaiseClose();
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
    std::uint64_t connection_ = 0;
    std::uint64_t bytesRead_ = 0;
    Clock::time_point lastGoodReport_{};
};

// Turns on TCP keep-alive with the timings above on a connected socket.
void EnableKeepAlive(int fd);

}  // namespace vostrel
