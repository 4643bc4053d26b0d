// The tracker on the globe: its latest position as a mark with its name, a pointer for the
// direction of travel and a ring for how fresh the fix is, and the trail of positions before
// it, drawn as great-circle arcs. Drawing visits every arc of the trail once, for a test
// against the visible cap of the globe (a few multiplications; the trail holds at most
// kMaxTrailPoints), and projects only the parts that can be seen, so what it costs beyond that
// test follows what is in view, not the trail's length. The globe uses Marble's spherical
// projection, which this layer projects by hand; under any other projection it leaves the
// projecting to Marble's painter, correct but slower.
#pragma once

#include <marble/LayerInterface.h>

#include <QColor>
#include <QString>
#include <cstddef>
#include <deque>
#include <optional>

namespace vostrel {

// The most positions the trail keeps; older ones are dropped first.
inline constexpr std::size_t kMaxTrailPoints = 10000;
// The tracker's red, for the mark and the trail at every scale.
inline const QColor kTrackRed{0xDC, 0x14, 0x14};
// The mark at the last known position from before this run, until the first fix of this run.
inline const QColor kLastKnownGrey{0x80, 0x80, 0x80};
inline constexpr const char* kLastKnownSuffix = " (last known)";
// A move shorter than this is GPS noise: it shows no direction of travel.
inline constexpr double kHeadingNoiseMetres = 5.0;

// How long the tracker has been quiet: the mark's ring is white, then amber after
// kQuietAfterSeconds without a fix, then red after kSilentAfterSeconds.
enum class Freshness { Fresh, Quiet, Silent };
inline constexpr int kQuietAfterSeconds = 2 * 60;
inline constexpr int kSilentAfterSeconds = 10 * 60;
inline const QColor kQuietAmber{0xF0, 0xA0, 0x00};
inline const QColor kSilentRed{0xFF, 0x20, 0x20};

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

    // Whether the mark is the last known position from before this run (grey, its name
    // followed by kLastKnownSuffix) rather than a fix of this run.
    void SetLastKnown(bool lastKnown) { lastKnown_ = lastKnown; }
    bool LastKnown() const { return lastKnown_; }
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
    QString name_;
    bool lastKnown_ = false;
    Freshness freshness_ = Freshness::Fresh;
};

}  // namespace vostrel
