#include "link/ArrivalShaper.h"

#include <utility>

namespace vostrel {

std::size_t ArrivalShaper::ReadSize(std::string_view ahead, std::size_t pending) const {
    if (pending <= kLargestRead) return pending;
    const std::size_t boundary = framing_.LastBoundary(ahead.substr(0, kLargestRead + 1));
    return boundary != std::string_view::npos && boundary > 0 ? boundary : kLargestRead;
}

std::vector<ArrivalShaper::Arrival> ArrivalShaper::Read(std::string data, TimePoint now) {
    std::vector<Arrival> arrivals;
    bool joined = false;
    if (!held_.empty()) {
        if (framing_.BeginsReport(data)) {
            // The held report is over: a new one begins. It goes on alone, first.
            arrivals.push_back(Arrival{std::exchange(held_, {}), true});
        } else {
            data.insert(0, std::exchange(held_, {}));
            joined = true;
        }
    }
    const std::size_t tail = framing_.UnfinishedTail(data);
    if (tail > 0) {
        // The wait runs from the report's first part on.
        if (!(joined && tail == data.size())) heldUntil_ = now + kHoldUnfinished;
        held_ = data.substr(data.size() - tail);
        data.resize(data.size() - tail);
    }
    if (!data.empty()) arrivals.push_back(Arrival{std::move(data), false});
    return arrivals;
}

std::optional<ArrivalShaper::TimePoint> ArrivalShaper::HeldUntil() const {
    if (held_.empty()) return std::nullopt;
    return heldUntil_;
}

std::string ArrivalShaper::TakeHeld() {
    return std::exchange(held_, {});
}

}  // namespace vostrel
