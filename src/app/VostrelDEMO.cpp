#include "app/VostrelDEMO.h"

#include <QEvent>
#include <QIcon>
#include <QLocale>
#include <QPushButton>
#include <cstdio>
#include <cstdlib>

#include "app/Application.h"
#include "app/SystemClock.h"
#include "console/ActivityLog.h"
#include "console/Banner.h"
#include "console/ConsolePorts.h"
#include "console/ErrorNotice.h"
#include "core/Errors.h"
#include "core/Version.h"
#include "link/TrackerLink.h"
#include "output/PositionFiles.h"
#include "report/ReportFraming.h"
#include "report/ReportIntake.h"

// The window's resources live in a static library: register them explicitly (outside any
// namespace, as the resource system requires).
static void InitResources() {
    Q_INIT_RESOURCE(vostrel);
}

namespace vostrel {

namespace {

QFont LogFont() {
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(13);
    font.setWeight(QFont::Normal);
    return font;
}

}  // namespace

VostrelDEMO::VostrelDEMO() : VostrelDEMO(Environment{}) {}

VostrelDEMO::VostrelDEMO(Environment environment) : environment_(std::move(environment)) {
    InitResources();
    if (!environment_.endProgram) environment_.endProgram = Application::EndNow;
    // At a fatal end the tracker link falls silent before the report's box opens.
    Application::AtFatalEnd(this, [this] {
        if (link_) link_->Silence();
    });
    if (environment_.clock == nullptr) {
        systemClock_ = std::make_unique<SystemClock>();
        environment_.clock = systemClock_.get();
    }

    setObjectName("VostrelDEMO");
    setWindowTitle(QLatin1String(kWindowTitle));
    setWindowIcon(QIcon(QStringLiteral(":/icons/vostrel.svg")));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(kClientWidth, kClientHeight);
    setAutoFillBackground(true);
    QPalette background = palette();
    background.setColor(QPalette::Window, Qt::black);
    setPalette(background);

    Command1 = new QPushButton(QStringLiteral("Start Tracking"), this);
    Command1->setObjectName("Command1");
    Command1->setGeometry(8, 368, 193, 33);
    Command1->setFont(LogFont());
    // The standard push-button look (the style paints no colour of its own); Enter or Return
    // presses the focused button, as Space does.
    Command1->setAutoDefault(true);

    Text1 = new ActivityLog(this);
    Text1->setGeometry(8, 8, 721, 353);
    Text1->setFont(LogFont());

    // Tab order: the button first (it holds the focus), then the log box.
    setTabOrder(Command1, Text1);
    Command1->setFocus(Qt::OtherFocusReason);

    notice_ = std::make_unique<ErrorNotice>(*this, *Text1);
    console_ = std::make_unique<ConsolePorts>(*Text1, *notice_);
    files_ = std::make_unique<PositionFiles>(environment_.dataFolder.empty()
                                                 ? PositionPaths::InHome()
                                                 : PositionPaths::In(environment_.dataFolder));
    intake_ =
        std::make_unique<ReportIntake>(*console_, *console_, *environment_.clock, *files_, viewer_);
    framing_ = std::make_unique<ReportFraming>();
    auto end = [this](int exitCode) {
        ended_ = true;
        environment_.endProgram(exitCode);
    };
    link_ = std::make_unique<TrackerLink>(*console_, *console_, *environment_.clock, *framing_, end,
                                          environment_.port, this);

    // Event routing: the click, and what the tracker link read (it handles its own connection
    // requests and closes). Load and activation are routed in setVisible and event.
    connect(Command1, &QPushButton::clicked, this, &VostrelDEMO::StartTracking);
    connect(link_.get(), &TrackerLink::ReportArrived, this, &VostrelDEMO::ReceiveReport);
    connect(link_.get(), &TrackerLink::HeldReportArrived, this, &VostrelDEMO::ReceiveHeldReport);
    connect(link_.get(), &TrackerLink::TrackerDropped, this, &VostrelDEMO::ShowHeldNotice);
}

VostrelDEMO::~VostrelDEMO() {
    Application::AtFatalEnd(this, {});
}

void VostrelDEMO::setVisible(bool visible) {
    if (visible && !loaded_) {
        loaded_ = true;
        if (!ConnectViewer()) return;
    }
    if (ended_) return;
    QWidget::setVisible(visible);
    if (visible) Command1->setFocus(Qt::OtherFocusReason);
}

bool VostrelDEMO::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate && !activated_) {
        activated_ = true;
        ShowBanner();
    }
    return QWidget::event(event);
}

void VostrelDEMO::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    ended_ = true;
    environment_.endProgram(0);
}

bool VostrelDEMO::ConnectViewer() {
    std::string reason;
    try {
        viewer_.Connect(*environment_.registry);
        return true;
    } catch (const std::exception& error) {
        reason = error.what();
    } catch (...) {
        reason = "unknown error";
    }
    PrintReason("Unable to run interface.", reason);
    notice_->Show(QStringLiteral("Unable to run interface."), QString::fromStdString(reason));
    ended_ = true;
    environment_.endProgram(1);
    return false;
}

void VostrelDEMO::ShowBanner() {
    Text1->SetText(BannerText());
}

void VostrelDEMO::StartTracking() {
    Command1->setEnabled(false);  // first, before anything can fail; nothing enables it again
    link_->StartTracking();
}

void VostrelDEMO::ReceiveReport(std::int16_t index, const std::string& report,
                                std::uint64_t connection) {
    std::optional<std::string> notice = Handle(index, report, connection);
    if (heldNotice_ && heldConnection_ == connection) ShowHeldNotice();
    if (notice) console_->Show(*notice);
}

void VostrelDEMO::ReceiveHeldReport(std::int16_t index, const std::string& report,
                                    std::uint64_t connection) {
    std::optional<std::string> notice = Handle(index, report, connection);
    if (notice && !heldNotice_) {
        heldNotice_ = std::move(notice);
        heldConnection_ = connection;
    }
}

// Handles what the link read and tells it which good reports came from which tracker; returns
// the notice to show.
std::optional<std::string> VostrelDEMO::Handle(std::int16_t index, const std::string& report,
                                               std::uint64_t connection) {
    ReportIntake::Outcome outcome = intake_->HandleReport(report);
    for (const std::string& trackerId : outcome.goodReportsFrom) {
        link_->GoodReportFrom(index, connection, trackerId);
    }
    return std::move(outcome.notice);
}

void VostrelDEMO::ShowHeldNotice() {
    if (heldNotice_) console_->Show(*std::exchange(heldNotice_, std::nullopt));
}

}  // namespace vostrel
