#include <gtest/gtest.h>

#include "ldi/ldi_types.h"

namespace strata::ldi {
namespace {

TEST(LdiTypes, NamesMatchTheTables) {
    EXPECT_EQ(ldiTypeName(0), "FAT");
    EXPECT_EQ(ldiTypeName(2), "RTFF");
    EXPECT_EQ(ldiTypeName(5), "RTQuad");
    EXPECT_EQ(ldiTypeName(7), "lditError");
    EXPECT_EQ(dptTypeName(2), "QP");
    EXPECT_EQ(dptTypeName(3), "CP");
    EXPECT_EQ(dptTypeName(6), "MRQP");
    EXPECT_EQ(dptTypeName(10), "dptError");
}

TEST(LdiTypes, OutOfRangeValuesNameTheErrorEntry) {
    EXPECT_EQ(ldiTypeName(-1), "lditError");
    EXPECT_EQ(ldiTypeName(8), "lditError");
    EXPECT_EQ(ldiTypeName(0x7FFFFFFF), "lditError");
    EXPECT_EQ(dptTypeName(-5), "dptError");
    EXPECT_EQ(dptTypeName(11), "dptError");
}

TEST(LdiTypes, LookupIsExactAndCaseSensitive) {
    EXPECT_EQ(ldiTypeFromName("RTQuad"), 5);
    EXPECT_EQ(ldiTypeFromName("RTquad"), 7);
    EXPECT_EQ(ldiTypeFromName(""), 7);
    EXPECT_EQ(dptTypeFromName("MRQPHeader"), 8);
    EXPECT_EQ(dptTypeFromName("MRQP"), 6);
    EXPECT_EQ(dptTypeFromName("MRQ"), 10);
    EXPECT_EQ(dptTypeFromName("dptError"), 10);
}

}  // namespace
}  // namespace strata::ldi
