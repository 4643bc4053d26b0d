// Turning a tracker's hemisphere/degrees/minutes fields into signed decimal degrees.
#pragma once

#include <string>
#include <string_view>

namespace vostrel {

// Reads the longest leading decimal number of a piece of report text after removing every
// blank, tab and line feed: an optional sign, then digits holding at most one point. Only the
// point separates decimals, whatever the locale. A piece that does not begin with such a
// number reads as 0. Never throws.
double ReadNumber(std::string_view piece);

// Writes a value as coordinate text: plain decimal notation (never an exponent), at most 15
// significant digits rounded to nearest, no trailing zeros, no bare point, "0" for zero (never
// signed), a point as separator whatever the locale.
std::string WriteCoordinate(double value);

// Latitude field "Hddmm.mmmm": "S" (exact) is south, anything else north.
std::string ConvertLatitude(std::string_view field);

// Longitude field "Hdddmm.mmmm": "E" (exact) is east, anything else west.
std::string ConvertLongitude(std::string_view field);

}  // namespace vostrel
