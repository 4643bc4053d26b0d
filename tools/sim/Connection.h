// A blocking TCP client connection to the tracking server (IPv4 or IPv6).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vostrel::sim {

class TrackerConnection {
  public:
    TrackerConnection(std::string host, std::uint16_t port, double timeoutSeconds);
    ~TrackerConnection();
    TrackerConnection(const TrackerConnection&) = delete;
    TrackerConnection& operator=(const TrackerConnection&) = delete;

    // Connects to the first address of the host that accepts, within the timeout per address.
    // Throws SimError "cannot connect to HOST port PORT: reason".
    void Open();
    bool IsOpen() const { return fd_ >= 0; }
    // The local IPv4 address the next Open connects from; empty: the system's choice.
    void SetSource(std::string address) { source_ = std::move(address); }
    // Gives the connection up without closing it, as a link that died silently: the caller
    // owns the returned descriptor (-1 when none was open).
    int Abandon();

    // Without waiting: whether the server has closed or reset the connection, and how
    // ("the server closed the connection", "the server reset the connection", ...). A reset
    // after a send usually means the server threw that data away. Anything the server sent is
    // read and dropped.
    std::optional<std::string> ServerGone();

    // Sends all bytes in one write. A server that has gone away raises SimError with the
    // system's reason; the process never dies of SIGPIPE.
    void Send(std::string_view bytes);

    // Orderly close: ends the sending side, waits up to two seconds for the server to close
    // its side, then closes. Returns what went wrong, such as "the server reset the
    // connection" (so it may have lost what was sent); nothing when all went well.
    std::optional<std::string> Close();

  private:
    void Discard();

    std::string host_;
    std::uint16_t port_;
    double timeoutSeconds_;
    std::string source_;
    int fd_ = -1;
};

}  // namespace vostrel::sim
