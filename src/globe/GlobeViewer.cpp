#include "globe/GlobeViewer.h"

#include <QFileInfo>
#include <QWindow>
#include <memory>

#include "globe/GlobeMap.h"
#include "globe/GlobeWindow.h"
#include "globe/KmlReader.h"
#include "globe/TrackTail.h"
#include "output/PositionPaths.h"

namespace vostrel {

namespace {

// Where the tracker went before this run: the newest positions of the track log, ending at the
// snapshot's position (its modification time the time of that fix). Either file may be
// missing or unreadable; what cannot be read is left out.
void ShowHistory(GlobeWindow& window) {
    const PositionPaths files = PositionPaths::InHome();
    const QString trackLog = QFile::decodeName(files.trackLog.c_str());
    const QString snapshot = QFile::decodeName(files.snapshot.c_str());
    std::vector<TrackPoint> trail = ReadTrackTail(files.trackLog, kMaxTrailPoints);
    QString name = QStringLiteral("Your Tracker");
    QDateTime time = QFileInfo(trackLog).lastModified();
    try {
        const KmlPosition last = ReadKmlPlacemark(snapshot);
        if (!last.name.isEmpty()) name = last.name;
        time = QFileInfo(snapshot).lastModified();
        trail.push_back({last.longitude, last.latitude});
    } catch (const ViewerError&) {
        // No snapshot: the track log's last position is the last known one.
    }
    window.ShowHistory(trail, name, time);
}

}  // namespace

GlobeViewer::GlobeViewer(QObject* parent, std::chrono::milliseconds readyLimit)
    : QObject(parent), readyLimit_(readyLimit) {
    created_.start();
    auto window = std::make_unique<GlobeWindow>();
    window->show();
    ShowHistory(*window);  // laid out now, so street scale fits the window
    window_ = window.release();
}

GlobeViewer::~GlobeViewer() {
    delete window_.data();
}

GlobeWindow& GlobeViewer::LiveWindow() const {
    if (window_ == nullptr) throw ViewerError("The globe viewer's window no longer exists");
    if (window_->Map() == nullptr) throw ViewerError("The globe viewer's map no longer exists");
    return *window_;
}

std::int32_t GlobeViewer::NotReadyYet(const char* what) const {
    if (created_.hasExpired(readyLimit_.count())) {
        const QString seconds = QString::number(readyLimit_.count() / 1000.0, 'g', 3);
        throw ViewerError("The globe's map did not finish " + std::string(what) + " within " +
                          seconds.toStdString() + " s");
    }
    return 0;
}

std::int32_t GlobeViewer::IsViewerReady() {
    GlobeWindow& window = LiveWindow();
    if (ready_) return 1;
    GlobeMap* map = window.Map();
    if (map->Loading()) return NotReadyYet("loading");
    if (map->LoadedDrawingStatus() == Marble::WaitingForData) {
        const QWindow* handle = window.windowHandle();
        const bool onScreen =
            window.isVisible() && !window.isMinimized() && handle != nullptr && handle->isExposed();
        if (onScreen) {
            map->update();  // draw again now that everything is loaded
            return NotReadyYet("drawing");
        }
        // Closed, minimised or covered: no drawing will come, so draw it here.
        map->DrawOffscreen();
    }
    switch (map->LoadedDrawingStatus()) {
        case Marble::Complete:
        case Marble::WaitingForUpdate:  // drawn from complete data
            ready_ = true;
            // Ready on offline data; the towns' names and the street map's tiles fill in when
            // they arrive.
            map->LoadTownNames();
            window.ApplyStreetMapChoice();
            return 1;
        case Marble::Incomplete:
            // Missing for good: waiting longer would never end.
            throw ViewerError("The globe cannot draw its map; missing: " +
                              map->UnfinishedParts().toStdString());
        case Marble::WaitingForData:
            break;
    }
    return NotReadyYet("drawing");
}

void GlobeViewer::ShowKmlFile(const QString& path, std::int32_t flag) {
    static_cast<void>(flag);  // every flag: failures are thrown, never shown in a dialog
    GlobeWindow& window = LiveWindow();
    const KmlPosition position = ReadKmlPlacemark(path);
    window.ShowPosition(position.longitude, position.latitude, position.name);
    if (!window.isVisible()) window.show();
}

GlobeWindow* GlobeViewer::Window() const {
    return window_.data();
}

GlobeMap* GlobeViewer::Map() const {
    return window_ != nullptr ? window_->Map() : nullptr;
}

void RegisterGlobeViewer(ComponentRegistry& registry) {
    registry.Register(kGlobeViewerProgId, [] { return std::make_unique<GlobeViewer>(); });
}

}  // namespace vostrel
