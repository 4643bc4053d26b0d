#include "globe/TrackTail.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "globe/ReadableFile.h"

namespace vostrel {

namespace {

// A whole field as a finite plain decimal number ("12", "-0.5", "0.0"; no exponent, no blanks).
bool ParseNumber(std::string_view field, double& value) {
    if (field.empty()) return false;
    const char* end = field.data() + field.size();
    const auto [stop, error] = std::from_chars(field.data(), end, value, std::chars_format::fixed);
    return error == std::errc() && stop == end && std::isfinite(value);
}

}  // namespace

bool ParseTrackLine(std::string_view line, TrackPoint& point) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() > kLongestTrackLine) return false;
    const std::size_t first = line.find(',');
    if (first == std::string_view::npos) return false;
    const std::string_view rest = line.substr(first + 1);
    const std::size_t second = rest.find(',');
    double longitude = 0.0;
    double latitude = 0.0;
    double altitude = 0.0;
    if (!ParseNumber(line.substr(0, first), longitude) ||
        !ParseNumber(rest.substr(0, second), latitude)) {
        return false;
    }
    if (second != std::string_view::npos && !ParseNumber(rest.substr(second + 1), altitude)) {
        return false;  // also a fourth field: its comma makes the altitude no number
    }
    if (std::abs(longitude) > 180.0 || std::abs(latitude) > 90.0) return false;
    point = {longitude, latitude};
    return true;
}

std::vector<TrackPoint> ReadTrackTail(const std::string& path, std::size_t most,
                                      std::size_t block) {
    std::vector<TrackPoint> newestFirst;
    if (most == 0) return newestFirst;
    const ReadableFile in(path);
    if (!in.IsOpen()) {
        // None yet is the first run; anything else the operator is told of.
        if (in.Error() != ENOENT) {
            std::fprintf(stderr, "vostrel: the track's history is not shown: %s: %s\n",
                         path.c_str(), in.Reason().c_str());
        }
        return newestFirst;
    }
    const auto size = static_cast<std::streamoff>(in.Size());
    if (size <= 0) return newestFirst;
    block = std::max<std::size_t>(block, 1);
    const std::uint64_t budget = static_cast<std::uint64_t>(most) * kLongestTrackLine;

    // Takes one whole line; false once enough positions are in.
    const auto take = [&](std::string_view line) {
        TrackPoint point;
        if (ParseTrackLine(line, point)) newestFirst.push_back(point);
        return newestFirst.size() < most;
    };

    std::vector<char> buffer(block);
    // The end of a line whose start lies before what has been read; dropped once too long.
    std::string tail;
    bool tailTooLong = false;
    std::streamoff end = size;
    std::uint64_t read = 0;
    bool more = true;
    while (more && end > 0 && read < budget) {
        const std::streamoff count =
            std::min<std::streamoff>(end, static_cast<std::streamoff>(block));
        end -= count;
        if (in.ReadAt(buffer.data(), static_cast<std::size_t>(count),
                      static_cast<std::uint64_t>(end)) != count) {
            end = -1;  // unreadable from here on: the first line read is not known whole
            break;
        }
        read += static_cast<std::uint64_t>(count);
        auto stop = static_cast<std::size_t>(count);  // one past the line being finished
        for (std::size_t i = stop; more && i-- > 0;) {
            if (buffer[i] != '\n') continue;
            const std::string_view piece(buffer.data() + i + 1, stop - i - 1);
            if (!tailTooLong) {
                if (tail.empty()) {
                    more = take(piece);
                } else if (piece.size() + tail.size() <= kLongestTrackLine + 1) {
                    tail.insert(0, piece);
                    more = take(tail);
                }
            }
            tail.clear();
            tailTooLong = false;
            stop = i;
        }
        if (!more) break;
        if (tailTooLong || stop + tail.size() > kLongestTrackLine + 1) {
            tail.clear();
            tailTooLong = true;
        } else {
            tail.insert(0, buffer.data(), stop);
        }
    }
    // At the start of the file the first line is whole.
    if (more && end == 0 && !tailTooLong) take(tail);
    std::reverse(newestFirst.begin(), newestFirst.end());
    return newestFirst;
}

}  // namespace vostrel
