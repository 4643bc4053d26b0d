#include "globe/FixFreshness.h"

#include <algorithm>
#include <chrono>

namespace vostrel {

namespace {

// The machine's clock, for a globe that was given no clock of its own: only its wall-clock
// time is read here.
class MachineClock final : public ClockPort {
  public:
    std::string DateAndTime() override {
        return QDateTime::currentDateTime().toString(Qt::ISODate).toStdString();
    }
};

ClockPort& TheMachineClock() {
    static MachineClock clock;
    return clock;
}

// "12 s ago", "3 min 5 s ago", "2 h 5 min ago", "3 d 4 h ago".
QString Ago(qint64 seconds) {
    seconds = std::max<qint64>(seconds, 0);
    if (seconds < 60) return QStringLiteral("%1 s ago").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1 min %2 s ago").arg(seconds / 60).arg(seconds % 60);
    if (seconds < 86400) {
        return QStringLiteral("%1 h %2 min ago").arg(seconds / 3600).arg(seconds % 3600 / 60);
    }
    return QStringLiteral("%1 d %2 h ago").arg(seconds / 86400).arg(seconds % 86400 / 3600);
}

}  // namespace

QColor RingColour(Freshness freshness) {
    switch (freshness) {
        case Freshness::Fresh:
            return Qt::white;
        case Freshness::Quiet:
            return {0xF0, 0xA0, 0x00};
        case Freshness::Silent:
            break;
    }
    return {0xFF, 0x20, 0x20};
}

QString LabelStyle(Freshness freshness) {
    switch (freshness) {
        case Freshness::Fresh:
            return {};
        case Freshness::Quiet:
            return QStringLiteral("background: #f0a000; color: black; border-radius: 3px;");
        case Freshness::Silent:
            break;
    }
    return QStringLiteral("background: #c81414; color: white; border-radius: 3px;");
}

FixFreshness::FixFreshness(QObject* parent) : QObject(parent), clock_(&TheMachineClock()) {
    tick_.setSingleShot(true);
    connect(&tick_, &QTimer::timeout, this, &FixFreshness::Tick);
}

void FixFreshness::SetClock(ClockPort& clock) {
    clock_ = &clock;
    Tick();
}

QDateTime FixFreshness::Now() const {
    const auto since = clock_->WallNow().time_since_epoch();
    return QDateTime::fromMSecsSinceEpoch(
        std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

void FixFreshness::Fixed(const QDateTime& time) {
    time_ = time;
    Tick();
}

Freshness FixFreshness::Current() const {
    const qint64 seconds = time_.isValid() ? time_.secsTo(Now()) : 0;
    return seconds >= kSilentAfterSeconds  ? Freshness::Silent
           : seconds >= kQuietAfterSeconds ? Freshness::Quiet
                                           : Freshness::Fresh;
}

QString FixFreshness::Text() const {
    if (!time_.isValid()) return {};
    const QDateTime now = Now();
    const QString format = time_.date() == now.date() ? QStringLiteral("HH:mm:ss")
                                                      : QStringLiteral("yyyy-MM-dd HH:mm:ss");
    return QStringLiteral("Last fix %1, %2").arg(time_.toString(format), Ago(time_.secsTo(now)));
}

void FixFreshness::Tick() {
    if (!time_.isValid()) return;
    const Freshness freshness = Current();
    const QString text = Text();
    if (text != text_ || freshness != freshness_) {
        text_ = text;
        freshness_ = freshness;
        emit Changed(text, freshness);
    }
    // Next when the age in whole seconds goes up.
    const qint64 ms = time_.msecsTo(Now());
    tick_.start(ms >= 0 ? 1000 - static_cast<int>(ms % 1000) : 1000);
}

}  // namespace vostrel
