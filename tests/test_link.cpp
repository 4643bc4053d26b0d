// The tracker link on real loopback sockets through the real event loop.
#include <gmock/gmock.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QTcpServer>
#include <QTest>
#include <chrono>

#include "kit/WindowFixture.h"

namespace vostrel {
namespace {

using test::WindowFixture;

const std::string kReport =
    "$355632000166323,1,1,040202,093633,E12129.2252,N2459.8891,00161,0.0100,147,07*37!";
const std::string kTrackLine = "121.487086666667,24.9981516666667,0\r\n";

using test::CountOf;

TEST(TrackerLink, StartListensLogsTheLineAndDisablesTheButton) {
    WindowFixture t;
    const std::string before = t.Log();
    ASSERT_TRUE(t.Start());
    EXPECT_FALSE(t.window->Command1->isEnabled());
    EXPECT_EQ(t.Log(), before + t.ListeningLine());
    EXPECT_TRUE(t.window->Link().Listener().isListening());
    EXPECT_EQ(t.window->Link().ElementCount(), 2u);
    EXPECT_TRUE(t.endedWith.empty());
}

TEST(TrackerLink, APortHeldByAnotherProgramEndsTheProgramAfterTheNotice) {
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::Any, 0));
    WindowFixture t({.port = holder.serverPort()});
    test::NoticeWatcher notices;
    testing::internal::CaptureStderr();
    t.window->Command1->click();
    EXPECT_THAT(testing::internal::GetCapturedStderr(),
                testing::HasSubstr("vostrel: Error in application. Address already in use\n"));
    ASSERT_EQ(notices.seen.size(), 1u);
    EXPECT_EQ(notices.seen[0].text, "Error in application.");
    EXPECT_EQ(notices.seen[0].reason, "Address already in use");
    EXPECT_EQ(t.endedWith, std::vector<int>{1});
    EXPECT_FALSE(t.window->Command1->isEnabled());
    EXPECT_EQ(t.Log().find("Listening"), std::string::npos);
}

TEST(TrackerLink, FailingToCreateTheSlotEndsTheProgramAfterTheNotice) {
    WindowFixture t;
    t.window->Link().SetElementFactory([](std::int16_t) { return nullptr; });
    test::NoticeWatcher notices;
    t.window->Command1->click();
    ASSERT_EQ(notices.seen.size(), 1u);
    EXPECT_EQ(notices.seen[0].text, "Unable to initialise TCP/UDP sockets.");
    EXPECT_EQ(t.endedWith, std::vector<int>{1});
    EXPECT_EQ(t.Log().find("Listening"), std::string::npos);
}

TEST(TrackerLink, OneTrackerAtATimeAndTheSlotIsReusedAfterItLeaves) {
    WindowFixture t;
    const int first = t.StartAndConnect();
    ASSERT_GE(first, 0);
    EXPECT_EQ(t.window->Link().SlotBusy(1), kBusy);
    EXPECT_EQ(t.window->Link().GetFreeSocket(), 0);

    // A second tracker is refused: the server closes its connection and logs nothing.
    const std::string beforeRefusal = t.Log();
    const int second = t.Connect();
    ASSERT_GE(second, 0);
    EXPECT_TRUE(test::PeerClosed(second, 5000));
    ::close(second);
    EXPECT_EQ(t.Log(), beforeRefusal);

    // The first keeps reporting.
    test::SendAll(first, kReport);
    ASSERT_TRUE(test::WaitFor([&] { return t.TrackLog() == kTrackLine; }));
    test::SendAll(first, kReport);
    ASSERT_TRUE(test::WaitFor([&] { return t.TrackLog() == kTrackLine + kTrackLine; }));
    EXPECT_EQ(t.window->Link().SlotBusy(1), kBusy);

    ::close(first);
    ASSERT_TRUE(t.LogHas("Tracker 127.0.0.1 disconnected.\r\n"));
    EXPECT_EQ(t.window->Link().SlotBusy(1), kFree);

    const int third = t.Connect();
    ASSERT_TRUE(test::WaitFor([&] { return CountOf(t.Log(), "connected.\r\n") == 3; }));
    EXPECT_EQ(CountOf(t.Log(), "Tracker 127.0.0.1 connected.\r\n"), 2u);
    EXPECT_FALSE(test::PeerClosed(third, 200));
    ::close(third);
    ASSERT_TRUE(test::WaitFor([&] { return t.window->Link().SlotBusy(1) == kFree; }));
}

TEST(TrackerLink, AnIPv6TrackerIsLoggedWithItsAddress) {
    WindowFixture t;
    ASSERT_TRUE(t.Start());
    const int client = test::ConnectClient("::1", t.Port());
    if (client < 0) GTEST_SKIP() << "no IPv6 loopback on this machine";
    EXPECT_TRUE(t.LogHas("Tracker ::1 connected.\r\n"));
    ::close(client);
    EXPECT_TRUE(t.LogHas("Tracker ::1 disconnected.\r\n"));
}

// A report sent at once after connecting may be logged before the connect line; a tracker
// that connects and closes at once may be logged as disconnected before connected. Either
// way every line is there once and the slot ends free.
TEST(TrackerLink, QuickReportsAndQuickClosesEndWithTheSlotFree) {
    WindowFixture t;
    ASSERT_TRUE(t.Start());
    const std::string base = t.Log();

    int client = t.Connect();
    test::SendAll(client, kReport);
    ::close(client);
    ASSERT_TRUE(t.LogHas("disconnected.\r\n"));
    ASSERT_TRUE(test::WaitFor([&] { return CountOf(t.Log(), " connected.\r\n") == 1; }));
    std::string added = t.Log().substr(base.size());
    EXPECT_EQ(CountOf(added, std::string(test::kStamp) + " " + kReport + "\r\n"), 1u);
    EXPECT_EQ(t.TrackLog(), kTrackLine);
    EXPECT_LT(added.find(kReport), added.find("disconnected"));

    client = t.Connect();
    ::close(client);
    ASSERT_TRUE(test::WaitFor([&] { return CountOf(t.Log(), "disconnected.\r\n") == 2; }));
    ASSERT_TRUE(test::WaitFor([&] { return CountOf(t.Log(), " connected.\r\n") == 2; }));
    EXPECT_EQ(t.window->Link().SlotBusy(1), kFree);
    EXPECT_EQ(t.window->Link().GetFreeSocket(), 1);
}

// The tracker leaves and another one is accepted into the slot during the yield after the
// accept: each connect line still names its own tracker.
TEST(TrackerLink, TheConnectLineNamesTheTrackerAcceptedEvenIfItLeftDuringTheYield) {
    WindowFixture t;
    ASSERT_TRUE(t.Start());
    int first = -1;
    int second = -1;
    bool nested = false;
    t.window->Link().SetYield([&] {
        if (nested) {
            QCoreApplication::processEvents();
            return;
        }
        nested = true;
        ::close(first);
        ASSERT_TRUE(t.LogHas("Tracker 127.0.0.2 disconnected.\r\n"));
        second = t.Connect("127.0.0.3");
        ASSERT_TRUE(t.LogHas("Tracker 127.0.0.3 connected.\r\n"));
    });
    first = t.Connect("127.0.0.2");
    ASSERT_TRUE(t.LogHas("Tracker 127.0.0.2 connected.\r\n"));
    const std::string log = t.Log();
    EXPECT_EQ(log.substr(log.find("Tracker 127.0.0.2 disconnected")),
              "Tracker 127.0.0.2 disconnected.\r\nTracker 127.0.0.3 connected.\r\n"
              "Tracker 127.0.0.2 connected.\r\n");
    ::close(second);
}

// A peer that resets before its request is handled is still named in both of its lines.
TEST(TrackerLink, APeerThatResetsBeforeItIsAcceptedIsNamed) {
    WindowFixture t;
    ASSERT_TRUE(t.Start());
    test::ResetAndClose(t.Connect());
    ASSERT_TRUE(t.LogHas("disconnected.\r\n"));
    ASSERT_TRUE(t.LogHas(" connected.\r\n"));
    EXPECT_EQ(CountOf(t.Log(), "Tracker 127.0.0.1 connected.\r\n"), 1u);
    EXPECT_EQ(CountOf(t.Log(), "Tracker 127.0.0.1 disconnected.\r\n"), 1u);
}

// The new connection of a tracker that reconnects at once comes in before its old one's end
// was handled: the old end is handled first and the tracker is accepted.
TEST(TrackerLink, ATrackerThatReconnectsAtOnceIsAccepted) {
    WindowFixture t;
    const int before = t.StartAndConnect();
    ASSERT_GE(before, 0);
    test::SendAll(before, kReport);
    ::close(before);
    const int after = t.Connect();
    test::SendAll(after, kReport);
    ASSERT_TRUE(test::WaitFor([&] { return t.TrackLog() == kTrackLine + kTrackLine; }));
    EXPECT_FALSE(test::PeerClosed(after, 100));
    const std::string log = t.Log();
    EXPECT_LT(log.find("disconnected."), log.rfind(" connected."));
    ::close(after);
}

// A holder that sent no good report for two minutes gives the slot to the next request; one
// that reports more often keeps it. Bad reports do not count.
TEST(TrackerLink, AnIdleHolderYieldsTheSlotAReportingOneKeepsIt) {
    WindowFixture t;
    auto& now = t.HandClock();
    test::NoticeWatcher notices;
    const int holder = t.StartAndConnect("127.0.0.2");
    ASSERT_GE(holder, 0);
    now += std::chrono::seconds(90);
    test::SendAll(holder, kReport);
    ASSERT_TRUE(test::WaitFor([&] { return t.TrackLog() == kTrackLine; }));

    now += std::chrono::seconds(90);
    const int refused = t.Connect("127.0.0.3");
    EXPECT_TRUE(test::PeerClosed(refused, 5000));
    ::close(refused);
    test::SendAll(holder, "not a report");
    ASSERT_TRUE(test::WaitFor([&] { return notices.seen.size() == 1; }));

    now += std::chrono::seconds(31);
    const std::string before = t.Log();
    const int newcomer = t.Connect("127.0.0.4");
    ASSERT_TRUE(t.LogHas("Tracker 127.0.0.4 connected.\r\n"));
    EXPECT_EQ(t.Log().substr(before.size()),
              "Tracker 127.0.0.2 disconnected.\r\nTracker 127.0.0.4 connected.\r\n");
    EXPECT_TRUE(test::PeerClosed(holder, 5000));
    test::SendAll(newcomer, kReport);
    EXPECT_TRUE(test::WaitFor([&] { return t.TrackLog() == kTrackLine + kTrackLine; }));
    ::close(holder);
    ::close(newcomer);
}

TEST(TrackerLink, AResetFreesTheSlotWithOneDisconnectLine) {
    WindowFixture t;
    const int client = t.StartAndConnect();
    ASSERT_GE(client, 0);
    test::ResetAndClose(client);
    ASSERT_TRUE(t.LogHas("Tracker 127.0.0.1 disconnected.\r\n"));
    // The connection is closed: nothing pending can announce its end a second time.
    ASSERT_FALSE(t.window->Link().Element(1).HasConnection());
    QCoreApplication::processEvents();
    EXPECT_EQ(CountOf(t.Log(), "disconnected.\r\n"), 1u);
    EXPECT_EQ(t.window->Link().SlotBusy(1), kFree);
    EXPECT_FALSE(t.window->Link().Element(1).HasConnection());
}

// The tracker leaves while its rejected report's notice is still open: the close is handled
// nested, inside the waiting handler, and the slot's socket goes away under it.
TEST(TrackerLink, ATrackerLeavingWhileItsNoticeIsOpenIsHandledNested) {
    WindowFixture t;
    const int client = t.StartAndConnect();
    ASSERT_GE(client, 0);
    test::NoticeWatcher notices(false);
    bool closedWhileOpen = false;
    notices.onTick = [&] {
        if (notices.OpenNow() == 1 && !closedWhileOpen) {
            closedWhileOpen = true;
            ::close(client);
        }
        if (closedWhileOpen && t.Log().find("disconnected.\r\n") != std::string::npos) {
            notices.DismissAll();
        }
    };
    test::SendAll(client, "short");
    ASSERT_TRUE(test::WaitFor([&] { return closedWhileOpen && notices.OpenNow() == 0; }));
    EXPECT_EQ(notices.seen.size(), 1u);
    EXPECT_EQ(t.window->Link().SlotBusy(1), kFree);
    EXPECT_FALSE(t.window->Link().Element(1).HasConnection());

    // The slot takes the next tracker as usual.
    const int next = t.Connect();
    test::SendAll(next, kReport);
    EXPECT_TRUE(test::WaitFor([&] { return t.TrackLog() == kTrackLine; }));
    ::close(next);
}

TEST(TrackerLink, AcceptedConnectionsUseShortKeepAlive) {
    WindowFixture t;
    const int client = t.StartAndConnect();
    ASSERT_GE(client, 0);
    const int fd = t.window->Link().Element(1).Descriptor();
    ASSERT_GE(fd, 0);
    const struct {
        int level, name, expected;
    } options[] = {{SOL_SOCKET, SO_KEEPALIVE, 1},
                   {IPPROTO_TCP, TCP_KEEPIDLE, 60},
                   {IPPROTO_TCP, TCP_KEEPINTVL, 10},
                   {IPPROTO_TCP, TCP_KEEPCNT, 6},
                   {IPPROTO_TCP, TCP_USER_TIMEOUT, 120000}};
    for (const auto& option : options) {
        int value = -1;
        socklen_t length = sizeof value;
        ASSERT_EQ(::getsockopt(fd, option.level, option.name, &value, &length), 0);
        EXPECT_EQ(value, option.expected) << "option " << option.name;
    }
    ::close(client);
}

// A report that reaches the server in two reads is joined; an unfinished one that gets no
// rest within a second, or that a new report follows, goes on as it is.
TEST(TrackerLink, AReportCutByAReadIsJoinedWithItsRest) {
    WindowFixture t;
    test::NoticeWatcher notices;
    const int client = t.StartAndConnect();
    ASSERT_GE(client, 0);
    test::SendAll(client, kReport.substr(0, 30));
    QTest::qWait(100);
    test::SendAll(client, kReport.substr(30));
    ASSERT_TRUE(test::WaitFor([&] { return t.TrackLog() == kTrackLine; }));
    EXPECT_EQ(CountOf(t.Log(), " " + kReport + "\r\n"), 1u);
    EXPECT_TRUE(notices.seen.empty());

    test::SendAll(client, kReport.substr(0, 30));
    ASSERT_TRUE(test::WaitFor([&] { return notices.seen.size() == 1; }, 5000));
    EXPECT_EQ(notices.seen[0].text.toStdString(), "Illegal string count.4");
    EXPECT_EQ(t.TrackLog(), kTrackLine);

    // A fragment followed by a new report goes on alone, first; the report is saved.
    test::SendAll(client, "$1,2,3");
    QTest::qWait(300);
    test::SendAll(client, kReport);
    ASSERT_TRUE(test::WaitFor([&] { return t.TrackLog() == kTrackLine + kTrackLine; }));
    ASSERT_TRUE(test::WaitFor([&] { return notices.seen.size() == 2; }));
    EXPECT_EQ(notices.seen[1].text.toStdString(), "Packet too small.");
    // A fragment still held at the close is logged before the disconnect line.
    test::SendAll(client, "$1,2,3");
    QTest::qWait(100);
    ::close(client);
    ASSERT_TRUE(t.LogHas("disconnected.\r\n"));
    const std::string log = t.Log();
    EXPECT_LT(log.rfind(" $1,2,3\r\n"), log.find("disconnected.\r\n"));
    EXPECT_TRUE(test::WaitFor([&] { return notices.seen.size() == 3; }));
}

// One address holds an idle connection and churns new ones; a tracker on another address,
// trying every 8 s, gets the slot once the idle one may be let go, and keeps it while it
// reports. The clock is advanced by hand.
TEST(TrackerLink, AChurningPeerCannotLockATrackerOut) {
    WindowFixture t;
    auto& now = t.HandClock();
    test::NoticeWatcher notices;
    // Requests the busy slot refuses wait outside it only briefly here: the peer sends nothing.
    t.window->Link().SetWaitLimit(std::chrono::milliseconds(20));
    const int idle = t.StartAndConnect("127.0.0.2");
    ASSERT_GE(idle, 0);
    int tracker = -1;
    int savedAt = -1;
    std::size_t saved = 0;
    for (int second = 1; second <= 200; ++second) {
        now += std::chrono::seconds(1);
        for (int churn = 0; churn < 3; ++churn) {
            const int fd = t.Connect("127.0.0.2");
            ASSERT_TRUE(test::PeerClosed(fd, 2000))
                << "the churning peer took the slot at " << second << " s";
            ::close(fd);
        }
        if (second % 8 != 0) continue;
        if (tracker < 0) {
            tracker = t.Connect("127.0.0.3");
            if (!t.LogHas("Tracker 127.0.0.3 connected.\r\n", 300)) {
                ::close(std::exchange(tracker, -1));
                continue;
            }
        }
        test::SendAll(tracker, kReport);
        ASSERT_TRUE(test::WaitFor([&] { return CountOf(t.TrackLog(), kTrackLine) == saved + 1; }))
            << "the tracker lost the slot at " << second << " s";
        ++saved;
        if (savedAt < 0) savedAt = second;
    }
    EXPECT_LE(savedAt, 150);
    EXPECT_GT(saved, 5u);
    ::close(idle);
    ::close(tracker);
}

TEST(TrackerLink, AThousandConnectReportCloseCycles) {
    WindowFixture t;
    ASSERT_TRUE(t.Start());
    // Warm up once so lazily opened descriptors of the toolkit don't count.
    int client = t.Connect();
    ::close(client);
    ASSERT_TRUE(t.LogHas("disconnected.\r\n"));
    const int descriptorsBefore = test::OpenDescriptorCount();

    constexpr int kCycles = 1000;
    for (int i = 1; i <= kCycles; ++i) {
        client = t.Connect();
        ASSERT_GE(client, 0) << "cycle " << i;
        test::SendAll(client, kReport);
        ::close(client);
        ASSERT_TRUE(test::WaitFor([&] {
            return t.window->Link().SlotBusy(1) == kFree &&
                   CountOf(t.TrackLog(), kTrackLine) == static_cast<std::size_t>(i);
        })) << "cycle "
            << i;
    }
    ASSERT_TRUE(
        test::WaitFor([&] { return CountOf(t.Log(), "disconnected.\r\n") == kCycles + 1; }));
    const std::string log = t.Log();
    EXPECT_EQ(CountOf(log, " connected.\r\n"), static_cast<std::size_t>(kCycles + 1));
    EXPECT_EQ(CountOf(log, kReport + "\r\n"), static_cast<std::size_t>(kCycles));
    EXPECT_EQ(CountOf(t.TrackLog(), kTrackLine), static_cast<std::size_t>(kCycles));
    EXPECT_EQ(t.window->Link().GetFreeSocket(), 1);
    EXPECT_EQ(test::OpenDescriptorCount(), descriptorsBefore);
}

}  // namespace
}  // namespace vostrel
