// The main window: owns the controls, the sockets, the slot table and the viewer link, and
// routes each handled event to its handler.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/Ports.h"
#include "viewer/ViewerLink.h"

class QPushButton;

namespace vostrel {

class ActivityLog;
class ConsolePorts;
class ErrorNotice;
class PositionFiles;
class ReportFraming;
class ReportIntake;
class TrackerLink;

class VostrelDEMO : public QWidget {
    Q_OBJECT
  public:
    // What the window needs from the platform; tests replace parts of it.
    struct Environment {
        const ComponentRegistry* registry = &ComponentRegistry::Instance();
        // Ends the program at once; the default leaves the process with `exitCode`.
        std::function<void(int exitCode)> endProgram;
        // The date and time in front of each received report and the time idle tracker
        // connections are judged by; none means the system's (the locale's short date and
        // long time, the steady clock).
        ClockPort* clock = nullptr;
        // Folder of the track log and the snapshot; empty means where the program keeps them
        // (PositionPaths::InHome).
        std::string dataFolder;
        // Where Start Tracking listens; 0 takes a free port (the listening line names it).
        std::int32_t port = kTrackingPort;
    };

    static constexpr int kClientWidth = 742;
    static constexpr int kClientHeight = 412;

    VostrelDEMO();
    explicit VostrelDEMO(Environment environment);
    ~VostrelDEMO() override;

    // Showing the window for the first time runs its load handler first; when that fails the
    // window is never shown.
    void setVisible(bool visible) override;

    // The handlers.
    bool ConnectViewer();
    void ShowBanner();
    void StartTracking();
    // What the link read on one data arrival of slot `index`'s connection `connection`.
    void ReceiveReport(std::int16_t index, const std::string& report, std::uint64_t connection);
    // A report held back for its rest that goes on alone (a new report began after it, or its
    // connection ended): handled at once, its notice shown after what comes next
    // (ShowHeldNotice: after the connection's next report, or after its end was handled), so
    // it holds up neither the next report nor the next tracker.
    void ReceiveHeldReport(std::int16_t index, const std::string& report, std::uint64_t connection);
    void ShowHeldNotice();

    ActivityLog* Text1 = nullptr;
    QPushButton* Command1 = nullptr;
    TrackerLink& Link() { return *link_; }
    ViewerLink& Viewer() { return viewer_; }
    ErrorNotice& Notice() { return *notice_; }

  protected:
    bool event(QEvent* event) override;
    // Closing the window ends the program at once, whatever other windows (the globe) are
    // open and whether a tracker is connected: nothing is asked.
    void closeEvent(QCloseEvent* event) override;

  private:
    std::optional<std::string> Handle(std::int16_t index, const std::string& report,
                                      std::uint64_t connection);
    Environment environment_;
    std::unique_ptr<ClockPort> systemClock_;
    std::unique_ptr<ErrorNotice> notice_;
    std::unique_ptr<ConsolePorts> console_;
    std::unique_ptr<PositionFiles> files_;
    ViewerLink viewer_;
    std::unique_ptr<ReportIntake> intake_;
    std::unique_ptr<ReportFraming> framing_;
    std::unique_ptr<TrackerLink> link_;
    std::optional<std::string> heldNotice_;
    std::uint64_t heldConnection_ = 0;
    bool loaded_ = false;
    bool activated_ = false;
    bool ended_ = false;
};

}  // namespace vostrel
