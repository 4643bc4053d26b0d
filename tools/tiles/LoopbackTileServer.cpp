#include "tiles/LoopbackTileServer.h"

#include <marble/MarbleDirs.h>
#include <zlib.h>

#include <QBuffer>
#include <QColor>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <memory>

namespace vostrel {

namespace {

// The street map theme, relative to Marble's data folders.
constexpr const char* kStreetTheme = "/maps/earth/openstreetmap";
// An endless reply's chunk, and how much of it may wait unsent.
constexpr qint64 kStreamChunk = 64 * 1024;
constexpr int kSlowReplyBytes = 1000;
constexpr int kSlowByteMs = 200;

QByteArray TilePng(const QString& label) {
    QImage tile(256, 256, QImage::Format_RGB32);
    tile.fill(QColor(kLoopbackTileRgb[0], kLoopbackTileRgb[1], kLoopbackTileRgb[2]));
    QPainter painter(&tile);
    painter.setPen(QPen(QColor(30, 110, 30), 2));
    painter.drawRect(1, 1, 254, 254);
    QFont font = painter.font();
    font.setPixelSize(18);
    painter.setFont(font);
    painter.drawText(tile.rect(), Qt::AlignCenter, label);
    painter.end();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    tile.save(&buffer, "PNG");
    return png;
}

// A palette PNG of one colour: its pixel data compresses a thousandfold.
const QByteArray& HugeImagePng() {
    static const QByteArray png = [] {
        QImage image(kHugeImageSide, kHugeImageSide, QImage::Format_Indexed8);
        image.setColorTable({qRgb(kLoopbackTileRgb[0], kLoopbackTileRgb[1], kLoopbackTileRgb[2])});
        image.fill(0);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return bytes;
    }();
    return png;
}

// Inflates a thousandfold: 1,000 MB of zeros, gzip-compressed (made once, in about a second).
const QByteArray& GzipBomb() {
    static const QByteArray body = [] {
        QByteArray out;
        z_stream stream{};
        deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
        const QByteArray zeros(1 << 20, '\0');
        QByteArray chunk(1 << 16, '\0');
        for (qint64 fed = 0; fed <= kGzipBombInflatedBytes; fed += zeros.size()) {
            const bool last = fed == kGzipBombInflatedBytes;
            stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
            stream.avail_in = last ? 0 : static_cast<uInt>(zeros.size());
            do {
                stream.next_out = reinterpret_cast<Bytef*>(chunk.data());
                stream.avail_out = static_cast<uInt>(chunk.size());
                deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
                out.append(chunk.constData(), chunk.size() - static_cast<int>(stream.avail_out));
            } while (stream.avail_out == 0);
        }
        deflateEnd(&stream);
        return out;
    }();
    return body;
}

// 1000x1000 px, drawn as 10 x 10 x 10 x 10 translucent squares of the whole size.
}  // namespace

QByteArray NestedSvgTile() {
    QByteArray svg =
        "<?xml version=\"1.0\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" "
        "xmlns:xlink=\"http://www.w3.org/1999/xlink\" width=\"1000\" height=\"1000\">\n<defs>\n"
        "<rect id=\"l0\" width=\"1000\" height=\"1000\" fill=\"#3cbe3c\" fill-opacity=\"0.01\"/>\n";
    for (int level = 1; level <= 4; ++level) {
        svg += "<g id=\"l" + QByteArray::number(level) + "\">";
        for (int i = 0; i < 10; ++i)
            svg += "<use xlink:href=\"#l" + QByteArray::number(level - 1) + "\"/>";
        svg += "</g>\n";
    }
    return svg + "</defs>\n<use xlink:href=\"#l4\"/>\n</svg>\n";
}

namespace {

QByteArray Header(qint64 length, const QByteArray& extra = {}) {
    QByteArray header = "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\n" + extra;
    if (length >= 0) header += "Content-Length: " + QByteArray::number(length) + "\r\n";
    return header + "Connection: close\r\n\r\n";
}

QByteArray Redirection(const QByteArray& location) {
    return "HTTP/1.1 302 Found\r\nLocation: " + location +
           "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
}

// Sends `bytes` bytes of padding (endless when negative) after what was written, as the client
// takes it, so this side holds little whatever the length.
void StreamPadding(QTcpSocket* socket, qint64 bytes) {
    auto left = std::make_shared<qint64>(bytes);  // negative: endless
    const auto more = [socket, left] {
        if (socket->state() != QAbstractSocket::ConnectedState) return;
        if (*left == 0 || socket->bytesToWrite() >= kStreamChunk) return;
        const qint64 size = *left < 0 ? kStreamChunk : std::min(*left, kStreamChunk);
        socket->write(QByteArray(static_cast<int>(size), '\0'));
        if (*left > 0) *left -= size;
        if (*left == 0) socket->disconnectFromHost();
    };
    QObject::connect(socket, &QTcpSocket::bytesWritten, socket, more);
    more();
}

}  // namespace

void LoopbackTileServer::SetReply(TileReply reply, int times) {
    reply_ = reply;
    replyTimes_ = times;
    if (reply == TileReply::HugeImage) HugeImagePng();  // made now, not while answering
    if (reply == TileReply::GzipBomb) GzipBomb();
}

void LoopbackTileServer::DropConnections() {
    for (QTcpSocket* socket : server_.findChildren<QTcpSocket*>()) socket->abort();
}

LoopbackTileServer::LoopbackTileServer(quint16 port) {
    server_.listen(QHostAddress::LocalHost, port);
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Answer(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                pending_.remove(socket);
                socket->deleteLater();
            });
        }
    });
}

LoopbackTileServer::~LoopbackTileServer() {
    // Its connections go with the listening server, after what they would tell here.
    for (QTcpSocket* socket : server_.findChildren<QTcpSocket*>()) socket->disconnect(this);
}

void LoopbackTileServer::Answer(QTcpSocket* socket) {
    QByteArray& head = pending_[socket];
    head += socket->readAll();
    if (!head.contains("\r\n\r\n")) return;
    Request request;
    const QList<QByteArray> lines = head.split('\n');
    request.path = QString::fromLatin1(lines.value(0).split(' ').value(1));
    for (const QByteArray& line : lines) {
        if (line.toLower().startsWith("user-agent:")) {
            request.userAgent = QString::fromLatin1(line.mid(11).trimmed());
        }
    }
    pending_.remove(socket);
    static const QRegularExpression tilePath(QStringLiteral("^/(\\d+)/(\\d+)/(\\d+)"));
    const QRegularExpressionMatch match = tilePath.match(request.path);
    if (match.hasMatch()) request.zoom = match.captured(1).toInt();
    const QByteArray png = TilePng(match.hasMatch() ? match.captured(1) + '/' + match.captured(2) +
                                                          '/' + match.captured(3)
                                                    : request.path);
    requests_.push_back(request);
    TileReply reply = TileReply::Picture;
    if (replyTimes_ != 0) {
        reply = reply_;
        if (replyTimes_ > 0) --replyTimes_;
    }
    switch (reply) {
        case TileReply::Picture:
            socket->write(Header(png.size()) + png);
            break;
        case TileReply::Oversized:
            socket->write(Header(kOversizedTileBytes) + png);
            StreamPadding(socket, kOversizedTileBytes - png.size());
            return;
        case TileReply::HugeImage:
            socket->write(Header(HugeImagePng().size()) + HugeImagePng());
            break;
        case TileReply::Endless:
            socket->write(Header(-1) + png);
            StreamPadding(socket, -1);
            return;
        case TileReply::Redirect:
            socket->write(Redirection(redirect_));
            break;
        case TileReply::RedirectLoop:
            socket->write(Redirection("http://127.0.0.1:" + QByteArray::number(Port()) +
                                      request.path.toLatin1()));
            break;
        case TileReply::Svg: {
            const QByteArray svg = NestedSvgTile();
            socket->write(Header(svg.size()) + svg);
            break;
        }
        case TileReply::GzipBomb:
            socket->write(Header(GzipBomb().size(), "Content-Encoding: gzip\r\n") + GzipBomb());
            break;
        case TileReply::Drip: {
            socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            socket->write(Header(kDripReplyBytes));
            auto body = std::make_shared<QByteArray>(png.leftJustified(kDripReplyBytes, '\0'));
            auto sent = std::make_shared<int>(0);
            auto* drip = new QTimer(socket);
            connect(drip, &QTimer::timeout, socket, [socket, body, sent, drip] {
                if (*sent == body->size()) {
                    drip->stop();
                    socket->disconnectFromHost();
                    return;
                }
                socket->write(body->constData() + (*sent)++, 1);
                socket->flush();
            });
            drip->setTimerType(Qt::PreciseTimer);
            drip->start(1);
            return;
        }
        case TileReply::Slow: {
            socket->write(Header(kSlowReplyBytes) + png.left(1));
            auto body = std::make_shared<QByteArray>(png.leftJustified(kSlowReplyBytes, '\0'));
            auto sent = std::make_shared<int>(1);
            auto* drip = new QTimer(socket);
            connect(drip, &QTimer::timeout, socket, [socket, body, sent] {
                if (*sent < body->size()) socket->write(body->constData() + (*sent)++, 1);
            });
            drip->start(kSlowByteMs);
            return;
        }
    }
    socket->disconnectFromHost();
}

QString InstallLoopbackStreetTheme(quint16 port) {
    const QString from = Marble::MarbleDirs::systemPath() + QLatin1String(kStreetTheme);
    const QString to = Marble::MarbleDirs::localPath() + QLatin1String(kStreetTheme);
    QDirIterator files(from, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString source = files.next();
        const QString target = to + source.mid(from.size());
        QFile::remove(target);
        if (!QDir().mkpath(QFileInfo(target).path()) || !QFile::copy(source, target)) {
            return QStringLiteral("cannot copy %1 to %2").arg(source, target);
        }
    }
    QFile theme(to + QStringLiteral("/openstreetmap.dgml"));
    if (!theme.open(QIODevice::ReadOnly)) return QStringLiteral("no street map theme installed");
    QString text = QString::fromUtf8(theme.readAll());
    theme.close();
    static const QRegularExpression url(QStringLiteral("<downloadUrl [^>]*/>"));
    text.replace(url, QStringLiteral("<downloadUrl protocol=\"http\" host=\"127.0.0.1\" "
                                     "port=\"%1\" path=\"/\"/>")
                          .arg(port));
    if (!theme.open(QIODevice::WriteOnly | QIODevice::Truncate) || theme.write(text.toUtf8()) < 0) {
        return QStringLiteral("cannot write %1").arg(theme.fileName());
    }
    return {};
}

}  // namespace vostrel
