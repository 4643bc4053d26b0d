// The one way the globe opens a file of the user's for reading: without waiting (a FIFO or a
// device in the file's place would hold the opener until a writer came), only when it is a
// regular file (or a link to one), its size known before anything is read. Plain C++.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vostrel {

class ReadableFile {
  public:
    // Opens `path`; never throws and never blocks. Closed with the object.
    explicit ReadableFile(const std::string& path);
    ~ReadableFile();
    ReadableFile(const ReadableFile&) = delete;
    ReadableFile& operator=(const ReadableFile&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    // Why it is not open: the errno of the failure (ENOENT for a missing file, EISDIR for a
    // folder) or 0 for something that is not a regular file; Reason() says it in words.
    int Error() const { return error_; }
    std::string Reason() const;
    // The size when it was opened.
    std::uint64_t Size() const { return size_; }
    // Reads up to `count` bytes from `offset` (fewer only at the end of the file); -1 on a
    // failure, with errno set.
    long long ReadAt(char* buffer, std::size_t count, std::uint64_t offset) const;

  private:
    int fd_ = -1;
    int error_ = 0;
    std::uint64_t size_ = 0;
};

}  // namespace vostrel
