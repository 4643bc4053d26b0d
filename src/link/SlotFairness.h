// Which connection requests may not take the slot ahead of others: an address that is
// churning (many connections a minute that brought no good report, none of its connections
// with a good report in that time) or whose idle connection was just let go. Such an address
// is held back while a request of another address came within kFairnessMemory; an address that
// behaves like a tracker is never held back. A request that was refused before it could send
// anything does not count as churning, nor does one that brought a good report. Plain C++.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <map>
#include <optional>
#include <string>

namespace vostrel {

class SlotFairness {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;

    static constexpr std::chrono::seconds kChurnWindow{60};
    // More empty connections than a tracker makes, retrying every few seconds, in kChurnWindow.
    static constexpr std::size_t kChurnRequests = 12;
    static constexpr std::chrono::minutes kFairnessMemory{2};
    // Addresses remembered at most; the longest unseen go first.
    static constexpr std::size_t kAddresses = 512;

    // Records a request from `address` at `now`; true when it is held back. `lettingGoOwn`:
    // the request would take the slot over from its own address's idle connection, which is
    // then let go like any other idle holder.
    bool HoldsBack(const std::string& address, TimePoint now, bool lettingGoOwn = false);
    void NoteGoodReport(const std::string& address, TimePoint now);
    // A connection of `address` ended, or was refused after it could send, without a good report.
    void NoteEmpty(const std::string& address, TimePoint now);
    // `address`'s idle connection gave the slot up.
    void NoteLetGo(const std::string& address, TimePoint now);

  private:
    struct Record {
        std::deque<TimePoint> empties;  // the latest kChurnRequests
        std::optional<TimePoint> lastGood;
        std::optional<TimePoint> letGo;
        TimePoint lastSeen;
    };
    Record& Find(const std::string& address, TimePoint now);

    std::map<std::string, Record> records_;
    std::string lastAskingAddress_;
    std::optional<TimePoint> lastAsked_;
};

}  // namespace vostrel
