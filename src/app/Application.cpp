#include "app/Application.h"

#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "app/VostrelDEMO.h"
#include "core/Errors.h"
#include "core/Version.h"
#include "globe/MapTheme.h"
#include "link/TrackerLink.h"

namespace vostrel {

namespace {
constexpr int kFatalExitCode = 3;
}

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

void Application::ReportFatal(int number, const QString& description) {
    static bool reporting = false;
    const QString heading = QStringLiteral("Run-time error '%1':").arg(number);
    std::fprintf(stderr, "vostrel: %s %s\n", qUtf8Printable(heading), qUtf8Printable(description));
    if (reporting) return;  // the box of the first one is open; the program ends after it
    reporting = true;
    // Nothing from the network runs nested in the box's event loop on half-updated state.
    for (QWidget* widget : topLevelWidgets()) {
        if (auto* window = qobject_cast<VostrelDEMO*>(widget)) window->Link().Silence();
    }
    QMessageBox::critical(nullptr, QLatin1String(kWindowTitle).trimmed(),
                          heading + QStringLiteral("\n\n") + description);
    EndNow(kFatalExitCode);
}

}  // namespace vostrel
