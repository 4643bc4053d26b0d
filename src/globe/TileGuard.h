// Bounds what the street map takes from a tile server. Marble downloads tiles through a network
// access manager of its own that it does not expose, reads each reply whole once it has ended,
// writes it to the tile cache on disk and decodes it in the window's thread: a hostile or broken
// server could fill memory with an endless reply, the disk with huge ones, and stall the window
// with a small picture of a huge image. The guard watches the process's events for network
// replies being made (a reply is a child of its access manager, and the manager is told of each
// new child by an event), and holds every reply, before any of its data arrives, to limits:
// - no more than maxBytes (announced or received): the reply is cut off and dropped;
// - a picture whose header gives a side over maxSide, or no size in its first 64 KiB, is
//   dropped before anything decodes it;
// - a reply still running after `deadline` is dropped.
// A dropped reply ends as cancelled: Marble keeps nothing of it, neither on screen nor on disk,
// and tries the tile again later as it does after any failed download. Every check reads at
// most the reply's first 64 KiB, in the window's thread, taking microseconds.
#pragma once

#include <QObject>
#include <array>
#include <chrono>

class QNetworkReply;

namespace vostrel {

struct TileLimits {
    qint64 maxBytes = 1 << 20;  // far above a 256 px tile (some 10-100 KB)
    int maxSide = 1024;         // pixels; tiles are 256 or 512
    std::chrono::milliseconds deadline{std::chrono::seconds(60)};
};

enum class TileRefusal { TooLarge, PictureTooLarge, NoPictureSize, TooSlow };
inline constexpr int kTileRefusalKinds = 4;

class TileGuard : public QObject {
  public:
    // The process's guard, watching from its first call on (needs the application object).
    static TileGuard& Instance();

    void SetLimits(const TileLimits& limits) { limits_ = limits; }
    const TileLimits& Limits() const { return limits_; }

    // Replies dropped so far, by reason.
    int Refused(TileRefusal why) const { return refused_[static_cast<std::size_t>(why)]; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    TileGuard();
    void Watch(QNetworkReply* reply);
    // Checks what the reply has so far and drops it when it breaks a limit; `sized`: its
    // picture's size was found within the limit.
    void Check(QNetworkReply* reply, bool& sized);
    void Refuse(QNetworkReply* reply, TileRefusal why);

    TileLimits limits_;
    std::array<int, kTileRefusalKinds> refused_{};
};

}  // namespace vostrel
