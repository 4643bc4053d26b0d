// Intake of one arrival of data from a tracker: log it, check it, convert it, record it and
// have the globe viewer show it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Ports.h"
#include "report/ReportCheck.h"

namespace vostrel {

inline constexpr std::int32_t kShowKmlFlag = 1;

class ReportIntake {
  public:
    ReportIntake(ActivityLogPort& log, ErrorNoticePort& notice, ClockPort& clock,
                 PositionWriterPort& writer, ViewerPort& viewer)
        : log_(log), notice_(notice), clock_(clock), writer_(writer), viewer_(viewer) {}

    // What one arrival came to: the trackers of its good reports (their field 0), in order,
    // and the notice to show, if any.
    struct Outcome {
        std::vector<std::string> goodReportsFrom;
        std::optional<std::string> notice;
    };

    // `arrival` is everything that was pending on the connection, one byte per character.
    // Reports that arrived together (a "!" directly followed by "$") are each handled as an
    // arrival of their own: logged, checked, converted, saved and shown, in order. All of them
    // are handled, and what they saved is on disk, before the arrival's notice is shown: one
    // at most, with its first message; further messages go to the log as error lines at once,
    // so a peer cannot bury the operator under notices. The object keeps no state, so a nested
    // call (while a notice is open) is safe.
    Outcome HandleReport(const std::string& arrival);
    // The same, and the notice shown at once.
    Outcome ReceiveReport(const std::string& arrival);

  private:
    struct Arrival;
    void ReceiveOne(std::string_view report, const CheckResult& check, Durability durability,
                    Arrival& arrival);

    ActivityLogPort& log_;
    ErrorNoticePort& notice_;
    ClockPort& clock_;
    PositionWriterPort& writer_;
    ViewerPort& viewer_;
};

}  // namespace vostrel
