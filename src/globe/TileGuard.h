// Bounds what the street map takes from a tile server. Marble downloads tiles through a network
// access manager of its own that it does not expose, reads each reply whole once it has ended,
// writes it to the tile cache on disk and decodes it in the window's thread: a hostile or broken
// server could fill memory with an endless reply, the disk with huge ones, stall the window with
// a small picture of a huge image or a picture that takes long to draw, and, through redirects,
// send the map library to files of this machine or to other servers. The guard watches the
// process's events for network replies being made (a reply is a child of its access manager,
// and the manager is told of each new child by an event), and holds every reply, before any of
// its data arrives, to limits:
// - only http and https; a redirect only to the same scheme, host and port, and no more than
//   kMaxTileRedirects of them in a row (a loop stops);
// - no more than maxBytes (announced or received): the reply is cut off and dropped;
// - a tile is a PNG or JPEG picture, known by its first bytes; anything else is dropped, and so
//   is a compressed reply (the requests ask for none: see TileRequests.cpp);
// - a picture whose header gives a side over maxSide, or no size in its first 64 KiB, is
//   dropped before anything decodes it;
// - a reply still running after `deadline`, or arriving a few bytes at a time, is dropped.
// A dropped reply ends as cancelled: Marble keeps nothing of it, neither on screen nor on disk,
// and tries the tile again later as it does after any failed download. Every check reads at
// most the reply's first 64 KiB, in the window's thread, taking microseconds.
#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QUrl>
#include <array>
#include <chrono>
#include <future>

class QNetworkReply;

namespace vostrel {

struct TileLimits {
    qint64 maxBytes = 1 << 20;  // far above a 256 px tile (some 10-100 KB)
    int maxSide = 1024;         // pixels; tiles are 256 or 512
    std::chrono::milliseconds deadline{std::chrono::seconds(60)};
};

// Redirects followed in a row for one tile, at most.
inline constexpr int kMaxTileRedirects = 3;

enum class TileRefusal {
    TooLarge,
    PictureTooLarge,
    NoPictureSize,
    TooSlow,
    NotATile,    // not a PNG or JPEG picture
    Compressed,  // a content encoding other than identity
    Redirected,  // to another scheme, host or port, or one redirect too many
};
inline constexpr int kTileRefusalKinds = 7;

// True when `head` (a file's or reply's first bytes) begins a PNG or JPEG picture.
bool IsTilePicture(const QByteArray& head);

// Removes from the street map's tile cache under `folder` every tile (<zoom>/<x>/<y>.png or
// .jpg) that is not a plain file beginning as a PNG or JPEG picture: what the map library
// would otherwise decode from it, whatever its name, or block on (a FIFO). Never follows a
// link, never waits on a file. Returns how many it removed.
int SweepTileCache(const QString& folder);

class TileGuard : public QObject {
    Q_OBJECT

  public:
    // The process's guard, watching from its first call on (needs the application object).
    static TileGuard& Instance();

    void SetLimits(const TileLimits& limits) { limits_ = limits; }
    const TileLimits& Limits() const { return limits_; }

    // Replies dropped so far, by reason.
    int Refused(TileRefusal why) const { return refused_[static_cast<std::size_t>(why)]; }

    // The address of the last tile that failed (none before one).
    QUrl LastFailedTile() const { return lastFailed_; }

    // Sweeps the tile cache under `folder` in the background (see SweepTileCache); AwaitSweep
    // waits for it to end, before the street map can read the cache.
    void StartSweep(const QString& folder);
    void AwaitSweep();

  signals:
    // A tile download ended: with a tile (`ok`), or failed (no network, refused by the server,
    // dropped by the guard).
    void TileFetched(bool ok);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct Watched {
        bool sized = false;  // its picture's size was found within the limit
        int hops = 0;        // redirects that led to it
        qint64 pieces = 0;   // how many times data arrived
    };

    TileGuard();
    void Watch(QNetworkReply* reply);
    // Checks what the reply has so far and drops it when it breaks a limit.
    void Check(QNetworkReply* reply, Watched& watched);
    bool CheckRedirect(QNetworkReply* reply, const Watched& watched);
    void Refuse(QNetworkReply* reply, TileRefusal why);

    TileLimits limits_;
    std::array<int, kTileRefusalKinds> refused_{};
    // Redirect targets the map library is about to ask for, and how many redirects led there.
    QHash<QUrl, int> redirected_;
    QUrl lastFailed_;
    std::future<int> sweep_;
};

}  // namespace vostrel
