// The framing checks of one received position report.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Ports.h"

namespace vostrel {

inline constexpr std::size_t kShortestReport = 15;
inline constexpr std::size_t kLongestReport = 254;
inline constexpr std::size_t kReportFields = 11;

// The text split at every ",", empty fields kept, nothing trimmed.
std::vector<std::string_view> SplitFields(std::string_view text);

// One arrival of data cut into the reports it holds: after every "!" that is directly followed
// by "$". An arrival without such a place is one piece, exactly as it came.
std::vector<std::string_view> SplitArrival(std::string_view arrival);

// The report framing the link reads by (see ReportFramingPort).
class ReportFraming : public ReportFramingPort {
  public:
    std::size_t LastBoundary(std::string_view data) const override;
    std::size_t UnfinishedTail(std::string_view arrival) const override;
};

// The outcome of the checks: the fields of a good report, or the notice text of the first
// check that failed (length, then field count, then header and trailer).
struct CheckResult {
    std::optional<std::string> rejection;
    std::vector<std::string_view> fields;  // views into the checked text; all 11 when accepted
};

CheckResult CheckReport(std::string_view text);

}  // namespace vostrel
