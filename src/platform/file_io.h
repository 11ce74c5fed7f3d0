// Plain POSIX file helpers shared by every reader and writer: whole-file reads with a size cap,
// and saves that never leave a truncated file where a good one stood (temporary file beside the
// target, renamed into place only after every write succeeded).
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace strata::platform {

// Size of a regular file in bytes, or nullopt when it cannot be examined.
std::optional<std::uint64_t> fileSize(const std::string& path);

// Opens path read-only without waiting on a FIFO or device (O_NONBLOCK, cleared again once the
// file is known to be regular) and refuses anything but a regular file. Returns the descriptor,
// or -1 with error set ("not a regular file", "cannot open: <reason>"). extraFlags are added to
// the open flags (O_DIRECT).
int openRegularFile(const std::string& path, std::string& error, int extraFlags = 0);
// The same as a stdio stream opened "rb"; nullptr with error set on failure.
std::FILE* openRegularStream(const std::string& path, std::string& error);
// Checks without opening it that path names an existing regular file (for readers that hand
// the path to a library). False with error set otherwise.
bool checkRegularFile(const std::string& path, std::string& error);
// Refuses a save target that exists and is not a regular file (a device, FIFO, socket or
// folder): false with error naming it. A missing target or a regular file is fine.
bool checkSaveTarget(const std::string& path, std::string& error);

// Temporary files removed if the process is stopped by SIGINT or SIGTERM. The handler is
// installed with the first registration (only where the signal still has its default action);
// it unlinks every registered path and then ends the process with the default action.
// registerTemporary returns a slot, or -1 when the path is too long or the table is full (the
// file is then simply not cleaned up on a signal).
int registerTemporary(const std::string& path);
void unregisterTemporary(int slot);

// Reads the whole file into bytes. Fails (returns false, error set) when the file cannot be
// opened or read, or is larger than maxBytes.
bool readWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error,
                   std::uint64_t maxBytes = std::uint64_t{1} << 34);

// The extension of a path: the text after the last dot of its last component, in lower case
// ("" when there is none). Every choice by extension (viewer, command line, loaders) compares
// this with a lower-case name, so "scene.LDIPYR" and "scene.ldipyr" are the same kind.
std::string fileExtension(const std::string& path);
bool hasExtension(const std::string& path, std::string_view lowerCaseExtension);

// The folder part of a path ("" when there is none), and path joining for list members.
std::string directoryOf(const std::string& path);
std::string joinPath(const std::string& directory, const std::string& name);

// Writes a file through a temporary sibling and renames it over the target on commit().
// Destroying an uncommitted writer removes the temporary file, so the target is untouched. A
// target that exists and is not a regular file is refused before anything is created (the
// writer is then not open and error() names the target); the temporary is registered for
// removal on SIGINT and SIGTERM.
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
    int tempSlot_ = -1;
    std::FILE* stream_ = nullptr;
    bool failed_ = false;
    bool committed_ = false;
    std::string error_;
};

// Saves several files as one set (an LDI quad, a pyramid and its levels, a set of pyramids):
// each member is written to a temporary name first; commit() then renames them all over their
// targets in the order they were staged (stage the list that names the others last). If
// anything fails before or during the renames, every temporary is removed and the targets
// already replaced are put back, so the old set stays exactly as it was.
class FileSetTransaction {
  public:
    FileSetTransaction() = default;
    ~FileSetTransaction();
    FileSetTransaction(const FileSetTransaction&) = delete;
    FileSetTransaction& operator=(const FileSetTransaction&) = delete;

    // Reserves a temporary file beside target and returns its path, to be written (and
    // replaced) by the caller. Returns "" (error set) when target exists but is not a regular
    // file, the same target is staged twice, or the temporary cannot be created.
    std::string stage(const std::string& target);
    // Renames every staged member into place. False (error set, nothing changed) on failure.
    bool commit();
    // Removes every temporary; the targets are left as they were.
    void abort();
    const std::string& error() const { return error_; }

  private:
    struct Member {
        std::string target;
        std::string temp;
        int slot = -1;
    };
    std::vector<Member> members_;
    std::string error_;
    bool done_ = false;
};

}  // namespace strata::platform
