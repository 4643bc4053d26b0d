#include "globe/TileGuard.h"

#include <QBuffer>
#include <QChildEvent>
#include <QCoreApplication>
#include <QImageReader>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>

namespace vostrel {

namespace {

// A picture's size must be known from this much of its beginning.
constexpr qint64 kHeaderBytes = 64 * 1024;

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
    }
    return "";
}

}  // namespace

TileGuard& TileGuard::Instance() {
    static TileGuard* guard = [] {
        auto* made = new TileGuard;  // goes with the application object
        QCoreApplication::instance()->installEventFilter(made);
        return made;
    }();
    return *guard;
}

TileGuard::TileGuard() : QObject(QCoreApplication::instance()) {}

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
    if (reply->isFinished()) return;
    // Qt stops reading from the server while this much waits unread (Marble reads only at the
    // end), so an oversized reply never holds much more than the limit.
    reply->setReadBufferSize(limits_.maxBytes + 1);
    auto sized = std::make_shared<bool>(false);
    const auto check = [this, reply, sized] { Check(reply, *sized); };
    connect(reply, &QNetworkReply::metaDataChanged, this, check);
    connect(reply, &QIODevice::readyRead, this, check);
    auto* deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, this, [this, reply] {
        if (reply->isRunning()) Refuse(reply, TileRefusal::TooSlow);
    });
    deadline->start(limits_.deadline);
    Check(reply, *sized);
}

void TileGuard::Check(QNetworkReply* reply, bool& sized) {
    if (!reply->isRunning()) return;
    const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    if (announced > limits_.maxBytes || reply->bytesAvailable() > limits_.maxBytes) {
        Refuse(reply, TileRefusal::TooLarge);
        return;
    }
    if (sized || reply->bytesAvailable() == 0) return;
    QByteArray head = reply->peek(std::min(reply->bytesAvailable(), kHeaderBytes));
    QBuffer buffer(&head);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (size.isValid()) {
        sized = true;
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
