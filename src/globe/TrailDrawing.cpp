#include "globe/TrailDrawing.h"

#include <marble/ViewportParams.h>

#include <QPainter>
#include <QPen>
#include <algorithm>
#include <cmath>
#include <cstdint>

namespace vostrel {

namespace {

// How far a straight piece may stray from its arc, in pixels.
constexpr double kMostStray = 0.35;
constexpr int kMostPiecesPerArc = 4000;
// The image's blocks: 8 x 8 pixels.
constexpr int kBlockShift = 3;
constexpr int kBlockSide = 1 << kBlockShift;
constexpr std::uint8_t kFullBlock = kBlockSide * kBlockSide;

// Clips the segment p-q to [0, right] x [0, bottom]; false when nothing of it is inside.
bool Clip(QPointF& p, QPointF& q, double right, double bottom) {
    double from = 0.0;
    double to = 1.0;
    const double dx = q.x() - p.x();
    const double dy = q.y() - p.y();
    const auto edge = [&](double denominator, double numerator) {
        if (denominator == 0.0) return numerator >= 0.0;
        const double t = numerator / denominator;
        if (denominator < 0.0) {
            if (t > to) return false;
            from = std::max(from, t);
        } else {
            if (t < from) return false;
            to = std::min(to, t);
        }
        return true;
    };
    if (!edge(-dx, p.x()) || !edge(dx, right - p.x()) || !edge(-dy, p.y()) ||
        !edge(dy, bottom - p.y())) {
        return false;
    }
    const QPointF start = p;
    p = start + from * QPointF(dx, dy);
    q = start + to * QPointF(dx, dy);
    return true;
}

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
    for (++it; it != trail.end() && !(thin_ && fullBlocks_ == blockCounts_.size()); ++it) {
        const Vec3 b = it->Unit();
        const double db = Dot(b, centre);
        Arc(a, da, b, db);
        a = b;
        da = db;
    }
    Break();
    if (thin_) {
        if (right_ < left_) return;
        const QRect drawn(left_, top_, right_ - left_ + 1, bottom_ - top_ + 1);
        painter.drawImage(drawn.topLeft(), image_, drawn);
        // Cleared for the next drawing: only what this one drew.
        for (int row = drawn.top(); row <= drawn.bottom(); ++row) {
            std::fill_n(bits_ + row * stride_ + drawn.left(), drawn.width(), 0U);
        }
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
        Line(pen_, at);
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
    const int width = std::max(view_->Width(), 1);
    const int height = std::max(view_->Height(), 1);
    if (image_.width() != width || image_.height() != height) {
        image_ = QImage(width, height, QImage::Format_ARGB32_Premultiplied);
        image_.fill(0);
        stride_ = image_.bytesPerLine() / 4;
        width_ = width;
        height_ = height;
        countedRadius_ = -1.0;
    }
    if (countedRadius_ != view_->Radius()) CountClearBlocks();
    blockCounts_ = clearCounts_;
    fullBlocks_ = fullWhenClear_;
    bits_ = reinterpret_cast<std::uint32_t*>(image_.bits());
    left_ = width;
    top_ = height;
    right_ = -1;
    bottom_ = -1;
    thin_ = true;
    for (std::size_t i = 0; i < starts_.size(); ++i) {
        const std::size_t end = i + 1 < starts_.size() ? starts_[i + 1] : points_.size();
        for (std::size_t j = starts_[i] + 1; j < end; ++j) Line(points_[j - 1], points_[j]);
    }
    pen_ = points_.back();
    points_.clear();
    starts_.clear();
}

void TrailDrawing::Line(QPointF p, QPointF q) {
    const double right = width_ - 1;
    const double bottom = height_ - 1;
    const auto inside = [&](const QPointF& v) {
        return v.x() >= 0.0 && v.x() <= right && v.y() >= 0.0 && v.y() <= bottom;
    };
    if (!(inside(p) && inside(q)) && !Clip(p, q, right, bottom)) return;
    // Within the image now, so adding a half and truncating rounds.
    const int x0 = static_cast<int>(p.x() + 0.5);
    const int y0 = static_cast<int>(p.y() + 0.5);
    const int x1 = static_cast<int>(q.x() + 0.5);
    const int y1 = static_cast<int>(q.y() + 0.5);
    if (BlocksFull(std::min(x0, x1), std::min(y0, y1), std::max(x0, x1), std::max(y0, y1))) {
        return;  // every pixel it could set is set
    }
    left_ = std::min({left_, x0, x1});
    right_ = std::max({right_, x0, x1});
    top_ = std::min({top_, y0, y1});
    bottom_ = std::max({bottom_, y0, y1});
    // Along the longer axis one pixel a step; across it in 16.16 fixed point, from the middle
    // of the first pixel.
    const int dx = x1 - x0;
    const int dy = y1 - y0;
    const bool wide = std::abs(dx) >= std::abs(dy);
    const int steps = wide ? std::abs(dx) : std::abs(dy);
    const int stepX = dx >= 0 ? 1 : -1;
    const int stepY = dy >= 0 ? 1 : -1;
    const int alongX = wide ? stepX : 0;
    const int alongY = wide ? 0 : stepY;
    const std::int32_t slope = steps == 0 ? 0 : (std::abs(wide ? dy : dx) * 65536) / steps;
    const std::uint32_t pixel = pixel_;
    std::uint32_t* const bits = bits_;
    std::uint8_t* const counts = blockCounts_.data();
    const std::ptrdiff_t stride = stride_;
    const int blocksWide = blocksWide_;
    int x = x0;
    int y = y0;
    std::int32_t fraction = 0x8000;
    const std::uint8_t* const discEdge = discEdge_.data();
    std::size_t full = fullBlocks_;
    for (int i = 0; i <= steps; ++i) {
        const int block = (y >> kBlockShift) * blocksWide + (x >> kBlockShift);
        if (!discEdge[block] || InDisc(x, y)) {
            std::uint32_t& at = bits[y * stride + x];
            const unsigned fresh = at != pixel;
            at = pixel;
            counts[block] = static_cast<std::uint8_t>(counts[block] + fresh);
            full += fresh & (counts[block] == kFullBlock);
        }
        x += alongX;
        y += alongY;
        fraction += slope;
        if (fraction >= 0x10000) {
            fraction -= 0x10000;
            x += stepX - alongX;
            y += stepY - alongY;
        }
    }
    fullBlocks_ = full;
}

// What a clear image's blocks hold: the pixels that are never drawn, beyond the image's edge or
// beyond the globe's disc. A block the disc's edge crosses has its pixels tested one by one.
void TrailDrawing::CountClearBlocks() {
    const int width = image_.width();
    const int height = image_.height();
    discX_ = view_->HalfWidth();
    discY_ = view_->HalfHeight();
    discReach2_ = view_->Radius() * view_->Radius();
    blocksWide_ = (width + kBlockSide - 1) >> kBlockShift;
    const int blocksHigh = (height + kBlockSide - 1) >> kBlockShift;
    clearCounts_.assign(static_cast<std::size_t>(blocksWide_) * blocksHigh, 0);
    discEdge_.assign(clearCounts_.size(), 0);
    fullWhenClear_ = 0;
    for (int by = 0; by < blocksHigh; ++by) {
        const int top = by * kBlockSide;
        const int bottom = std::min(height, top + kBlockSide) - 1;
        for (int bx = 0; bx < blocksWide_; ++bx) {
            const int left = bx * kBlockSide;
            const int right = std::min(width, left + kBlockSide) - 1;
            const int farX = std::abs(left - discX_) > std::abs(right - discX_) ? left : right;
            const int farY = std::abs(top - discY_) > std::abs(bottom - discY_) ? top : bottom;
            int drawable = 0;
            if (InDisc(farX, farY)) {
                drawable = (right - left + 1) * (bottom - top + 1);
            } else {
                for (int y = top; y <= bottom; ++y) {
                    for (int x = left; x <= right; ++x) drawable += InDisc(x, y);
                }
            }
            const std::size_t block = static_cast<std::size_t>(by) * blocksWide_ + bx;
            discEdge_[block] = drawable != (right - left + 1) * (bottom - top + 1);
            clearCounts_[block] = static_cast<std::uint8_t>(kFullBlock - drawable);
            fullWhenClear_ += drawable == 0;
        }
    }
    countedRadius_ = view_->Radius();
}

bool TrailDrawing::BlocksFull(int x0, int y0, int x1, int y1) const {
    for (int by = y0 >> kBlockShift; by <= y1 >> kBlockShift; ++by) {
        const std::uint8_t* row = blockCounts_.data() + by * blocksWide_;
        for (int bx = x0 >> kBlockShift; bx <= x1 >> kBlockShift; ++bx) {
            if (row[bx] != kFullBlock) return false;
        }
    }
    return true;
}

}  // namespace vostrel
