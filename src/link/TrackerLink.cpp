#include "link/TrackerLink.h"

#include <QCoreApplication>
#include <exception>

#include "core/Errors.h"

namespace vostrel {

namespace {

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
      framing_(framing) {
    heldTimer_.setSingleShot(true);
    connect(&heldTimer_, &QTimer::timeout, this, &TrackerLink::HandOverHeld);
    sckListen.SetLocalPort(port_);
    CreateElement(0);
}

void TrackerLink::CreateElement(std::int16_t index) {
    auto element = elementFactory_(index);
    if (!element) throw AppError(error_number::kSocket, "Control array element not created");
    element->SetFraming(&framing_);
    connect(element.get(), &AcceptSocket::DataArrival, this,
            [this](std::int16_t index, std::int32_t) { ReadArrival(index); });
    connect(element.get(), &AcceptSocket::CloseEvent, this, &TrackerLink::sckAcceptClose);
    sckAccept.push_back(std::move(element));
}

void TrackerLink::ReadArrival(std::int16_t index) {
    AcceptSocket& element = *sckAccept.at(static_cast<std::size_t>(index));
    const std::uint64_t connection = element.Connection();
    std::string data = element.GetData();
    // The takeover goes on from the event loop, also while this arrival's notice is open.
    if (takeover_) QTimer::singleShot(0, this, &TrackerLink::ContinueTakeover);

    const bool continues = !held_.empty() && heldConnection_ == connection;
    if (continues) data.insert(0, std::exchange(held_, {}));
    const std::size_t tail = framing_.UnfinishedTail(data);
    if (tail > 0) {
        // The wait runs from the report's first part on.
        if (!(continues && tail == data.size()) || !heldTimer_.isActive()) {
            heldTimer_.start(std::chrono::milliseconds(kHoldUnfinished));
        }
        held_ = data.substr(data.size() - tail);
        heldConnection_ = connection;
        data.resize(data.size() - tail);
    } else {
        heldTimer_.stop();
    }
    if (!data.empty()) emit ReportArrived(index, data, connection);
}

// A report held back goes on as it is when its rest did not come in time (at a close,
// DropTracker hands it over itself).
void TrackerLink::HandOverHeld() {
    heldTimer_.stop();
    if (held_.empty()) return;
    const AcceptSocket& element = *sckAccept.at(1);
    std::string held = std::exchange(held_, {});
    if (element.Connection() == heldConnection_) emit ReportArrived(1, held, heldConnection_);
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
    if (fairness_.HoldsBack(address, clock_.Now())) {
        sckListen.Refuse(requestId);
        return;
    }
    if (GetFreeSocket() != 0 || takeover_ || !HolderMayYield()) {
        Take(requestId);
        return;
    }
    const AcceptSocket& holder = *sckAccept.at(1);
    takeover_ = Takeover{requestId, holder.Connection(), holder.BytesRead() + holder.PendingBytes(),
                         holder.HasEnded(), address};
    ContinueTakeover();
}

// Takes the request into the free slot, or refuses it when there is none.
void TrackerLink::Take(std::int32_t requestId) {
    const std::int16_t index = GetFreeSocket();
    if (index == 0) {
        sckListen.Refuse(requestId);
        return;
    }
    CheckSlot(index);
    AcceptSlotBusy[index] = kBusy;
    // The address as the accept saw it: handlers that run during the yield below may close this
    // connection and accept another one into the same slot.
    const QString address = sckListen.TakeRequestAddress(requestId);
    sckAccept.at(static_cast<std::size_t>(index))->Accept(requestId, address, clock_.Now());
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
    if (stays && (takeover.ended || clock_.Now() - holder.LastGoodReport() >= kIdleHolderLimit)) {
        const std::string holderAddress = holder.RemoteHostIP().toStdString();
        if (!takeover.ended && holderAddress != takeover.address) {
            fairness_.NoteLetGo(holderAddress, clock_.Now());
        }
        holder.RaiseClose();
    }
    Take(takeover.requestId);
}

void TrackerLink::Silence() {
    heldTimer_.stop();
    sckListen.Silence();
    for (const auto& element : sckAccept) element->Silence();
}

void TrackerLink::GoodReportFrom(std::int16_t index, std::uint64_t connection) {
    AcceptSocket& element = *sckAccept.at(static_cast<std::size_t>(index));
    if (element.HasConnection() && element.Connection() == connection) {
        element.NoteGoodReport(clock_.Now());
        fairness_.NoteGoodReport(element.RemoteHostIP().toStdString(), clock_.Now());
    }
}

void TrackerLink::DropTracker(std::int16_t index) {
    CheckSlot(index);
    AcceptSocket& element = *sckAccept.at(static_cast<std::size_t>(index));
    const std::uint64_t connection = element.Connection();
    std::string held;
    if (index == 1 && heldConnection_ == connection) {
        heldTimer_.stop();
        held = std::exchange(held_, {});
    }
    AcceptSlotBusy[index] = kFree;
    log_.Append("Tracker " + element.RemoteHostIP().toStdString() + " disconnected.\r\n");
    element.Close();
    if (takeover_) ContinueTakeover();
    // What it sent last, still waiting for its rest, goes on once the slot is free again, so
    // its notice keeps no one out.
    if (!held.empty()) emit ReportArrived(index, held, connection);
}

}  // namespace vostrel
