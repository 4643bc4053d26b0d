// Meets an error that no handler traps: the clock fails while a tracker report is handled, and
// the tracker goes on sending while the fatal report is shown. Every message box is recorded
// on standard error and dismissed after a while; the program must end by itself after the
// first one, with no handler running meanwhile.
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "app/Application.h"
#include "app/VostrelDEMO.h"
#include "console/ActivityLog.h"
#include "kit/TestKit.h"
#include "link/TrackerLink.h"

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const vostrel::test::ScratchHome home;
    vostrel::Application app(argc, argv);

    vostrel::test::StubRegistry stubs;
    vostrel::VostrelDEMO::Environment environment;
    environment.registry = &stubs.registry;
    // A clock that fails: an error no handler traps.
    struct StoppedClock : vostrel::ClockPort {
        bool boxOpen = false;
        std::string DateAndTime() override {
            if (boxOpen) std::fprintf(stderr, "a report was handled during the box\n");
            throw std::runtime_error("the clock stopped");
        }
    } clock;
    bool& boxOpen = clock.boxOpen;
    environment.clock = &clock;
    environment.port = 0;
    vostrel::VostrelDEMO window(environment);
    window.show();
    window.Command1->click();

    const int tracker =
        vostrel::test::ConnectClient("127.0.0.1", window.Link().Listener().LocalPort());
    QTimer reports;
    QObject::connect(&reports, &QTimer::timeout, [tracker] {
        vostrel::test::SendAll(tracker, "$1,2,3,4,5,E12129.2252,N2459.8891,7,8,9,!");
    });
    reports.start(20);

    vostrel::test::NoticeWatcher notices(false);
    std::size_t printed = 0;
    QElapsedTimer openFor;
    std::size_t logSize = 0;
    notices.onTick = [&] {
        for (; printed < notices.seen.size(); ++printed) {
            std::fprintf(stderr, "seen fatal box: %s | %s\n",
                         qUtf8Printable(notices.seen[printed].title),
                         qUtf8Printable(notices.seen[printed].text.split('\n').last()));
            openFor.start();
            boxOpen = true;
            logSize = window.Text1->Size();
        }
        // Dismiss after reports went on arriving for a while; meanwhile nothing is logged.
        if (openFor.isValid() && openFor.elapsed() > 300) {
            if (window.Text1->Size() != logSize) std::fprintf(stderr, "logged during the box\n");
            notices.DismissAll();
        }
    };
    app.exec();
    std::fprintf(stderr, "the program went on after the fatal error\n");
    return 0;
}
