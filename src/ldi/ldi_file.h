// The byte streams the LDI body readers and writers work on. A reader knows how many bytes its
// file holds, so every array read is checked against the length before anything is read, and a
// writer goes through a temporary file that replaces the target only once every byte is out.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "platform/file_io.h"

namespace strata::ldi {

class LdiFileReader {
  public:
    LdiFileReader() = default;
    ~LdiFileReader();
    LdiFileReader(const LdiFileReader&) = delete;
    LdiFileReader& operator=(const LdiFileReader&) = delete;

    // Opens path for reading ("rb"). False (problem set) when it does not open or is not a
    // regular file.
    bool open(const std::string& path);
    const std::string& path() const { return path_; }
    std::uint64_t size() const { return size_; }
    std::uint64_t position() const { return position_; }
    std::uint64_t remaining() const { return size_ - position_; }

    // Reads exactly count bytes into data. False (problem set, naming what and the offset) when
    // the file holds fewer bytes or the read fails.
    bool read(void* data, std::uint64_t count, const char* what);

    std::string problem;

  private:
    std::FILE* file_ = nullptr;
    std::string path_;
    std::uint64_t size_ = 0;
    std::uint64_t position_ = 0;
};

class LdiFileWriter {
  public:
    // Starts a save of path through a temporary file beside it.
    explicit LdiFileWriter(const std::string& path) : writer_(path), path_(path) {}

    bool isOpen() const { return writer_.isOpen(); }
    const std::string& path() const { return path_; }
    // Writes count bytes; false (problem set) on any failure.
    bool write(const void* data, std::uint64_t count, const char* what);
    // Writes count zero bytes.
    bool writeZeros(std::uint64_t count, const char* what);
    // Flushes and renames the temporary file over the target; false (problem set) when any
    // write failed, leaving an existing target untouched.
    bool commit();
    std::uint64_t written() const { return written_; }

    std::string problem;

  private:
    platform::AtomicFileWriter writer_;
    std::string path_;
    std::uint64_t written_ = 0;
};

}  // namespace strata::ldi
