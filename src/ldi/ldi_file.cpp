#include "ldi/ldi_file.h"

#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <vector>

#include "platform/debug_output.h"

namespace strata::ldi {

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
    if (count != 0 && std::fread(data, 1, static_cast<std::size_t>(count), file_) != count) {
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
