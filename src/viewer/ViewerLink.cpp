#include "viewer/ViewerLink.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include "viewer/Untangle.h"

namespace vostrel {

namespace {
constexpr int kReadyPollMs = 50;
}

void ViewerLink::Connect(const ComponentRegistry& registry, std::string_view storedId) {
    const std::string progId = Untangle(storedId);
    component_ = registry.Create(progId);
    viewer_ = QueryViewerAutomation(component_.get());
    if (viewer_ == nullptr) {
        throw AppError(error_number::kComponent, "No such interface supported");
    }
    // Between polls, wait for the next event instead of spinning; a slow tick bounds the wait
    // for a viewer that gets ready without sending any event.
    QTimer tick;
    tick.start(kReadyPollMs);
    while (viewer_->IsViewerReady() == 0) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

void ViewerLink::ShowKmlFile(const std::string& path, std::int32_t flag) {
    if (viewer_ == nullptr) throw ViewerError("The globe viewer is not connected");
    try {
        viewer_->ShowKmlFile(QString::fromStdString(path), flag);
    } catch (const ViewerError&) {
        throw;
    } catch (const std::exception& error) {
        throw ViewerError(error.what());
    }
}

}  // namespace vostrel
