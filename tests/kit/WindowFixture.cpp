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
    return endedWith.empty() && window->Link().sckListen.isListening();
}

}  // namespace vostrel::test
