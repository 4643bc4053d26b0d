#include "console/ConsolePorts.h"

#include "console/ActivityLog.h"
#include "console/ErrorNotice.h"

namespace vostrel {

void ConsolePorts::Append(const std::string& text) {
    log_.AppendLatin1(text);
}

void ConsolePorts::Show(const std::string& message) {
    notice_.Show(QString::fromStdString(message));
}

}  // namespace vostrel
