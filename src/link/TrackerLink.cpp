#include "link/TrackerLink.h"

#include <QCoreApplication>
#include <algorithm>
#include <exception>

#include "core/Errors.h"

namespace vostrel {

namespace {

using Clock = std::chrono::steady_clock;

void CheckSlot(std::int16_t index) {
    if (index < 0 || index > 1) {
        throw AppError(error_number::kSlotOutOfRange, "Subscript out of range");
    }
}

}  // namespace

TrackerLink::TrackerLink(ActivityLogPort& log, ErrorNoticePort& notice, ClockPort& clock,
                         const ReportFramingPort& framing, EndProgram endProgram, std::int32_t port,
                         QObject* parent)
    : QObject(parent),
      log_(log),
      notice_(notice),
      endProgram_(std::move(endProgram)),
      port_(port),
      elementFactory_([](std::int16_t index) { return std::make_unique<AcceptSocket>(index); }),
      yield_([] { QCoreApplication::processEvents(); }),
      clock_(clock),
      framing_(framing),
      shaper_(framing) {
    heldTimer_.setSingleShot(true);
    connect(&heldTimer_, &QTimer::timeout, this, &TrackerLink::HandOverHeld);
    sckListen.SetLocalPort(port_);
    CreateElement(0);
    // Connection requests and closes are the link's own to handle.
    connect(&sckListen, &ListenSocket::ConnectionRequest, this, &TrackerLink::AcceptTracker);
    connect(this, &TrackerLink::sckAcceptClose, this, &TrackerLink::DropTracker);
}

void TrackerLink::CreateElement(std::int16_t index) {
    auto element = elementFactory_(index);
    if (!element) throw AppError(error_number::kSocket, "Control array element not created");
    connect(element.get(), &AcceptSocket::DataArrival, this,
            [this](std::int16_t index, std::int32_t) { ReadArrival(index); });
    connect(element.get(), &AcceptSocket::CloseEvent, this, &TrackerLink::sckAcceptClose);
    sckAccept.push_back(std::move(element));
}

void TrackerLink::ReadArrival(std::int16_t index) {
    AcceptSocket& element = *sckAccept.at(static_cast<std::size_t>(index));
    const std::uint64_t connection = element.Connection();
    const std::size_t pending = element.PendingBytes();
    const std::string ahead = pending > kLargestRead ? element.PeekData(kLargestRead + 1) : "";
    std::string data = element.GetData(shaper_.ReadSize(ahead, pending));
    // The takeover goes on from the event loop, also while this arrival's notice is open.
    if (takeover_) QTimer::singleShot(0, this, &TrackerLink::ContinueTakeover);
    HandOver(index, connection, shaper_.Read(std::move(data), Clock::now()));
}

// Arrivals go on in the order they were read, also when a notice of one lets later reads run
// nested: whoever hands over takes the queue from its front.
void TrackerLink::HandOver(std::int16_t index, std::uint64_t connection,
                           std::vector<ArrivalShaper::Arrival> arrivals) {
    StartHeldTimer();
    for (ArrivalShaper::Arrival& arrival : arrivals) {
        queue_.push_back(Queued{index, connection, std::move(arrival)});
    }
    HandOverQueued();
}

void TrackerLink::HandOverQueued() {
    while (!queue_.empty()) {
        Queued next = std::move(queue_.front());
        queue_.pop_front();
        if (next.arrival.heldAlone) {
            emit HeldReportArrived(next.index, next.arrival.text, next.connection);
        } else {
            emit ReportArrived(next.index, next.arrival.text, next.connection);
        }
    }
}

void TrackerLink::StartHeldTimer() {
    const std::optional<ArrivalShaper::TimePoint> until = shaper_.HeldUntil();
    if (!until) {
        heldTimer_.stop();
        return;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(
        *until - ArrivalShaper::TimePoint::clock::now());
    heldTimer_.start(std::max(left, std::chrono::milliseconds(0)));
}

// A report held back goes on as it is when its rest did not come in time (at a close,
// DropTracker hands it over itself).
void TrackerLink::HandOverHeld() {
    std::string held = shaper_.TakeHeld();
    const AcceptSocket& element = *sckAccept.at(1);
    if (held.empty() || !element.HasConnection()) return;
    std::vector<ArrivalShaper::Arrival> arrivals;
    arrivals.push_back(ArrivalShaper::Arrival{std::move(held), false});
    HandOver(1, element.Connection(), std::move(arrivals));
}

void TrackerLink::StartTracking() {
    try {
        sckListen.SetLocalPort(port_);
        sckListen.Listen();
        if (InitAcceptSockets() == 0) {
            notice_.Show("Unable to initialise TCP/UDP sockets.");
            endProgram_(1);
            return;
        }
        log_.Append("Listening on TCP port " + std::to_string(sckListen.LocalPort()) + "\r\n");
    } catch (const std::exception& error) {
        FailToStart(error.what());
    } catch (...) {
        FailToStart("unknown error");
    }
}

void TrackerLink::FailToStart(const std::string& reason) {
    PrintReason("Error in application.", reason);
    notice_.Show("Error in application.", reason);
    endProgram_(1);
}

std::int16_t TrackerLink::InitAcceptSockets() {
    try {
        if (sckAccept.size() > 1) {
            throw AppError(error_number::kSocket, "Control array element already exists");
        }
        CreateElement(1);
        return -1;
    } catch (...) {
        return 0;
    }
}

std::int16_t TrackerLink::GetFreeSocket() const {
    return AcceptSlotBusy[1] == kFree ? 1 : 0;
}

void TrackerLink::AcceptTracker(std::int32_t requestId) {
    const std::string address = sckListen.RequestAddress(requestId).toStdString();
    const bool holderYields = GetFreeSocket() == 0 && !takeover_ && HolderMayYield();
    const AcceptSocket& holder = *sckAccept.at(1);
    // A request that would take the slot over from its own address's idle connection lets
    // that connection go like any other idle holder.
    const bool lettingGoOwn =
        holderYields && !holder.HasEnded() && holder.RemoteHostIP().toStdString() == address;
    if (fairness_.HoldsBack(address, clock_.Now(), lettingGoOwn)) {
        sckListen.Refuse(requestId);
        return;
    }
    if (!holderYields) {
        if (GetFreeSocket() != 0) {
            Take(requestId);
        } else {
            WaitOrRefuse(requestId, address);
        }
        return;
    }
    takeover_ = Takeover{requestId,
                         holder.Connection(),
                         holder.BytesRead() + holder.PendingBytes(),
                         holder.HasEnded(),
                         false,
                         address,
                         {}};
    ContinueTakeover();
}

// A request the busy slot refuses waits outside it, when there is room: the longest waiting
// one makes way for it.
void TrackerLink::WaitOrRefuse(std::int32_t requestId, const std::string& address) {
    if (waitLimit_ <= std::chrono::milliseconds(0)) {
        sckListen.Refuse(requestId);
        return;
    }
    if (waiting_.size() >= kWaitingRequests) {
        std::unique_ptr<WaitingRequest> oldest = std::move(waiting_.front());
        waiting_.erase(waiting_.begin());
        oldest->Stop();
        if (oldest->First().verdict != ReportFramingPort::FirstReport::Verdict::Good &&
            !oldest->Received().empty()) {
            fairness_.NoteEmpty(oldest->Address(), clock_.Now());
        }
        sckListen.Refuse(oldest->RequestId());
    }
    auto request = std::make_unique<WaitingRequest>(requestId, address, framing_, waitLimit_);
    connect(request.get(), &WaitingRequest::Decided, this, &TrackerLink::Decided,
            Qt::QueuedConnection);
    waiting_.push_back(std::move(request));
}

void TrackerLink::Decided(WaitingRequest* decided) {
    const auto found = std::find_if(waiting_.begin(), waiting_.end(),
                                    [decided](const auto& w) { return w.get() == decided; });
    // It made way for another one meanwhile (which may even live at its address).
    if (found == waiting_.end() || !(*found)->IsDecided()) return;
    const std::unique_ptr<WaitingRequest> request = std::move(*found);
    waiting_.erase(found);
    const ReportFramingPort::FirstReport first = request->First();
    const bool good = first.verdict == ReportFramingPort::FirstReport::Verdict::Good;
    const AcceptSocket& holder = *sckAccept.at(1);
    if (good && !takeover_ && GetFreeSocket() == 0 && holder.HasConnection() &&
        !holderId_.empty() && first.trackerId == holderId_) {
        takeover_ = Takeover{request->RequestId(),
                             holder.Connection(),
                             holder.BytesRead() + holder.PendingBytes(),
                             holder.HasEnded(),
                             true,
                             request->Address(),
                             request->Received()};
        ContinueTakeover();
        return;
    }
    if (GetFreeSocket() != 0 && !takeover_) {
        Take(request->RequestId(), request->Received());
        return;
    }
    // Sent nothing in its time, or no good report: what a churning peer does. A tracker sends
    // its report at once.
    if (!good) fairness_.NoteEmpty(request->Address(), clock_.Now());
    sckListen.Refuse(request->RequestId());
}

// Takes the request into the free slot, or refuses it when there is none. `received`: what
// it sent while it waited, handed over after its connect line.
void TrackerLink::Take(std::int32_t requestId, const std::string& received) {
    const std::int16_t index = GetFreeSocket();
    if (index == 0) {
        sckListen.Refuse(requestId);
        return;
    }
    CheckSlot(index);
    AcceptSlotBusy.at(static_cast<std::size_t>(index)) = kBusy;
    // The address as the accept saw it: handlers that run during the yield below may close this
    // connection and accept another one into the same slot.
    const QString address = sckListen.TakeRequestAddress(requestId);
    AcceptSocket& element = *sckAccept.at(static_cast<std::size_t>(index));
    element.Accept(requestId, address, clock_.Now());
    shaper_.Reset();
    holderId_.clear();
    if (!received.empty()) {
        // Its first report was read before: the connect line first, then the report, before
        // anything read later.
        log_.Append("Tracker " + address.toStdString() + " connected.\r\n");
        HandOver(index, element.Connection(), shaper_.Read(received, Clock::now()));
        return;
    }
    yield_();
    log_.Append("Tracker " + address.toStdString() + " connected.\r\n");
}

// Whether the holder of the busy slot would give it up: its peer has left, or it has been idle
// too long.
bool TrackerLink::HolderMayYield() const {
    const AcceptSocket& holder = *sckAccept.at(1);
    if (!holder.HasConnection()) return false;
    return holder.HasEnded() || clock_.Now() - holder.LastGoodReport() >= kIdleHolderLimit;
}

// Runs after each read of the holder (and when it is dropped): once what was pending at the
// request has been read, or the holder is gone, the holder goes and the request is taken.
void TrackerLink::ContinueTakeover() {
    if (!takeover_) return;
    AcceptSocket& holder = *sckAccept.at(1);
    const bool stays = holder.HasConnection() && holder.Connection() == takeover_->connection;
    if (stays && holder.BytesRead() < takeover_->handOverUntil && holder.PendingBytes() > 0) {
        return;  // its notifier reads the rest
    }
    const Takeover takeover = *takeover_;
    takeover_.reset();
    const bool idle = clock_.Now() - holder.LastGoodReport() >= kIdleHolderLimit;
    if (stays && (takeover.ended || takeover.recognised || idle)) {
        if (!takeover.ended && !takeover.recognised) {
            fairness_.NoteLetGo(holder.RemoteHostIP().toStdString(), clock_.Now());
        }
        // Its end is handled now; what it left to say (a held report's notice) waits until
        // the request is taken.
        takingOver_ = true;
        holder.RaiseClose();
        takingOver_ = false;
        Take(takeover.requestId, takeover.received);
        emit TrackerDropped(1);
        return;
    }
    Take(takeover.requestId, takeover.received);
}

void TrackerLink::Silence() {
    heldTimer_.stop();
    sckListen.Silence();
    for (const auto& element : sckAccept) element->Silence();
    for (const auto& request : waiting_) request->Stop();
}

void TrackerLink::GoodReportFrom(std::int16_t index, std::uint64_t connection,
                                 std::string_view trackerId) {
    AcceptSocket& element = *sckAccept.at(static_cast<std::size_t>(index));
    if (element.HasConnection() && element.Connection() == connection) {
        element.NoteGoodReport(clock_.Now());
        fairness_.NoteGoodReport(element.RemoteHostIP().toStdString(), clock_.Now());
        if (index == 1) holderId_ = trackerId;
    }
}

void TrackerLink::DropTracker(std::int16_t index) {
    CheckSlot(index);
    AcceptSocket& element = *sckAccept.at(static_cast<std::size_t>(index));
    const std::uint64_t connection = element.Connection();
    // What the connection sent before its end goes first: arrivals a notice held up, then
    // the report still waiting for its rest.
    HandOverQueued();
    if (index == 1 && element.HasConnection()) {
        heldTimer_.stop();
        const std::string held = shaper_.TakeHeld();
        if (!held.empty()) emit HeldReportArrived(index, held, connection);
        if (holderId_.empty())
            fairness_.NoteEmpty(element.RemoteHostIP().toStdString(), clock_.Now());
        holderId_.clear();
    }
    AcceptSlotBusy.at(static_cast<std::size_t>(index)) = kFree;
    log_.Append("Tracker " + element.RemoteHostIP().toStdString() + " disconnected.\r\n");
    element.Close();
    if (takeover_) ContinueTakeover();
    if (!takingOver_) emit TrackerDropped(index);
}

}  // namespace vostrel
