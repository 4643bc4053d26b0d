// A connection request that the busy slot would refuse, waiting outside the slot for a short
// while to show its first report: it reads at most kWaitingBytes and waits at most the wait
// limit, then says it is decided: its first report was read whole (or can no longer be), the
// peer left, or the time is up. It takes nothing into the slot and closes nothing itself; what
// it read goes with the connection should the connection be taken.
#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <string>

#include "core/Ports.h"

class QSocketNotifier;

namespace vostrel {

// What a waiting request reads at most: a little more than the longest report.
inline constexpr std::size_t kWaitingBytes = 256;
// How long a request waits at most, and how many wait at once.
inline constexpr std::chrono::milliseconds kWaitLimit{2000};
inline constexpr std::size_t kWaitingRequests = 4;

class WaitingRequest : public QObject {
    Q_OBJECT
  public:
    WaitingRequest(std::int32_t requestId, std::string address, const ReportFramingPort& framing,
                   std::chrono::milliseconds limit, QObject* parent = nullptr);
    ~WaitingRequest() override;

    std::int32_t RequestId() const { return requestId_; }
    const std::string& Address() const { return address_; }
    // What the peer sent while it waited.
    const std::string& Received() const { return received_; }
    ReportFramingPort::FirstReport First() const { return framing_.ReadFirstReport(received_); }
    bool IsDecided() const { return decided_; }
    // Stops watching the connection (before it is taken or refused, or for good).
    void Stop();

  signals:
    void Decided(WaitingRequest* request);

  private slots:
    void OnReadable();

  private:
    void Decide();

    std::int32_t requestId_;
    std::string address_;
    const ReportFramingPort& framing_;
    std::string received_;
    QSocketNotifier* notifier_ = nullptr;
    QTimer limit_;
    bool decided_ = false;
};

}  // namespace vostrel
