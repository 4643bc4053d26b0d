#include "globe/TrackLayer.h"

#include <marble/GeoDataCoordinates.h>
#include <marble/GeoDataLineString.h>
#include <marble/GeoPainter.h>
#include <marble/MarbleGlobal.h>
#include <marble/ViewportParams.h>

#include <QFont>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>
#include <vector>

namespace vostrel {

namespace {

constexpr double kDegree = std::numbers::pi / 180.0;
constexpr double kEarthRadiusMetres = 6'371'000.0;
constexpr double kTrailWidth = 3.0;
// The longest piece of an arc drawn as a straight line, in pixels: a chord of 16 px strays
// less than a fifth of a pixel from the curve even on a globe 160 px across.
constexpr double kPiecePixels = 16.0;
// Past this many pieces in view (a trail of fixes all over a globe seen whole) the trail is
// drawn thin and without smoothing, which costs a tenth as much.
constexpr std::size_t kMostSmoothPieces = 6000;
constexpr int kMostPiecesPerArc = 4000;

struct Vec {
    double x, y, z;
};
Vec operator*(double k, const Vec& v) {
    return {k * v.x, k * v.y, k * v.z};
}
Vec operator+(const Vec& a, const Vec& b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
Vec operator-(const Vec& a, const Vec& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
double Dot(const Vec& a, const Vec& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
Vec Cross(const Vec& a, const Vec& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double Length(const Vec& v) {
    return std::sqrt(Dot(v, v));
}
Vec VecOf(const TrackLayer::Point& p) {
    return {p.x, p.y, p.z};
}
Vec Unit(const Vec& v) {
    return (1.0 / Length(v)) * v;
}
double AngleBetween(const Vec& a, const Vec& b) {
    return std::atan2(Length(Cross(a, b)), Dot(a, b));
}
// East and north at a point of the unit sphere.
Vec EastAt(double longitude) {
    return {-std::sin(longitude), std::cos(longitude), 0.0};
}
// Longitude and latitude in radians.
void LonLatOf(const Vec& v, double& longitude, double& latitude) {
    longitude = std::atan2(v.y, v.x);
    latitude = std::asin(std::clamp(v.z, -1.0, 1.0));
}

// The orthographic view of the globe: what is visible of it and where a point lands on screen.
class View {
  public:
    explicit View(const Marble::ViewportParams& viewport) {
        const double lon = viewport.centerLongitude();  // radians
        const double lat = viewport.centerLatitude();
        centre_ = {std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon), std::sin(lat)};
        east_ = {-std::sin(lon), std::cos(lon), 0.0};
        north_ = Cross(centre_, east_);
        radius_ = viewport.radius();
        halfWidth_ = viewport.width() / 2.0;
        halfHeight_ = viewport.height() / 2.0;
        // The cap of the globe that can reach the screen: the half diagonal, plus the width of
        // the line, seen from the centre; at most the visible hemisphere.
        const double reach = std::hypot(halfWidth_, halfHeight_) + 2 * kTrailWidth;
        cosCap_ = reach >= radius_ ? 0.0 : std::sqrt(1.0 - (reach / radius_) * (reach / radius_));
    }

    const Vec& Centre() const { return centre_; }
    // Where a direction along the surface points on screen (not normalised).
    QPointF ScreenDirection(const Vec& d) const { return {Dot(d, east_), -Dot(d, north_)}; }
    double CosCap() const { return cosCap_; }
    double Radius() const { return radius_; }
    bool InCap(const Vec& v) const { return Dot(v, centre_) >= cosCap_; }
    QPointF Screen(const Vec& v) const {
        return {halfWidth_ + radius_ * Dot(v, east_), halfHeight_ - radius_ * Dot(v, north_)};
    }

  private:
    Vec centre_{}, east_{}, north_{};
    double radius_ = 1.0, halfWidth_ = 0.0, halfHeight_ = 0.0, cosCap_ = 0.0;
};

// Collects the visible parts of the trail as polylines; arcs that join are one polyline.
class TrailDrawing {
  public:
    explicit TrailDrawing(const View& view) : view_(view) {}

    void AddArc(const Vec& a, const Vec& b) {
        const Vec normal = Cross(a, b);
        const double sinAngle = Length(normal);
        const double angle = std::atan2(sinAngle, Dot(a, b));
        if (sinAngle < 1e-12) {
            // A few millimetres, or half the world with no one great circle: the ends only.
            if (angle < 1.0 && view_.InCap(a) && view_.InCap(b))
                Piece(a, 0.0, {b}, true);
            else
                Break();
            return;
        }
        const Vec n = (1.0 / sinAngle) * normal;
        const Vec towardB = Cross(n, a);  // with a: the frame of the arc's plane
        // The great circle's points within the cap: those around the one nearest the centre.
        const double s = Dot(view_.Centre(), n);
        const double cosNearest = std::sqrt(std::max(0.0, 1.0 - s * s));
        if (cosNearest < view_.CosCap() || cosNearest < 1e-12) {
            Break();
            return;
        }
        const Vec nearest = (1.0 / cosNearest) * (view_.Centre() - s * n);
        const double t0 = std::atan2(Dot(nearest, towardB), Dot(nearest, a));
        const double halfSpan = std::acos(std::clamp(view_.CosCap() / cosNearest, -1.0, 1.0));
        bool drawn = false;
        for (const double shift : {-2 * std::numbers::pi, 0.0, 2 * std::numbers::pi}) {
            const double from = std::max(0.0, t0 + shift - halfSpan);
            const double to = std::min(angle, t0 + shift + halfSpan);
            if (from >= to) continue;
            const int pieces =
                std::clamp(static_cast<int>(std::ceil((to - from) * view_.Radius() / kPiecePixels)),
                           1, kMostPiecesPerArc);
            std::vector<Vec> along;
            along.reserve(static_cast<std::size_t>(pieces));
            for (int i = 1; i <= pieces; ++i) {
                const double t = from + (to - from) * i / pieces;
                along.push_back(std::cos(t) * a + std::sin(t) * towardB);
            }
            const Vec start = std::cos(from) * a + std::sin(from) * towardB;
            Piece(start, from, along, to >= angle);
            drawn = true;
        }
        if (!drawn) Break();
    }

    const std::vector<QPolygonF>& Lines() {
        Break();
        return lines_;
    }
    std::size_t Pieces() const { return pieces_; }

  private:
    // A drawn part of an arc from `start` through `along`; `toEnd` when it reaches the arc's
    // end, so the next arc can go on from it.
    void Piece(const Vec& start, double from, const std::vector<Vec>& along, bool toEnd) {
        if (!(open_ && from == 0.0)) {
            Break();
            current_.append(view_.Screen(start));
        }
        for (const Vec& v : along) current_.append(view_.Screen(v));
        open_ = toEnd;
        if (!toEnd) Break();
    }
    void Break() {
        if (current_.size() >= 2) {
            lines_.push_back(current_);
            pieces_ += static_cast<std::size_t>(current_.size() - 1);
        }
        current_.clear();
        open_ = false;
    }

    const View& view_;
    std::vector<QPolygonF> lines_;
    QPolygonF current_;
    bool open_ = false;
    std::size_t pieces_ = 0;
};

struct Mark {
    QPointF at;
    std::optional<QPointF> heading;  // unit direction on screen
    QColor fill;
    QColor ring;
    QString label;
};

void DrawMark(QPainter& painter, const Mark& mark) {
    const QPointF& at = mark.at;
    if (mark.heading) {
        const QPointF d = *mark.heading;
        const QPointF across(-d.y(), d.x());
        QPolygonF pointer;
        pointer << at + 27.0 * d << at + 8.0 * d + 9.0 * across << at + 8.0 * d - 9.0 * across;
        painter.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(mark.fill);
        painter.drawPolygon(pointer);
    }
    painter.setPen(QPen(mark.ring, 3));
    painter.setBrush(mark.fill);
    painter.drawEllipse(at, 9.5, 9.5);
    painter.setPen(QPen(QColor(90, 0, 0), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(at, 11.0, 11.0);
    if (mark.label.isEmpty()) return;
    QFont font = painter.font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.2);
    QPainterPath text;
    text.addText(at + QPointF(15, 5), font, mark.label);
    painter.setPen(QPen(QColor(255, 255, 255, 220), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(text);
    painter.setPen(Qt::NoPen);
    painter.setBrush(mark.fill == kTrackRed ? QColor(120, 0, 0) : QColor(60, 60, 60));
    painter.drawPath(text);
}

// The direction of travel at `b` coming from `a`, along the surface; none for a move of
// GPS noise.
bool TravelAt(const Vec& a, const Vec& b, Vec& travel) {
    if (AngleBetween(a, b) * kEarthRadiusMetres < kHeadingNoiseMetres) return false;
    travel = Unit(Cross(Unit(Cross(a, b)), b));
    return true;
}

std::optional<QPointF> UnitOnScreen(const QPointF& d) {
    const double length = std::hypot(d.x(), d.y());
    if (!(length > 1e-9)) return std::nullopt;
    return d / length;
}

}  // namespace

void TrackLayer::Show(double longitude, double latitude, const QString& name) {
    name_ = name;
    if (!trail_.empty() && trail_.back().longitude == longitude &&
        trail_.back().latitude == latitude) {
        return;
    }
    const double lon = longitude * kDegree;
    const double lat = latitude * kDegree;
    trail_.push_back({longitude, latitude, std::cos(lat) * std::cos(lon),
                      std::cos(lat) * std::sin(lon), std::sin(lat)});
    if (trail_.size() > kMaxTrailPoints) trail_.pop_front();
}

QString TrackLayer::Label() const {
    return lastKnown_ ? name_ + QLatin1String(kLastKnownSuffix) : name_;
}

std::optional<double> TrackLayer::Heading() const {
    if (trail_.size() < 2) return std::nullopt;
    const Point& latest = trail_.back();
    Vec travel{0.0, 0.0, 0.0};
    if (!TravelAt(VecOf(trail_[trail_.size() - 2]), VecOf(latest), travel)) return std::nullopt;
    const Vec position = VecOf(latest);
    const Vec east = EastAt(latest.longitude * kDegree);
    const Vec north = Cross(position, east);
    const double degrees = std::atan2(Dot(travel, east), Dot(travel, north)) / kDegree;
    return degrees < 0.0 ? degrees + 360.0 : degrees;
}

QStringList TrackLayer::renderPosition() const {
    return {QStringLiteral("HOVERS_ABOVE_SURFACE")};
}

qreal TrackLayer::zValue() const {
    return 1000.0;  // above the map's own places and labels
}

bool TrackLayer::render(Marble::GeoPainter* painter, Marble::ViewportParams* viewport,
                        const QString& /*renderPos*/, Marble::GeoSceneLayer* /*layer*/) {
    if (trail_.empty()) return true;
    QPainter& qp = *painter;
    qp.save();
    const Vec position = VecOf(trail_.back());
    Vec travel{0.0, 0.0, 0.0};
    const bool moving =
        trail_.size() >= 2 && TravelAt(VecOf(trail_[trail_.size() - 2]), position, travel);
    Mark mark{{},
              std::nullopt,
              lastKnown_ ? kLastKnownGrey : kTrackRed,
              freshness_ == Freshness::Fresh   ? QColor(Qt::white)
              : freshness_ == Freshness::Quiet ? kQuietAmber
                                               : kSilentRed,
              Label()};
    bool markInView = false;

    if (viewport->projection() == Marble::Spherical) {
        const View view(*viewport);
        TrailDrawing drawing(view);
        for (std::size_t i = 1; i < trail_.size(); ++i) {
            drawing.AddArc(VecOf(trail_[i - 1]), VecOf(trail_[i]));
        }
        const std::vector<QPolygonF>& lines = drawing.Lines();
        const bool smooth = drawing.Pieces() <= kMostSmoothPieces;
        qp.setRenderHint(QPainter::Antialiasing, smooth);
        qp.setPen(smooth ? QPen(kTrackRed, kTrailWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin)
                         : QPen(kTrackRed, 0));
        qp.setBrush(Qt::NoBrush);
        for (const QPolygonF& line : lines) qp.drawPolyline(line);
        markInView = Dot(position, view.Centre()) >= 0.0;
        mark.at = view.Screen(position);
        if (moving) mark.heading = UnitOnScreen(view.ScreenDirection(travel));
    } else {
        // Marble's painter projects and cuts the arcs for whatever projection is set.
        Marble::GeoDataLineString line(Marble::Tessellate);
        for (const Point& p : trail_) {
            line << Marble::GeoDataCoordinates(p.longitude, p.latitude, 0.0,
                                               Marble::GeoDataCoordinates::Degree);
        }
        qp.setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(kTrackRed, kTrailWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter->drawPolyline(line);
        double lon = 0.0;
        double lat = 0.0;
        LonLatOf(position, lon, lat);
        qreal x = 0;
        qreal y = 0;
        markInView = viewport->screenCoordinates(lon, lat, x, y);
        mark.at = QPointF(x, y);
        if (moving) {
            LonLatOf(Unit(position + 1e-6 * travel), lon, lat);
            if (viewport->screenCoordinates(lon, lat, x, y)) {
                mark.heading = UnitOnScreen(QPointF(x, y) - mark.at);
            }
        }
    }
    qp.setRenderHint(QPainter::Antialiasing);
    if (markInView) DrawMark(qp, mark);
    qp.restore();
    return true;
}

}  // namespace vostrel
