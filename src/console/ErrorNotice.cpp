#include "console/ErrorNotice.h"

#include <QMessageBox>

#include "console/ActivityLog.h"
#include "core/Ports.h"

namespace vostrel {

void ErrorNotice::Show(const QString& message, const QString& reason) {
    if (open_ >= kMostOpen) {
        const QString line = reason.isEmpty() ? message : message + QStringLiteral(": ") + reason;
        log_.Append(QString::fromStdString(ErrorLogLine(line.toStdString())));
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
    // The message stays exactly as it is; the reason is the box's second paragraph.
    if (!reason.isEmpty()) box.setInformativeText(reason);
    // Modal to the main window only: the globe window stays usable while a notice waits.
    box.setWindowModality(Qt::WindowModal);
    box.exec();
}

}  // namespace vostrel
