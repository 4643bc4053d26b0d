// A map tile server on loopback, for trying and testing the street map without sending anything
// beyond this machine: every tile is a generated picture (green, with its zoom/x/y written on
// it), and every request's path and user agent is kept. It can also answer as a hostile or
// broken server would. Plus the street map theme rewritten to fetch from it.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QtGlobal>
#include <vector>

class QTcpSocket;

namespace vostrel {

// The tiles' colour.
inline constexpr int kLoopbackTileRgb[] = {60, 190, 60};

// How the server answers a tile request.
enum class TileReply {
    Picture,       // a 256x256 PNG tile
    Oversized,     // 16 MiB: a tile followed by padding, its length announced
    Endless,       // data that never ends, as fast as the client takes it, no length announced
    Slow,          // a 1000-byte PNG reply at one byte every 200 ms
    HugeImage,     // a 249 KB PNG that decodes to 16000x16000 (256 MB at 8 bits a pixel)
    Redirect,      // a 302 to the location set with SetRedirect (a file, a FIFO, another server)
    RedirectLoop,  // a 302 to the same address
    Svg,           // a 1.6 KB SVG of 1000x1000 px that nests 10,000 translucent full-size squares
    GzipBomb,      // "Content-Encoding: gzip", 1 MB that inflates to 1,000 MB of zeros
    Drip,          // a 64 KiB PNG reply, one byte a segment, every millisecond
};
inline constexpr qint64 kOversizedTileBytes = 16 << 20;
inline constexpr int kHugeImageSide = 16000;
inline constexpr qint64 kGzipBombInflatedBytes = qint64{1000} << 20;
inline constexpr int kDripReplyBytes = 64 * 1024;

// Needs a QGuiApplication (it draws its tiles).
class LoopbackTileServer : public QObject {
  public:
    struct Request {
        QString path;  // "/15/17602/10742.png"
        QString userAgent;
        int zoom = -1;  // from the path, -1 when it has none
    };

    // Listens on 127.0.0.1, on `port` or, with 0, on a free one.
    explicit LoopbackTileServer(quint16 port = 0);
    ~LoopbackTileServer() override;
    bool Listening() const { return server_.isListening(); }
    quint16 Port() const { return server_.serverPort(); }
    void Close() { server_.close(); }

    const std::vector<Request>& Requests() const { return requests_; }
    void ClearRequests() { requests_.clear(); }

    // Answers the next `times` tile requests (every one while `times` is negative) with
    // `reply`, then pictures again.
    void SetReply(TileReply reply, int times = -1);
    // Where TileReply::Redirect sends the client ("file:///...", "http://127.0.0.2:8080/...").
    void SetRedirect(const QByteArray& location) { redirect_ = location; }
    // Drops every connection, ending replies that are still going.
    void DropConnections();

  private:
    void Answer(QTcpSocket* socket);

    QTcpServer server_;
    std::vector<Request> requests_;
    QHash<QTcpSocket*, QByteArray> pending_;
    TileReply reply_ = TileReply::Picture;
    int replyTimes_ = 0;
    QByteArray redirect_;
};

// The Svg reply's body.
QByteArray NestedSvgTile();

// Copies the installed street map theme into Marble's user data folder (where it overrides the
// installed one; ~/.local/share/marble unless XDG_DATA_HOME says otherwise) with every download
// address pointing at 127.0.0.1:`port`. Returns "" or the reason it could not.
QString InstallLoopbackStreetTheme(quint16 port);

}  // namespace vostrel
