// The kit the tests and the benchmarks share: a scratch home and scratch folders, waiting on
// the event loop, a loopback client, a watcher for error notices, stand-ins for the ports and
// for the globe viewer. (The main window wired to them is in WindowFixture.h.)
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/Errors.h"
#include "core/Ports.h"
#include "output/ComponentRegistry.h"
#include "output/ViewerAutomation.h"

namespace vostrel::test {

// A scratch home for the whole process: HOME points into a fresh folder (the program writes
// its files and the globe's caches there), the XDG folders are unset but for a private runtime
// folder in it, the platform is offscreen unless one was asked for. Create it before the
// application object; the folder goes with it (kept when VOSTREL_KEEP_TEST_HOME is set).
class ScratchHome {
  public:
    ScratchHome();
    std::string Path() const { return dir_.path().toStdString(); }
    std::string File(const std::string& name) const { return Path() + "/" + name; }

  private:
    QTemporaryDir dir_;
};

// A fresh folder, removed when the object goes.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    QTemporaryDir dir_;
    std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);

// Processes events until `done` holds or `timeoutMs` passes; returns whether it held.
bool WaitFor(const std::function<bool()>& done, int timeoutMs = 10000);

// The loopback client: blocking sockets to the server. `from`: the local IPv4 address to
// connect from (any 127.x.y.z works on this machine); -1 when the connection failed.
int ConnectClient(const char* host, int port, const char* from = nullptr);
// Sends all of `bytes`; throws std::runtime_error when the connection fails.
void SendAll(int fd, const std::string& bytes);
// Whether the server closed `fd` (end of stream or reset) within `timeoutMs`.
bool PeerClosed(int fd, int timeoutMs);
void ResetAndClose(int fd);
int OpenDescriptorCount();

// Everything the intake tells the operator, in order; each entry is "log:" or "notice:" + text.
struct OperatorRecord : ActivityLogPort, ErrorNoticePort {
    std::vector<std::string> events;
    std::string logText;
    void Append(const std::string& text) override {
        events.push_back("log:" + text);
        logText += text;
    }
    void Show(const std::string& message) override { events.push_back("notice:" + message); }
    std::vector<std::string> Notices() const;
};

struct FixedClock : ClockPort {
    std::string DateAndTime() override { return "07.12.2026 04:56:27"; }
};

struct RecordingViewer : ViewerPort {
    std::vector<std::pair<std::string, int>> calls;
    std::string failWith;  // non-empty: every call throws ViewerError with it
    void ShowKmlFile(const std::string& path, std::int32_t flag) override;
};

// A viewer component: ready after `pollsUntilReady` polls and `readyAfterMs`; keeps the paths
// it is asked to show unless told not to (a benchmark's millions of reports).
class StubViewer : public QObject, public ViewerAutomation {
    Q_OBJECT
    Q_INTERFACES(vostrel::ViewerAutomation)
  public:
    int pollsUntilReady = 1;
    int readyAfterMs = 0;
    bool failReady = false;
    bool keepPaths = true;
    int polls = 0;
    QStringList shown;
    std::int32_t IsViewerReady() override;
    void ShowKmlFile(const QString& path, std::int32_t flag) override;

  private:
    qint64 firstPollMs_ = -1;
};

// A registry holding only a StubViewer under the viewer's identifier; `last` is the most
// recently created one, `configure` runs on each before it is handed out.
struct StubRegistry {
    ComponentRegistry registry;
    StubViewer* last = nullptr;
    std::function<void(StubViewer&)> configure;
    StubRegistry();
};

// Watches for error notices from a timer (they run nested event loops), records each one
// once, and presses OK on them unless told to hold them open.
class NoticeWatcher : public QObject {
    Q_OBJECT
  public:
    struct Seen {
        QString title;
        QString text;
        bool criticalIcon;
        int buttonCount;
        bool okButton;
    };
    explicit NoticeWatcher(bool dismiss = true);
    void SetDismiss(bool dismiss) { dismiss_ = dismiss; }
    void DismissAll();
    int OpenNow() const;
    int MostOpen() const { return mostOpen_; }
    std::vector<Seen> seen;
    std::function<void()> onTick;  // runs on every tick, also inside nested loops

  private:
    void Tick();
    QTimer timer_;
    bool dismiss_;
    int mostOpen_ = 0;
    std::vector<const QObject*> recorded_;
};

// Runs `call`, which must throw ViewerError, and returns its message ("" if nothing thrown).
template <typename Call>
std::string ViewerErrorOf(Call call) {
    try {
        call();
    } catch (const ViewerError& error) {
        return error.what();
    }
    return "";
}

}  // namespace vostrel::test
