// The date and time in front of each received report: the system locale's short date and
// long time, date first.
#pragma once

#include <QLocale>
#include <QtGlobal>
#include <string>

#include "core/Ports.h"

namespace vostrel {

class SystemClock : public ClockPort {
  public:
    std::string DateAndTime() override;

  private:
    const QLocale locale_ = QLocale::system();
    qint64 stampSecond_ = -1;
    std::string stamp_;
};

}  // namespace vostrel
