// The tracking server's TCP side: the listener on port 5000 and the single tracker slot.
#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Ports.h"
#include "link/AcceptSocket.h"
#include "link/ListenSocket.h"
#include "link/SlotFairness.h"

namespace vostrel {

// A holder of the slot that has delivered no good report for this long (or none since it was
// accepted this long ago) yields the slot to the next connection request.
inline constexpr std::chrono::minutes kIdleHolderLimit{2};
// How long a report cut by a read waits for its rest.
inline constexpr std::chrono::seconds kHoldUnfinished{1};
inline constexpr std::int16_t kBusy = -1;
inline constexpr std::int16_t kFree = 0;

class TrackerLink : public QObject {
    Q_OBJECT
  public:
    using EndProgram = std::function<void(int exitCode)>;
    using ElementFactory = std::function<std::unique_ptr<AcceptSocket>(std::int16_t index)>;

    // `framing`: where one report ends, which reads of pending data keep whole. `port`: where
    // StartTracking listens (the program always uses kTrackingPort; 0 takes a free one).
    // `clock`: its Now judges idle holders.
    TrackerLink(ActivityLogPort& log, ErrorNoticePort& notice, ClockPort& clock,
                const ReportFramingPort& framing, EndProgram endProgram,
                std::int32_t port = kTrackingPort, QObject* parent = nullptr);

    // After the start button was disabled: listens on the port, prepares slot 1 and logs the
    // listening line. A failure shows its notice and ends the program.
    void StartTracking();
    // -1 when element 1 of the accept sockets was created, 0 when not.
    std::int16_t InitAcceptSockets();
    // 1 when slot 1 is free, 0 when no slot is free.
    std::int16_t GetFreeSocket() const;
    // Connection request: takes it into the free slot, or refuses it when there is none. A
    // holder whose connection has already ended, or that has been idle for kIdleHolderLimit,
    // gives the slot up to the request: what was pending on its connection when the request
    // came is handed over first, in the usual bounded reads with the event loop running
    // between them; then its end is handled as usual and the request is taken (or refused,
    // should that data have held a good report). One request waits so at a time. A request
    // from an address that churns, or whose idle connection was just let go, does not take
    // the slot ahead of other addresses (SlotFairness).
    void AcceptTracker(std::int32_t requestId);
    // The connection `connection` in slot `index` delivered a report that passed the checks.
    void GoodReportFrom(std::int16_t index, std::uint64_t connection);
    // Close of the connection in slot `index`: frees the slot, logs, closes the element; then
    // hands over what it sent last if that was still held back for its rest.
    void DropTracker(std::int16_t index);

    // Announces no further connection request, data arrival or close (before a fatal report).
    void Silence();

    // For tests: how the accept socket elements are made, and the yield after an accept
    // (pending events run once).
    void SetElementFactory(ElementFactory factory) { elementFactory_ = std::move(factory); }
    void SetYield(std::function<void()> yield) { yield_ = std::move(yield); }

    ListenSocket sckListen;
    std::vector<std::unique_ptr<AcceptSocket>> sckAccept;
    std::int16_t AcceptSlotBusy[2] = {kFree, kFree};

  signals:
    // A data arrival on slot `index`: what was read from its connection `connection`. A
    // report still on its way at the end of a read (framing's unfinished tail) is held back
    // and joins the next read, for at most kHoldUnfinished; then it goes on as it is.
    void ReportArrived(std::int16_t index, const std::string& report, std::uint64_t connection);
    // The close of slot `index`'s connection.
    void sckAcceptClose(std::int16_t index);

  private:
    void CreateElement(std::int16_t index);
    void ReadArrival(std::int16_t index);
    void FailToStart(const std::string& reason);
    void Take(std::int32_t requestId);
    bool HolderMayYield() const;
    void ContinueTakeover();
    void HandOverHeld();

    // A request waiting for the holder of slot 1 to hand over what was pending and go.
    struct Takeover {
        std::int32_t requestId;
        std::uint64_t connection;     // the holder's
        std::uint64_t handOverUntil;  // its bytes read once what was pending is handed over
        bool ended;
        std::string address;  // the request's
    };

    ActivityLogPort& log_;
    ErrorNoticePort& notice_;
    EndProgram endProgram_;
    std::int32_t port_;
    ElementFactory elementFactory_;
    std::function<void()> yield_;
    ClockPort& clock_;
    const ReportFramingPort& framing_;
    std::optional<Takeover> takeover_;
    SlotFairness fairness_;
    // The report on its way on slot 1's connection `heldConnection_`.
    std::string held_;
    std::uint64_t heldConnection_ = 0;
    QTimer heldTimer_;
};

}  // namespace vostrel
