// Picture readers at their limits: sides of exactly 65536 and 65537, a BMP claiming 16384 x
// 16384 pixels loaded under a limited address space, and a 16-bit PNG.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "imageutil/bmp_file.h"
#include "imageutil/png_file.h"
#include "imageutil/rgb_image.h"
#include "platform/debug_output.h"
#include "sanitized_build.h"

namespace strata::imageutil {
namespace {

class ImageLimits : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/strata-image-limits-XXXXXX";
        dir_ = ::mkdtemp(pattern);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string at(const std::string& name) const { return dir_ + "/" + name; }

    std::string dir_;
};

// A picture of w x h whose first and last pixels differ from the rest.
RgbImage corners(std::int32_t w, std::int32_t h) {
    RgbImage image = RgbImage::createOwned(w, h);
    image.at(w - 1, h - 1) = 0xAABBCCu;
    image.at(0, 0) = 0x112233u;
    return image;
}

// Sides of 65536 are read, 65537 refused, across and down, by both readers.
TEST_F(ImageLimits, SidesOf65536AreReadAnd65537Refused) {
    const platform::DebugCapture quiet;
    struct Case {
        std::int32_t w;
        std::int32_t h;
        bool read;
    };
    const Case cases[] = {{65536, 1, true}, {65537, 1, false}, {1, 65536, true}, {1, 65537, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h));
        const RgbImage picture = corners(c.w, c.h);
        ASSERT_TRUE(writePng(at("p.png"), picture));
        RgbImage png;
        std::string error;
        EXPECT_EQ(readPng(at("p.png"), png, &error), c.read) << error;
        if (c.read) {
            EXPECT_EQ(png.at(c.w - 1, c.h - 1), 0xAABBCCu);
            EXPECT_EQ(png.at(0, 0), 0x112233u);
        } else {
            EXPECT_NE(error.find("outside 1..65536"), std::string::npos) << error;
        }
        ASSERT_EQ(ImageUtilWriteBMP(at("b.bmp"), c.w, c.h, picture.pixels), 1);
        std::unique_ptr<std::uint32_t[]> pixels;
        std::int32_t w = 0;
        std::int32_t h = 0;
        EXPECT_EQ(ImageUtilLoadBMP(at("b.bmp"), pixels, w, h), c.read ? 1 : 0);
        if (c.read) {
            EXPECT_EQ(pixels[static_cast<std::size_t>(c.w) * c.h - 1] & 0xFFFFFFu, 0xAABBCCu);
        } else {
            EXPECT_EQ(pixels, nullptr);
        }
    }
}

// A BMP whose header claims 16384 x 16384 32-bit pixels, with the bytes there (a sparse 1 GB
// file), loaded with the address space held to 512 MB: refused with its message, no crash.
TEST_F(ImageLimits, BigBmpUnderAnAddressSpaceLimit) {
#ifdef STRATA_SANITIZED
    GTEST_SKIP() << "the address sanitizer needs an unlimited address space";
#else
    const RgbImage one = corners(2, 2);
    ASSERT_EQ(ImageUtilWriteBMP(at("big.bmp"), 2, 2, one.pixels), 1);
    {
        std::FILE* file = std::fopen(at("big.bmp").c_str(), "r+b");
        ASSERT_NE(file, nullptr);
        const std::uint8_t side[4] = {0x00, 0x40, 0x00, 0x00};  // 16384
        std::fseek(file, 18, SEEK_SET);
        std::fwrite(side, 1, 4, file);
        std::fwrite(side, 1, 4, file);
        std::fclose(file);
    }
    std::filesystem::resize_file(at("big.bmp"), 54 + std::uint64_t{16384} * 16384 * 4);
    EXPECT_EXIT(
        {
            rlimit limit{};
            limit.rlim_cur = std::uint64_t{512} << 20;
            limit.rlim_max = limit.rlim_cur;
            ::setrlimit(RLIMIT_AS, &limit);
            std::string said;
            platform::setDebugSink([&said](std::string_view text) { said += text; });
            std::unique_ptr<std::uint32_t[]> pixels;
            std::int32_t w = 0;
            std::int32_t h = 0;
            const int result = ImageUtilLoadBMP(at("big.bmp"), pixels, w, h);
            std::exit(result == 0 && pixels == nullptr && w == 0 &&
                              said.find("not enough memory") != std::string::npos
                          ? 0
                          : 1);
        },
        ::testing::ExitedWithCode(0), "");
#endif
}

// A 16-bit RGB PNG is read as 8-bit RGB, each channel its high byte.
TEST_F(ImageLimits, SixteenBitPngsKeepTheirHighBytes) {
    std::FILE* file = std::fopen(at("deep.png").c_str(), "wb");
    ASSERT_NE(file, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_IHDR(png, info, 2, 1, 16, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    // Big-endian 16-bit samples: (0x12FF, 0x3400, 0x56AB), (0xFFFF, 0x0001, 0x8080).
    std::vector<png_byte> row = {0x12, 0xFF, 0x34, 0x00, 0x56, 0xAB,
                                 0xFF, 0xFF, 0x00, 0x01, 0x80, 0x80};
    png_write_row(png, row.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    RgbImage image;
    std::string error;
    ASSERT_TRUE(readPng(at("deep.png"), image, &error)) << error;
    ASSERT_EQ(image.width, 2);
    EXPECT_EQ(image.at(0, 0), 0x123456u);
    EXPECT_EQ(image.at(1, 0), 0xFF0080u);
}

}  // namespace
}  // namespace strata::imageutil
