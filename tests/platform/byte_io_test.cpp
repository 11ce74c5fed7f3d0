#include "platform/byte_io.h"

#include <gtest/gtest.h>

namespace strata::platform {
namespace {

TEST(ByteIo, WritesLittleEndianFieldsInOrder) {
    ByteWriter w;
    w.putU32(0x04030201u);
    w.putI16(-2);
    w.putF32(1.0f);
    w.putU8(7);
    const std::vector<std::uint8_t> expected = {1, 2, 3, 4, 0xFE, 0xFF, 0, 0, 0x80, 0x3F, 7};
    EXPECT_EQ(w.bytes(), expected);
}

TEST(ByteIo, ReadingPastTheEndClearsOk) {
    const std::vector<std::uint8_t> bytes = {1, 2, 3, 4, 5};
    ByteReader r(bytes);
    EXPECT_EQ(r.getU32(), 0x04030201u);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.getU16(), 0u);
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.getU8(), 0u);  // stays failed
}

}  // namespace
}  // namespace strata::platform
