// The report checks and the coordinate conversion on any bytes: the pieces of an arrival give
// the arrival back, the checks give the verdict their rules give, and a conversion is plain
// coordinate text near the value its field holds, the same every time.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzRequire.h"
#include "report/Conversion.h"
#include "report/ReportCheck.h"
#include "report/ReportFraming.h"

namespace {

using namespace vostrel;
using fuzz::Require;

bool Within(std::string_view part, std::string_view whole) {
    return part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size();
}

std::string Join(const std::vector<std::string_view>& parts, std::string_view separator) {
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) out += separator;
        out += parts[i];
    }
    return out;
}

std::size_t CountOf(std::string_view text, std::string_view what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string_view::npos;
         at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

void CheckSplitArrival(std::string_view arrival) {
    const std::vector<std::string_view> pieces = SplitArrival(arrival);
    Require(Join(pieces, "") == arrival, "the pieces of an arrival make the arrival", arrival);
    Require(pieces.size() == CountOf(arrival, kReportBoundary) + 1,
            "an arrival is cut at every \"!$\"", arrival);
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        Require(Within(pieces[i], arrival), "a piece is a view into its arrival", arrival);
        Require(pieces[i].find(kReportBoundary) == std::string_view::npos, "no piece holds \"!$\"",
                arrival);
        if (i + 1 < pieces.size()) {
            Require(!pieces[i].empty() && pieces[i].back() == '!', "a cut piece ends on \"!\"",
                    arrival);
        }
    }
}

// The verdict the rules give: length, then field count, then header and trailer.
std::string ExpectedRejection(std::string_view text) {
    if (text.size() < 15 || text.size() > 254) return "Packet too small.";
    const std::size_t fields = CountOf(text, ",") + 1;
    if (fields != 11) return "Illegal string count." + std::to_string(fields - 1);
    const std::size_t firstComma = text.find(',');
    const std::size_t lastComma = text.rfind(',');
    if (firstComma == 0 || text.front() != '$' || lastComma + 1 == text.size() ||
        text.back() != '!') {
        return "Invalid header and trailer";
    }
    return "";
}

void CheckReportVerdict(std::string_view text) {
    const CheckResult result = CheckReport(text);
    const std::string expected = ExpectedRejection(text);
    Require(result.rejection.value_or("") == expected, "the checks give the rules' verdict", text);
    if (result.rejection) return;
    Require(result.fields.size() == kReportFields, "a good report has 11 fields", text);
    Require(text.size() >= kShortestReport && text.size() <= kLongestReport,
            "a good report is 15..254 characters", text);
    Require(text.front() == '$' && text.back() == '!', "a good report is $...!", text);
    Require(Join(result.fields, ",") == text, "a good report's fields make the report", text);
    for (std::string_view field : result.fields) {
        Require(Within(field, text), "a field is a view into the report", text);
    }
}

void CheckSplitFields(std::string_view text) {
    const std::vector<std::string_view> fields = SplitFields(text);
    Require(Join(fields, ",") == text, "the fields joined by \",\" make the text", text);
    Require(fields.size() == CountOf(text, ",") + 1, "a text is cut at every \",\"", text);
}

// The number at the start of `piece` without its blanks, tabs and line feeds, read on its own.
double ModelNumber(std::string_view piece) {
    std::string text;
    for (char c : piece) {
        if (c != ' ' && c != '\t' && c != '\n') text += c;
    }
    std::size_t end = 0;
    if (end < text.size() && (text[end] == '+' || text[end] == '-')) ++end;
    bool point = false;
    bool digit = false;
    for (; end < text.size(); ++end) {
        if (text[end] >= '0' && text[end] <= '9') {
            digit = true;
        } else if (text[end] == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (!digit) return 0.0;
    return std::strtod(text.substr(0, end).c_str(), nullptr);  // "C" locale: nothing set it
}

// Coordinate text: an optional "-", digits without a leading zero (but a lone one), an
// optional point and digits ending in a non-zero, at most 15 significant digits, never "-0".
bool IsCoordinateText(const std::string& text) {
    std::size_t at = text.size() > 0 && text[0] == '-' ? 1 : 0;
    const std::size_t intStart = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
    const std::size_t intEnd = at;
    if (intEnd == intStart) return false;
    if (text[intStart] == '0' && intEnd - intStart > 1) return false;
    std::size_t fracStart = at;
    if (at < text.size()) {
        if (text[at] != '.') return false;
        fracStart = ++at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
        if (at != text.size() || at == fracStart || text[at - 1] == '0') return false;
    }
    if (text == "-0") return false;
    std::size_t significant = 0;
    bool started = false;
    for (char c : text) {
        if (c < '0' || c > '9') continue;
        started = started || c != '0';
        if (started) ++significant;
    }
    // Trailing zeros of a whole number stand for the exponent, not for digits.
    if (fracStart == intEnd) {
        for (std::size_t i = intEnd; i > intStart && text[i - 1] == '0' && significant > 1; --i) {
            --significant;
        }
    }
    return significant <= 15;
}

void CheckConversion(std::string_view field, bool latitude) {
    const std::string out = latitude ? ConvertLatitude(field) : ConvertLongitude(field);
    const std::string again = latitude ? ConvertLatitude(field) : ConvertLongitude(field);
    Require(out == again, "a conversion is the same every time", field);
    for (unsigned char c : out) Require(c < 0x80, "a conversion is ASCII", field);
    if (field.size() == 2) {
        Require(out == "0.0", "a two-character field converts to 0.0", field);
        return;
    }
    Require(IsCoordinateText(out), "a conversion is coordinate text", field);

    const std::size_t degreeDigits = latitude ? 2 : 3;
    auto piece = [&](std::size_t start, std::size_t count) {
        return field.size() < start ? std::string_view() : field.substr(start - 1, count);
    };
    double value =
        ModelNumber(piece(2, degreeDigits)) + ModelNumber(piece(2 + degreeDigits, 7)) / 60.0;
    const bool letter = !field.empty() && field.front() == (latitude ? 'S' : 'E');
    if (letter == latitude) value = -value;
    const double written = std::strtod(out.c_str(), nullptr);
    Require(std::fabs(written - value) <= std::fabs(value) * 1e-14,
            "a conversion is the field's value to 15 digits", field);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    CheckSplitArrival(input);
    CheckSplitFields(input);
    CheckReportVerdict(input);
    for (std::string_view piece : SplitArrival(input)) CheckReportVerdict(piece);
    // Every field as either coordinate, and the whole input (long fields, any bytes).
    const std::vector<std::string_view> fields = SplitFields(input);
    for (std::size_t i = 0; i < fields.size() && i < 32; ++i) {
        CheckConversion(fields[i], true);
        CheckConversion(fields[i], false);
    }
    CheckConversion(input, true);
    CheckConversion(input, false);
    return 0;
}
