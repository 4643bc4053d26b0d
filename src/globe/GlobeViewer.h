// The globe viewer component: a window with a globe that shows the tracker's position from the
// KML snapshot, reached through ViewerAutomation.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <chrono>
#include <cstdint>

#include "viewer/ComponentRegistry.h"
#include "viewer/ViewerAutomation.h"

class QWidget;

namespace vostrel {

class GlobeMap;
class GlobeWindow;

// The programmatic identifier the globe viewer is registered under.
inline constexpr const char* kGlobeViewerProgId = "VostrelDemo.GlobeViewer.1";
// How long the globe may take to load and draw its offline map before IsViewerReady gives up
// (it takes a few seconds; only data that never arrives takes longer).
inline constexpr std::chrono::seconds kMapReadyLimit{30};

// The viewer component. Creating it opens its window ("Globe Viewer") and starts loading the
// offline map; IsViewerReady turns non-zero once that map has loaded and been drawn (never
// waiting for the network; the street map, if the operator chose it, follows then).
// ShowKmlFile moves the tracker's mark to the file's position, extends the trail, keeps the
// tracker in view and shows the window again if the operator closed it. Closing the window
// only hides it.
class GlobeViewer : public QObject, public ViewerAutomation {
    Q_OBJECT
    Q_INTERFACES(vostrel::ViewerAutomation)

  public:
    // Throws ViewerError when the map theme is not installed.
    explicit GlobeViewer(QObject* parent = nullptr,
                         std::chrono::milliseconds readyLimit = kMapReadyLimit);
    ~GlobeViewer() override;

    GlobeViewer(const GlobeViewer&) = delete;
    GlobeViewer& operator=(const GlobeViewer&) = delete;

    // 0 until the offline map has loaded and been drawn completely (into an image when the
    // window is closed, minimised or covered); 1 from then on. Throws ViewerError when the
    // window or the globe no longer exists, when the map, all loaded, still lacks data for
    // good, or when it is still not ready `readyLimit` after the viewer was created.
    std::int32_t IsViewerReady() override;

    // Reads the file and shows its placemark; processes no events. Every flag value reports
    // failures by throwing ViewerError and shows no dialog. The viewer is unchanged after a
    // failure.
    void ShowKmlFile(const QString& path, std::int32_t flag) override;

    // The window and the globe in it (nullptr once destroyed).
    GlobeWindow* Window() const;
    GlobeMap* Map() const;

  private:
    GlobeWindow& LiveWindow() const;
    // 0, or ViewerError once the ready limit has passed; `what` says what is unfinished.
    std::int32_t NotReadyYet(const char* what) const;

    QPointer<GlobeWindow> window_;
    bool ready_ = false;
    QElapsedTimer created_;
    std::chrono::milliseconds readyLimit_;
};

// Registers a factory that creates a GlobeViewer under kGlobeViewerProgId.
void RegisterGlobeViewer(ComponentRegistry& registry);

}  // namespace vostrel
