// The kit of toolkit-free tests (Qt Core only): scratch homes and folders, files, and
// stand-ins for the ports that record what they are told. The text store's model is in
// LogTextModel.h. Tests of windows and sockets use TestKit.h, which builds on this one.
#pragma once

#include <QTemporaryDir>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/Errors.h"
#include "core/Ports.h"

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
// Writes `bytes` to `path`, replacing what was there; returns the path.
std::string WriteFile(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
// The bytes of all files below `folder`.
qint64 BytesUnder(const QString& folder);
// How often `part` occurs in `text`, overlaps included.
std::size_t CountOf(const std::string& text, const std::string& part);

// Everything the intake tells the operator, in order; each entry is "log:" or "notice:" + text.
struct OperatorRecord : ActivityLogPort, ErrorNoticePort {
    std::vector<std::string> events;
    std::string logText;
    void Append(const std::string& text) override {
        events.push_back("log:" + text);
        logText += text;
    }
    void Show(const std::string& message, const std::string& reason) override {
        events.push_back("notice:" + message + (reason.empty() ? "" : " (" + reason + ")"));
    }
    std::vector<std::string> Notices() const;
};

// The stamp is always kStamp; the steady and the wall-clock time are the machine's until a
// test sets `now` or `wall`.
struct FixedClock : ClockPort {
    static constexpr const char* kStamp = "07.12.2026 04:56:27";
    std::optional<TimePoint> now;
    std::optional<WallTime> wall;
    std::string DateAndTime() override { return kStamp; }
    TimePoint Now() override { return now ? *now : ClockPort::Now(); }
    WallTime WallNow() override { return wall ? *wall : ClockPort::WallNow(); }
};

struct RecordingViewer : ViewerPort {
    std::vector<std::pair<std::string, int>> calls;
    std::string failWith;  // non-empty: every call throws ViewerError with it
    void ShowKmlFile(const std::string& path, std::int32_t flag) override;
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
