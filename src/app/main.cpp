// Vostrel: a tracking server for Globalsat TR-102 trackers reporting over GPRS.
#include "app/Application.h"
#include "app/VostrelDEMO.h"
#include "output/GlobeViewer.h"
#include "output/QtEnvironment.h"

namespace {

// Closing the main window ends the program at once, whatever other windows (the globe) are
// open: no handler runs, nothing is asked.
class CloseEndsProgram : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Close) vostrel::EndProgramNow(0);
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace

int main(int argc, char** argv) {
    vostrel::PrepareQtEnvironment();
    vostrel::Application app(argc, argv);
    vostrel::RegisterGlobeViewer(vostrel::ComponentRegistry::Instance());

    vostrel::VostrelDEMO window;
    CloseEndsProgram closeEndsProgram;
    window.installEventFilter(&closeEndsProgram);
    window.show();
    // The sockets, any tracker connection and the viewer go with the process.
    vostrel::EndProgramNow(app.exec());
}
