#include "globe/ReadableFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vostrel {

ReadableFile::ReadableFile(const std::string& path) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error_ = errno;
        return;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        error_ = errno;
    } else if (S_ISDIR(status.st_mode)) {
        error_ = EISDIR;
    } else if (!S_ISREG(status.st_mode)) {
        error_ = 0;
    } else {
        fd_ = fd;
        size_ = static_cast<std::uint64_t>(status.st_size);
        return;
    }
    ::close(fd);
}

ReadableFile::~ReadableFile() {
    if (fd_ >= 0) ::close(fd_);
}

std::string ReadableFile::Reason() const {
    if (IsOpen()) return {};
    if (error_ == 0) return "not a regular file";
    return std::strerror(error_);
}

long long ReadableFile::ReadAt(char* buffer, std::size_t count, std::uint64_t offset) const {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n =
            ::pread(fd_, buffer + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<long long>(done);
}

}  // namespace vostrel
