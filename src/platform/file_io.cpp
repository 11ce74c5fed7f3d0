#include "platform/file_io.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace strata::platform {

std::optional<std::uint64_t> fileSize(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

bool readWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error,
                   std::uint64_t maxBytes) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = "cannot open: " + std::string(std::strerror(errno));
        return false;
    }
    const auto size = fileSize(path);
    if (!size) {
        std::fclose(file);
        error = "not a regular file";
        return false;
    }
    if (*size > maxBytes) {
        std::fclose(file);
        error = "file too large";
        return false;
    }
    bytes.assign(static_cast<std::size_t>(*size), 0);
    const std::size_t got = bytes.empty() ? 0 : std::fread(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    if (got != bytes.size()) {
        bytes.clear();
        error = "read error";
        return false;
    }
    return true;
}

std::string directoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return {};
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string joinPath(const std::string& directory, const std::string& name) {
    if (directory.empty() || (!name.empty() && name.front() == '/')) {
        return name;
    }
    if (directory.back() == '/') {
        return directory + name;
    }
    return directory + "/" + name;
}

AtomicFileWriter::AtomicFileWriter(std::string targetPath) : target_(std::move(targetPath)) {
    std::string pattern = target_ + ".tmpXXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        fail("cannot create " + pattern + ": " + std::strerror(errno));
        return;
    }
    temp_ = pattern;
    // Keep the permissions an ordinary create would give (mkstemp uses 0600).
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    stream_ = ::fdopen(fd, "wb");
    if (stream_ == nullptr) {
        ::close(fd);
        fail("cannot open " + temp_);
    }
}

AtomicFileWriter::~AtomicFileWriter() {
    if (stream_ != nullptr) {
        std::fclose(stream_);
    }
    if (!committed_ && !temp_.empty()) {
        ::unlink(temp_.c_str());
    }
}

void AtomicFileWriter::fail(const std::string& what) {
    if (!failed_) {
        error_ = what;
    }
    failed_ = true;
}

bool AtomicFileWriter::write(const void* data, std::size_t size) {
    if (stream_ == nullptr || failed_) {
        failed_ = true;
        return false;
    }
    if (size != 0 && std::fwrite(data, 1, size, stream_) != size) {
        fail("write error: " + std::string(std::strerror(errno)));
        return false;
    }
    return true;
}

bool AtomicFileWriter::commit() {
    if (stream_ == nullptr) {
        fail("not open");
        return false;
    }
    if (std::ferror(stream_) != 0) {
        fail("write error");
    }
    if (std::fflush(stream_) != 0) {
        fail("flush error: " + std::string(std::strerror(errno)));
    }
    const int closed = std::fclose(stream_);
    stream_ = nullptr;
    if (closed != 0) {
        fail("close error");
    }
    if (failed_) {
        return false;
    }
    if (::rename(temp_.c_str(), target_.c_str()) != 0) {
        fail("cannot rename into place: " + std::string(std::strerror(errno)));
        return false;
    }
    committed_ = true;
    return true;
}

}  // namespace strata::platform
