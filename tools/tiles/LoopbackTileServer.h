// A map tile server on loopback, for trying and testing the street map without sending anything
// beyond this machine: every tile is a generated picture (green, with its zoom/x/y written on
// it), and every request's path and user agent is kept. Plus the street map theme rewritten to
// fetch from it.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <vector>

class QTcpSocket;

namespace vostrel {

// The tiles' colour.
inline constexpr int kLoopbackTileRgb[] = {60, 190, 60};

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
    bool Listening() const { return server_.isListening(); }
    quint16 Port() const { return server_.serverPort(); }
    void Close() { server_.close(); }

    const std::vector<Request>& Requests() const { return requests_; }
    void ClearRequests() { requests_.clear(); }

  private:
    void Answer(QTcpSocket* socket);

    QTcpServer server_;
    std::vector<Request> requests_;
    QHash<QTcpSocket*, QByteArray> pending_;
};

// Copies the installed street map theme into `home`'s user map folder (where it overrides the
// installed one) with every download address pointing at 127.0.0.1:`port`. Returns "" or the
// reason it could not.
QString InstallLoopbackStreetTheme(const QString& home, quint16 port);

}  // namespace vostrel
