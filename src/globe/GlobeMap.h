// The globe widget: Marble's map drawn on a Marble model inside a plain widget (no web view),
// with drag to pan, the wheel and +/- to zoom, a compass, a scale bar and an overview map, and
// the tracker's mark and trail. It follows the tracker without fighting the operator: the first
// position is shown at street scale, later ones only re-centre the view when they would fall
// outside it or near its edge, and never change the zoom. The time of the last fix and its age
// are kept by its FixFreshness; what a screen reader gets is GlobeMapAccessible's.
#pragma once

#include <marble/RenderState.h>

#include <QDateTime>
#include <QPoint>
#include <QString>
#include <QWidget>
#include <memory>
#include <vector>

#include "globe/FixFreshness.h"
#include "globe/TrackLayer.h"
#include "globe/TrackTail.h"

class QLabel;

namespace Marble {
class LayerInterface;
class MarbleMap;
class MarbleModel;
}  // namespace Marble

namespace vostrel {

// What the window spans across at street scale, in kilometres.
inline constexpr double kStreetScaleSpanKm = 2.0;
// A new position this close to the edge of the view (as a share of its width or height)
// re-centres it.
inline constexpr double kFollowMargin = 0.1;
// The street map's tile cache on disk, at most (about 5,000 tiles).
inline constexpr quint64 kTileCacheLimitKiB = 100 * 1024;

class GlobeMap : public QWidget {
    Q_OBJECT

  public:
    // Starts on the offline map, working offline.
    explicit GlobeMap(QWidget* parent = nullptr);
    ~GlobeMap() override;

    // Moves the mark and extends the trail; the first position is shown at street scale,
    // later ones re-centre the view only when they would fall outside it or near its edge.
    // The fix's time is the clock's now.
    void ShowPosition(double longitude, double latitude, const QString& name);
    // The positions from before this run, oldest first: the trail, its last position the last
    // known one, fixed at `time`. Shown at street scale, the mark grey and called
    // "<name> (last known)" until the first ShowPosition. Nothing when `trail` is empty.
    void ShowHistory(const std::vector<TrackPoint>& trail, const QString& name,
                     const QDateTime& time);

    // The last fix: its time and how fresh it is; the mark's ring follows it.
    FixFreshness& Fix() { return fix_; }
    const FixFreshness& Fix() const { return fix_; }
    // Centres the view on the tracker's position at street scale (nothing before a position).
    void CentreOnTracker();
    // Zooms by `steps` (positive: in) about the centre or, given, a point of the widget.
    void Zoom(double steps, QPoint about = QPoint(-1, -1));

    // Reads the towns' names into the offline map (in the background; once is enough).
    void LoadTownNames();

    // On: the street map, online, its downloads held to the tile guard's limits and its cache
    // on disk to kTileCacheLimitKiB; off: the offline map, no network at all.
    void SetStreetMap(bool on);
    bool StreetMap() const { return streetMap_; }
    // While the street map is on and its tiles cannot be had: the offline map in its place
    // (`on`), or the street map again.
    void ShowOfflineInstead(bool on);
    bool ShowsOfflineInstead() const { return offlineInstead_; }

    QString MapThemeId() const;
    double CentreLongitude() const;  // degrees
    double CentreLatitude() const;   // degrees
    int Radius() const;              // of the globe, in pixels
    double SpanKm() const;           // what the widget spans across, in kilometres
    // Where a position lands in the widget; false when it is on the far side of the globe.
    bool ScreenPosition(double longitude, double latitude, QPointF& at) const;
    const TrackLayer& Track() const { return track_; }
    Marble::MarbleModel* Model() const { return model_.get(); }
    Marble::MarbleMap* Map() const { return map_.get(); }
    // The attribution shown while the street map is on.
    QLabel* Attribution() const { return attribution_; }

    // Map data still being loaded.
    bool Loading() const;
    // How the last drawing went that happened with all map data loaded: Complete,
    // WaitingForUpdate (complete but old data), Incomplete (data missing for good) or
    // WaitingForData (also when there was none yet).
    Marble::RenderStatus LoadedDrawingStatus() const { return loadedDrawingStatus_; }
    QString UnfinishedParts() const;
    // Draws the globe into an image at once, for when it can't be drawn on screen.
    void DrawOffscreen();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

  private:
    void ApplyTheme(const QString& themeId);
    void SetRadius(double radius);
    void CentreOn(double longitude, double latitude);
    void Paint(QPaintDevice& device, const QRect& rect);
    void Framed();
    void Fixed(const QDateTime& time);

    // Destroyed in reverse: the map before the layer it draws and the model it shows.
    std::unique_ptr<Marble::MarbleModel> model_;
    TrackLayer track_;
    std::unique_ptr<Marble::MarbleMap> map_;
    QLabel* attribution_ = nullptr;
    bool streetMap_ = false;
    bool offlineInstead_ = false;
    bool shownOnce_ = false;
    Marble::RenderStatus loadedDrawingStatus_ = Marble::WaitingForData;
    FixFreshness fix_;
    // Dragging: where the press was and the centre then.
    bool dragging_ = false;
    QPoint pressedAt_;
    double pressedLongitude_ = 0.0;
    double pressedLatitude_ = 0.0;
};

}  // namespace vostrel
