#include "link/ListenSocket.h"

#include <unistd.h>

#include "report/Errors.h"

namespace vostrel {

std::int32_t ListenSocket::LocalPort() const {
    return isListening() ? static_cast<std::int32_t>(serverPort()) : localPort_;
}

void ListenSocket::Listen() {
    if (localPort_ < 0 || localPort_ > 65535) {
        throw AppError(error_number::kSocket, "Invalid port " + std::to_string(localPort_));
    }
    if (!listen(QHostAddress::Any, static_cast<quint16>(localPort_))) {
        throw AppError(error_number::kSocket, errorString().toStdString());
    }
}

void ListenSocket::Refuse(std::int32_t requestId) {
    ::close(requestId);
}

void ListenSocket::incomingConnection(qintptr socketDescriptor) {
    emit ConnectionRequest(static_cast<std::int32_t>(socketDescriptor));
}

}  // namespace vostrel
