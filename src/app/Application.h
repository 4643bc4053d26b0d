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

    // The fatal report: a message box with the error's number and description, then the end
    // of the program with a non-zero exit status.
    [[noreturn]] static void ReportFatal(int number, const QString& description);
};

}  // namespace vostrel
