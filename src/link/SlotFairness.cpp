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

void SlotFairness::NoteFair(const std::string& address, TimePoint now) {
    lastFairAddress_ = address;
    lastFair_ = now;
}

bool SlotFairness::HoldsBack(const std::string& address, TimePoint now) {
    Record& record = Find(address, now);
    record.requests.push_back(now);
    if (record.requests.size() > kChurnRequests) record.requests.pop_front();
    const bool churning = record.requests.size() == kChurnRequests &&
                          now - record.requests.front() < kChurnWindow &&
                          !Within(record.lastGood, now, kChurnWindow);
    const bool penalized = churning || Within(record.letGo, now, kFairnessMemory);
    if (!penalized) {
        NoteFair(address, now);
        return false;
    }
    return lastFairAddress_ != address && Within(lastFair_, now, kFairnessMemory);
}

void SlotFairness::NoteGoodReport(const std::string& address, TimePoint now) {
    Find(address, now).lastGood = now;
    NoteFair(address, now);
}

void SlotFairness::NoteLetGo(const std::string& address, TimePoint now) {
    Find(address, now).letGo = now;
}

}  // namespace vostrel
