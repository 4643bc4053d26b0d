#include "app/Application.h"

#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>

#include "core/Errors.h"
#include "core/Version.h"
#include "globe/MapTheme.h"

namespace vostrel {

namespace {

constexpr int kFatalExitCode = 3;

std::map<const QObject*, std::function<void()>>& FatalEndActions() {
    static std::map<const QObject*, std::function<void()>> actions;
    return actions;
}

}  // namespace

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
    // No display name: the window system would add it to every window's title.
    setApplicationName(QStringLiteral("vostrel"));
    setApplicationVersion(QLatin1String(kVersion));
}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const AppError& error) {
        ReportFatal(error.Number(), QString::fromStdString(error.what()));
    } catch (const std::exception& error) {
        ReportFatal(error_number::kUnexpected, QString::fromStdString(error.what()));
    } catch (...) {
        ReportFatal(error_number::kUnexpected, QStringLiteral("Unknown error"));
    }
    return false;
}

void Application::EndNow(int exitCode) {
    RemoveTemporaryMapFolder();
    std::fflush(nullptr);
    std::_Exit(exitCode);
}

void Application::AtFatalEnd(const QObject* owner, std::function<void()> action) {
    auto& actions = FatalEndActions();
    if (!action) {
        actions.erase(owner);
        return;
    }
    const bool added = actions.insert_or_assign(owner, std::move(action)).second;
    // An owner that goes without taking its action away (its constructor threw) takes it with it.
    if (added) connect(owner, &QObject::destroyed, [owner] { FatalEndActions().erase(owner); });
}

void Application::ReportFatal(int number, const QString& description) {
    static bool reporting = false;
    const QString heading = QStringLiteral("Run-time error '%1':").arg(number);
    std::fprintf(stderr, "vostrel: %s %s\n", qUtf8Printable(heading), qUtf8Printable(description));
    if (reporting) return;  // the box of the first one is open; the program ends after it
    reporting = true;
    // Nothing from the network runs nested in the box's event loop on half-updated state.
    for (const auto& [owner, action] : FatalEndActions()) action();
    QMessageBox::critical(nullptr, QLatin1String(kWindowTitle).trimmed(),
                          heading + QStringLiteral("\n\n") + description);
    EndNow(kFatalExitCode);
}

}  // namespace vostrel
