// A main window wired for tests: a stub viewer, files in a scratch folder, a fixed clock, and
// an end-of-program path that only records.
#pragma once

#include <QApplication>
#include <QPushButton>
#include <memory>

#include "app/VostrelDEMO.h"
#include "console/ActivityLog.h"
#include "support/TestSupport.h"

namespace vostrel::test {

inline constexpr const char* kStamp = "07.12.2026 04:56:27";

struct WindowFixture {
    ScratchDir dir;
    StubRegistry stubs;
    std::vector<int> endedWith;
    std::unique_ptr<VostrelDEMO> window;

    // `registry`: where the viewer comes from; a stub viewer when none is given.
    explicit WindowFixture(bool show = true, const ComponentRegistry* registry = nullptr) {
        VostrelDEMO::Environment environment;
        environment.registry = registry != nullptr ? registry : &stubs.registry;
        environment.endProgram = [this](int code) { endedWith.push_back(code); };
        environment.dataFolder = dir.Path();
        environment.clock = [] { return std::string(kStamp); };
        window = std::make_unique<VostrelDEMO>(std::move(environment));
        if (show) {
            window->show();
            QApplication::setActiveWindow(window.get());
        }
    }
    ~WindowFixture() {
        window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    std::string Log() const { return window->Text1->Text().toStdString(); }
    std::string TrackLog() const { return ReadFile(dir.File("vo_demo.txt")); }
    // Clicks Start Tracking and checks that it listens. Should port 5000 be held, the notice
    // that says so is dismissed, so the test fails instead of waiting on it.
    void Start() {
        NoticeWatcher dismisser;
        window->Command1->click();
        EXPECT_TRUE(endedWith.empty() && window->Link().sckListen.isListening())
            << "Start Tracking did not listen on port 5000 (held by another program?)";
    }
    bool LogHas(const std::string& text, int timeoutMs = 10000) const {
        return WaitFor([&] { return Log().find(text) != std::string::npos; }, timeoutMs);
    }
};

}  // namespace vostrel::test
