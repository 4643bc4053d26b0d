#include "report/ReportCheck.h"

namespace vostrel {

std::vector<std::string_view> SplitFields(std::string_view text) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        if (comma == std::string_view::npos) {
            fields.push_back(text.substr(start));
            return fields;
        }
        fields.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
}

std::vector<std::string_view> SplitArrival(std::string_view arrival) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    for (std::size_t at = arrival.find("!$"); at != std::string_view::npos;
         at = arrival.find("!$", at + 1)) {
        pieces.push_back(arrival.substr(start, at + 1 - start));
        start = at + 1;
    }
    pieces.push_back(arrival.substr(start));
    return pieces;
}

std::size_t ReportFraming::LastBoundary(std::string_view data) const {
    const std::size_t at = data.rfind("!$");
    return at == std::string_view::npos ? at : at + 1;
}

std::size_t ReportFraming::UnfinishedTail(std::string_view arrival) const {
    const std::size_t at = arrival.rfind("!$");
    const std::string_view last = at == std::string_view::npos ? arrival : arrival.substr(at + 1);
    const bool unfinished = !last.empty() && last.front() == '$' &&
                            last.find('!') == std::string_view::npos &&
                            last.size() < kLongestReport;
    return unfinished ? last.size() : 0;
}

CheckResult CheckReport(std::string_view text) {
    CheckResult result;
    if (text.size() < kShortestReport || text.size() > kLongestReport) {
        result.rejection = "Packet too small.";
        return result;
    }
    result.fields = SplitFields(text);
    if (result.fields.size() != kReportFields) {
        result.rejection = "Illegal string count." + std::to_string(result.fields.size() - 1);
        return result;
    }
    const std::string_view first = result.fields.front();
    const std::string_view last = result.fields.back();
    if (first.empty() || first.front() != '$' || last.empty() || last.back() != '!') {
        result.rejection = "Invalid header and trailer";
    }
    return result;
}

}  // namespace vostrel
