// How fresh the tracker's last fix is, as of the program's clock: the time of the fix, the text
// "Last fix 14:28:54, 12 s ago" (the date too when it is not today), and its colours: white,
// amber after 2 minutes without a fix and red after 10, for the mark's ring and the label that
// shows the text. Once there is a fix it is brought up to date every second, when the age in
// whole seconds goes up.
#pragma once

#include <QColor>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include "core/Ports.h"

namespace vostrel {

// How long the tracker has been quiet: Fresh, then Quiet after kQuietAfterSeconds without a
// fix, then Silent after kSilentAfterSeconds.
enum class Freshness { Fresh, Quiet, Silent };
inline constexpr int kQuietAfterSeconds = 2 * 60;
inline constexpr int kSilentAfterSeconds = 10 * 60;

// The mark's ring: white, amber, red.
QColor RingColour(Freshness freshness);
// The style of the label that shows the text: the window's own, then amber, then red.
QString LabelStyle(Freshness freshness);

class FixFreshness : public QObject {
    Q_OBJECT

  public:
    // On the machine's clock until SetClock.
    explicit FixFreshness(QObject* parent = nullptr);

    // The clock the age is told by (its WallNow); it must outlive this. Brings it up to date.
    void SetClock(ClockPort& clock);
    // The clock's time now.
    QDateTime Now() const;

    // A fix at `time`; brings it up to date.
    void Fixed(const QDateTime& time);
    // The time of the last fix; invalid before one.
    QDateTime Time() const { return time_; }
    // "Last fix 14:28:54, 12 s ago" as of now; "" before a fix.
    QString Text() const;
    // As of now; Fresh before a fix.
    Freshness Current() const;

    // Brings the text and the freshness up to date now, telling Changed when either changed.
    // Runs by itself every second once there is a fix.
    void Tick();

  signals:
    void Changed(const QString& text, vostrel::Freshness freshness);

  private:
    ClockPort* clock_;
    QDateTime time_;
    QString text_;
    Freshness freshness_ = Freshness::Fresh;
    QTimer tick_;
};

}  // namespace vostrel
