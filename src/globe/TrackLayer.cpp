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

using Vec = Vec3;
Vec VecOf(const TrackLayer::Point& p) {
    return p.Unit();
}
double Length(const Vec& v) {
    return std::sqrt(Dot(v, v));
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
    Mark mark{
        {}, std::nullopt, lastKnown_ ? kLastKnownGrey : kTrackRed, RingColour(freshness_), Label()};
    bool markInView = false;

    if (viewport->projection() == Marble::Spherical) {
        const GlobeView view(*viewport);
        drawing_.Draw(qp, view, trail_, kTrackRed);
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
