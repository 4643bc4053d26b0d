// The operator console as the other layers reach it: lines go to the activity log, messages to
// the error notice. The window wires it; tests and benchmarks use the same.
#pragma once

#include <string>

#include "core/Ports.h"

namespace vostrel {

class ActivityLog;
class ErrorNotice;

class ConsolePorts : public ActivityLogPort, public ErrorNoticePort {
  public:
    ConsolePorts(ActivityLog& log, ErrorNotice& notice) : log_(log), notice_(notice) {}
    void Append(const std::string& text) override;
    void Show(const std::string& message, const std::string& reason = {}) override;

  private:
    ActivityLog& log_;
    ErrorNotice& notice_;
};

}  // namespace vostrel
