// The application object: reports an error that no handler trapped and ends the program.
#pragma once

#include <QApplication>
#include <functional>

namespace vostrel {

class Application : public QApplication {
    Q_OBJECT
  public:
    Application(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // The fatal report: the actions registered with AtFatalEnd run (the window silences its
    // tracker link), a message box shows the error's number and description, then the program
    // ends with a non-zero exit status. Only the first fatal error is reported so; one met
    // while its box is open is written to standard error.
    static void ReportFatal(int number, const QString& description);

    // Registers under `owner` what must happen before the fatal report's box opens, so that
    // nothing from outside runs nested in the box on half-updated state. An empty action takes
    // the owner's away again; an owner whose action uses its members does so in its destructor.
    static void AtFatalEnd(const QObject* owner, std::function<void()> action);

    // Leaves the process at once with `exitCode`: no handler runs, nothing is asked; only a
    // temporary map folder of this run is removed.
    [[noreturn]] static void EndNow(int exitCode);
};

}  // namespace vostrel
