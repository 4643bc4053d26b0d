// The modal error notice, with a bound on how many can be open at once.
#pragma once

#include <QString>

class QWidget;

namespace vostrel {

class ActivityLog;

class ErrorNotice {
  public:
    // While this many notices are open (each one waits in a nested event loop), a further
    // message goes to the activity log as "Error: <message>" instead, so malformed data sent
    // faster than the operator clicks OK cannot nest event loops without bound.
    static constexpr int kMostOpen = 8;

    ErrorNotice(QWidget& owner, ActivityLog& log) : owner_(owner), log_(log) {}

    // Shows a modal box titled "Error" with the stop icon, the message and one OK button, and
    // returns when the operator has dismissed it. A `reason` (why, in the system's words) is
    // shown below the message; in the activity log it follows the message after ": ".
    void Show(const QString& message, const QString& reason = {});
    int OpenCount() const { return open_; }

  private:
    QWidget& owner_;
    ActivityLog& log_;
    int open_ = 0;
};

}  // namespace vostrel
