// Depth maps as 16-bit PNG and PFM files: round trips, the limits of the 16-bit range, PFM bytes
// written out by hand (both byte orders), and files that are not what they claim.
#include "imageutil/depth_image.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "imageutil/png_file.h"
#include "imageutil/rgb_image.h"
#include "scratch_files.h"

namespace strata::imageutil {
namespace {

using testing::Bytes;
using testing::readBytes;
using testing::writeBytes;
using Folder = testing::ScratchFolder;
constexpr float kNone = std::numeric_limits<float>::infinity();

Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

void appendFloat(Bytes& bytes, float v, bool bigEndian) {
    std::uint8_t raw[4];
    std::memcpy(raw, &v, 4);
    if (bigEndian) {
        std::swap(raw[0], raw[3]);
        std::swap(raw[1], raw[2]);
    }
    bytes.insert(bytes.end(), raw, raw + 4);
}

// A non-square 7 x 5 map: every depth distinct, a hole in the middle.
DepthImage sample() {
    DepthImage image{7, 5, {}};
    for (int i = 0; i < 35; ++i) {
        image.depth.push_back(0.25f + 0.3731f * static_cast<float>(i));
    }
    image.depth[17] = kNone;
    return image;
}

TEST(DepthImage, Png16ReadsBackWithinHalfAUnit) {
    const Folder folder;
    for (const double scale : {1000.0, 37.5}) {
        const DepthImage image = sample();
        std::string error;
        ASSERT_TRUE(writeDepthImage(folder.file("d.png"), image, scale, error)) << error;
        DepthImage back;
        ASSERT_TRUE(readDepthImage(folder.file("d.png"), scale, back, error)) << error;
        ASSERT_EQ(back.width, 7);
        ASSERT_EQ(back.height, 5);
        for (std::size_t i = 0; i < image.depth.size(); ++i) {
            if (std::isinf(image.depth[i])) {
                EXPECT_TRUE(std::isinf(back.depth[i]));
            } else {
                EXPECT_LE(std::fabs(back.depth[i] - image.depth[i]) * scale, 0.5 + 1e-4)
                    << "pixel " << i << " scale " << scale;
            }
        }
    }
    // Row 0 of the map is the bottom row of the picture: the file's last row.
    DepthImage image{2, 2, {1.0f, 2.0f, 3.0f, 4.0f}};
    std::string error;
    ASSERT_TRUE(writeDepthImage(folder.file("rows.png"), image, 1.0, error));
    std::int32_t w = 0;
    std::int32_t h = 0;
    std::vector<std::uint16_t> values;
    ASSERT_TRUE(decodePngGrey16Bytes("rows.png", readBytes(folder.file("rows.png")), w, h, values));
    EXPECT_EQ(values, (std::vector<std::uint16_t>{1, 2, 3, 4}));
}

TEST(DepthImage, Png16RangeEndsAt65535UnitsAndStartsAtOne) {
    const Folder folder;
    struct Case {
        float depth;
        double scale;
        bool fits;
    };
    for (const Case& c :
         {Case{65.535f, 1000.0, true}, Case{65.536f, 1000.0, false}, Case{65535.0f, 1.0, true},
          Case{65536.0f, 1.0, false}, Case{0.0006f, 1000.0, true}, Case{0.0004f, 1000.0, false}}) {
        DepthImage image{2, 1, {1.0f, c.depth}};
        const std::string path = folder.file("range.png");
        std::filesystem::remove(path);
        std::string error;
        EXPECT_EQ(writeDepthImage(path, image, c.scale, error), c.fits) << c.depth;
        EXPECT_EQ(std::filesystem::exists(path), c.fits) << "nothing written on refusal";
        if (!c.fits) {
            EXPECT_NE(error.find("column 1, row 0 from the top"), std::string::npos) << error;
            EXPECT_NE(error.find(".pfm"), std::string::npos) << error;
        }
    }
    // PFM holds any depth.
    std::string error;
    DepthImage far{1, 1, {1e9f}};
    EXPECT_TRUE(writeDepthImage(folder.file("far.pfm"), far, 1000.0, error)) << error;
}

TEST(DepthImage, PfmIsWrittenLittleEndianBottomRowFirstAndReadBackExactly) {
    const Folder folder;
    const DepthImage image{2, 2, {1.5f, kNone, 3.25f, 1e-7f}};
    std::string error;
    ASSERT_TRUE(writeDepthImage(folder.file("d.pfm"), image, 1000.0, error)) << error;
    Bytes expected = text("Pf\n2 2\n-1\n");
    for (float v : image.depth) {
        appendFloat(expected, v, false);
    }
    EXPECT_EQ(readBytes(folder.file("d.pfm")), expected);
    DepthImage back;
    ASSERT_TRUE(readDepthImage(folder.file("d.pfm"), 1000.0, back, error)) << error;
    EXPECT_EQ(back.depth[0], 1.5f);
    EXPECT_TRUE(std::isinf(back.depth[1]));
    EXPECT_EQ(back.depth[2], 3.25f);
    EXPECT_EQ(back.depth[3], 1e-7f);
}

TEST(DepthImage, PfmScaleSignGivesTheByteOrderAndZeroMeansNoSurface) {
    for (const bool bigEndian : {false, true}) {
        // The magnitude says nothing: 0.5 is big-endian, -3 little-endian.
        Bytes bytes = text(bigEndian ? "Pf\n3 1\n0.5\n" : "Pf 3 1 -3\n");
        for (float v : {0.5f, 0.0f, 7.0f}) {
            appendFloat(bytes, v, bigEndian);
        }
        DepthImage image;
        std::string error;
        ASSERT_TRUE(decodeDepthBytes("x.pfm", bytes, 1.0, image, error)) << error;
        EXPECT_EQ(image.depth[0], 0.5f) << bigEndian;
        EXPECT_TRUE(std::isinf(image.depth[1]));
        EXPECT_EQ(image.depth[2], 7.0f);
    }
}

TEST(DepthImage, PfmHeadersAndDataThatAreNotExactlyRightAreRefused) {
    const auto pfm = [](const std::string& header, std::size_t floats, float value = 1.0f) {
        Bytes bytes = text(header);
        for (std::size_t i = 0; i < floats; ++i) {
            appendFloat(bytes, value, false);
        }
        return bytes;
    };
    struct Case {
        Bytes bytes;
        const char* says;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Case cases[] = {
        {pfm("Pf\n2x 1\n-1\n", 2), "not two whole numbers"},
        {pfm("Pf\n2 1\n-1.0abc\n", 2), "scale"},
        {pfm("Pf\n-2 1\n-1\n", 2), "not two whole numbers"},
        {pfm("Pf\n0 1\n-1\n", 0), "not two whole numbers"},
        {pfm("Pf\n65536 1\n-1\n", 0), "not two whole numbers"},
        {pfm("Pf\n2 1\n0\n", 2), "finite non-zero"},
        {pfm("Pf\n2 1\n-1", 0), "one whitespace byte"},
        {pfm("PF\n2 1\n-1\n", 6), "colour PFM"},
        {pfm("Pg\n2 1\n-1\n", 2), "not a PFM file"},
        {pfm("Pf\n2 1\n-1\n", 1), "needs 8 bytes of pixel data, the file holds 4"},
        {pfm("Pf\n2 1\n-1\n", 3), "needs 8 bytes of pixel data, the file holds 12"},
        {pfm("Pf\n2 1\n-1\n", 2, -1.0f), "holds depth -1"},
        {pfm("Pf\n2 1\n-1\n", 2, nan), "holds depth nan"},
        {pfm("Pf\n2 1\n-1\n", 2, -kNone), "holds depth -inf"},
    };
    for (const Case& c : cases) {
        DepthImage image{9, 9, {}};
        std::string error;
        EXPECT_FALSE(decodeDepthBytes("bad.pfm", c.bytes, 1.0, image, error)) << c.says;
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
        EXPECT_EQ(error.rfind("bad.pfm: ", 0), 0u) << error;
        EXPECT_EQ(image.width, 9) << "unchanged on failure";
    }
    // 65535 a side is the largest accepted (the data is then checked against it).
    DepthImage image;
    std::string error;
    EXPECT_FALSE(decodeDepthBytes("big.pfm", pfm("Pf\n65535 1\n-1\n", 1), 1.0, image, error));
    EXPECT_NE(error.find("needs 262140 bytes"), std::string::npos) << error;
}

TEST(DepthImage, FilesThatAreNotWhatTheirNameSaysAreRefused) {
    const Folder folder;
    std::string error;
    const DepthImage image{2, 2, {1.0f, 2.0f, 3.0f, 4.0f}};
    ASSERT_TRUE(writeDepthImage(folder.file("real.png"), image, 1000.0, error));
    ASSERT_TRUE(writeDepthImage(folder.file("real.pfm"), image, 1000.0, error));
    std::filesystem::copy_file(folder.file("real.png"), folder.file("fake.pfm"));
    std::filesystem::copy_file(folder.file("real.pfm"), folder.file("fake.png"));
    RgbImage colour = RgbImage::createOwned(2, 2);
    ASSERT_TRUE(writePng(folder.file("colour.png"), colour));
    writeBytes(folder.file("text.png"), text("hello"));
    struct Case {
        const char* name;
        const char* says;
    };
    for (const Case& c :
         {Case{"fake.pfm", "not a PFM file (it holds a PNG picture)"},
          Case{"fake.png", "not a PNG file (it holds a PFM image)"},
          Case{"colour.png", "not a 16-bit greyscale PNG (it is 8-bit RGB)"},
          Case{"text.png", "not a PNG file"}, Case{"missing.png", "missing.png: "}}) {
        DepthImage read;
        EXPECT_FALSE(readDepthImage(folder.file(c.name), 1000.0, read, error)) << c.name;
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << "one line: " << error;
    }
    // Other names go by the contents.
    std::filesystem::copy_file(folder.file("real.pfm"), folder.file("depth.bin"));
    DepthImage read;
    EXPECT_TRUE(readDepthImage(folder.file("depth.bin"), 1000.0, read, error)) << error;
}

TEST(DepthImage, EveryTruncationOfAFileIsRefused) {
    const Folder folder;
    std::string error;
    const DepthImage image = sample();
    for (const char* name : {"t.png", "t.pfm"}) {
        ASSERT_TRUE(writeDepthImage(folder.file(name), image, 1000.0, error));
        const Bytes bytes = readBytes(folder.file(name));
        for (std::size_t n = 0; n < bytes.size(); ++n) {
            DepthImage read;
            EXPECT_FALSE(decodeDepthBytes(
                name, Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n)), 1000.0,
                read, error))
                << name << " cut at " << n;
        }
    }
}

}  // namespace
}  // namespace strata::imageutil
