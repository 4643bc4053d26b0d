#include "report/ReportFraming.h"

#include "report/ReportCheck.h"

namespace vostrel {

namespace {

constexpr char kReportStart = kReportBoundary.back();
constexpr char kReportEnd = kReportBoundary.front();

}  // namespace

std::vector<std::string_view> SplitArrival(std::string_view arrival) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    for (std::size_t at = arrival.find(kReportBoundary); at != std::string_view::npos;
         at = arrival.find(kReportBoundary, at + 1)) {
        pieces.push_back(arrival.substr(start, at + 1 - start));
        start = at + 1;
    }
    pieces.push_back(arrival.substr(start));
    return pieces;
}

std::size_t ReportFraming::LastBoundary(std::string_view data) const {
    const std::size_t at = data.rfind(kReportBoundary);
    return at == std::string_view::npos ? at : at + 1;
}

std::size_t ReportFraming::UnfinishedTail(std::string_view arrival) const {
    const std::size_t at = arrival.rfind(kReportBoundary);
    const std::string_view last = at == std::string_view::npos ? arrival : arrival.substr(at + 1);
    const bool unfinished = BeginsReport(last) && last.find(kReportEnd) == std::string_view::npos &&
                            last.size() < kLongestReport;
    return unfinished ? last.size() : 0;
}

bool ReportFraming::BeginsReport(std::string_view read) const {
    return !read.empty() && read.front() == kReportStart;
}

ReportFramingPort::FirstReport ReportFraming::ReadFirstReport(std::string_view data) const {
    FirstReport first;
    const std::size_t end = data.find(kReportEnd);
    if (end == std::string_view::npos) {
        const bool mayStillCome =
            data.empty() || (BeginsReport(data) && data.size() < kLongestReport);
        first.verdict =
            mayStillCome ? FirstReport::Verdict::OnItsWay : FirstReport::Verdict::NotGood;
        return first;
    }
    // The report as intake will see it: cut from what follows only by the next report's start.
    const std::string_view rest = data.substr(end + 1);
    const CheckResult check = CheckReport(data.substr(0, end + 1));
    if (check.rejection || !(rest.empty() || BeginsReport(rest))) {
        first.verdict = FirstReport::Verdict::NotGood;
        return first;
    }
    first.verdict = FirstReport::Verdict::Good;
    first.trackerId = std::string(check.fields.front());
    return first;
}

}  // namespace vostrel
