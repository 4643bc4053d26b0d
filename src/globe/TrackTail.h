// Reads the newest positions of the track log (one "longitude,latitude,0" line per fix, CR LF
// after each) from the end of the file, so a log of a gigabyte costs what a small one does.
// Plain C++.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vostrel {

struct TrackPoint {
    double longitude = 0.0;  // degrees
    double latitude = 0.0;   // degrees
};

// A longer line is not a position; it is skipped without being kept in memory.
inline constexpr std::size_t kLongestTrackLine = 256;
// How much of the file is read at a time, going back from its end.
inline constexpr std::size_t kTrackTailBlock = 64 * 1024;

// One line of the track log without its line break (a trailing CR is allowed):
// "longitude,latitude" with an optional third number (the altitude), plain decimal numbers,
// longitude in [-180, 180], latitude in [-90, 90]. False for anything else.
bool ParseTrackLine(std::string_view line, TrackPoint& point);

// The newest `most` positions of the track log at `path`, oldest first. Lines that are not
// positions are skipped; a last line without its line break counts. Reads back from the end
// in blocks of `block` bytes and stops after `most` positions or `most` * kLongestTrackLine
// bytes, whichever comes first, so a log that is mostly not positions is not read whole.
// A missing or unreadable file gives no positions; one that is there but cannot be opened as a
// ReadableFile (a FIFO, a folder) is said on standard error.
std::vector<TrackPoint> ReadTrackTail(const std::string& path, std::size_t most,
                                      std::size_t block = kTrackTailBlock);

}  // namespace vostrel
