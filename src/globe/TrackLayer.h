// The tracker on the globe: its latest position as a mark with its name, a pointer for the
// direction of travel and a ring for how fresh the fix is, and the trail of positions before
// it, drawn as great-circle arcs (TrailDrawing). The globe uses Marble's spherical
// projection, which this layer projects by hand; under any other projection it leaves the
// projecting to Marble's painter, correct but slower.
#pragma once

#include <marble/LayerInterface.h>

#include <QColor>
#include <QString>
#include <cstddef>
#include <deque>
#include <optional>

#include "globe/FixFreshness.h"
#include "globe/TrailDrawing.h"

namespace vostrel {

// The most positions the trail keeps, a week of reports (one every ten seconds); older ones
// are dropped first. The history shown at start is as long.
inline constexpr std::size_t kMaxTrailPoints = 60000;
// The tracker's red, for the mark and the trail at every scale.
inline const QColor kTrackRed{0xDC, 0x14, 0x14};
// The mark at the last known position from before this run, until the first fix of this run.
inline const QColor kLastKnownGrey{0x80, 0x80, 0x80};
inline constexpr const char* kLastKnownSuffix = " (last known)";
// A move shorter than this is GPS noise: it shows no direction of travel.
inline constexpr double kHeadingNoiseMetres = 5.0;

class TrackLayer : public Marble::LayerInterface {
  public:
    using Point = TrailPoint;

    // Moves the mark to the position and names it; extends the trail unless the position is
    // the same as the last one.
    void Show(double longitude, double latitude, const QString& name);

    // Whether the mark is the last known position from before this run (grey, its name
    // followed by kLastKnownSuffix) rather than a fix of this run.
    void SetLastKnown(bool lastKnown) { lastKnown_ = lastKnown; }
    bool LastKnown() const { return lastKnown_; }
    // How fresh the fix is: the colour of the mark's ring (RingColour).
    void SetFreshness(Freshness freshness) { freshness_ = freshness; }
    Freshness CurrentFreshness() const { return freshness_; }

    bool HasPosition() const { return !trail_.empty(); }
    const Point& Position() const { return trail_.back(); }
    const QString& Name() const { return name_; }
    // The name as the mark shows it.
    QString Label() const;
    const std::deque<Point>& Trail() const { return trail_; }
    // The direction of travel from the last two positions, in degrees clockwise from north
    // at the latest one; none with a single position or after a move shorter than
    // kHeadingNoiseMetres.
    std::optional<double> Heading() const;

    QStringList renderPosition() const override;
    qreal zValue() const override;
    bool render(Marble::GeoPainter* painter, Marble::ViewportParams* viewport,
                const QString& renderPos, Marble::GeoSceneLayer* layer) override;

  private:
    std::deque<Point> trail_;
    TrailDrawing drawing_;
    QString name_;
    bool lastKnown_ = false;
    Freshness freshness_ = Freshness::Fresh;
};

}  // namespace vostrel
