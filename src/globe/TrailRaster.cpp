#include "globe/TrailRaster.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

namespace vostrel {

namespace {

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

// Calls `pixel(x, y)` for each pixel of the line from (x0, y0) to (x1, y1): along the longer
// axis one pixel a step, across it in 16.16 fixed point from the middle of the first pixel.
template <typename Pixel>
void ForEachPixel(int x0, int y0, int x1, int y1, Pixel&& pixel) {
    const int dx = x1 - x0;
    const int dy = y1 - y0;
    const bool wide = std::abs(dx) >= std::abs(dy);
    const int steps = wide ? std::abs(dx) : std::abs(dy);
    const int stepX = dx >= 0 ? 1 : -1;
    const int stepY = dy >= 0 ? 1 : -1;
    const int alongX = wide ? stepX : 0;
    const int alongY = wide ? 0 : stepY;
    const std::int32_t slope = steps == 0 ? 0 : (std::abs(wide ? dy : dx) * 65536) / steps;
    int x = x0;
    int y = y0;
    std::int32_t fraction = 0x8000;
    for (int i = 0; i <= steps; ++i) {
        pixel(x, y);
        x += alongX;
        y += alongY;
        fraction += slope;
        if (fraction >= 0x10000) {
            fraction -= 0x10000;
            x += stepX - alongX;
            y += stepY - alongY;
        }
    }
}

}  // namespace

void TrailRaster::Begin(QSize size, QPointF discCentre, double discRadius, std::uint32_t pixel) {
    const int width = std::max(size.width(), 1);
    const int height = std::max(size.height(), 1);
    if (image_.width() != width || image_.height() != height) {
        image_ = QImage(width, height, QImage::Format_ARGB32_Premultiplied);
        image_.fill(0);
        stride_ = image_.bytesPerLine() / 4;
        width_ = width;
        height_ = height;
        discRadius_ = -1.0;
    }
    if (discCentre != disc_ || discRadius != discRadius_) {
        disc_ = discCentre;
        discRadius_ = discRadius;
        CountClearBlocks();
        counting_ = true;
    }
    blockCounts_ = clearCounts_;
    lines_ = 0;
    skipped_ = 0;
    fullBlocks_ = fullWhenClear_;
    bits_ = reinterpret_cast<std::uint32_t*>(image_.bits());
    pixel_ = pixel;
    left_ = width;
    top_ = height;
    right_ = -1;
    bottom_ = -1;
}

void TrailRaster::Finish(QPainter& painter) {
    // Counting pays where the view filled or half the lines or more were left out (a dense
    // trail over a small disc); elsewhere the next drawings do without it, but for every
    // eighth, which looks again.
    if (counting_ && !Full() && skipped_ * 2 < lines_) {
        counting_ = false;
        uncounted_ = 0;
    } else if (!counting_ && ++uncounted_ == 8) {
        counting_ = true;
    }
    if (right_ < left_) return;
    const QRect drawn(left_, top_, right_ - left_ + 1, bottom_ - top_ + 1);
    painter.drawImage(drawn.topLeft(), image_, drawn);
    // Cleared for the next drawing: only what this one drew.
    for (int row = drawn.top(); row <= drawn.bottom(); ++row) {
        std::fill_n(bits_ + row * stride_ + drawn.left(), drawn.width(), 0U);
    }
    right_ = -1;
}

void TrailRaster::Line(QPointF p, QPointF q) {
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
    ++lines_;
    if (counting_ &&
        BlocksFull(std::min(x0, x1), std::min(y0, y1), std::max(x0, x1), std::max(y0, y1))) {
        ++skipped_;
        return;  // every pixel it could set is set
    }
    left_ = std::min({left_, x0, x1});
    right_ = std::max({right_, x0, x1});
    top_ = std::min({top_, y0, y1});
    bottom_ = std::max({bottom_, y0, y1});
    // The disc's edge is tested pixel by pixel only where the line may come near it: its
    // pixels lie within half a pixel of the line between the ends' pixels.
    const auto deepInDisc = [&](int px, int py) {
        const double reach = std::max(discRadius_ - 1.0, 0.0);
        return DistanceSquared(px, py) <= reach * reach;
    };
    const bool nearEdge = !(deepInDisc(x0, y0) && deepInDisc(x1, y1));
    const std::uint32_t pixel = pixel_;
    std::uint32_t* const bits = bits_;
    const std::ptrdiff_t stride = stride_;
    if (!counting_) {
        ForEachPixel(x0, y0, x1, y1, [&](int x, int y) {
            if (!nearEdge || InDisc(x, y)) bits[y * stride + x] = pixel;
        });
        return;
    }
    std::uint8_t* const counts = blockCounts_.data();
    const std::uint8_t* const discEdge = discEdge_.data();
    const int blocksWide = blocksWide_;
    std::size_t full = fullBlocks_;
    ForEachPixel(x0, y0, x1, y1, [&](int x, int y) {
        const int block = (y >> kBlockShift) * blocksWide + (x >> kBlockShift);
        if (!nearEdge || !discEdge[block] || InDisc(x, y)) {
            std::uint32_t& at = bits[y * stride + x];
            const unsigned fresh = at != pixel;
            at = pixel;
            counts[block] = static_cast<std::uint8_t>(counts[block] + fresh);
            full += fresh & (counts[block] == kFullBlock);
        }
    });
    fullBlocks_ = full;
}

// What a clear image's blocks hold: the pixels that are never drawn, beyond the image's edge or
// beyond the globe's disc. A block the disc's edge crosses has its pixels tested one by one.
void TrailRaster::CountClearBlocks() {
    const int width = image_.width();
    const int height = image_.height();
    discReach2_ = discRadius_ * discRadius_;
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
            const int farX =
                std::abs(left - disc_.x()) > std::abs(right - disc_.x()) ? left : right;
            const int farY =
                std::abs(top - disc_.y()) > std::abs(bottom - disc_.y()) ? top : bottom;
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
}

bool TrailRaster::BlocksFull(int x0, int y0, int x1, int y1) const {
    for (int by = y0 >> kBlockShift; by <= y1 >> kBlockShift; ++by) {
        const std::uint8_t* row = blockCounts_.data() + by * blocksWide_;
        for (int bx = x0 >> kBlockShift; bx <= x1 >> kBlockShift; ++bx) {
            if (row[bx] != kFullBlock) return false;
        }
    }
    return true;
}

}  // namespace vostrel
