#include "sim/Coordinates.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace vostrel::sim {

namespace {

// Rounding happens once, on whole ten-thousandths of a minute, so the carry from minutes into
// degrees falls out of integer division.
constexpr long long kUnitsPerMinute = 10000;
constexpr long long kUnitsPerDegree = 60 * kUnitsPerMinute;

std::string Format(double degrees, int degreeDigits, long long limit, char positive,
                   char negative) {
    if (!std::isfinite(degrees) || std::fabs(degrees) > static_cast<double>(limit) + 1.0) {
        throw std::out_of_range("coordinate out of range");
    }
    const long long units = std::llround(std::fabs(degrees) * kUnitsPerDegree);
    if (units > limit * kUnitsPerDegree) throw std::out_of_range("coordinate out of range");

    const char letter = (units != 0 && degrees < 0) ? negative : positive;
    const long long whole = units / kUnitsPerDegree;
    const long long rest = units % kUnitsPerDegree;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%c%0*lld%02lld.%04lld", letter, degreeDigits, whole,
                  rest / kUnitsPerMinute, rest % kUnitsPerMinute);
    return buffer;
}

}  // namespace

std::string FormatLatitude(double degrees) {
    return Format(degrees, 2, 90, 'N', 'S');
}

std::string FormatLongitude(double degrees) {
    return Format(degrees, 3, 180, 'E', 'W');
}

}  // namespace vostrel::sim
