// The main window wired for tests and benchmarks: a stub viewer, its files in a scratch folder,
// a fixed clock (or the system's), a free port of its own, and an end-of-program path that
// only records.
#pragma once

#include <QApplication>
#include <QPushButton>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "app/VostrelDEMO.h"
#include "console/ActivityLog.h"
#include "console/ErrorNotice.h"
#include "kit/TestKit.h"
#include "link/TrackerLink.h"

namespace vostrel::test {

inline constexpr const char* kStamp = FixedClock::kStamp;

struct WindowOptions {
    bool show = true;
    const ComponentRegistry* registry = nullptr;  // a stub viewer when none is given
    bool systemClock = false;                     // the kit's FixedClock, or the system's
    std::int32_t port = 0;                        // 0: a free one
};

struct WindowFixture {
    ScratchDir dir;
    FixedClock clock;  // the window's, unless it runs on the system's
    StubRegistry stubs;
    std::vector<int> endedWith;
    std::unique_ptr<VostrelDEMO> window;

    explicit WindowFixture(WindowOptions options = {});
    explicit WindowFixture(bool show, const ComponentRegistry* registry = nullptr)
        : WindowFixture(WindowOptions{show, registry}) {}
    ~WindowFixture();  // not copied or moved: the window's end-of-program path holds `this`

    // From now on the window's steady clock moves only by hand: it stands an hour past its
    // epoch, and the caller moves it through the reference.
    FixedClock::TimePoint& HandClock() {
        return clock.now.emplace(FixedClock::TimePoint{} + std::chrono::hours(1));
    }
    std::string Log() const { return window->Text1->Text().toStdString(); }
    std::string TrackLog() const { return ReadFile(dir.File("vo_demo.txt")); }
    // Clicks Start Tracking; whether it listens. Should the port be held, the notice that says
    // so is dismissed, so the caller fails instead of waiting on it.
    bool Start();
    // The port it listens on, and the line that says so.
    int Port() const { return window->Link().Listener().LocalPort(); }
    std::string ListeningLine() const {
        return "Listening on TCP port " + std::to_string(Port()) + "\r\n";
    }
    // Starts tracking and connects a loopback client from `from` (127.0.0.1 if none); the
    // client once the log says it connected, -1 when any step failed.
    int StartAndConnect(const char* from = nullptr);
    // A loopback client connected to it (-1 when that failed), from `from` if given.
    int Connect(const char* from = nullptr) const {
        return ConnectClient("127.0.0.1", Port(), from);
    }
    bool LogHas(const std::string& text, int timeoutMs = 10000) const {
        return WaitFor([&] { return Log().find(text) != std::string::npos; }, timeoutMs);
    }
};

}  // namespace vostrel::test
