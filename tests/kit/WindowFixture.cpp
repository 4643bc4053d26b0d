#include "kit/WindowFixture.h"

namespace vostrel::test {

WindowFixture::WindowFixture(WindowOptions options) {
    VostrelDEMO::Environment environment;
    environment.registry = options.registry != nullptr ? options.registry : &stubs.registry;
    environment.endProgram = [this](int code) { endedWith.push_back(code); };
    environment.dataFolder = dir.Path();
    if (!options.systemClock) environment.clock = &clock;
    environment.port = options.port;
    window = std::make_unique<VostrelDEMO>(std::move(environment));
    if (options.show) {
        window->show();
        QApplication::setActiveWindow(window.get());
    }
}

WindowFixture::~WindowFixture() {
    window.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

bool WindowFixture::Start() {
    NoticeWatcher dismisser;
    window->Command1->click();
    return endedWith.empty() && window->Link().Listener().isListening();
}

int WindowFixture::StartAndConnect(const char* from) {
    const int client = Start() ? Connect(from) : -1;
    const std::string line =
        std::string("Tracker ") + (from ? from : "127.0.0.1") + " connected.\r\n";
    return client >= 0 && LogHas(line) ? client : -1;
}

}  // namespace vostrel::test
