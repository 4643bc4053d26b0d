// The main window as the operator sees it: banner, log box, button, notices, fatal errors.
#include <gmock/gmock.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAccessible>
#include <QLineEdit>
#include <QProcess>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>
#include <chrono>
#include <thread>
#include <tuple>
#include <vector>

#include "console/Banner.h"
#include "kit/LogTextModel.h"
#include "kit/WindowFixture.h"

namespace vostrel {
namespace {

using test::WindowFixture;
using testing::AllOf;
using testing::HasSubstr;

// The main window, shown and active, and its log box.
class Console : public testing::Test {
  protected:
    WindowFixture t;
    ActivityLog& log = *t.window->Text1;
};

TEST_F(Console, WindowMatchesItsDesign) {
    VostrelDEMO& w = *t.window;
    EXPECT_EQ(w.windowTitle(), "Vostrel GPRS Demo (TCP) ");
    EXPECT_EQ(w.size(), QSize(742, 412));
    EXPECT_EQ(w.minimumSize(), w.maximumSize());
    EXPECT_FALSE(w.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(w.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(w.windowIcon().isNull());
    EXPECT_EQ(w.palette().color(QPalette::Window), QColor(Qt::black));

    EXPECT_EQ(w.Text1->geometry(), QRect(8, 8, 721, 353));
    EXPECT_EQ(w.Text1->palette().color(QPalette::Base), QColor(0x40, 0x40, 0x40));
    EXPECT_EQ(w.Text1->palette().color(QPalette::Text), QColor(0x00, 0xFF, 0x00));
    EXPECT_EQ(w.Text1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(w.Text1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(w.Text1->font().pixelSize(), 13);

    EXPECT_EQ(w.Command1->text(), "Start Tracking");
    EXPECT_FALSE(w.Command1->testAttribute(Qt::WA_SetPalette));  // the style's own look
    EXPECT_EQ(w.Command1->geometry(), QRect(8, 368, 193, 33));
    EXPECT_EQ(w.Command1->font().pixelSize(), 13);
    EXPECT_TRUE(w.Command1->isEnabled());
    EXPECT_TRUE(w.Command1->hasFocus());
    EXPECT_EQ(w.Command1->nextInFocusChain(), w.Text1);
}

TEST_F(Console, BannerFirstThenTheListeningLineAndTheButtonGreys) {
    const std::string banner = t.Log();
    EXPECT_EQ(banner, BannerText().toStdString());
    EXPECT_EQ(banner.rfind("Vostrel V1.01 GPRS Demo Version for Globalsat TR-102 trackers.\r\n", 0),
              0u);
    ASSERT_GE(banner.size(), 4u);
    EXPECT_EQ(banner.substr(banner.size() - 4), "\r\n\r\n");
    EXPECT_NE(banner.substr(banner.size() - 6, 2), "\r\n");
    const QStringList lines = BannerText().split("\r\n");
    ASSERT_EQ(lines.size(), 12) << "11 lines, each with its line end";
    EXPECT_TRUE(lines[2].startsWith("Web: "));
    EXPECT_TRUE(lines[3].startsWith("EMail: "));
    EXPECT_TRUE(lines[4].isEmpty());
    EXPECT_TRUE(lines[10].isEmpty());
    for (int i : {0, 1, 2, 3, 5, 6, 7, 8, 9}) EXPECT_FALSE(lines[i].isEmpty()) << i;

    ASSERT_TRUE(t.Start());
    EXPECT_EQ(t.Log(), banner + t.ListeningLine());
    EXPECT_FALSE(t.window->Command1->isEnabled());
    t.window->Command1->click();
    EXPECT_EQ(t.Log(), banner + t.ListeningLine());
}

TEST_F(Console, LaterActivationsDoNotWriteTheBannerAgain) {
    log.Append("line after banner\r\n");
    QLineEdit other;
    other.show();
    QApplication::setActiveWindow(&other);
    QApplication::setActiveWindow(t.window.get());
    QApplication::processEvents();
    EXPECT_EQ(t.Log(), BannerText().toStdString() + "line after banner\r\n");
}

TEST_F(Console, AppendsAfterTypedTextNotAtTheCaretAndShowsTheFirstLine) {
    // The operator clicks into the banner and types there.
    log.setFocus();
    log.SetCaret(3);
    QTest::keyClicks(&log, "typed");
    QTest::keyClick(&log, Qt::Key_Return);
    const std::string banner = BannerText().toStdString();
    const std::string withTyping = banner.substr(0, 3) + "typed\r\n" + banner.substr(3);
    ASSERT_EQ(t.Log(), withTyping);
    EXPECT_EQ(log.Caret(), 3u + 7u);

    for (int i = 0; i < 200; ++i) log.Append(QString("line %1\r\n").arg(i));
    EXPECT_THAT(t.Log(), AllOf(testing::StartsWith(withTyping), testing::EndsWith("line 199\r\n")));
    EXPECT_EQ(log.Caret(), 3u + 7u);
    ASSERT_GT(log.verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(log.verticalScrollBar()->value(), 0);

    log.verticalScrollBar()->setValue(log.verticalScrollBar()->maximum());
    log.Append("one more\r\n");
    EXPECT_EQ(log.verticalScrollBar()->value(), 0);
}

TEST_F(Console, TheOperatorCanEditTheLogText) {
    log.SetText("ab\r\ncd\r\n");
    log.setFocus();
    log.SetCaret(2);
    QTest::keyClick(&log, Qt::Key_Delete);  // the CR LF pair goes as one
    EXPECT_EQ(t.Log(), "abcd\r\n");
    QTest::keyClick(&log, Qt::Key_Backspace);
    EXPECT_EQ(t.Log(), "acd\r\n");
    QTest::keyClick(&log, Qt::Key_End);
    QTest::keyClicks(&log, "X");
    EXPECT_EQ(t.Log(), "acdX\r\n");
    QTest::keyClick(&log, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(&log, "new");
    EXPECT_EQ(t.Log(), "new");
    // A CR written in one append and its LF in the next still make one line break.
    log.Append("\r");
    log.Append("\nnext\r\n");
    EXPECT_EQ(t.Log(), "new\r\nnext\r\n");
    EXPECT_EQ(log.Store().LineAt(4).start, 0u);  // the LF ends the first line
    EXPECT_EQ(log.Store().LineAt(5).start, 5u);
}

TEST_F(Console, ANoticeIsAStopBoxWithOneOkAndTheCallerWaitsForIt) {
    test::NoticeWatcher notices(false);
    bool returned = false;
    bool openWhenChecked = false;
    notices.onTick = [&] {
        if (notices.OpenNow() != 1) return;
        openWhenChecked = !returned;
        notices.DismissAll();
    };
    t.window->Notice().Show("Packet too small.");
    returned = true;
    EXPECT_TRUE(openWhenChecked);
    // Title, text, no informative text, the critical icon, one button and it is OK.
    EXPECT_THAT(notices.seen, testing::ElementsAre(testing::FieldsAre("Error", "Packet too small.",
                                                                      "", true, 1, true)));
}

// While a notice waits, the main window takes no input, but the program's other windows (the
// globe) do; Return on the focused Start Tracking button presses it.
TEST_F(Console, ANoticeBlocksOnlyTheMainWindowAndReturnPressesTheButton) {
    QWidget globe;
    globe.resize(200, 200);
    globe.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&globe));
    struct PressCounter : QObject {
        int presses = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::MouseButtonPress) ++presses;
            return false;
        }
    } counter;
    globe.installEventFilter(&counter);
    int clicks = 0;
    QObject::connect(t.window->Command1, &QPushButton::clicked, [&] { ++clicks; });

    test::NoticeWatcher notices(false);
    notices.onTick = [&] {
        if (notices.OpenNow() != 1) return;
        QTest::mouseClick(globe.windowHandle(), Qt::LeftButton, {}, QPoint(50, 50));
        QTest::mouseClick(t.window->windowHandle(), Qt::LeftButton, {},
                          t.window->Command1->geometry().center());
        QTest::keyClick(t.window->windowHandle(), Qt::Key_Return);
        notices.DismissAll();
    };
    t.window->Notice().Show("Packet too small.");
    EXPECT_EQ(counter.presses, 1);
    EXPECT_EQ(clicks, 0);

    QApplication::setActiveWindow(t.window.get());
    ASSERT_TRUE(t.window->Command1->hasFocus());
    QTest::keyClick(t.window->windowHandle(), Qt::Key_Return);
    EXPECT_EQ(clicks, 1);
    EXPECT_NE(t.Log().find(t.ListeningLine()), std::string::npos);
}

// Report lines wrap into two screen rows; the operator reads the log by clicking a row (the
// caret lands there) while paging, wheeling and dragging the thumb, and sees every row once.
TEST_F(Console, TheLogScrollsByScreenRows) {
    const int usable = log.viewport()->width() - 8;
    const QString first(int(usable / QFontMetricsF(log.font()).horizontalAdvance('A')) - 1, 'A');
    log.SetText("");
    constexpr int kLines = 100;  // 200 rows, then the empty last line
    for (int i = 0; i < kLines; ++i) log.Append(first + " BBBB" + QString::number(i) + "\r\n");
    log.setFocus();
    const int height = QFontMetrics(log.font()).lineSpacing();
    const int visible = log.VisibleRows();
    // The screen row shown at `screenRow` of the box, numbered over the whole log.
    auto rowOnScreen = [&](int screenRow) {
        QTest::mouseClick(log.viewport(), Qt::LeftButton, {},
                          QPoint(1, 4 + screenRow * height + height / 2));
        const std::size_t caret = log.Caret();
        if (caret == log.Size()) return 2 * kLines;
        const int line = log.Text().left(int(log.Store().LineAt(caret).start)).count("\r\n");
        return 2 * line + (log.Store().At(caret) == 'B' ? 1 : 0);
    };
    int pages = 1;
    int bottom = rowOnScreen(visible - 1);
    ASSERT_EQ(rowOnScreen(0), 0);
    ASSERT_EQ(bottom, visible - 1);
    while (bottom < 2 * kLines) {
        QTest::keyClick(&log, Qt::Key_PageDown);
        ASSERT_LE(rowOnScreen(0), bottom + 1) << "page " << pages << " skipped rows";
        const int next = rowOnScreen(visible - 1);
        ASSERT_GT(next, bottom) << "page " << pages << " did not move";
        bottom = next;
        ++pages;
    }
    EXPECT_EQ(pages, (2 * kLines + 1 + visible - 1) / visible);

    QTest::keyClick(&log, Qt::Key_Home, Qt::ControlModifier);
    QWheelEvent notch(QPointF(50, 50), log.viewport()->mapToGlobal(QPoint(50, 50)), QPoint(),
                      QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(log.viewport(), &notch);
    EXPECT_EQ(rowOnScreen(0), QApplication::wheelScrollLines());

    log.verticalScrollBar()->setValue(log.verticalScrollBar()->maximum());  // the thumb at the end
    EXPECT_EQ(rowOnScreen(visible - 1), 2 * kLines);
}

// What a screen reader reads through Qt's accessibility interfaces: an editable text named
// "Activity log" with the log's text, any range of it, its screen rows and lines, the caret and
// the selection; rows deep in a long line agree with the line wrapped from its start.
TEST_F(Console, AScreenReaderReadsTheLogAsEditableText) {
    QAccessibleInterface* box = QAccessible::queryAccessibleInterface(&log);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->role(), QAccessible::EditableText);
    EXPECT_EQ(box->text(QAccessible::Name), "Activity log");
    EXPECT_TRUE(box->state().editable && box->state().multiLine && box->state().focusable);
    QAccessibleTextInterface* text = box->textInterface();
    ASSERT_NE(text, nullptr);
    ASSERT_NE(box->editableTextInterface(), nullptr);
    EXPECT_EQ(text->characterCount(), BannerText().size());
    EXPECT_EQ(text->text(0, text->characterCount()), BannerText());
    int start = -1;
    int end = -1;
    EXPECT_EQ(text->textAtOffset(10, QAccessible::ParagraphBoundary, &start, &end),
              "Vostrel V1.01 GPRS Demo Version for Globalsat TR-102 trackers.\r\n");

    // A line that wraps into two screen rows, a line of words, and a last line of 100,000
    // characters that keeps marks.
    const int usable = log.viewport()->width() - 8;
    const QString first(int(usable / QFontMetricsF(log.font()).horizontalAdvance('A')) - 1, 'A');
    QString longLine;
    while (longLine.size() < 100000) longLine += "words in a long line ";
    log.SetText(first + " BBBB\r\nab cd. Ef gh.\r\n" + longLine);
    const int b = first.size() + 1;
    const int words = b + 6;
    EXPECT_EQ(text->text(b, b + 4), "BBBB");
    EXPECT_EQ(text->textAtOffset(0, QAccessible::LineBoundary, &start, &end), first + " ");
    EXPECT_EQ(text->textAtOffset(b + 1, QAccessible::LineBoundary, &start, &end), "BBBB\r\n");
    EXPECT_EQ(text->textAtOffset(b + 5, QAccessible::LineBoundary, &start, &end), "BBBB\r\n");
    EXPECT_EQ(start, b);
    EXPECT_EQ(text->textAfterOffset(0, QAccessible::LineBoundary, &start, &end), "BBBB\r\n");
    EXPECT_EQ(text->textBeforeOffset(words, QAccessible::LineBoundary, &start, &end), "BBBB\r\n");
    EXPECT_EQ(text->textAtOffset(b + 5, QAccessible::ParagraphBoundary, &start, &end),
              first + " BBBB\r\n");
    EXPECT_EQ(text->textAtOffset(words + 3, QAccessible::WordBoundary, &start, &end), "cd");
    EXPECT_EQ(text->textAtOffset(words + 8, QAccessible::SentenceBoundary, &start, &end), "Ef gh.");
    EXPECT_EQ(text->textAtOffset(words, QAccessible::CharBoundary, &start, &end), "a");
    const int tail = words + 15;
    const std::string bytes = longLine.toStdString();
    // Where the long line's rows start, wrapped from its start.
    const std::vector<std::size_t> rowStarts =
        test::LogTextLayout(test::LogTextModel{bytes}, log.Store().Wrap()).rowStarts;
    ASSERT_GT(rowStarts.size(), 100u);
    for (const std::size_t row : {std::size_t{1}, rowStarts.size() / 2, rowStarts.size() - 1}) {
        const std::size_t rowEnd = row + 1 < rowStarts.size() ? rowStarts[row + 1] : bytes.size();
        const int inside = tail + int(rowStarts[row] + rowEnd) / 2;
        EXPECT_EQ(text->textAtOffset(inside, QAccessible::LineBoundary, &start, &end).toStdString(),
                  bytes.substr(rowStarts[row], rowEnd - rowStarts[row]))
            << "row " << row;
        EXPECT_EQ(start, tail + int(rowStarts[row]));
    }
    EXPECT_EQ(text->text(0, text->characterCount()), log.Text());

    // The caret and the selection, both ways; editing through the interface.
    text->setCursorPosition(words);
    EXPECT_EQ(log.Caret(), std::size_t(words));
    EXPECT_EQ(text->cursorPosition(), words);
    EXPECT_EQ(text->selectionCount(), 0);
    text->setSelection(0, b, b + 4);
    EXPECT_EQ(log.Caret(), std::size_t(b + 4));
    text->selection(0, &start, &end);
    EXPECT_EQ(std::make_pair(start, end), std::make_pair(b, b + 4));
    text->removeSelection(0);
    EXPECT_EQ(text->selectionCount(), 0);
    box->editableTextInterface()->replaceText(b, b + 4, "CC");
    EXPECT_EQ(text->text(b - 1, b + 4), " CC\r\n");
}

// A listening screen reader is told of the appends of each pass of the event loop in one event
// (where they went and what they were; a caret move tells them first) while the caret stays
// put; with none listening, no event is made.
using Event = std::tuple<QAccessible::Event, int, QString, int>;
std::vector<Event> recordedEvents;

void RecordEvent(QAccessibleEvent* event) {
    if (event->type() == QAccessible::TextInserted) {
        auto* inserted = static_cast<QAccessibleTextInsertEvent*>(event);
        recordedEvents.emplace_back(event->type(), inserted->changePosition(),
                                    inserted->textInserted(), inserted->cursorPosition());
    } else if (event->type() == QAccessible::TextCaretMoved) {
        auto* moved = static_cast<QAccessibleTextCursorEvent*>(event);
        recordedEvents.emplace_back(event->type(), moved->cursorPosition(), QString(), 0);
    }
}

TEST_F(Console, AListeningScreenReaderIsToldOfTheAppendsOfEachPassOnce) {
    const QAccessible::UpdateHandler previous = QAccessible::installUpdateHandler(RecordEvent);
    recordedEvents.clear();
    log.Append("not heard\r\n");
    EXPECT_TRUE(recordedEvents.empty());

    // As when a screen reader starts listening.
    QPlatformAccessibility* platform =
        QGuiApplicationPrivate::platformIntegration()->accessibility();
    ASSERT_NE(platform, nullptr);
    platform->setActive(true);
    ASSERT_TRUE(QAccessible::isActive());
    const int size = int(log.Size());
    log.Append("heard\r\n");
    log.Append("together\r\n");
    QCoreApplication::processEvents();
    log.Append("then\r\n");
    log.SetCaret(3);
    QCoreApplication::processEvents();
    platform->setActive(false);
    QAccessible::installUpdateHandler(previous);
    EXPECT_EQ(recordedEvents,
              (std::vector<Event>{{QAccessible::TextInserted, size, "heard\r\ntogether\r\n", 0},
                                  {QAccessible::TextInserted, size + 17, "then\r\n", 0},
                                  {QAccessible::TextCaretMoved, 3, QString(), 0}}));
}

// Malformed data sent faster than the operator dismisses notices: every arrival is logged
// exactly, no more than 8 boxes stand open, the rest become "Error: " lines, and nothing
// crashes.
TEST_F(Console, AFloodOfMalformedReportsIsLoggedWithAtMostEightNoticesOpen) {
    const int client = t.StartAndConnect();
    ASSERT_GE(client, 0);
    const std::size_t base = t.Log().size();

    constexpr int kReports = 10000;
    std::string sent;
    for (int i = 0; i < kReports; ++i) sent += "#bad" + std::to_string(i) + "#";

    const std::string prefix = std::string(test::kStamp) + " ";
    test::NoticeWatcher notices(false);
    std::string joined;  // the arrivals logged since `base`, joined
    int errorLines = 0;  // and the "Error: " lines among them
    bool complete = false;
    notices.onTick = [&] {
        if (complete) return;
        const std::string text = t.Log();
        joined.clear();
        errorLines = 0;
        for (std::size_t at = base, end; (end = text.find("\r\n", at)) != std::string::npos;
             at = end + 2) {
            const std::string line = text.substr(at, end - at);
            if (line.rfind(prefix, 0) == 0) {
                joined += line.substr(prefix.size());
            } else if (line.rfind("Error: ", 0) == 0) {
                ++errorLines;
            }
        }
        complete = joined.size() >= sent.size();
        if (complete) notices.DismissAll();
    };
    // Unbuffered small writes with a breath between them, so the reports arrive as many
    // separate blocks (TCP would otherwise merge most of them into a few reads).
    const int noDelay = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    std::thread sender([&] {
        for (int i = 0; i < kReports; ++i) {
            test::SendAll(client, "#bad" + std::to_string(i) + "#");
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    });
    const bool finished = test::WaitFor([&] { return complete && notices.OpenNow() == 0; }, 120000);
    sender.join();
    ::close(client);
    ASSERT_TRUE(finished);
    EXPECT_EQ(joined, sent);
    EXPECT_EQ(notices.MostOpen(), 8);
    // Every arrival is rejected; with 8 boxes open the further rejections are logged.
    EXPECT_GT(errorLines, 0);
    EXPECT_NE(t.Log().find("\r\nError: "), std::string::npos);
    EXPECT_EQ(t.window->Notice().OpenCount(), 0);
}

// 100 MB of line ends through the real window over loopback: the log stays within its
// capacity with a small index, the banner at its top and the newest lines at its end, and the
// next tracker's report is processed as usual.
class LineEndFlood : public Console, public testing::WithParamInterface<std::string> {};

TEST_P(LineEndFlood, FloodsOfLineEndsStayWithinTheLogCapacity) {
    const int flood = t.StartAndConnect();
    ASSERT_GE(flood, 0);
    std::thread sender([&] {
        std::string block;
        while (block.size() < (1u << 20)) block += GetParam();
        for (int i = 0; i < 100; ++i) test::SendAll(flood, block);
        ::close(flood);
    });
    // The notices stay open (further ones become log lines) until the flood has ended.
    const LogText& store = log.Store();
    const std::string end = "Tracker 127.0.0.1 disconnected.\r\n";
    test::NoticeWatcher notices(false);
    bool ended = false;
    notices.onTick = [&] {
        ended = ended || store.Substr(store.Size() - end.size(), store.Size()) == end;
        if (ended) notices.DismissAll();
    };
    ASSERT_TRUE(test::WaitFor([&] { return ended && notices.OpenNow() == 0; }, 600000));
    sender.join();
    EXPECT_LE(store.Size(), kLogCapacity);
    EXPECT_GT(store.Size(), kLogCapacity - (1u << 20));
    EXPECT_EQ(t.Log().rfind(BannerText().toStdString(), 0), 0u);

    const int tracker = t.Connect();
    test::SendAll(tracker, "$1,2,3,4,5,E12129.2252,N2459.8891,7,8,9,!");
    EXPECT_TRUE(
        test::WaitFor([&] { return t.TrackLog() == "121.487086666667,24.9981516666667,0\r\n"; }));
    ::close(tracker);
}

INSTANTIATE_TEST_SUITE_P(Console, LineEndFlood, testing::Values("\r\n", "\n"),
                         [](const auto& info) { return info.param == "\n" ? "LF" : "CRLF"; });

TEST_F(Console, ClosingTheWindowEndsTheProgramAlsoWithATrackerConnected) {
    const int client = t.StartAndConnect();
    ASSERT_GE(client, 0);
    test::NoticeWatcher notices;
    t.window->close();
    EXPECT_EQ(t.endedWith, std::vector<int>{0});
    EXPECT_TRUE(notices.seen.empty());
    ::close(client);
}

// The fatal report is shown once: the tracker that keeps sending meanwhile runs no handler
// nested in its box, and the program ends when it is dismissed.
TEST(FatalError, AnUntrappedErrorEndsTheProgramAfterOneFatalReport) {
    QProcess child;
    child.start(QStringLiteral(VOSTREL_FATAL_CHILD), QStringList());
    ASSERT_TRUE(child.waitForFinished(60000));
    const std::string output = child.readAllStandardError().toStdString();
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 3) << output;
    EXPECT_EQ(test::CountOf(output, "seen fatal box: "), 1u) << output;
    EXPECT_THAT(output,
                AllOf(HasSubstr("seen fatal box: Vostrel GPRS Demo (TCP) | the clock stopped"),
                      HasSubstr("Run-time error '1999': the clock stopped"),
                      testing::Not(HasSubstr("during the box"))));
}

}  // namespace
}  // namespace vostrel
