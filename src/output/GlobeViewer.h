// The globe viewer component: a window with a Marble globe that shows the tracker's position
// from the KML snapshot, reached through ViewerAutomation. Also the KML reader it uses.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>

#include "output/ViewerAutomation.h"

class QWidget;

namespace Marble {
class MarbleWidget;
}  // namespace Marble

namespace vostrel {

// The programmatic identifier the globe viewer is registered under.
inline constexpr const char* kGlobeViewerProgId = "VostrelDemo.GlobeViewer.1";

// The two KML 2.2 namespaces the reader accepts: the one the snapshot uses and the OGC one.
inline constexpr const char* kKmlNamespace = "http://earth.google.com/kml/2.2";
inline constexpr const char* kOgcKmlNamespace = "http://www.opengis.net/kml/2.2";

// The map the globe shows: vector data that ships with Marble, no network needed.
inline constexpr const char* kGlobeMapTheme = "earth/plain/plain.dgml";
inline constexpr const char* kGlobeWindowTitle = "Globe Viewer";

// The most positions the trail keeps; older ones are dropped first.
inline constexpr int kMaxTrailPoints = 10000;

// The first placemark with a Point in a KML file: its name (empty when it has none) and
// position in decimal degrees.
struct KmlPosition {
    QString name;
    double longitude = 0.0;
    double latitude = 0.0;
};

// Reads the KML file at `path` and returns its first Point placemark. Throws ViewerError with
// "<path>: <reason>" when the file can't be read, is not well-formed XML, is not KML 2.2 (root
// element `kml` in one of the two namespaces above), or has no Point placemark, or when that
// Point's coordinates are not "longitude,latitude[,altitude]" with finite numbers, longitude
// in [-180, 180] and latitude in [-90, 90] (values outside are refused, never wrapped).
KmlPosition ReadKmlPlacemark(const QString& path);

class GlobeWindow;

// The viewer component. Creating it opens its window ("Globe Viewer") and starts loading the
// map; IsViewerReady turns non-zero once the map has loaded and been drawn. ShowKmlFile moves
// the viewer's placemark to the file's position, extends the trail of positions shown so far,
// centres the globe there and shows the window again if the operator closed it. Closing the
// window only hides it.
class GlobeViewer : public QObject, public ViewerAutomation {
    Q_OBJECT
    Q_INTERFACES(vostrel::ViewerAutomation)

  public:
    // Throws ViewerError when the map theme is not installed.
    explicit GlobeViewer(QObject* parent = nullptr);
    ~GlobeViewer() override;

    GlobeViewer(const GlobeViewer&) = delete;
    GlobeViewer& operator=(const GlobeViewer&) = delete;

    // 0 until the map has loaded and been drawn completely (into an image when the window is
    // closed, minimised or covered); 1 from then on. Throws ViewerError when the window or the
    // globe no longer exists, or when the map, all loaded, still lacks data for good.
    std::int32_t IsViewerReady() override;

    // Reads the file and shows its placemark; processes no events. Every flag value reports
    // failures by throwing ViewerError and shows no dialog. The viewer is unchanged after a
    // failure.
    void ShowKmlFile(const QString& path, std::int32_t flag) override;

    // The window and the globe in it (nullptr once destroyed).
    QWidget* Window() const;
    Marble::MarbleWidget* Map() const;

  private:
    GlobeWindow& LiveWindow() const;

    QPointer<GlobeWindow> window_;
    bool ready_ = false;
};

// Registers a factory that creates a GlobeViewer under kGlobeViewerProgId.
void RegisterGlobeViewer(ComponentRegistry& registry);

}  // namespace vostrel
