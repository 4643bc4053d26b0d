#include "globe/TrailDrawing.h"

#include <marble/ViewportParams.h>

#include <QPainter>
#include <QPen>
#include <algorithm>
#include <cmath>

namespace vostrel {

namespace {

// How far a straight piece may stray from its arc, in pixels.
constexpr double kMostStray = 0.35;
constexpr int kMostPiecesPerArc = 4000;

}  // namespace

GlobeView::GlobeView(const Marble::ViewportParams& viewport) {
    const double lon = viewport.centerLongitude();  // radians
    const double lat = viewport.centerLatitude();
    centre_ = {std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon), std::sin(lat)};
    east_ = {-std::sin(lon), std::cos(lon), 0.0};
    north_ = Cross(centre_, east_);
    radius_ = viewport.radius();
    width_ = viewport.width();
    height_ = viewport.height();
    halfWidth_ = width_ / 2.0;
    halfHeight_ = height_ / 2.0;
    // The cap of the globe that can reach the screen: the half diagonal, plus the width of the
    // line, seen from the centre; at most the visible hemisphere.
    const double reach = std::hypot(halfWidth_, halfHeight_) + 2 * kTrailWidth;
    cosCap_ = reach >= radius_ ? 0.0 : std::sqrt(1.0 - (reach / radius_) * (reach / radius_));
}

void TrailDrawing::Draw(QPainter& painter, const GlobeView& view,
                        const std::deque<TrailPoint>& trail, const QColor& colour) {
    view_ = &view;
    points_.clear();
    starts_.clear();
    open_ = false;
    thin_ = false;
    pieces_ = 0;
    smoothLength_ = 0.0;
    pixel_ = QColor(colour.rgb()).rgba();  // opaque
    // A piece of `angle` radians strays R * angle^2 / 8 pixels from its arc.
    piecesPerRadian_ = std::sqrt(view.Radius() / (8.0 * kMostStray));
    if (trail.size() < 2) return;
    const Vec3& centre = view.Centre();
    auto it = trail.begin();
    Vec3 a = it->Unit();
    double da = Dot(a, centre);
    for (++it; it != trail.end() && !(thin_ && raster_.Full()); ++it) {
        const Vec3 b = it->Unit();
        const double db = Dot(b, centre);
        Arc(a, da, b, db);
        a = b;
        da = db;
    }
    Break();
    if (thin_) {
        raster_.Finish(painter);
        return;
    }
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(colour, kTrailWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    for (std::size_t i = 0; i < starts_.size(); ++i) {
        const std::size_t end = i + 1 < starts_.size() ? starts_[i + 1] : points_.size();
        painter.drawPolyline(points_.data() + starts_[i], static_cast<int>(end - starts_[i]));
    }
}

// The arc from `a` to `b` (unit vectors; `da`, `db` their cosines to the view's centre). Its
// points are q(t) = a + t (b - a), brought out to the sphere, for t in [0, 1].
void TrailDrawing::Arc(const Vec3& a, double da, const Vec3& b, double db) {
    const GlobeView& view = *view_;
    const double k = view.CosCap();
    const Vec3 d = b - a;
    const double c2 = Dot(d, d);
    if (c2 < 1e-20) {  // the same place, within a millimetre
        if (da < k) Break();
        return;
    }
    // Every point of the arc lies within its chord of either end.
    if (std::min(da, db) + std::sqrt(c2) < k) {
        Break();
        return;
    }
    // Nor can it reach the cap when its great circle passes outside it.
    const Vec3 normal = Cross(a, b);
    const double across = Dot(normal, view.Centre());
    if (across * across > (1.0 - k * k) * Dot(normal, normal)) {
        Break();
        return;
    }
    if (Dot(a, b) < 0.0) {
        // Wider than a right angle: in two halves, so no point of a chord comes near the
        // sphere's centre.
        Vec3 m = a + b;
        const double m2 = Dot(m, m);
        if (m2 > 1e-2) {
            m = (1.0 / std::sqrt(m2)) * m;
        } else {
            const double sinAngle = std::sqrt(Dot(normal, normal));
            if (sinAngle < 1e-12) {  // opposite places: no one great circle joins them
                Break();
                return;
            }
            const Vec3 towardB = Cross((1.0 / sinAngle) * normal, a);
            const double half = std::atan2(sinAngle, Dot(a, b)) / 2.0;
            m = std::cos(half) * a + std::sin(half) * towardB;
        }
        const double dm = Dot(m, view.Centre());
        Arc(a, da, m, dm);
        Arc(m, dm, b, db);
        return;
    }
    // Where the arc is within the cap: q(t) . centre >= k |q(t)|, with
    // |q(t)|^2 = 1 - t (1 - t) c2. The cap is convex, so that is one stretch of t.
    double t0 = 0.0;
    double t1 = 1.0;
    const auto inCap = [&](double t) {
        return da + t * (db - da) >= k * std::sqrt(1.0 - t * (1.0 - t) * c2);
    };
    if (k == 0.0 && (da < 0.0 || db < 0.0)) {
        // The whole visible hemisphere: the sign of q(t) . centre, which is linear in t.
        if (da < 0.0 && db < 0.0) {
            Break();
            return;
        }
        (da < 0.0 ? t0 : t1) = da / (da - db);
    } else if (da < k || db < k) {
        // Its ends, where the squared condition changes sign.
        const double delta = db - da;
        const double qa = delta * delta - k * k * c2;
        const double qb = 2.0 * da * delta + k * k * c2;
        const double qc = da * da - k * k;
        double marks[4] = {0.0, 1.0, 1.0, 1.0};
        int count = 2;
        if (std::abs(qa) < 1e-15) {
            if (qb != 0.0) marks[count++] = -qc / qb;
        } else {
            const double discriminant = qb * qb - 4.0 * qa * qc;
            if (discriminant >= 0.0) {
                const double root = std::sqrt(discriminant);
                marks[count++] = (-qb - root) / (2.0 * qa);
                marks[count++] = (-qb + root) / (2.0 * qa);
            }
        }
        for (int i = 0; i < count; ++i) marks[i] = std::clamp(marks[i], 0.0, 1.0);
        std::sort(marks, marks + count);
        t0 = 2.0;
        t1 = -1.0;
        for (int i = 0; i + 1 < count; ++i) {
            if (marks[i + 1] > marks[i] && inCap((marks[i] + marks[i + 1]) / 2.0)) {
                t0 = std::min(t0, marks[i]);
                t1 = std::max(t1, marks[i + 1]);
            }
        }
        if (t0 >= t1) {
            Break();
            return;
        }
    }
    // The chord's points go along the arc fastest at its middle, 2 tan(angle / 2) per unit of t.
    const double speed = std::sqrt(c2) / std::sqrt(1.0 - c2 / 4.0);
    const int pieces = std::clamp(static_cast<int>(std::ceil((t1 - t0) * speed * piecesPerRadian_)),
                                  1, kMostPiecesPerArc);
    const double ae = Dot(a, view.East());
    const double an = Dot(a, view.North());
    const double de = Dot(d, view.East());
    const double dn = Dot(d, view.North());
    const double radius = view.Radius();
    // All of its points first, in a loop free of branches (the square roots and divisions
    // overlap), then into the polyline.
    const double cx = view.HalfWidth();
    const double cy = view.HalfHeight();
    const double step = (t1 - t0) / pieces;
    arcPoints_.resize(static_cast<std::size_t>(pieces) + 1);
    QPointF* out = arcPoints_.data();
    for (int i = 0; i <= pieces; ++i) {
        const double t = i == pieces ? t1 : t0 + step * i;
        const double scale = radius / std::sqrt(1.0 - t * (1.0 - t) * c2);
        out[i] = QPointF(cx + scale * (ae + t * de), cy - scale * (an + t * dn));
    }
    if (t0 > 0.0 || !open_) {
        Break();
        Start(out[0]);
    }
    for (int i = 1; i <= pieces; ++i) Emit(out[i]);
    open_ = t1 >= 1.0;
    if (!open_) Break();
}

void TrailDrawing::Start(const QPointF& at) {
    if (thin_) {
        pen_ = at;
        return;
    }
    starts_.push_back(points_.size());
    points_.push_back(at);
}

void TrailDrawing::Emit(const QPointF& at) {
    // Pixels counted from far off the screen's top left, so truncating finds the pixel.
    constexpr double kOff = 1 << 22;
    const QPointF& last = thin_ ? pen_ : points_.back();
    if (static_cast<int>(at.x() + kOff) == static_cast<int>(last.x() + kOff) &&
        static_cast<int>(at.y() + kOff) == static_cast<int>(last.y() + kOff)) {
        return;
    }
    ++pieces_;
    if (thin_) {
        raster_.Line(pen_, at);
        pen_ = at;
        return;
    }
    smoothLength_ += std::max(std::abs(at.x() - last.x()), std::abs(at.y() - last.y()));
    points_.push_back(at);
    if (pieces_ > kMostSmoothPieces || smoothLength_ > kMostSmoothLength) GoThin();
}

void TrailDrawing::Break() {
    if (!thin_ && !starts_.empty() && points_.size() - starts_.back() < 2) {
        points_.resize(starts_.back());
        starts_.pop_back();
    }
    open_ = false;
}

void TrailDrawing::GoThin() {
    raster_.Begin(QSize(view_->Width(), view_->Height()),
                  QPointF(view_->HalfWidth(), view_->HalfHeight()), view_->Radius(), pixel_);
    thin_ = true;
    for (std::size_t i = 0; i < starts_.size(); ++i) {
        const std::size_t end = i + 1 < starts_.size() ? starts_[i + 1] : points_.size();
        for (std::size_t j = starts_[i] + 1; j < end; ++j) raster_.Line(points_[j - 1], points_[j]);
    }
    pen_ = points_.back();
    points_.clear();
    starts_.clear();
}

}  // namespace vostrel
