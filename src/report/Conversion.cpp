#include "report/Conversion.h"

#include <charconv>
#include <cstdlib>
#include <string>

namespace vostrel {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The characters from 1-based position `start` on, at most `count` of them; shorter or empty
// when the field ends first.
std::string_view Piece(std::string_view field, std::size_t start, std::size_t count) {
    if (field.size() < start) return {};
    return field.substr(start - 1, count);
}

struct Layout {
    char letter;               // the hemisphere letter that the field is tested for
    bool letterIsNegative;     // true: that letter negates (south); false: it alone keeps it (east)
    std::size_t degreeDigits;  // degrees stand at positions 2 .. 1 + degreeDigits
};

std::string Convert(std::string_view field, Layout layout) {
    if (field.size() == 2) return "0.0";
    const bool hasLetter = !field.empty() && field.front() == layout.letter;
    const bool negative = hasLetter == layout.letterIsNegative;
    const double minutes = ReadNumber(Piece(field, 2 + layout.degreeDigits, 7));
    const double degrees = ReadNumber(Piece(field, 2, layout.degreeDigits));
    double value = degrees + minutes / 60.0;
    if (negative) value = -value;
    return WriteCoordinate(value);
}

}  // namespace

double ReadNumber(std::string_view piece) {
    std::string text;
    text.reserve(piece.size());
    for (char c : piece) {
        if (c != ' ' && c != '\t' && c != '\n') text.push_back(c);
    }

    std::size_t pos = 0;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    std::string number;  // digits and at most one point, without the sign
    bool seenPoint = false;
    bool seenDigit = false;
    for (; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (IsDigit(c)) {
            seenDigit = true;
        } else if (c == '.' && !seenPoint) {
            seenPoint = true;
        } else {
            break;
        }
        number.push_back(c);
    }
    if (!seenDigit) return 0.0;

    double value = 0.0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value,
                                        std::chars_format::fixed);
    if (result.ec == std::errc::result_out_of_range) {
        // Only possible for absurdly long digit runs; saturate rather than fail.
        value = std::strtod("inf", nullptr);
    }
    return negative ? -value : value;
}

std::string WriteCoordinate(double value) {
    if (value == 0.0) return "0";
    // Scientific form with 15 significant digits gives the correctly rounded digits and the
    // decimal exponent, independent of the C locale; the plain form is built from them.
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 14);
    std::string_view sci(buffer, static_cast<std::size_t>(result.ptr - buffer));
    if (sci == "inf" || sci == "-inf" || sci == "nan" || sci == "-nan") return std::string(sci);

    const bool negative = sci.front() == '-';
    if (negative) sci.remove_prefix(1);
    const std::size_t e = sci.find('e');
    std::string digits;
    for (char c : sci.substr(0, e)) {
        if (c != '.') digits.push_back(c);
    }
    const int exponent = std::atoi(std::string(sci.substr(e + 1)).c_str());
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

    std::string out = negative ? "-" : "";
    const int digitCount = static_cast<int>(digits.size());
    if (exponent < 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-exponent - 1), '0');
        out += digits;
    } else if (exponent + 1 >= digitCount) {
        out += digits;
        out.append(static_cast<std::size_t>(exponent + 1 - digitCount), '0');
    } else {
        out += digits.substr(0, static_cast<std::size_t>(exponent + 1));
        out += '.';
        out += digits.substr(static_cast<std::size_t>(exponent + 1));
    }
    return out;
}

std::string ConvertLatitude(std::string_view field) {
    return Convert(field, {'S', true, 2});
}

std::string ConvertLongitude(std::string_view field) {
    return Convert(field, {'E', false, 3});
}

}  // namespace vostrel
