// Intake of one arrival of data from a tracker: log it, check it, convert it, record it and
// have the globe viewer show it.
#pragma once

#include <string>

#include "report/Ports.h"

namespace vostrel {

inline constexpr std::int32_t kShowKmlFlag = 1;

class ReportIntake {
  public:
    ReportIntake(ActivityLogPort& log, ErrorNoticePort& notice, ClockPort& clock,
                 PositionWriterPort& writer, ViewerPort& viewer)
        : log_(log), notice_(notice), clock_(clock), writer_(writer), viewer_(viewer) {}

    // `report` is everything that was pending on the connection, one byte per character. The
    // object keeps no state, so a nested call (while a notice is open) is safe.
    void ReceiveReport(const std::string& report);

  private:
    ActivityLogPort& log_;
    ErrorNoticePort& notice_;
    ClockPort& clock_;
    PositionWriterPort& writer_;
    ViewerPort& viewer_;
};

}  // namespace vostrel
