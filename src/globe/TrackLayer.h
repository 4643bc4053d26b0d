// The tracker on the globe: its latest position as a red mark with its name, and the trail of
// positions before it, drawn as great-circle arcs. Drawing costs the same however long the
// trail: each arc is first tested against the visible cap of the globe, and only the part that
// can be seen is projected.
#pragma once

#include <marble/LayerInterface.h>

#include <QColor>
#include <QString>
#include <cstddef>
#include <deque>

namespace vostrel {

// The most positions the trail keeps; older ones are dropped first.
inline constexpr std::size_t kMaxTrailPoints = 10000;
// The tracker's red, for the mark and the trail at every scale.
inline const QColor kTrackRed{0xDC, 0x14, 0x14};

class TrackLayer : public Marble::LayerInterface {
  public:
    struct Point {
        double longitude = 0.0;            // degrees
        double latitude = 0.0;             // degrees
        double x = 0.0, y = 0.0, z = 1.0;  // unit vector
    };

    // Moves the mark to the position and names it; extends the trail unless the position is
    // the same as the last one.
    void Show(double longitude, double latitude, const QString& name);

    bool HasPosition() const { return !trail_.empty(); }
    const Point& Position() const { return trail_.back(); }
    const QString& Name() const { return name_; }
    const std::deque<Point>& Trail() const { return trail_; }

    QStringList renderPosition() const override;
    qreal zValue() const override;
    bool render(Marble::GeoPainter* painter, Marble::ViewportParams* viewport,
                const QString& renderPos, Marble::GeoSceneLayer* layer) override;

  private:
    std::deque<Point> trail_;
    QString name_;
};

}  // namespace vostrel
