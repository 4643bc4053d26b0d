// The application object: reports an error that no handler trapped and ends the program.
#pragma once

#include <QApplication>

namespace vostrel {

class Application : public QApplication {
    Q_OBJECT
  public:
    Application(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // The fatal report: the tracker link falls silent, a message box shows the error's number
    // and description, then the program ends with a non-zero exit status. Only the first
    // fatal error is reported so; one met while its box is open is written to standard error.
    static void ReportFatal(int number, const QString& description);

    // Leaves the process at once with `exitCode`: no handler runs, nothing is asked; only a
    // temporary map folder of this run is removed.
    [[noreturn]] static void EndNow(int exitCode);
};

}  // namespace vostrel
