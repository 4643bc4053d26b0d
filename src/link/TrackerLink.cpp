#include "link/TrackerLink.h"

#include <QCoreApplication>
#include <QWidget>

#include "report/Errors.h"

namespace vostrel {

namespace {

void CheckSlot(std::int16_t index) {
    if (index < 0 || index > 1) {
        throw AppError(error_number::kSlotOutOfRange, "Subscript out of range");
    }
}

}  // namespace

TrackerLink::TrackerLink(ActivityLogPort& log, ErrorNoticePort& notice, EndProgram endProgram,
                         QObject* parent)
    : QObject(parent),
      log_(log),
      notice_(notice),
      endProgram_(std::move(endProgram)),
      elementFactory_([](std::int16_t index) { return std::make_unique<AcceptSocket>(index); }) {
    sckListen.SetLocalPort(kTrackingPort);
    CreateElement(0);
}

void TrackerLink::CreateElement(std::int16_t index) {
    auto element = elementFactory_(index);
    if (!element) throw AppError(error_number::kSocket, "Control array element not created");
    connect(element.get(), &AcceptSocket::DataArrival, this, &TrackerLink::sckAcceptDataArrival);
    connect(element.get(), &AcceptSocket::CloseEvent, this, &TrackerLink::sckAcceptClose);
    sckAccept.push_back(std::move(element));
}

void TrackerLink::StartTracking(QWidget& command1) {
    command1.setEnabled(false);
    try {
        sckListen.SetLocalPort(kTrackingPort);
        sckListen.Listen();
        if (InitAcceptSockets() == 0) {
            notice_.Show("Unable to initialise TCP/UDP sockets.");
            endProgram_(1);
            return;
        }
        log_.Append("Listening on TCP port " + std::to_string(sckListen.LocalPort()) + "\r\n");
    } catch (...) {
        notice_.Show("Error in application.");
        endProgram_(1);
    }
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
    const std::int16_t index = GetFreeSocket();
    if (index == 0) {
        ListenSocket::Refuse(requestId);
        return;
    }
    CheckSlot(index);
    AcceptSlotBusy[index] = kBusy;
    sckAccept.at(static_cast<std::size_t>(index))->Accept(requestId);
    QCoreApplication::processEvents();
    log_.Append("Tracker " +
                sckAccept.at(static_cast<std::size_t>(index))->RemoteHostIP().toStdString() +
                " connected.\r\n");
}

void TrackerLink::DropTracker(std::int16_t index) {
    CheckSlot(index);
    AcceptSlotBusy[index] = kFree;
    AcceptSocket& element = *sckAccept.at(static_cast<std::size_t>(index));
    log_.Append("Tracker " + element.RemoteHostIP().toStdString() + " disconnected.\r\n");
    element.Close();
}

}  // namespace vostrel
