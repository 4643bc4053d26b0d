// The one error type of the tracker simulator: its text is what the operator reads.
#pragma once

#include <stdexcept>
#include <string>

namespace vostrel::sim {

class SimError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

}  // namespace vostrel::sim
