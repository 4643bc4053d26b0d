// The window kit the tests of windows and sockets and the benchmarks share: waiting on the
// event loop, a loopback client, a watcher for error notices, a stand-in globe viewer; with
// everything of the plain kit (PlainKit.h). (The main window wired to them is in
// WindowFixture.h.)
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "kit/PlainKit.h"
#include "viewer/ComponentRegistry.h"
#include "viewer/ViewerAutomation.h"

namespace vostrel::test {

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
        QString reason;  // the informative text
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

}  // namespace vostrel::test
