// The tracking server's TCP side: the listener on port 5000 and the single tracker slot.
#pragma once

#include <QObject>
#include <QTimer>
#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Ports.h"
#include "link/AcceptSocket.h"
#include "link/ArrivalShaper.h"
#include "link/ListenSocket.h"
#include "link/SlotFairness.h"
#include "link/WaitingRequest.h"

namespace vostrel {

// A holder of the slot that has delivered no good report for this long (or none since it was
// accepted this long ago) yields the slot to the next connection request.
inline constexpr std::chrono::minutes kIdleHolderLimit{2};
inline constexpr std::int16_t kBusy = -1;
inline constexpr std::int16_t kFree = 0;

class TrackerLink : public QObject {
    Q_OBJECT
  public:
    using EndProgram = std::function<void(int exitCode)>;
    using ElementFactory = std::function<std::unique_ptr<AcceptSocket>(std::int16_t index)>;

    // `framing`: where one report ends, which reads of pending data keep whole, and the
    // tracker a connection's first report comes from. `port`: where
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
    // Connection request: takes it into the free slot. A holder whose connection has already
    // ended, or that has been idle for kIdleHolderLimit, gives the slot up to the request: what
    // was pending on its connection when the request came is handed over first, in the usual
    // bounded reads with the event loop running between them; then its end is handled as usual
    // and the request is taken (or refused, should that data have held a good report). One
    // request waits so at a time. A request the busy slot would refuse waits outside it for a
    // short while instead (WaitingRequest): when its first report is good and comes from the
    // tracker that holds the slot (the same id as the holder's last good report), the holder's
    // connection is dead, as a tracker keeps one connection: it is ended and the request is
    // taken, its report handed over after its connect line; when the slot has come free
    // meanwhile, it is taken too; else it is refused. A request from an address that churns,
    // or whose idle connection was just let go, does not take the slot ahead of other
    // addresses (SlotFairness).
    void AcceptTracker(std::int32_t requestId);
    // The connection `connection` in slot `index` delivered a report that passed the checks,
    // from the tracker `trackerId` (its field 0).
    void GoodReportFrom(std::int16_t index, std::uint64_t connection, std::string_view trackerId);
    // Close of the connection in slot `index`: what it sent last and is still held back for
    // its rest goes on (HeldReportArrived), then the slot is freed, the line logged and the
    // element closed; TrackerDropped follows.
    void DropTracker(std::int16_t index);

    // Announces no further connection request, data arrival or close (before a fatal report).
    void Silence();

    // For tests: how the accept socket elements are made, and the yield after an accept
    // (pending events run once).
    void SetElementFactory(ElementFactory factory) { elementFactory_ = std::move(factory); }
    void SetYield(std::function<void()> yield) { yield_ = std::move(yield); }
    // For tests: how long a request waits outside the busy slot at most.
    void SetWaitLimit(std::chrono::milliseconds limit) { waitLimit_ = limit; }

    // Read-only, for tests: the listener, the accept socket elements and the slot table.
    const ListenSocket& Listener() const { return sckListen; }
    std::size_t ElementCount() const { return sckAccept.size(); }
    const AcceptSocket& Element(std::int16_t index) const {
        return *sckAccept.at(static_cast<std::size_t>(index));
    }
    std::int16_t SlotBusy(std::int16_t index) const { return AcceptSlotBusy.at(index); }

  signals:
    // A data arrival on slot `index`: what was read from its connection `connection`, shaped
    // by ArrivalShaper (a report still on its way at the end of a read is held back for its
    // rest, for at most kHoldUnfinished; then it goes on as it is).
    void ReportArrived(std::int16_t index, const std::string& report, std::uint64_t connection);
    // A report held back for its rest that goes on as it is because a new report began after
    // it, or because its connection ended (then before the disconnect line): its notice waits
    // for the next ReportArrived of the slot or for TrackerDropped, so it holds up nothing.
    void HeldReportArrived(std::int16_t index, const std::string& report, std::uint64_t connection);
    // The close of slot `index`'s connection.
    void sckAcceptClose(std::int16_t index);
    // DropTracker has handled a close of slot `index`.
    void TrackerDropped(std::int16_t index);

  private:
    void CreateElement(std::int16_t index);
    void ReadArrival(std::int16_t index);
    void HandOver(std::int16_t index, std::uint64_t connection,
                  std::vector<ArrivalShaper::Arrival> arrivals);
    void HandOverQueued();
    void StartHeldTimer();
    void FailToStart(const std::string& reason);
    void Take(std::int32_t requestId, const std::string& received = {});
    void WaitOrRefuse(std::int32_t requestId, const std::string& address);
    void Decided(WaitingRequest* request);
    bool HolderMayYield() const;
    void ContinueTakeover();
    void HandOverHeld();

    // A request waiting for the holder of slot 1 to hand over what was pending and go.
    struct Takeover {
        std::int32_t requestId;
        std::uint64_t connection;     // the holder's
        std::uint64_t handOverUntil;  // its bytes read once what was pending is handed over
        bool ended;
        bool recognised;       // the request comes from the holder's own tracker
        std::string address;   // the request's
        std::string received;  // what the request sent while it waited
    };
    struct Queued {
        std::int16_t index;
        std::uint64_t connection;
        ArrivalShaper::Arrival arrival;
    };

    ListenSocket sckListen;
    std::vector<std::unique_ptr<AcceptSocket>> sckAccept;
    std::array<std::int16_t, 2> AcceptSlotBusy = {kFree, kFree};

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
    // Slot 1's connection's reads, shaped into arrivals; arrivals not yet handed over, in
    // order (a notice of one lets the next reads run nested).
    ArrivalShaper shaper_;
    std::deque<Queued> queue_;
    QTimer heldTimer_;
    // The tracker id of the last good report on slot 1's connection; empty when none.
    std::string holderId_;
    std::vector<std::unique_ptr<WaitingRequest>> waiting_;
    std::chrono::milliseconds waitLimit_ = kWaitLimit;
    bool takingOver_ = false;  // a takeover ends the holder: TrackerDropped after the take
};

}  // namespace vostrel
