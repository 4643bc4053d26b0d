// The ports every layer shares: what report intake and the tracker link need from the rest of
// the program. The window provides the real ones; tests provide their own.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace vostrel {

// The TCP port trackers report to.
inline constexpr std::int32_t kTrackingPort = 5000;

// The on-screen activity log. `text` holds one byte per character (Latin-1) and already ends
// in CR LF; it is appended in one step.
class ActivityLogPort {
  public:
    virtual ~ActivityLogPort() = default;
    virtual void Append(const std::string& text) = 0;
};

// The modal error notice; returns once the operator has dismissed it. `message` is UTF-8;
// `reason`, when not empty, is why (the system's words), shown below the message.
class ErrorNoticePort {
  public:
    virtual ~ErrorNoticePort() = default;
    virtual void Show(const std::string& message, const std::string& reason = {}) = 0;
};

// How a notice that is not shown as a box is written to the activity log instead.
inline std::string ErrorLogLine(const std::string& message) {
    return "Error: " + message + "\r\n";
}

// Where one position report ends, for whoever reads reports off a connection.
class ReportFramingPort {
  public:
    virtual ~ReportFramingPort() = default;
    // Where `data` can be cut so that no report is cut: just after the last "!" that the next
    // report's "$" follows, or std::string_view::npos when there is no such place.
    virtual std::size_t LastBoundary(std::string_view data) const = 0;
    // How many bytes at the end of `arrival` are a report still on its way (a last piece that
    // starts with "$", has no "!" yet and could still become a report); 0 when none.
    virtual std::size_t UnfinishedTail(std::string_view arrival) const = 0;
    // Whether `read` begins a new report (its first byte is a report's "$").
    virtual bool BeginsReport(std::string_view read) const = 0;

    // What the first bytes a connection sent say about its first report: still on its way, not
    // a good report (or not one intake would take whole), or a good report and the id of the
    // tracker that sent it (its field 0).
    struct FirstReport {
        enum class Verdict { OnItsWay, NotGood, Good };
        Verdict verdict = Verdict::OnItsWay;
        std::string trackerId;
    };
    virtual FirstReport ReadFirstReport(std::string_view data) const = 0;
};

// The program's one clock: the date and time in front of each received report (date first,
// one blank between them), the steady time idle tracker connections are judged by, and the
// wall-clock time the age of the last fix is told in.
class ClockPort {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using WallTime = std::chrono::system_clock::time_point;
    virtual ~ClockPort() = default;
    virtual std::string DateAndTime() = 0;
    virtual TimePoint Now() { return std::chrono::steady_clock::now(); }
    virtual WallTime WallNow() { return std::chrono::system_clock::now(); }
};

// Whether a save is on disk when it returns (Now) or at the next Sync (Deferred): several
// positions that arrived together are synced once.
enum class Durability { Deferred, Now };

// Writes the track log line and the snapshot. Throws FileError (core/Errors.h) when the position
// was not saved at all, SnapshotError when its track log line was saved but the snapshot was not.
class PositionWriterPort {
  public:
    virtual ~PositionWriterPort() = default;
    virtual void SaveTrackerPosition(const std::string& latitude, const std::string& longitude,
                                     Durability durability) = 0;
    // Puts what deferred saves wrote on disk; nothing when there is none.
    virtual void Sync() = 0;
    virtual std::string SnapshotPath() const = 0;
};

// Asks the globe viewer to load and show a KML file; throws ViewerError on failure.
class ViewerPort {
  public:
    virtual ~ViewerPort() = default;
    virtual void ShowKmlFile(const std::string& path, std::int32_t flag) = 0;
};

}  // namespace vostrel
