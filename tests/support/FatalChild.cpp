// Meets an error that no handler traps: a close event for a slot that does not exist. The
// fatal report's box is read and dismissed from a timer, then the program must end by itself.
#include <QAbstractButton>
#include <QDir>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "app/Application.h"
#include "app/VostrelDEMO.h"
#include "support/TestSupport.h"

int main(int argc, char** argv) {
    vostrel::test::ScratchDir home;
    ::setenv("HOME", home.Path().c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    vostrel::Application app(argc, argv);

    vostrel::test::StubRegistry stubs;
    vostrel::VostrelDEMO::Environment environment;
    environment.registry = &stubs.registry;
    vostrel::VostrelDEMO window(environment);
    window.show();

    QTimer dismisser;
    QObject::connect(&dismisser, &QTimer::timeout, [] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (box == nullptr || !box->isVisible()) continue;
            std::fprintf(stderr, "seen fatal box: %s | %s\n", qUtf8Printable(box->windowTitle()),
                         qUtf8Printable(box->text().split('\n').first()));
            box->button(QMessageBox::Ok)->click();
        }
    });
    dismisser.start(10);
    QTimer::singleShot(0, &window, [&window] { window.Link().DropTracker(7); });
    app.exec();
    std::fprintf(stderr, "the program went on after the fatal error\n");
    return 0;
}
