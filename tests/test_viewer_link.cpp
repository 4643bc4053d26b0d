// Connecting to the globe viewer at window load, with test components.
#include <gmock/gmock.h>

#include <QTimer>

#include "globe/GlobeMap.h"
#include "globe/GlobeViewer.h"
#include "globe/GlobeWindow.h"
#include "kit/WindowFixture.h"
#include "viewer/Untangle.h"
#include "viewer/ViewerLink.h"

namespace vostrel {
namespace {

using test::WindowFixture;

TEST(ViewerLink, TheStoredIdentifierUnscramblesToTheViewersIdentifier) {
    EXPECT_EQ(kStoredViewerId.size(), 25u);
    EXPECT_EQ(Untangle(kStoredViewerId), "VostrelDemo.GlobeViewer.1");
    EXPECT_EQ(Tangle("VostrelDemo.GlobeViewer.1"), kStoredViewerId);
}

// A viewer ready at the first poll shows the window with no event in between; one that takes
// several polls is polled with events in between.
TEST(ViewerLink, AViewerIsPolledUntilReadyWithEventsInBetweenOnlyWhenItTakesTime) {
    for (const int readyAt : {1, 5}) {
        SCOPED_TRACE(testing::Message() << "ready at poll " << readyAt);
        WindowFixture t(false);
        t.stubs.configure = [=](test::StubViewer& viewer) { viewer.pollsUntilReady = readyAt; };
        int ticks = 0;
        QTimer pending;  // goes with the test, so it cannot fire into a later one
        QObject::connect(&pending, &QTimer::timeout, [&] { ++ticks; });
        pending.start(0);
        t.window->show();
        EXPECT_TRUE(t.window->isVisible());
        EXPECT_EQ(ticks >= 1, readyAt > 1) << ticks << " events in between";
        ASSERT_NE(t.stubs.last, nullptr);
        EXPECT_EQ(t.stubs.last->polls, readyAt);
        EXPECT_EQ(t.window->Viewer().Viewer(), static_cast<ViewerAutomation*>(t.stubs.last));
        EXPECT_TRUE(t.endedWith.empty());
    }
}

// A viewer that takes a while and sends no event meanwhile is not polled in a busy loop.
TEST(ViewerLink, WaitingForTheViewerDoesNotSpin) {
    WindowFixture t(false);
    t.stubs.configure = [](test::StubViewer& viewer) { viewer.readyAfterMs = 300; };
    t.window->show();
    EXPECT_TRUE(t.window->isVisible());
    EXPECT_LT(t.stubs.last->polls, 30);
}

class NotAViewer : public QObject {};

struct Failure {
    const char* what;
    const char* reason;
    std::function<void(test::StubRegistry&)> arrange;
};

TEST(ViewerLink, EveryFailureGivesTheNoticeAndEndsWithTheWindowNeverShown) {
    const Failure failures[] = {
        {"unregistered", "Cannot create component 'VostrelDemo.GlobeViewer.1'",
         [](test::StubRegistry& s) { s.registry.Unregister("VostrelDemo.GlobeViewer.1"); }},
        {"no interface", "No such interface supported",
         [](test::StubRegistry& s) {
             s.registry.Register("VostrelDemo.GlobeViewer.1",
                                 [] { return std::make_unique<NotAViewer>(); });
         }},
        {"ready fails", "viewer broken",
         [](test::StubRegistry& s) {
             s.configure = [](test::StubViewer& viewer) { viewer.failReady = true; };
         }},
        {"factory throws", "cannot start",
         [](test::StubRegistry& s) {
             s.registry.Register("VostrelDemo.GlobeViewer.1", []() -> std::unique_ptr<QObject> {
                 throw std::runtime_error("cannot start");
             });
         }},
    };
    for (const Failure& failure : failures) {
        SCOPED_TRACE(failure.what);
        WindowFixture t(false);
        failure.arrange(t.stubs);
        test::NoticeWatcher notices;
        testing::internal::CaptureStderr();
        t.window->show();
        EXPECT_THAT(testing::internal::GetCapturedStderr(),
                    testing::HasSubstr(std::string("vostrel: Unable to run interface. ") +
                                       failure.reason + "\n"));
        EXPECT_FALSE(t.window->isVisible());
        EXPECT_EQ(t.endedWith, std::vector<int>{1});
        ASSERT_EQ(notices.seen.size(), 1u);
        EXPECT_EQ(notices.seen[0].text, "Unable to run interface.");
        EXPECT_EQ(notices.seen[0].reason.toStdString(), failure.reason);
        t.window->show();
        EXPECT_FALSE(t.window->isVisible());
    }
}

TEST(ViewerLink, AGoodReportIsShownFromTheSnapshotPath) {
    WindowFixture t;
    const int client = t.StartAndConnect();
    ASSERT_GE(client, 0);
    test::SendAll(client, "$1,2,3,4,5,E12129.2252,N2459.8891,7,8,9,!");
    ASSERT_TRUE(test::WaitFor([&] { return t.stubs.last->shown.size() == 1; }));
    EXPECT_EQ(t.stubs.last->shown[0].toStdString(), t.dir.File("vo_demo.kml"));
    ::close(client);
}

// The whole chain in one process: window, a tracker on real loopback, real files in a scratch
// folder and the real globe viewer, offscreen.
TEST(ViewerLink, AGoodReportEndsWithTheRealGlobeCentredOnIt) {
    ComponentRegistry registry;
    RegisterGlobeViewer(registry);
    WindowFixture t(true, &registry);
    ASSERT_TRUE(t.window->isVisible());
    auto* globe = qobject_cast<GlobeViewer*>(t.window->Viewer().Component());
    ASSERT_NE(globe, nullptr);

    const int client = t.StartAndConnect();
    ASSERT_GE(client, 0);
    test::SendAll(
        client, "$355632002562503,1,3,160414,221427,E03737.3756,N5539.3943,166.2,0.1,91.04,05*37!");
    ASSERT_TRUE(test::WaitFor(
        [&] { return t.TrackLog() == "37.6229266666667,55.6565716666667,0\r\n"; }, 30000));
    EXPECT_NEAR(globe->Map()->CentreLongitude(), 37.6229266666667, 1e-6);
    EXPECT_NEAR(globe->Map()->CentreLatitude(), 55.6565716666667, 1e-6);
    EXPECT_TRUE(globe->Window()->isVisible());
    ::close(client);
}

}  // namespace
}  // namespace vostrel
