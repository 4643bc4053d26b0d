// The thin trail's rasteriser: one-pixel lines into an image of its own, on the pixels of the
// globe's disc (those whose centres lie on it) and on no others, then laid over the picture in
// one step. It counts the pixels it has set in each block of 8 x 8 of its image, those it never
// draws (beyond the image or the disc) counted as set: a line whose blocks are all full is not
// drawn, and once every block is full nothing more can show, so a globe seen whole under a
// dense trail costs what its disc holds, not what the trail's length is.
#pragma once

#include <QImage>
#include <QPointF>
#include <QSize>
#include <cstddef>
#include <cstdint>
#include <vector>

class QPainter;

namespace vostrel {

class TrailRaster {
  public:
    // A drawing begins on a clear image of `size`, the globe's disc centred at `discCentre`
    // with radius `discRadius` pixels, in `pixel` (opaque, premultiplied ARGB).
    void Begin(QSize size, QPointF discCentre, double discRadius, std::uint32_t pixel);
    void Line(QPointF p, QPointF q);
    // Every pixel that could be drawn is drawn (known only to a drawing that counts).
    bool Full() const { return fullBlocks_ == blockCounts_.size(); }
    // Lays what was drawn over the painter's picture, and clears the image for the next drawing.
    void Finish(QPainter& painter);

  private:
    void CountClearBlocks();
    bool BlocksFull(int x0, int y0, int x1, int y1) const;
    // From the disc's centre to the middle of pixel (x, y), squared.
    double DistanceSquared(int x, int y) const {
        return (x - disc_.x()) * (x - disc_.x()) + (y - disc_.y()) * (y - disc_.y());
    }
    bool InDisc(int x, int y) const { return DistanceSquared(x, y) <= discReach2_; }

    // Clear but for what the drawing in progress put there (within left_..right_,
    // top_..bottom_).
    QImage image_;
    std::uint32_t* bits_ = nullptr;
    std::ptrdiff_t stride_ = 0;
    int width_ = 0, height_ = 0;
    std::uint32_t pixel_ = 0;
    int left_ = 0, top_ = 0, right_ = -1, bottom_ = -1;
    QPointF disc_;
    double discRadius_ = -1.0;
    double discReach2_ = 0.0;  // the disc's radius, squared
    // Whether this drawing counts its blocks; its lines, and those it left out; drawings since
    // the last that counted.
    bool counting_ = true;
    std::size_t lines_ = 0, skipped_ = 0;
    int uncounted_ = 0;
    // Pixels set in each block, row by row; every block is full at 64.
    std::vector<std::uint8_t> blockCounts_;
    std::size_t fullBlocks_ = 0;
    int blocksWide_ = 0;
    std::vector<std::uint8_t> clearCounts_;  // what a clear image's blocks hold
    std::size_t fullWhenClear_ = 0;
    std::vector<std::uint8_t> discEdge_;  // the blocks the disc's edge crosses
};

}  // namespace vostrel
