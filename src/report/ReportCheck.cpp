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
