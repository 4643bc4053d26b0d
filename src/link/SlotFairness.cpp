#include "link/SlotFairness.h"

#include <algorithm>

namespace vostrel {

namespace {

bool Within(const std::optional<SlotFairness::TimePoint>& then, SlotFairness::TimePoint now,
            std::chrono::steady_clock::duration span) {
    return then && now - *then < span;
}

}  // namespace

SlotFairness::Record& SlotFairness::Find(const std::string& address, TimePoint now) {
    auto found = records_.find(address);
    if (found == records_.end()) {
        if (records_.size() >= kAddresses) {
            records_.erase(std::min_element(records_.begin(), records_.end(),
                                            [](const auto& a, const auto& b) {
                                                return a.second.lastSeen < b.second.lastSeen;
                                            }));
        }
        found = records_.emplace(address, Record{}).first;
    }
    found->second.lastSeen = now;
    return found->second;
}

bool SlotFairness::HoldsBack(const std::string& address, TimePoint now, bool lettingGoOwn) {
    Record& record = Find(address, now);
    if (lettingGoOwn) record.letGo = now;
    const bool churning = record.empties.size() == kChurnRequests &&
                          now - record.empties.front() < kChurnWindow &&
                          !Within(record.lastGood, now, kChurnWindow);
    const bool penalized = churning || Within(record.letGo, now, kFairnessMemory);
    if (!penalized) {
        lastAskingAddress_ = address;
        lastAsked_ = now;
        return false;
    }
    return lastAskingAddress_ != address && Within(lastAsked_, now, kFairnessMemory);
}

void SlotFairness::NoteGoodReport(const std::string& address, TimePoint now) {
    Find(address, now).lastGood = now;
}

void SlotFairness::NoteEmpty(const std::string& address, TimePoint now) {
    Record& record = Find(address, now);
    record.empties.push_back(now);
    if (record.empties.size() > kChurnRequests) record.empties.pop_front();
}

void SlotFairness::NoteLetGo(const std::string& address, TimePoint now) {
    Find(address, now).letGo = now;
}

}  // namespace vostrel
