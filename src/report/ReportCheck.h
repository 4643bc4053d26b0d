// The framing checks of one received position report.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vostrel {

inline constexpr std::size_t kShortestReport = 15;
inline constexpr std::size_t kLongestReport = 254;
inline constexpr std::size_t kReportFields = 11;

// The text split at every ",", empty fields kept, nothing trimmed.
std::vector<std::string_view> SplitFields(std::string_view text);

// The outcome of the checks: the fields of a good report, or the notice text of the first
// check that failed (length, then field count, then header and trailer).
struct CheckResult {
    std::optional<std::string> rejection;
    std::vector<std::string_view> fields;  // views into the checked text; all 11 when accepted
};

CheckResult CheckReport(std::string_view text);

}  // namespace vostrel
