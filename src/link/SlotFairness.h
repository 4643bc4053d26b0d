// Which connection requests may not take the slot ahead of others: an address that is
// churning (many requests a minute, none of its connections with a good report in that time)
// or whose idle connection was just let go for another address. Such an address is held back
// while another address has asked for the slot, or delivered a good report, within
// kFairnessMemory; an address that behaves like a tracker is never held back. Plain C++.
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
    // More requests than a tracker makes, retrying every few seconds, in kChurnWindow.
    static constexpr std::size_t kChurnRequests = 12;
    static constexpr std::chrono::minutes kFairnessMemory{2};
    // Addresses remembered at most; the longest unseen go first.
    static constexpr std::size_t kAddresses = 512;

    // Records a request from `address` at `now`; true when it is held back.
    bool HoldsBack(const std::string& address, TimePoint now);
    void NoteGoodReport(const std::string& address, TimePoint now);
    // `address`'s idle connection gave the slot up to another address.
    void NoteLetGo(const std::string& address, TimePoint now);

  private:
    struct Record {
        std::deque<TimePoint> requests;  // the latest kChurnRequests
        std::optional<TimePoint> lastGood;
        std::optional<TimePoint> letGo;
        TimePoint lastSeen;
    };
    Record& Find(const std::string& address, TimePoint now);
    void NoteFair(const std::string& address, TimePoint now);

    std::map<std::string, Record> records_;
    std::string lastFairAddress_;
    std::optional<TimePoint> lastFair_;
};

}  // namespace vostrel
