// Unbuffered sequential reading for the block-layout LDI files. The file is opened for direct
// I/O (O_DIRECT) so large bodies stream straight into 65536-byte aligned blocks without passing
// through the page cache; file systems that refuse direct I/O (tmpfs, some overlays) get
// ordinary reads instead, transparently.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace strata::platform {

class UnbufferedFile {
  public:
    UnbufferedFile() = default;
    ~UnbufferedFile();
    UnbufferedFile(const UnbufferedFile&) = delete;
    UnbufferedFile& operator=(const UnbufferedFile&) = delete;

    // Opens path read-only, direct I/O when allowDirect and the file system accepts it.
    // False (error set to the reason) when the file cannot be opened or is not a regular file.
    bool open(const std::string& path, std::string& error, bool allowDirect = true);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    // True while reads go through direct I/O.
    bool direct() const { return direct_; }
    // File size in bytes, taken at open.
    std::uint64_t size() const { return size_; }

    // Reads up to size bytes at the current position into buffer, looping over short reads,
    // and returns the count read: less than size only at the end of the file. Returns -1 on a
    // read error (error set). For direct I/O, buffer must be 65536-byte aligned (an AlignedBlock);
    // when the kernel refuses a direct read (EINVAL) the file drops to ordinary reads and the
    // read goes on from where it stopped.
    std::int64_t read(void* buffer, std::size_t size, std::string& error);

  private:
    int fd_ = -1;
    bool direct_ = false;
    std::uint64_t size_ = 0;
};

}  // namespace strata::platform
