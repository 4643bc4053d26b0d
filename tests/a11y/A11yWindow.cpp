// A window holding only the activity log box, for the screen reader test over the desktop's
// accessibility bus: it shows the banner and appends whatever arrives on standard input; it
// ends when standard input closes.
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QWidget>
#include <string_view>

#include "console/ActivityLog.h"
#include "console/Banner.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("a11y-window");
    QWidget window;
    window.setWindowTitle("Activity log test");
    window.resize(742, 412);
    auto* log = new vostrel::ActivityLog(&window);
    log->setGeometry(8, 8, 721, 353);
    log->SetText(vostrel::BannerText());
    window.show();

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[4096];
        const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (count <= 0) {
            input.setEnabled(false);
            QApplication::quit();
            return;
        }
        log->AppendLatin1(std::string_view(buffer, static_cast<std::size_t>(count)));
    });
    return QApplication::exec();
}
