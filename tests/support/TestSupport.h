// Shared helpers for the tests: recording stand-ins for the operator ports, a scratch folder,
// and waiting on the event loop with a bound.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "output/ViewerAutomation.h"
#include "report/Errors.h"
#include "report/Ports.h"

namespace vostrel::test {

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

// A fresh folder under /tmp, removed when the object goes.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);

// A viewer component for tests: ready after `pollsUntilReady` polls, records what it shows.
class StubViewer : public QObject, public ViewerAutomation {
    Q_OBJECT
    Q_INTERFACES(vostrel::ViewerAutomation)
  public:
    int pollsUntilReady = 1;
    int readyAfterMs = 0;  // and not before this long after the first poll
    bool failReady = false;
    int polls = 0;
    QElapsedTimer sinceFirstPoll;
    QStringList shown;
    std::int32_t IsViewerReady() override;
    void ShowKmlFile(const QString& path, std::int32_t flag) override;
};

// A registry holding only a StubViewer under the viewer's identifier; `Last()` is the most
// recently created one.
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

// Blocking loopback client sockets; `from`: the local IPv4 address to connect from.
int ConnectClient(const char* host, int port, const char* from = nullptr);
void SendAll(int fd, const std::string& bytes);
// Whether the server closed `fd` (EOF or reset) within `timeoutMs`.
bool PeerClosed(int fd, int timeoutMs);
void ResetAndClose(int fd);
int OpenDescriptorCount();

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

// Processes events until `done` holds or `timeoutMs` passes; returns whether it held.
bool WaitFor(const std::function<bool()>& done, int timeoutMs = 10000);

}  // namespace vostrel::test
