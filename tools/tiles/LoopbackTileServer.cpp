#include "tiles/LoopbackTileServer.h"

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

namespace vostrel {

namespace {

constexpr const char* kInstalledStreetTheme = "/usr/share/marble/data/maps/earth/openstreetmap";

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

}  // namespace

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
    socket->write("HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: " +
                  QByteArray::number(png.size()) + "\r\nConnection: close\r\n\r\n" + png);
    socket->disconnectFromHost();
}

QString InstallLoopbackStreetTheme(const QString& home, quint16 port) {
    const QString from = QLatin1String(kInstalledStreetTheme);
    const QString to = home + QStringLiteral("/.local/share/marble/maps/earth/openstreetmap");
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
