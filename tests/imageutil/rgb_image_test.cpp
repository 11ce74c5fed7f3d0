#include "imageutil/rgb_image.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <vector>

#include "platform/debug_output.h"

namespace strata::imageutil {
namespace {

constexpr std::uint32_t kRed = 0x00FF0000u;
constexpr std::uint32_t kBlue = 0x000000FFu;

// Counts the pixels equal to `colour`.
int countOf(const RgbImage& image, std::uint32_t colour) {
    int n = 0;
    for (std::uint32_t p : image.words()) {
        n += p == colour ? 1 : 0;
    }
    return n;
}

TEST(RgbImage, CreateSizes) {
    const RgbImage empty;
    EXPECT_EQ(empty.bytesPerPixel, 4);
    EXPECT_EQ(empty.width, 0);
    EXPECT_EQ(empty.height, 0);
    EXPECT_EQ(empty.pixels, nullptr);

    const RgbImage zero = RgbImage::createOwned(0, 0);
    EXPECT_EQ(zero.width, 0);
    EXPECT_EQ(zero.pixels, nullptr);

    const RgbImage flat = RgbImage::createOwned(5, 0);
    EXPECT_EQ(flat.width, 5);
    EXPECT_EQ(flat.height, 0);
    EXPECT_EQ(flat.pixels, nullptr);

    const RgbImage owned = RgbImage::createOwned(7, 3);
    ASSERT_NE(owned.pixels, nullptr);
    EXPECT_TRUE(owned.ownsPixels());
    EXPECT_EQ(owned.bytesPerPixel, 4);
    EXPECT_EQ(countOf(owned, 0u), 21);  // new pixels are zero
}

TEST(RgbImage, RefusesNegativeAndOverflowingSizes) {
    platform::DebugCapture capture;
    const RgbImage negative = RgbImage::createOwned(-1, 10);
    EXPECT_EQ(negative.width, 0);
    EXPECT_EQ(negative.pixels, nullptr);
    // 65536 x 65536 overflows 32-bit byte counts and exceeds the cap.
    const RgbImage huge = RgbImage::createOwned(65536, 65536);
    EXPECT_EQ(huge.width, 0);
    EXPECT_EQ(huge.pixels, nullptr);
    const RgbImage maxInt = RgbImage::createOwned(std::numeric_limits<std::int32_t>::max(), 2);
    EXPECT_EQ(maxInt.pixels, nullptr);
    EXPECT_EQ(capture.pieces().size(), 3u);

    RgbImage image = RgbImage::createOwned(2, 2);
    std::uint32_t* before = image.pixels;
    EXPECT_FALSE(image.resize(-3, 4));
    EXPECT_FALSE(image.resize(1 << 20, 1 << 20));
    EXPECT_EQ(image.pixels, before);
    EXPECT_EQ(image.width, 2);
}

TEST(RgbImage, ResizeAllocatesAdoptsAndKeepsWrappedMemory) {
    std::array<std::uint32_t, 4> callerMemory{1, 2, 3, 4};
    RgbImage image = RgbImage::wrap(2, 2, 4, callerMemory.data());
    EXPECT_FALSE(image.ownsPixels());

    // Same size: nothing happens.
    EXPECT_TRUE(image.resize(2, 2));
    EXPECT_EQ(image.pixels, callerMemory.data());

    // A new size leaves the wrapped memory alone (freeing it would crash) and owns new pixels.
    EXPECT_TRUE(image.resize(3, 1));
    EXPECT_TRUE(image.ownsPixels());
    EXPECT_EQ(countOf(image, 0u), 3);
    EXPECT_EQ(callerMemory[3], 4u);

    PixelBuffer adopted(new std::uint32_t[6]{9, 9, 9, 9, 9, 9});
    std::uint32_t* raw = adopted.get();
    EXPECT_TRUE(image.resize(3, 2, std::move(adopted)));
    EXPECT_EQ(image.pixels, raw);
    EXPECT_TRUE(image.ownsPixels());
    EXPECT_EQ(countOf(image, 9u), 6);

    EXPECT_TRUE(image.resize(4, 0));
    EXPECT_EQ(image.pixels, nullptr);
    EXPECT_EQ(image.width, 4);
}

TEST(RgbImage, SetPixelsMakesTheImageAWrapper) {
    RgbImage image = RgbImage::createOwned(2, 1);
    std::array<std::uint32_t, 2> other{5, 6};
    image.setPixels(other.data());
    EXPECT_EQ(image.pixels, other.data());
    EXPECT_FALSE(image.ownsPixels());
    EXPECT_EQ(image.at(1, 0), 6u);
    // Destroying the image must not free `other` (checked by the sanitizer build).
}

TEST(RgbImage, CopiesAreDeepAndMovesHandOver) {
    RgbImage a = RgbImage::createOwned(2, 2);
    a.fill(kRed);
    RgbImage b = a;
    ASSERT_NE(b.pixels, a.pixels);
    b.at(0, 0) = kBlue;
    EXPECT_EQ(a.at(0, 0), kRed);

    std::array<std::uint32_t, 2> memory{kBlue, kBlue};
    const RgbImage wrapped = RgbImage::wrap(2, 1, 4, memory.data());
    RgbImage copyOfWrapped = wrapped;
    EXPECT_TRUE(copyOfWrapped.ownsPixels());
    copyOfWrapped.at(0, 0) = kRed;
    EXPECT_EQ(memory[0], kBlue);

    std::uint32_t* raw = a.pixels;
    RgbImage moved = std::move(a);
    EXPECT_EQ(moved.pixels, raw);
    EXPECT_EQ(a.pixels, nullptr);  // NOLINT(bugprone-use-after-move): documented state
    EXPECT_EQ(a.width, 0);

    b = moved;
    EXPECT_EQ(b.at(0, 0), kRed);
    const RgbImage& alias = b;
    b = alias;  // self-assignment keeps the pixels
    EXPECT_EQ(b.at(1, 1), kRed);
}

TEST(RgbImage, PackColour) {
    EXPECT_EQ(RgbImage::packColour(0x1FF, 0, 0), 0x00FF0000u);
    EXPECT_EQ(RgbImage::packColour(0x12, 0x34, 0x56), 0x00123456u);
    EXPECT_EQ(RgbImage::packColour(0x100, 0x2AB, 0x3CD), 0x0000ABCDu);
    // Float colours truncate c * 255.
    EXPECT_EQ(RgbImage::packColourFloat(1.0f, 0.5f, 0.0f), 0x00FF7F00u);
    EXPECT_EQ(RgbImage::packColourFloat(0.999f, 0.004f, 0.0039f), 0x00FE0100u);
}

TEST(RgbImage, FillSplitEnds) {
    RgbImage image = RgbImage::createOwned(3, 4);
    image.fillSplit(0, kRed, kBlue);
    EXPECT_EQ(countOf(image, kBlue), 12);
    image.fillSplit(-5, kRed, kBlue);
    EXPECT_EQ(countOf(image, kBlue), 12);
    image.fillSplit(4, kRed, kBlue);
    EXPECT_EQ(countOf(image, kRed), 12);
    image.fillSplit(99, kRed, kBlue);
    EXPECT_EQ(countOf(image, kRed), 12);
    image.fillSplit(1, kRed, kBlue);
    for (int x = 0; x < 3; ++x) {
        EXPECT_EQ(image.at(x, 0), kRed);  // row 0 is the bottom row: the lower part
        EXPECT_EQ(image.at(x, 1), kBlue);
        EXPECT_EQ(image.at(x, 3), kBlue);
    }
}

TEST(RgbImage, FillRectangleIsClippedOnAllSides) {
    RgbImage image = RgbImage::createOwned(4, 3);
    // Past the right and top edges.
    image.fillRectangle(1, 2, 10, 10, 1.0f, 0.0f, 0.0f);
    EXPECT_EQ(countOf(image, kRed), 4);  // rows 1-2, columns 2-3
    EXPECT_EQ(image.at(2, 1), kRed);
    EXPECT_EQ(image.at(3, 2), kRed);
    EXPECT_EQ(image.at(1, 1), 0u);
    EXPECT_EQ(image.at(2, 0), 0u);

    // Negative origins are cut at the left and bottom edges instead of writing before the buffer.
    image.clear();
    image.fillRectangle(-2, -1, 3, 3, 0.0f, 0.0f, 1.0f);
    EXPECT_EQ(countOf(image, kBlue), 2);  // row 0, columns 0-1
    EXPECT_EQ(image.at(0, 0), kBlue);
    EXPECT_EQ(image.at(1, 0), kBlue);

    // Entirely outside, empty, or sizes that would overflow 32 bits: nothing outside is touched.
    image.clear();
    image.fillRectangle(-10, 0, 4, 5, 1.0f, 1.0f, 1.0f);
    image.fillRectangle(0, 4, 2, 2, 1.0f, 1.0f, 1.0f);
    image.fillRectangle(0, 0, 0, 3, 1.0f, 1.0f, 1.0f);
    image.fillRectangle(2, 3, std::numeric_limits<std::int32_t>::max(),
                        std::numeric_limits<std::int32_t>::max(), 1.0f, 1.0f, 1.0f);
    EXPECT_EQ(countOf(image, 0x00FFFFFFu), 1);
    EXPECT_EQ(image.at(3, 2), 0x00FFFFFFu);
}

TEST(RgbImage, FillDisc) {
    RgbImage image = RgbImage::createOwned(9, 9);
    image.fillDisc(4, 4, 0, 1.0f, 0.0f, 0.0f);
    EXPECT_EQ(countOf(image, kRed), 1);
    EXPECT_EQ(image.at(4, 4), kRed);

    image.clear();
    image.fillDisc(4, 4, 2, 1.0f, 0.0f, 0.0f);
    EXPECT_EQ(countOf(image, kRed), 13);  // lattice points with x^2 + y^2 <= 4
    EXPECT_EQ(image.at(6, 4), kRed);
    EXPECT_EQ(image.at(6, 5), 0u);

    // A disc over the corner is clamped to the image.
    image.clear();
    image.fillDisc(0, 0, 1, 0.0f, 0.0f, 1.0f);
    EXPECT_EQ(countOf(image, kBlue), 3);
    image.clear();
    image.fillDisc(0, 0, -1, 0.0f, 0.0f, 1.0f);
    EXPECT_EQ(countOf(image, kBlue), 0);
}

TEST(RgbImage, DarkenAndFill) {
    RgbImage image = RgbImage::createOwned(3, 1);
    image.at(0, 0) = 0x00FFFFFFu;
    image.at(1, 0) = 0x00010101u;
    image.at(2, 0) = 0xFF808080u;
    image.darken();
    EXPECT_EQ(image.at(0, 0), 0x007F7F7Fu);
    EXPECT_EQ(image.at(1, 0), 0u);
    EXPECT_EQ(image.at(2, 0), 0x7F404040u);
    image.fill(0x00123456u);
    EXPECT_EQ(countOf(image, 0x00123456u), 3);
    image.clear();
    EXPECT_EQ(countOf(image, 0u), 3);
}

TEST(RgbImage, OverlaySkipsTransparentWords) {
    RgbImage image = RgbImage::createOwned(2, 2);
    image.fill(kBlue);
    const std::vector<std::uint32_t> source{kRed, RgbImage::kTransparent, 0u,
                                            RgbImage::kTransparent};
    image.overlay(source);
    EXPECT_EQ(image.at(0, 0), kRed);
    EXPECT_EQ(image.at(1, 0), kBlue);
    EXPECT_EQ(image.at(0, 1), 0u);
    EXPECT_EQ(image.at(1, 1), kBlue);

    // A short source touches only its own words.
    image.fill(kBlue);
    const std::vector<std::uint32_t> shortSource{kRed};
    image.overlay(shortSource);
    EXPECT_EQ(countOf(image, kBlue), 3);
}

TEST(RgbImage, CopyFromMatchingSizeAndOverlap) {
    RgbImage target = RgbImage::createOwned(3, 2);
    RgbImage same = RgbImage::createOwned(3, 2);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            same.at(x, y) = static_cast<std::uint32_t>(10 * y + x);
        }
    }
    target.copyFrom(same);
    EXPECT_EQ(target.at(2, 1), 12u);
    EXPECT_EQ(target.at(0, 0), 0u);

    // A smaller source fills only the overlap; nothing is read past its end.
    RgbImage small = RgbImage::createOwned(2, 1);
    small.fill(kRed);
    target.fill(kBlue);
    target.copyFrom(small);
    EXPECT_EQ(target.at(0, 0), kRed);
    EXPECT_EQ(target.at(1, 0), kRed);
    EXPECT_EQ(target.at(2, 0), kBlue);
    EXPECT_EQ(target.at(0, 1), kBlue);

    // A larger source copies its matching corner, row by row.
    RgbImage large = RgbImage::createOwned(5, 4);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 5; ++x) {
            large.at(x, y) = static_cast<std::uint32_t>(100 * y + x);
        }
    }
    target.copyFrom(large);
    EXPECT_EQ(target.at(2, 1), 102u);
    EXPECT_EQ(target.at(0, 1), 100u);

    RgbImage empty;
    target.copyFrom(empty);
    EXPECT_EQ(target.at(2, 1), 102u);
}

}  // namespace
}  // namespace strata::imageutil
