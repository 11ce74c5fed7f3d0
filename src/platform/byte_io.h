// Field-by-field serialisation, little-endian (the BE helpers: big-endian). Binary layouts are
// written and read one field at a time through these helpers, never by dumping structs, so padding
// and pointer sizes never leak into a file.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace strata::platform {

static_assert(std::endian::native == std::endian::little,
              "byte_io assumes a little-endian host; add byte swaps for other hosts");

inline std::uint32_t loadU32(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline std::uint16_t loadU16(const std::uint8_t* p) {
    std::uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
inline float loadF32(const std::uint8_t* p) {
    return std::bit_cast<float>(loadU32(p));
}
inline void storeU32(std::uint8_t* p, std::uint32_t v) {
    std::memcpy(p, &v, 4);
}
inline void storeU16(std::uint8_t* p, std::uint16_t v) {
    std::memcpy(p, &v, 2);
}
inline void storeF32(std::uint8_t* p, float v) {
    storeU32(p, std::bit_cast<std::uint32_t>(v));
}

// Big-endian fields (voxel files).
inline std::uint32_t byteSwap32(std::uint32_t v) {
    return __builtin_bswap32(v);
}
inline std::uint32_t loadU32BE(const std::uint8_t* p) {
    return byteSwap32(loadU32(p));
}
inline float loadF32BE(const std::uint8_t* p) {
    return std::bit_cast<float>(loadU32BE(p));
}
inline void storeU32BE(std::uint8_t* p, std::uint32_t v) {
    storeU32(p, byteSwap32(v));
}
inline void storeF32BE(std::uint8_t* p, float v) {
    storeU32BE(p, std::bit_cast<std::uint32_t>(v));
}

// Appends little-endian fields to a growing byte buffer.
class ByteWriter {
  public:
    void putU8(std::uint8_t v) { bytes_.push_back(v); }
    void putU16(std::uint16_t v) { append(&v, 2); }
    void putI16(std::int16_t v) { append(&v, 2); }
    void putU32(std::uint32_t v) { append(&v, 4); }
    void putI32(std::int32_t v) { append(&v, 4); }
    void putF32(float v) { append(&v, 4); }
    void putU32BE(std::uint32_t v) { putU32(byteSwap32(v)); }
    void putI32BE(std::int32_t v) { putU32BE(static_cast<std::uint32_t>(v)); }
    void putF32BE(float v) { putU32BE(std::bit_cast<std::uint32_t>(v)); }
    void putBytes(std::span<const std::uint8_t> data) { append(data.data(), data.size()); }
    void putZeros(std::size_t count) { bytes_.resize(bytes_.size() + count, 0); }

    const std::vector<std::uint8_t>& bytes() const { return bytes_; }
    std::vector<std::uint8_t>& bytes() { return bytes_; }
    std::size_t size() const { return bytes_.size(); }

  private:
    void append(const void* data, std::size_t count) {
        const auto* p = static_cast<const std::uint8_t*>(data);
        bytes_.insert(bytes_.end(), p, p + count);
    }
    std::vector<std::uint8_t> bytes_;
};

// Reads little-endian fields from a byte span. Reading past the end returns 0 and clears ok();
// callers check ok() once after a block of reads.
class ByteReader {
  public:
    explicit ByteReader(std::span<const std::uint8_t> data) : data_(data) {}

    std::uint8_t getU8() { return take(1) ? data_[pos_ - 1] : 0; }
    std::uint16_t getU16() { return take(2) ? loadU16(&data_[pos_ - 2]) : 0; }
    std::int16_t getI16() { return static_cast<std::int16_t>(getU16()); }
    std::uint32_t getU32() { return take(4) ? loadU32(&data_[pos_ - 4]) : 0; }
    std::int32_t getI32() { return static_cast<std::int32_t>(getU32()); }
    float getF32() { return std::bit_cast<float>(getU32()); }
    std::uint32_t getU32BE() { return take(4) ? loadU32BE(&data_[pos_ - 4]) : 0; }
    std::int32_t getI32BE() { return static_cast<std::int32_t>(getU32BE()); }
    float getF32BE() { return std::bit_cast<float>(getU32BE()); }
    bool getBytes(std::span<std::uint8_t> out) {
        if (!take(out.size())) {
            return false;
        }
        std::memcpy(out.data(), &data_[pos_ - out.size()], out.size());
        return true;
    }
    void skip(std::size_t count) { take(count); }

    bool ok() const { return ok_; }
    std::size_t position() const { return pos_; }
    std::size_t remaining() const { return data_.size() - pos_; }

  private:
    bool take(std::size_t count) {
        if (!ok_ || count > data_.size() - pos_) {
            ok_ = false;
            return false;
        }
        pos_ += count;
        return true;
    }
    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

}  // namespace strata::platform
