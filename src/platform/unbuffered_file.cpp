#include "platform/unbuffered_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/file_io.h"

namespace strata::platform {

UnbufferedFile::~UnbufferedFile() {
    close();
}

bool UnbufferedFile::open(const std::string& path, std::string& error, bool allowDirect) {
    close();
    int fd = -1;
    direct_ = false;
    if (allowDirect) {
        fd = openRegularFile(path, error, O_DIRECT);
        direct_ = fd >= 0;
    }
    if (fd < 0) {
        // Direct I/O refused (EINVAL on tmpfs) or not wanted: ordinary reads.
        fd = openRegularFile(path, error);
    }
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        ::close(fd);
        direct_ = false;
        error = std::string("cannot open: ") + std::strerror(errno);
        return false;
    }
    fd_ = fd;
    size_ = static_cast<std::uint64_t>(info.st_size);
    return true;
}

void UnbufferedFile::close() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = -1;
    direct_ = false;
    size_ = 0;
}

std::int64_t UnbufferedFile::read(void* buffer, std::size_t size, std::string& error) {
    if (fd_ < 0) {
        error = "file not open";
        return -1;
    }
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd_, out + got, size - got);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EINVAL && direct_) {
                // The file system or an unaligned tail refuses direct I/O: carry on buffered.
                const int flags = ::fcntl(fd_, F_GETFL);
                if (flags >= 0 && ::fcntl(fd_, F_SETFL, flags & ~O_DIRECT) == 0) {
                    direct_ = false;
                    continue;
                }
            }
            error = std::string("read error: ") + std::strerror(errno);
            return -1;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(got);
}

}  // namespace strata::platform
