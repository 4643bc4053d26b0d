// Errors raised by the program's procedures. Each carries a number and a description, which is
// what the fatal-error report shows when nothing traps one.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>

namespace vostrel {

class AppError : public std::runtime_error {
  public:
    AppError(int number, const std::string& description)
        : std::runtime_error(description), number_(number) {}
    int Number() const { return number_; }

  private:
    int number_;
};

// Error numbers of the program's own errors (file errors carry the system's errno instead).
namespace error_number {
inline constexpr int kOverflow = 6;
inline constexpr int kSlotOutOfRange = 9;
inline constexpr int kViewer = 1001;
inline constexpr int kSocket = 1002;
inline constexpr int kComponent = 1003;
inline constexpr int kUnexpected = 1999;
}  // namespace error_number

// A file could not be opened, written or closed. The description is "<path>: <reason>".
class FileError : public AppError {
  public:
    FileError(int errnoValue, const std::string& path, const std::string& reason)
        : AppError(errnoValue, path + ": " + reason), path_(path) {}
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

// A position's track log line was saved, but its snapshot could not be written: the FileError
// of the snapshot.
class SnapshotError : public FileError {
  public:
    using FileError::FileError;
};

// The globe viewer could not do what it was asked; the description is its reason.
class ViewerError : public AppError {
  public:
    explicit ViewerError(const std::string& reason) : AppError(error_number::kViewer, reason) {}
};

// Writes why a notice that ends the program was shown to standard error, for whoever runs it
// from a terminal or a service manager: "vostrel: <notice> <reason>".
inline void PrintReason(const std::string& notice, const std::string& reason) {
    std::fprintf(stderr, "vostrel: %s %s\n", notice.c_str(), reason.c_str());
    std::fflush(stderr);
}

}  // namespace vostrel
