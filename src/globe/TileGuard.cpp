#include "globe/TileGuard.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QChildEvent>
#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <QImageReader>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QRegularExpression>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>

namespace vostrel {

namespace {

// A picture's size must be known from this much of its beginning.
constexpr qint64 kHeaderBytes = 64 * 1024;
// What tells the pictures apart.
constexpr char kPngSignature[] = "\x89PNG\r\n\x1a\n";
constexpr char kJpegSignature[] = "\xff\xd8\xff";
constexpr qint64 kSignatureBytes = 8;
// A reply that has come in more pieces than this, each this small on average, drips.
constexpr qint64 kDripPieces = 1024;
constexpr qint64 kDripPieceBytes = 64;
// Redirect targets remembered at most (a hostile server can make many).
constexpr int kRedirectsRemembered = 256;

const char* Describe(TileRefusal why) {
    switch (why) {
        case TileRefusal::TooLarge:
            return "larger than a tile can be";
        case TileRefusal::PictureTooLarge:
            return "a picture larger than a tile";
        case TileRefusal::NoPictureSize:
            return "not a picture of known size";
        case TileRefusal::TooSlow:
            return "too slow";
        case TileRefusal::NotATile:
            return "not a PNG or JPEG picture";
        case TileRefusal::Compressed:
            return "compressed";
        case TileRefusal::Redirected:
            return "a redirect to another server or one too many";
    }
    return "";
}

bool IsHttp(const QUrl& url) {
    return url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
}

int DefaultPort(const QUrl& url) {
    return url.port(url.scheme() == QLatin1String("https") ? 443 : 80);
}

}  // namespace

bool IsTilePicture(const QByteArray& head) {
    return head.startsWith(QByteArray::fromRawData(kPngSignature, sizeof kPngSignature - 1)) ||
           head.startsWith(QByteArray::fromRawData(kJpegSignature, sizeof kJpegSignature - 1));
}

int SweepTileCache(const QString& folder) {
    static const QRegularExpression tile(QStringLiteral("^/\\d+/\\d+/\\d+\\.(png|jpg|jpeg)$"));
    int removed = 0;
    QDirIterator files(folder, QDir::Files | QDir::System | QDir::Hidden,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        if (!tile.match(path.mid(folder.size())).hasMatch()) continue;
        const QByteArray name = QFile::encodeName(path);
        QByteArray head(kSignatureBytes, '\0');
        qint64 got = -1;
        struct stat info {};
        if (::lstat(name.constData(), &info) == 0 && S_ISREG(info.st_mode)) {
            const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
            if (fd >= 0) {
                got = ::read(fd, head.data(), static_cast<size_t>(head.size()));
                ::close(fd);
            }
        }
        if (got > 0 && IsTilePicture(head.left(static_cast<int>(got)))) continue;
        if (::unlink(name.constData()) == 0) ++removed;
    }
    return removed;
}

TileGuard& TileGuard::Instance() {
    static TileGuard* guard = [] {
        auto* made = new TileGuard;  // goes with the application object
        QCoreApplication::instance()->installEventFilter(made);
        return made;
    }();
    return *guard;
}

TileGuard::TileGuard() : QObject(QCoreApplication::instance()) {}

void TileGuard::StartSweep(const QString& folder) {
    AwaitSweep();
    sweep_ = std::async(std::launch::async, [folder] { return SweepTileCache(folder); });
}

void TileGuard::AwaitSweep() {
    if (!sweep_.valid()) return;
    if (const int removed = sweep_.get(); removed > 0) {
        std::fprintf(stderr, "The street map removed %d tiles from its cache: not PNG or JPEG\n",
                     removed);
    }
}

bool TileGuard::eventFilter(QObject* watched, QEvent* event) {
    // A new child of an access manager may be a reply, not yet made: it is watched as soon as
    // it is, which is before any of its data can arrive (that comes through events posted later
    // than this one).
    if (event->type() == QEvent::ChildAdded && qobject_cast<QNetworkAccessManager*>(watched)) {
        const QPointer<QObject> child = static_cast<QChildEvent*>(event)->child();
        QMetaObject::invokeMethod(
            this,
            [this, child] {
                if (auto* reply = qobject_cast<QNetworkReply*>(child.data())) Watch(reply);
            },
            Qt::QueuedConnection);
    }
    return false;
}

void TileGuard::Watch(QNetworkReply* reply) {
    auto watched = std::make_shared<Watched>();
    watched->hops = redirected_.take(reply->url());
    if (!IsHttp(reply->url())) {  // only through a redirect, which is refused before
        Refuse(reply, TileRefusal::Redirected);
        reply->close();
        return;
    }
    if (reply->isFinished()) return;
    // Qt stops reading from the server while this much waits unread (Marble reads only at the
    // end), so an oversized reply never holds much more than the limit.
    reply->setReadBufferSize(limits_.maxBytes + 1);
    connect(reply, &QNetworkReply::metaDataChanged, this,
            [this, reply, watched] { Check(reply, *watched); });
    connect(reply, &QIODevice::readyRead, this, [this, reply, watched] {
        ++watched->pieces;
        Check(reply, *watched);
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (reply->error() != QNetworkReply::NoError) {
            lastFailed_ = reply->url();
            emit TileFetched(false);
        } else if (status < 300 || status >= 400) {  // a redirect followed is neither
            emit TileFetched(true);
        }
    });
    auto* deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, this, [this, reply] {
        if (reply->isRunning()) Refuse(reply, TileRefusal::TooSlow);
    });
    deadline->start(limits_.deadline);
    Check(reply, *watched);
}

bool TileGuard::CheckRedirect(QNetworkReply* reply, const Watched& watched) {
    const QVariant target = reply->attribute(QNetworkRequest::RedirectionTargetAttribute);
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (target.isNull() && (status < 300 || status >= 400)) return true;
    const QUrl from = reply->url();
    const QUrl to = from.resolved(target.toUrl());
    if (target.isNull() || watched.hops >= kMaxTileRedirects || to.scheme() != from.scheme() ||
        to.host().compare(from.host(), Qt::CaseInsensitive) != 0 ||
        DefaultPort(to) != DefaultPort(from)) {
        Refuse(reply, TileRefusal::Redirected);
        return false;
    }
    // The map library asks for the target as it is given.
    if (redirected_.size() >= kRedirectsRemembered) redirected_.clear();
    redirected_.insert(target.toUrl(), watched.hops + 1);
    return true;
}

void TileGuard::Check(QNetworkReply* reply, Watched& watched) {
    if (!reply->isRunning()) return;
    const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    if (announced > limits_.maxBytes || reply->bytesAvailable() > limits_.maxBytes) {
        Refuse(reply, TileRefusal::TooLarge);
        return;
    }
    if (watched.pieces > kDripPieces &&
        reply->bytesAvailable() < watched.pieces * kDripPieceBytes) {
        Refuse(reply, TileRefusal::TooSlow);
        return;
    }
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isNull()) return;  // nothing from the server yet
    if (!CheckRedirect(reply, watched)) return;
    // What is not a tile (an error page) fails as it is; a tile must be one.
    if (status.toInt() < 200 || status.toInt() >= 300) return;
    const QByteArray encoding = reply->rawHeader("Content-Encoding").trimmed().toLower();
    if (!encoding.isEmpty() && encoding != "identity") {
        Refuse(reply, TileRefusal::Compressed);
        return;
    }
    if (reply->hasRawHeader("Content-Length") && announced < kSignatureBytes) {
        Refuse(reply, TileRefusal::NotATile);
        return;
    }
    if (watched.sized || reply->bytesAvailable() < kSignatureBytes) return;
    QByteArray head = reply->peek(std::min(reply->bytesAvailable(), kHeaderBytes));
    if (!IsTilePicture(head)) {
        Refuse(reply, TileRefusal::NotATile);
        return;
    }
    QBuffer buffer(&head);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, head.startsWith('\x89') ? "png" : "jpeg");
    reader.setDecideFormatFromContent(false);
    const QSize size = reader.size();
    if (size.isValid()) {
        watched.sized = true;
        if (size.width() > limits_.maxSide || size.height() > limits_.maxSide) {
            Refuse(reply, TileRefusal::PictureTooLarge);
        }
    } else if (head.size() >= kHeaderBytes) {
        Refuse(reply, TileRefusal::NoPictureSize);
    }
}

void TileGuard::Refuse(QNetworkReply* reply, TileRefusal why) {
    int& count = refused_[static_cast<std::size_t>(why)];
    if (count++ == 0) {  // the first of each kind is worth a line; a hostile server sends many
        std::fprintf(stderr, "The street map dropped a tile from %s: %s\n",
                     qPrintable(reply->url().host()), Describe(why));
    }
    reply->abort();
}

}  // namespace vostrel
