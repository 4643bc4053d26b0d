// How reports are framed in what a connection carries: where one report ends and the next
// begins, which reads of pending data keep whole, and what the first report of a connection
// says about its tracker.
#pragma once

#include <string_view>
#include <vector>

#include "core/Ports.h"

namespace vostrel {

// Where one report ends and the next begins: a report's closing "!" directly followed by the
// next one's "$". Reports that piled up are cut here, and nowhere else.
inline constexpr std::string_view kReportBoundary = "!$";

// One arrival of data cut into the reports it holds: after every "!" of kReportBoundary. An
// arrival without such a place is one piece, exactly as it came.
std::vector<std::string_view> SplitArrival(std::string_view arrival);

// The report framing the link reads by (see ReportFramingPort).
class ReportFraming : public ReportFramingPort {
  public:
    std::size_t LastBoundary(std::string_view data) const override;
    std::size_t UnfinishedTail(std::string_view arrival) const override;
    bool BeginsReport(std::string_view read) const override;
    FirstReport ReadFirstReport(std::string_view data) const override;
};

}  // namespace vostrel
