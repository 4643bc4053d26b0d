// The tracker's position fields: signed decimal degrees to hemisphere, degrees and minutes.
#pragma once

#include <string>

namespace vostrel::sim {

// "Lddmm.mmmm": "N" or "S", two-digit degrees, minutes with two integer digits and four
// decimals. Minutes are rounded to 4 decimals with the carry going into the degrees
// (59.99996' is 00.0000' of the next degree). A value that rounds to zero is "N0000.0000".
// Throws std::out_of_range for a value that is not finite or rounds beyond 90 degrees.
std::string FormatLatitude(double degrees);

// "Ldddmm.mmmm": "E" or "W", three-digit degrees, minutes as for the latitude. A value that
// rounds to zero is "E00000.0000". Throws std::out_of_range beyond 180 degrees.
std::string FormatLongitude(double degrees);

}  // namespace vostrel::sim
