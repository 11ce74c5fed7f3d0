#include "platform/fp_mode.h"

#include <gtest/gtest.h>

#include <cfenv>

namespace strata::platform {
namespace {

// Pixel position as the kernels form it: int(s + 0.5) in the mode in force.
long pixelOf(float s) {
    volatile float v = s;  // keep the addition at run time, inside the mode under test
    return toInt(v + 0.5f);
}

TEST(FpModeGuard, TruncationAndNearestEvenGiveTheDocumentedPositions) {
    ASSERT_EQ(std::fegetround(), FE_TONEAREST);
    {
        FpModeGuard guard(true, true);
        EXPECT_EQ(std::fegetround(), FE_TOWARDZERO);
        EXPECT_EQ(pixelOf(10.2f), 10);
        EXPECT_EQ(pixelOf(10.7f), 11);
        EXPECT_EQ(toInt(-2.7f), -2);
        EXPECT_EQ(toInt(3.999f), 3);
    }
    EXPECT_EQ(std::fegetround(), FE_TONEAREST);
    {
        FpModeGuard guard(false, true);
        EXPECT_EQ(std::fegetround(), FE_TONEAREST);
        EXPECT_EQ(pixelOf(10.2f), 11);  // round-to-even(10.7)
        EXPECT_EQ(toInt(10.5f), 10);    // ties go to even
        EXPECT_EQ(toInt(11.5f), 12);
        EXPECT_EQ(toInt(-2.5f), -2);
    }
}

TEST(FpModeGuard, NestedGuardsRestoreInReverseOrder) {
    ASSERT_EQ(std::fegetround(), FE_TONEAREST);
    {
        FpModeGuard outer(true, false);
        {
            FpModeGuard inner(true, true);
            EXPECT_EQ(std::fegetround(), FE_TOWARDZERO);
        }
        EXPECT_EQ(std::fegetround(), FE_TOWARDZERO);
    }
    EXPECT_EQ(std::fegetround(), FE_TONEAREST);
}

TEST(FpModeGuard, ExplicitConversionsIgnoreTheModeInForce) {
    for (const bool trunc : {false, true}) {
        FpModeGuard guard(trunc, false);
        EXPECT_EQ(toIntTruncate(10.7f), 10);
        EXPECT_EQ(toIntTruncate(-10.7f), -10);
        EXPECT_EQ(toIntNearestEven(10.7f), 11);
        EXPECT_EQ(toIntNearestEven(10.5f), 10);
        EXPECT_EQ(toIntNearestEven(11.5f), 12);
        EXPECT_EQ(toIntNearestEven(-1.5f), -2);
        EXPECT_EQ(toIntNearestEven(-0.4f), 0);
    }
}

}  // namespace
}  // namespace strata::platform
