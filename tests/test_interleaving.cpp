// Random schedules of what trackers, the operator and time can do to the link and the intake,
// checked against a small model: every good report that was handled is saved exactly once, in
// the order its connection sent it, and one connection at a time holds the slot; a tracker whose
// link died silently and that comes back on a new connection takes the slot over, a stranger is
// refused while the tracker reports, a tracker that retries gets the free slot, and a fragment
// never swallows the report after it. The schedule runs from a timer, so it goes on while
// notices hold the window in nested event loops. VOSTREL_SEED=n replays one schedule.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <set>

#include "kit/WindowFixture.h"
#include "output/PositionFiles.h"
#include "report/Conversion.h"

namespace vostrel {
namespace {

using Clock = std::chrono::steady_clock;

// Report `id` of tracker `tracker`: a good report whose track log line names it, and its line.
std::string LongitudeField(int id) {
    char field[32];
    std::snprintf(field, sizeof field, "E000%02u.%04u", static_cast<unsigned>(id) / 10000 % 60,
                  static_cast<unsigned>(id) % 10000);
    return field;
}
std::string GoodReport(int id, int tracker) {
    return "$" + std::to_string(tracker) + ",1,1,1,1," + LongitudeField(id) +
           ",N1000.0000,1,1,1,1!";
}
std::string TrackLine(int id) {
    return TrackLogLine(ConvertLatitude("N1000.0000"), ConvertLongitude(LongitudeField(id)));
}

struct Client {
    int fd = -1;
    std::string address;
    int tracker = 0;        // its id, field 0 of its reports
    std::vector<int> sent;  // good report ids, in the order sent
    std::string rest;       // the second part of a report sent in two
};

class Schedule {
  public:
    Schedule(unsigned seed, test::WindowFixture& t) : random_(seed), t_(t) {
        t.clock.now = ClockPort::TimePoint{} + std::chrono::hours(1);
        QObject::connect(&t.window->Link(), &TrackerLink::ReportArrived, &t.window->Link(),
                         [this](std::int16_t, const std::string&, std::uint64_t) { OnArrival(); });
        // Runs once the server has handled a request (after its own handler): a takeover's
        // hand-over is counted from here, so no scheduling of the client's sends can stretch it.
        QObject::connect(&t.window->Link().Listener(), &ListenSocket::ConnectionRequest,
                         &t.window->Link(), [this](std::int32_t) {
                             if (flood_ > 0 && arrivalsAtRequest_ < 0)
                                 arrivalsAtRequest_ = arrivals_;
                         });
        // Requests the busy slot refuses wait outside it only briefly here.
        t.window->Link().SetWaitLimit(std::chrono::milliseconds(100));
    }

    // One step a tick; false once the schedule has ended or failed.
    bool Tick() {
        if (!failure_.empty()) return false;
        CheckInvariants();
        if (waiting_) {
            if (!waiting_()) {
                if (Clock::now() > deadline_) Fail("timed out waiting for " + waitingFor_);
                return true;
            }
            waiting_ = nullptr;
            if (afterWait_) std::exchange(afterWait_, nullptr)();
            if (waiting_) return true;  // the step goes on with another wait
        }
        if (steps_ == kSteps) return Finish();
        ++steps_;
        Step();
        return true;
    }

    const std::string& Failure() const { return failure_; }
    int Steps() const { return steps_; }

  private:
    static constexpr int kSteps = 60;

    void Step() {
        const int roll = std::uniform_int_distribution<int>(0, 99)(random_);
        if (!holder_) return roll < 30 && !refused_.empty() ? Retry() : Connect(roll < 5);
        if (roll < 36) return Send();
        if (roll < 44) return Connect(roll < 40);
        if (roll < 48) return ComeBack(roll < 46);
        if (roll < 52) return Retry();
        if (roll < 55) return Leave(false);
        if (roll < 58) return Leave(true);
        if (roll < 70) return Hold(true);
        if (roll < 80) return Hold(false);
        *t_.clock.now += std::chrono::seconds(std::array{10, 60, 125}[roll % 3]);
    }

    // The holder's link dies silently (its connection stays open, unused) and its tracker comes
    // back on a new connection, from a new address or its own, sending its next report at once.
    // Once the holder has a good report handled, the new connection takes the slot over.
    void ComeBack(bool sameAddress) {
        auto dead = holder_;
        if (!dead->rest.empty()) return Send();  // finish the report in two first
        const auto client =
            NewClient(dead->tracker,
                      sameAddress ? dead->address : "127.0." + std::to_string(++clients_) + ".1");
        Connect(client, true, !Unlogged(*dead).empty() || dead->sent.empty() ? "" : dead->address);
    }

    // A tracker that was refused tries again with its next report, from its address.
    void Retry() {
        if (refused_.empty()) return Connect(true);
        const auto earlier = refused_[static_cast<std::size_t>(
            std::uniform_int_distribution<int>(0, static_cast<int>(refused_.size()) - 1)(random_))];
        Connect(NewClient(earlier->tracker, earlier->address), true);
    }

    void Connect(bool sendAtOnce) {
        ++clients_;
        Connect(NewClient(clients_, "127.0." + std::to_string(clients_) + ".1"), sendAtOnce);
    }

    std::shared_ptr<Client> NewClient(int tracker, const std::string& address) {
        everyClient_.push_back(std::make_shared<Client>());
        everyClient_.back()->tracker = tracker;
        everyClient_.back()->address = address;
        return everyClient_.back();
    }

    // A tracker connects; `sendAtOnce`: it sends a report before it knows whether it was
    // taken. A takeover of an idle or ended holder is checked to hand over only what was
    // pending: the holder keeps sending for as long as it is read. `comesBackTo`: the address
    // of the holder whose tracker this is, when it has a good report handled.
    void Connect(const std::shared_ptr<Client>& client, bool sendAtOnce,
                 const std::string& comesBackTo = "") {
        Client& newcomer = *client;
        // The log has no connect line of this address yet, or counts them from here.
        const std::string connectLine = "Tracker " + newcomer.address + " connected.\r\n";
        const std::size_t connectsBefore = Count(connectLine);
        const bool yields = holder_ && HolderMayYield();
        const bool free = SlotFree();
        const std::string yielding = yields ? holder_->address : "";
        const bool recognised = holder_ && !yields && !comesBackTo.empty();
        const bool stranger =
            holder_ && !yields && comesBackTo.empty() && newcomer.tracker != holder_->tracker;
        if (yields && !holding_ && notices_.OpenNow() == 0 && Unlogged(*holder_).empty()) {
            flood_ = 100;
            test::SendAll(holder_->fd, "~~");
        }
        newcomer.fd = t_.Connect(newcomer.address.c_str());
        if (newcomer.fd < 0) return Fail("connect failed");
        if (sendAtOnce) SendGood(newcomer, NextId(newcomer.tracker));
        WaitFor("the fate of " + client->address, [this, client, connectLine, connectsBefore] {
            return Count(connectLine) > connectsBefore || test::PeerClosed(client->fd, 0);
        });
        afterWait_ = [this, client, connectLine, connectsBefore, free, recognised, stranger,
                      yielding] {
            if (flood_ > 0 || arrivalsAtRequest_ >= 0) {
                flood_ = 0;
                if (arrivalsAtRequest_ >= 0 && arrivals_ - arrivalsAtRequest_ > 4) {
                    Fail("a takeover handed over " +
                         std::to_string(arrivals_ - arrivalsAtRequest_) + " arrivals");
                }
                arrivalsAtRequest_ = -1;
            }
            if (holder_ &&
                Count("Tracker " + holder_->address + " disconnected.\r\n") > holderDisconnects_) {
                if (!yielding.empty()) letGo_.insert(yielding);
                Gone(*holder_);
                holder_.reset();
            }
            // A request that would take over its own address's idle connection lets it go.
            if (!yielding.empty() && yielding == client->address) letGo_.insert(yielding);
            const bool taken = Count(connectLine) > connectsBefore;
            if (taken) {
                if (holder_) return Fail("two trackers hold the slot");
                if (stranger) return Fail("a stranger took the slot from a reporting tracker");
                holder_ = client;
                holderDisconnects_ = Count("Tracker " + client->address + " disconnected.\r\n");
            } else {
                if (recognised) return Fail("a tracker coming back was refused");
                if (free && !letGo_.count(client->address)) {
                    return Fail("a tracker was refused the free slot");
                }
                Gone(*client);
                refused_.push_back(client);
            }
        };
    }

    void Send() {
        Client& c = *holder_;
        const int kind = std::uniform_int_distribution<int>(0, 5)(random_);
        const int id = NextId(c.tracker);
        std::string first;           // the arrival's first piece, logged once handling has begun
        std::string whole = "\x01";  // a report that may arrive joined instead
        if (!c.rest.empty()) {
            first = c.rest;
            whole = Good(c.sent.back());
            test::SendAll(c.fd, std::exchange(c.rest, {}));
        } else if (kind == 0) {
            first = SendGood(c, id);
        } else if (kind == 1) {
            first = "$bad" + std::to_string(id) + "!";
            c.sent.push_back(id);
            test::SendAll(c.fd, first + Good(id));
        } else if (kind == 2) {
            const int second = NextId(c.tracker);
            first = Good(id);
            c.sent.push_back(id);
            c.sent.push_back(second);
            test::SendAll(c.fd, first + Good(second));
        } else if (kind == 3) {
            first = Good(id);
            c.sent.push_back(id);
            test::SendAll(c.fd, first + "$junk" + std::to_string(id) + ",!");
        } else if (kind == 5) {
            // A fragment, and once the server has read it, a whole report: the report is
            // handled whole, on its own.
            const std::string fragment = "$frag" + std::to_string(id);
            const AcceptSocket& element = t_.window->Link().Element(1);
            const std::uint64_t readBefore = element.BytesRead();
            test::SendAll(c.fd, fragment);
            auto holder = holder_;
            WaitFor("the read of " + fragment, [this, holder, &element, readBefore] {
                return element.BytesRead() != readBefore || holder != holder_;
            });
            afterWait_ = [this, holder, id] {
                if (holder != holder_) return;
                const std::string report = SendGood(*holder, id);
                WaitFor("the report after a fragment", [this, holder, report] {
                    return Logged(" " + report + "\r\n") || holder != holder_;
                });
            };
            return;
        } else {
            // A report in two parts, the second with the next send.
            const std::string report = Good(id);
            c.sent.push_back(id);
            first = report.substr(0, 20);
            c.rest = report.substr(20);
            test::SendAll(c.fd, first);
            return;
        }
        auto holder = holder_;
        WaitFor("the arrival of " + first, [this, holder, first, whole] {
            return Logged(" " + first) || Logged(" " + whole) || holder != holder_;
        });
    }

    void Leave(bool reset) {
        auto holder = holder_;
        if (reset) {
            test::ResetAndClose(holder->fd);
        } else {
            ::shutdown(holder->fd, SHUT_WR);
        }
        // What it sent before is handled first; a notice of it may be held open.
        const std::string line = "Tracker " + holder->address + " disconnected.\r\n";
        const std::size_t before = holderDisconnects_;
        WaitFor("the end of " + holder->address, [this, line, before] {
            return Count(line) > before || (holding_ && notices_.OpenNow() > 0);
        });
        afterWait_ = [this, holder, line, before] {
            Gone(*holder);
            if (holder_ == holder) holder_.reset();
            leaving_ = {line, before};
        };
    }

    bool Finish() {
        if (holder_ && !finishing_) {
            finishing_ = true;
            Hold(false);
            Leave(false);
            return true;
        }
        Hold(false);
        if (notices_.OpenNow() > 0) return true;
        // Everything handled: each good report in the log was saved once, and nothing else.
        const std::string log = t_.Log();
        const std::string trackLog = t_.TrackLog();
        for (const auto& [id, line] : lines_) {
            const bool logged = log.find(" " + Good(id) + "\r\n") != std::string::npos;
            const bool saved = trackLog.find(line) != std::string::npos;
            if (logged != saved) {
                Fail("report " + std::to_string(id) +
                     (logged ? " handled but not saved" : " saved but never handled"));
            }
        }
        if (t_.window->Link().SlotBusy(1) != kFree) Fail("the slot stays busy");
        return false;
    }

    // After every step and inside nested loops: no line saved twice, each connection's lines
    // in the order sent, one holder at a time.
    void CheckInvariants() {
        const std::string trackLog = t_.TrackLog();
        std::map<int, int> seenAt;
        int index = 0;
        for (std::size_t at = 0, end; (end = trackLog.find("\r\n", at)) != std::string::npos;
             at = end + 2, ++index) {
            const auto found = ids_.find(trackLog.substr(at, end + 2 - at));
            if (found == ids_.end()) return Fail("an unknown line was saved");
            if (!seenAt.emplace(found->second, index).second) {
                return Fail("report " + std::to_string(found->second) + " was saved twice");
            }
        }
        for (const auto& client : everyClient_) {
            int last = -1;
            for (int id : client->sent) {
                const auto found = seenAt.find(id);
                if (found == seenAt.end()) continue;
                if (found->second < last) {
                    return Fail("report " + std::to_string(id) + " of " + client->address +
                                " was saved before one sent earlier");
                }
                last = found->second;
            }
        }
        const int held = static_cast<int>(Count(" connected.\r\n")) -
                         static_cast<int>(Count(" disconnected.\r\n"));
        // A connection that ends during the accept's yield logs its end before its start.
        if (held < -1 || held > 1) Fail("the connect and disconnect lines do not pair up");
    }

    void OnArrival() {
        ++arrivals_;
        if (flood_ > 0 && holder_) {
            --flood_;
            static_cast<void>(::send(holder_->fd, "~~", 2, MSG_DONTWAIT | MSG_NOSIGNAL));
        }
    }

    bool HolderMayYield() const {
        const AcceptSocket& element = t_.window->Link().Element(1);
        return element.HasEnded() || *t_.clock.now - element.LastGoodReport() >= kIdleHolderLimit;
    }

    std::string SendGood(Client& c, int id) {
        c.sent.push_back(id);
        const std::string report = Good(id);
        test::SendAll(c.fd, report);
        return report;
    }

    int NextId(int tracker) {
        const int id = ++lastId_;
        trackerOf_[id] = tracker;
        lines_[id] = TrackLine(id);
        ids_[lines_[id]] = id;
        return id;
    }

    std::vector<int> Unlogged(const Client& c) const {
        std::vector<int> unlogged;
        for (int id : c.sent) {
            if (!Logged(" " + Good(id) + "\r\n")) unlogged.push_back(id);
        }
        return unlogged;
    }

    void Gone(Client& c) {
        if (c.fd >= 0) ::close(c.fd);
        c.fd = -1;
    }

    void Hold(bool hold) {
        holding_ = hold;
        notices_.SetDismiss(!hold);
    }

    std::string Good(int id) const { return GoodReport(id, trackerOf_.at(id)); }

    bool Logged(const std::string& text) const { return t_.Log().find(text) != std::string::npos; }
    std::size_t Count(const std::string& text) const { return test::CountOf(t_.Log(), text); }
    // Whether the slot is free for sure: no holder, and the last one's end was logged.
    bool SlotFree() const {
        return !holder_ && (leaving_.first.empty() || Count(leaving_.first) > leaving_.second);
    }

    void WaitFor(std::string what, std::function<bool()> done) {
        waitingFor_ = std::move(what);
        waiting_ = std::move(done);
        deadline_ = Clock::now() + std::chrono::seconds(5);
    }

    void Fail(const std::string& why) {
        if (failure_.empty()) {
            const std::string log = t_.Log();
            failure_ = "step " + std::to_string(steps_) + ": " + why + "\nthe log's end:\n" +
                       log.substr(log.size() > 1500 ? log.size() - 1500 : 0);
        }
        Hold(false);
    }

    std::mt19937 random_;
    test::WindowFixture& t_;
    test::NoticeWatcher notices_{true};
    std::shared_ptr<Client> holder_;
    std::size_t holderDisconnects_ = 0;  // the holder's address's disconnect lines before it held
    std::pair<std::string, std::size_t> leaving_;  // the last holder's disconnect line, and before
    std::vector<std::shared_ptr<Client>> refused_;
    std::set<std::string> letGo_;  // addresses whose idle connection was let go
    std::vector<std::shared_ptr<Client>> everyClient_;
    std::map<int, std::string> lines_;
    std::map<int, int> trackerOf_;
    std::map<std::string, int> ids_;
    int lastId_ = 0;
    int clients_ = 0;
    int steps_ = 0;
    int arrivals_ = 0;
    int arrivalsAtRequest_ = -1;
    int flood_ = 0;
    bool finishing_ = false;
    bool holding_ = false;
    std::function<bool()> waiting_;
    std::function<void()> afterWait_;
    std::string waitingFor_;
    Clock::time_point deadline_;
    std::string failure_;
};

TEST(Interleaving, RandomSchedulesSaveEveryGoodReportOnceAndInOrder) {
    std::vector<unsigned> seeds;
    if (const char* seed = std::getenv("VOSTREL_SEED")) {
        seeds.push_back(static_cast<unsigned>(std::strtoul(seed, nullptr, 10)));
    } else {
        for (unsigned seed = 1; seed <= 12; ++seed) seeds.push_back(seed);
    }
    for (unsigned seed : seeds) {
        test::WindowFixture t;
        ASSERT_TRUE(t.Start());
        Schedule schedule(seed, t);
        bool running = true;
        QTimer driver;
        QObject::connect(&driver, &QTimer::timeout, [&] {
            if (running) running = schedule.Tick();
        });
        driver.start(2);
        ASSERT_TRUE(test::WaitFor([&] { return !running; }, 120000)) << "seed " << seed;
        EXPECT_EQ(schedule.Failure(), "")
            << "seed " << seed << " (VOSTREL_SEED=" << seed << " replays it)";
    }
}

}  // namespace
}  // namespace vostrel
