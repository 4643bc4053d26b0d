#include "console/ErrorNotice.h"

#include <QMessageBox>

#include "console/ActivityLog.h"
#include "core/Ports.h"

namespace vostrel {

void ErrorNotice::Show(const QString& message) {
    if (open_ >= kMostOpen) {
        log_.Append(QString::fromStdString(ErrorLogLine(message.toStdString())));
        return;
    }
    struct OpenGuard {
        int& count;
        explicit OpenGuard(int& c) : count(c) { ++count; }
        ~OpenGuard() { --count; }
    } guard(open_);

    QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), message, QMessageBox::Ok,
                    &owner_);
    box.setObjectName("ErrorNotice");
    // Modal to the main window only: the globe window stays usable while a notice waits.
    box.setWindowModality(Qt::WindowModal);
    box.exec();
}

}  // namespace vostrel
