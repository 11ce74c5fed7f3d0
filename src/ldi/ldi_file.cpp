#include "ldi/ldi_file.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <vector>

#include "platform/debug_output.h"
#include "platform/worker_pool.h"

namespace strata::ldi {

namespace {

// Bodies of this size or more are read in pieces on the drawing threads at once: the kernel's
// copy into the (freshly allocated, not yet mapped) arrays is most of a large load's time, and
// each thread copies and maps its own piece.
constexpr std::uint64_t kParallelReadBytes = std::uint64_t{16} << 20;
constexpr std::uint64_t kReadPieceBytes = std::uint64_t{4} << 20;

// Reads count bytes at offset of fd into data in pieces on the drawing threads; false when a
// piece cannot be read whole (a read error or the file shorter than it was at open).
bool readInPieces(int fd, std::uint64_t offset, void* data, std::uint64_t count) {
    const auto pieces = static_cast<int>((count + kReadPieceBytes - 1) / kReadPieceBytes);
    std::atomic<bool> failed{false};
    auto* const bytes = static_cast<unsigned char*>(data);
    platform::drawPool().run(pieces, [&](int piece) {
        std::uint64_t at = std::uint64_t(piece) * kReadPieceBytes;
        const std::uint64_t end = std::min(at + kReadPieceBytes, count);
        while (at < end && !failed.load(std::memory_order_relaxed)) {
            const ssize_t n = ::pread(fd, bytes + at, static_cast<std::size_t>(end - at),
                                      static_cast<off_t>(offset + at));
            if (n > 0) {
                at += static_cast<std::uint64_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                failed.store(true, std::memory_order_relaxed);
            }
        }
    });
    return !failed.load();
}

}  // namespace

LdiFileReader::~LdiFileReader() {
    if (file_ != nullptr) {
        std::fclose(file_);
    }
}

bool LdiFileReader::open(const std::string& path) {
    path_ = path;
    file_ = platform::openRegularStream(path, problem);
    if (file_ == nullptr) {
        return false;
    }
    const auto size = platform::fileSize(path);
    if (!size) {
        problem = "not a regular file";
        std::fclose(file_);
        file_ = nullptr;
        return false;
    }
    size_ = *size;
    position_ = 0;
    return true;
}

bool LdiFileReader::read(void* data, std::uint64_t count, const char* what) {
    if (file_ == nullptr) {
        problem = "file not open";
        return false;
    }
    if (count > remaining()) {
        problem = platform::formatString("truncated: %s needs %" PRIu64 " bytes at offset %" PRIu64
                                         ", the file ends at %" PRIu64,
                                         what, count, position_, size_);
        return false;
    }
    if (count >= kParallelReadBytes && platform::drawThreads() > 1) {
        // The stream's own buffer is dropped by the seek past the body.
        if (!readInPieces(fileno(file_), position_, data, count) ||
            fseeko(file_, static_cast<off_t>(position_ + count), SEEK_SET) != 0) {
            problem =
                platform::formatString("read error in %s at offset %" PRIu64, what, position_);
            return false;
        }
    } else if (count != 0 && std::fread(data, 1, static_cast<std::size_t>(count), file_) != count) {
        problem = platform::formatString("read error in %s at offset %" PRIu64, what, position_);
        return false;
    }
    position_ += count;
    return true;
}

bool LdiFileWriter::write(const void* data, std::uint64_t count, const char* what) {
    if (!writer_.isOpen()) {
        problem = "cannot create: " + writer_.error();
        return false;
    }
    if (count != 0 && (data == nullptr || !writer_.write(data, static_cast<std::size_t>(count)))) {
        problem = platform::formatString("cannot write %s: %s", what,
                                         data == nullptr ? "no data" : writer_.error().c_str());
        return false;
    }
    written_ += count;
    return true;
}

bool LdiFileWriter::writeZeros(std::uint64_t count, const char* what) {
    static const std::vector<std::uint8_t> zeros(65536, 0);
    while (count > 0) {
        const std::uint64_t n = count < zeros.size() ? count : zeros.size();
        if (!write(zeros.data(), n, what)) {
            return false;
        }
        count -= n;
    }
    return true;
}

bool LdiFileWriter::commit() {
    if (!writer_.commit()) {
        if (problem.empty()) {
            problem = "cannot save: " + writer_.error();
        }
        return false;
    }
    return true;
}

}  // namespace strata::ldi
