// Plain POSIX file helpers shared by every reader and writer: whole-file reads with a size cap,
// and saves that never leave a truncated file where a good one stood (temporary file beside the
// target, renamed into place only after every write succeeded).
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace strata::platform {

// Size of a regular file in bytes, or nullopt when it cannot be examined.
std::optional<std::uint64_t> fileSize(const std::string& path);

// Reads the whole file into bytes. Fails (returns false, error set) when the file cannot be
// opened or read, or is larger than maxBytes.
bool readWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error,
                   std::uint64_t maxBytes = std::uint64_t{1} << 34);

// The folder part of a path ("" when there is none), and path joining for list members.
std::string directoryOf(const std::string& path);
std::string joinPath(const std::string& directory, const std::string& name);

// Writes a file through a temporary sibling and renames it over the target on commit().
// Destroying an uncommitted writer removes the temporary file, so the target is untouched.
class AtomicFileWriter {
  public:
    explicit AtomicFileWriter(std::string targetPath);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    bool isOpen() const { return stream_ != nullptr; }
    // Writes size bytes; any short write marks the writer failed.
    bool write(const void* data, std::size_t size);
    // The open stream for formatted text output (fprintf); check failed() or commit() after.
    std::FILE* stream() { return stream_; }
    bool failed() const { return failed_; }
    // Flushes, closes and renames into place. False when anything failed; the target is then
    // left as it was.
    bool commit();
    const std::string& error() const { return error_; }

  private:
    void fail(const std::string& what);

    std::string target_;
    std::string temp_;
    std::FILE* stream_ = nullptr;
    bool failed_ = false;
    bool committed_ = false;
    std::string error_;
};

}  // namespace strata::platform
