#include "console/ConsolePorts.h"

#include "console/ActivityLog.h"
#include "console/ErrorNotice.h"

namespace vostrel {

void ConsolePorts::Append(const std::string& text) {
    log_.AppendLatin1(text);
}

void ConsolePorts::Show(const std::string& message, const std::string& reason) {
    notice_.Show(QString::fromStdString(message), QString::fromStdString(reason));
}

}  // namespace vostrel
