#include "app/Application.h"

#include <QMessageBox>
#include <cstdio>
#include <exception>

#include "app/VostrelDEMO.h"
#include "report/Errors.h"

namespace vostrel {

namespace {
constexpr int kFatalExitCode = 3;
}

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("vostrel"));
    setApplicationDisplayName(QStringLiteral("Vostrel GPRS Demo"));
    setApplicationVersion(QStringLiteral("1.01"));
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
}

void Application::ReportFatal(int number, const QString& description) {
    const QString text = QStringLiteral("Run-time error '%1':\n\n%2").arg(number).arg(description);
    std::fprintf(stderr, "vostrel: %s\n", qUtf8Printable(QString(text).replace('\n', ' ')));
    QMessageBox::critical(nullptr, QStringLiteral("Vostrel GPRS Demo (TCP)"), text);
    EndProgramNow(kFatalExitCode);
}

}  // namespace vostrel
