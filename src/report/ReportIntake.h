// Intake of one arrival of data from a tracker: log it, check it, convert it, record it and
// have the globe viewer show it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/Ports.h"
#include "report/ReportCheck.h"

namespace vostrel {

inline constexpr std::int32_t kShowKmlFlag = 1;

class ReportIntake {
  public:
    ReportIntake(ActivityLogPort& log, ErrorNoticePort& notice, ClockPort& clock,
                 PositionWriterPort& writer, ViewerPort& viewer)
        : log_(log), notice_(notice), clock_(clock), writer_(writer), viewer_(viewer) {}

    // `arrival` is everything that was pending on the connection, one byte per character.
    // Reports that arrived together (a "!" directly followed by "$") are each handled as an
    // arrival of their own: logged, checked, converted, saved and shown, in order. All of them
    // are handled, and what they saved is on disk, before the arrival shows its notice: one
    // at most, with its first message; further messages go to the log as error lines at once,
    // so a peer cannot bury the operator under notices. `onGoodReport` runs for each report
    // that passes the checks, with the id of the tracker that sent it (its field 0). The
    // object keeps no state, so a nested call (while a notice is open) is safe.
    using GoodReport = std::function<void(std::string_view trackerId)>;
    void ReceiveReport(const std::string& arrival, const GoodReport& onGoodReport = nullptr);
    // The same, except that the notice is not shown but returned, for the caller to show once
    // it is ready to (the last report of a connection, shown after its disconnect line).
    std::optional<std::string> HandleReport(const std::string& arrival,
                                            const GoodReport& onGoodReport = nullptr);

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
