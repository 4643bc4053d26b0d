// Turns the reads of one connection into arrivals, the texts report intake takes one at a
// time: what piles up is read in parts of at most kLargestRead, each cut where no report is
// cut; a report still on its way at the end of a read is held back and joins the next read,
// for at most kHoldUnfinished; a held report whose next read begins a new report goes on
// alone, first; and whatever is held goes on when the connection ends. Where a report ends
// and begins is told by the framing port. Plain C++: no sockets, no timers.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Ports.h"

namespace vostrel {

// The most one read takes when more is pending, so the work of one data arrival stays small
// whatever a peer sends.
inline constexpr std::size_t kLargestRead = 8 * 1024;
// How long a report cut by a read waits for its rest.
inline constexpr std::chrono::seconds kHoldUnfinished{1};

class ArrivalShaper {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;

    explicit ArrivalShaper(const ReportFramingPort& framing) : framing_(framing) {}

    // How many of the `pending` bytes the next read takes: all of them up to kLargestRead;
    // past that, up to the last report boundary in `ahead` (the first kLargestRead + 1
    // pending bytes, so a "$" just past the part still counts), or kLargestRead when it has
    // none.
    std::size_t ReadSize(std::string_view ahead, std::size_t pending) const;
    // What goes on to report intake. `heldAlone`: a report held back for its rest that goes on
    // as it is, because the next read began a new report.
    struct Arrival {
        std::string text;
        bool heldAlone = false;
    };
    // One read of the connection at `now`: the arrivals that go on now, in order.
    std::vector<Arrival> Read(std::string data, TimePoint now);
    // When the report held back goes on as it is; none when nothing is held.
    std::optional<TimePoint> HeldUntil() const;
    // The report held back, now no longer held (its time is up, or its connection ended);
    // empty when none.
    std::string TakeHeld();
    // Forgets what is held: a new connection begins.
    void Reset() { held_.clear(); }

  private:
    const ReportFramingPort& framing_;
    std::string held_;
    TimePoint heldUntil_{};
};

}  // namespace vostrel
