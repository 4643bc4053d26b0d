// The tracker's trail as the globe shows it: the great-circle arcs between its positions, drawn in
// screen space. Under the globe's orthographic view a point of the sphere lands on screen
// linearly, so the chord of an arc lands on the straight line between its ends and strays from
// the arc by at most R * angle^2 / 8 pixels (R the globe's radius in pixels): an arc is cut into
// pieces only where that would show, and its points are found without trigonometry (points of
// the chord, brought out to the sphere). A point that lands on the pixel already drawn is
// skipped, an arc out of view costs a test of its ends, and a trail of more pieces (or pixels
// of them) in view than the painter draws within a third of a frame (fixes all over a globe
// seen whole) is drawn one pixel wide by TrailRaster, a fraction of what the painter's lines
// cost.
#pragma once

#include <QColor>
#include <QPointF>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "globe/TrailRaster.h"

class QPainter;

namespace Marble {
class ViewportParams;
}

namespace vostrel {

struct Vec3 {
    double x, y, z;
};
inline Vec3 operator*(double k, const Vec3& v) {
    return {k * v.x, k * v.y, k * v.z};
}
inline Vec3 operator+(const Vec3& a, const Vec3& b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Vec3 operator-(const Vec3& a, const Vec3& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline double Dot(const Vec3& a, const Vec3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline Vec3 Cross(const Vec3& a, const Vec3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// One position of the trail: degrees, and the unit vector of the sphere.
struct TrailPoint {
    double longitude = 0.0;
    double latitude = 0.0;
    double x = 0.0, y = 0.0, z = 1.0;
    Vec3 Unit() const { return {x, y, z}; }
};

// The trail's line, in pixels; the cap of the globe that can reach the screen includes it.
inline constexpr double kTrailWidth = 3.0;
// Past this many straight pieces in view, or this many pixels of them, the trail is drawn one
// pixel wide without smoothing: the painter's smooth lines cost about a microsecond for every
// four pixels of them, so these keep them within a third of a frame.
inline constexpr std::size_t kMostSmoothPieces = 2000;
inline constexpr double kMostSmoothLength = 25000.0;

// The globe seen orthographically: what of it can reach the screen and where a point lands.
class GlobeView {
  public:
    explicit GlobeView(const Marble::ViewportParams& viewport);

    const Vec3& Centre() const { return centre_; }
    double CosCap() const { return cosCap_; }
    double Radius() const { return radius_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    // Where a direction along the surface points on screen (not normalised).
    QPointF ScreenDirection(const Vec3& d) const { return {Dot(d, east_), -Dot(d, north_)}; }
    QPointF Screen(const Vec3& v) const {
        return {halfWidth_ + radius_ * Dot(v, east_), halfHeight_ - radius_ * Dot(v, north_)};
    }
    const Vec3& East() const { return east_; }
    const Vec3& North() const { return north_; }
    double HalfWidth() const { return halfWidth_; }
    double HalfHeight() const { return halfHeight_; }

  private:
    Vec3 centre_{}, east_{}, north_{};
    double radius_ = 1.0, halfWidth_ = 0.0, halfHeight_ = 0.0, cosCap_ = 0.0;
    int width_ = 0, height_ = 0;
};

class TrailDrawing {
  public:
    // Draws the arcs between consecutive positions of `trail` in `colour`. Keeps its buffers
    // from one drawing to the next.
    void Draw(QPainter& painter, const GlobeView& view, const std::deque<TrailPoint>& trail,
              const QColor& colour);
    // Straight pieces in the last drawing.
    std::size_t Pieces() const { return pieces_; }

  private:
    void Arc(const Vec3& a, double da, const Vec3& b, double db);
    // A polyline begins at `at`; the next point of it; the end of it.
    void Start(const QPointF& at);
    void Emit(const QPointF& at);
    void Break();
    // Too many pieces to smooth: what is kept is drawn into the image, and from now on each
    // piece as it comes.
    void GoThin();

    const GlobeView* view_ = nullptr;
    double piecesPerRadian_ = 1.0;
    std::size_t pieces_ = 0;
    double smoothLength_ = 0.0;  // of the smooth pieces so far, in pixels
    bool open_ = false;          // the last polyline goes on from its last point
    // Smooth: the polylines, drawn by the painter at the end.
    std::vector<QPointF> points_;
    std::vector<std::size_t> starts_;  // where each polyline begins in points_
    std::vector<QPointF> arcPoints_;   // the points of the arc in hand
    // Thin: drawn at once by the rasteriser, from the pen on.
    bool thin_ = false;
    std::uint32_t pixel_ = 0;
    QPointF pen_;
    TrailRaster raster_;
};

}  // namespace vostrel
