#include "app/SystemClock.h"

#include <QDateTime>

namespace vostrel {

std::string SystemClock::DateAndTime() {
    // The stamp has whole seconds: build it once a second, not once a report.
    const qint64 second = QDateTime::currentSecsSinceEpoch();
    if (second != stampSecond_) {
        stampSecond_ = second;
        const QDateTime now = QDateTime::fromSecsSinceEpoch(second);
        const QString text = locale_.toString(now.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                             locale_.toString(now.time(), QLocale::LongFormat);
        stamp_ = text.toLatin1().toStdString();
    }
    return stamp_;
}

}  // namespace vostrel
