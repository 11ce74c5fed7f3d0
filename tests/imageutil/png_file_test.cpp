#include "imageutil/png_file.h"

#include <gtest/gtest.h>
#include <png.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "imageutil/image_compare.h"
#include "platform/debug_output.h"

namespace strata::imageutil {
namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string kData = std::string(STRATA_TEST_DATA_DIR) + "/imageutil/";

class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/strata-png-XXXXXX";
        path_ = ::mkdtemp(pattern);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

Bytes readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// An asymmetric 5 x 3 picture: every pixel distinct, top byte set to show it is dropped.
RgbImage asymmetric() {
    RgbImage image = RgbImage::createOwned(5, 3);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) {
            image.at(x, y) = 0xAB000000u | RgbImage::packColour(40 * x + 1, 70 * y + 2, x * y + 3);
        }
    }
    return image;
}

std::uint32_t rgbOnly(std::uint32_t word) {
    return word & 0x00FFFFFFu;
}

TEST(PngFile, ReadsAFileFromAnIndependentTool) {
    RgbImage image;
    std::string error;
    ASSERT_TRUE(readPng(kData + "rgb_3x2.png", image, &error)) << error;
    ASSERT_EQ(image.width, 3);
    ASSERT_EQ(image.height, 2);
    EXPECT_EQ(image.at(0, 1), 0x00FF0000u);  // top row, as ImageMagick lists it first
    EXPECT_EQ(image.at(1, 1), 0x0000FF00u);
    EXPECT_EQ(image.at(2, 1), 0x000000FFu);
    EXPECT_EQ(image.at(0, 0), 0x00FFFFFFu);
    EXPECT_EQ(image.at(1, 0), 0x00000000u);
    EXPECT_EQ(image.at(2, 0), 0x000A141Eu);
}

TEST(PngFile, WritesTheTopRowFirst) {
    TempDir dir;
    const std::string path = dir.file("a.png");
    const RgbImage image = asymmetric();
    ASSERT_TRUE(writePng(path, image));

    // Decode with libpng's own simplified reader, independent of readPng.
    png_image decoded{};
    decoded.version = PNG_IMAGE_VERSION;
    ASSERT_NE(png_image_begin_read_from_file(&decoded, path.c_str()), 0);
    decoded.format = PNG_FORMAT_RGB;
    ASSERT_EQ(decoded.width, 5u);
    ASSERT_EQ(decoded.height, 3u);
    Bytes rgb(PNG_IMAGE_SIZE(decoded));
    ASSERT_NE(png_image_finish_read(&decoded, nullptr, rgb.data(), 0, nullptr), 0);
    for (int fileRow = 0; fileRow < 3; ++fileRow) {
        for (int x = 0; x < 5; ++x) {
            const std::uint8_t* p = &rgb[static_cast<std::size_t>((fileRow * 5 + x) * 3)];
            EXPECT_EQ(RgbImage::packColour(p[0], p[1], p[2]), rgbOnly(image.at(x, 2 - fileRow)))
                << "file row " << fileRow << " x " << x;
        }
    }
}

TEST(PngFile, RoundTripAndImageFileChoice) {
    TempDir dir;
    const RgbImage image = asymmetric();
    RgbImage back;
    ASSERT_TRUE(writeImageFile(dir.file("b.png"), image));
    ASSERT_TRUE(readPng(dir.file("b.png"), back));
    ASSERT_EQ(back.width, 5);
    ASSERT_EQ(back.height, 3);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) {
            EXPECT_EQ(back.at(x, y), rgbOnly(image.at(x, y)));
        }
    }
    EXPECT_TRUE(std::isinf(psnr(image, back)));

    ASSERT_TRUE(writeImageFile(dir.file("c.BmP"), image));
    const Bytes bmp = readBytes(dir.file("c.BmP"));
    ASSERT_EQ(bmp.size(), 54u + 5u * 3u * 4u);
    EXPECT_EQ(bmp[0], 'B');
    RgbImage fromBmp;
    ASSERT_TRUE(fromBmp.load(dir.file("c.BmP")));
    EXPECT_EQ(countDifferentPixels(fromBmp, image, 0), 0);

    ASSERT_TRUE(writeImageFile(dir.file("d.bmp.png"), image));
    EXPECT_EQ(readBytes(dir.file("d.bmp.png"))[1], 'P');
}

TEST(PngFile, FailuresReportAndKeepState) {
    TempDir dir;
    const std::string path = dir.file("keep.png");
    const RgbImage image = asymmetric();
    ASSERT_TRUE(writePng(path, image));
    const Bytes before = readBytes(path);

    std::string error;
    EXPECT_FALSE(writePng(dir.file("missing/x.png"), image, &error));
    EXPECT_NE(error.find("missing/x.png"), std::string::npos);
    EXPECT_FALSE(writePng(path, RgbImage(), &error));
    EXPECT_EQ(readBytes(path), before);

    // Without an error string the reason goes to the debug output as one line.
    platform::DebugCapture capture;
    EXPECT_FALSE(writeImageFile(dir.file("missing/y.png"), image));
    EXPECT_EQ(capture.pieces().size(), 1u);

    RgbImage target = RgbImage::createOwned(1, 1);
    target.fill(0x00112233u);
    EXPECT_FALSE(readPng(kData + "rgb24_w3.bmp", target, &error));
    EXPECT_FALSE(readPng(dir.file("absent.png"), target, &error));
    EXPECT_EQ(target.width, 1);
    EXPECT_EQ(target.at(0, 0), 0x00112233u);
}

TEST(PngFile, EveryTruncatedLengthIsRefused) {
    TempDir dir;
    const Bytes whole = readBytes(kData + "rgb_3x2.png");
    const std::string path = dir.file("cut.png");
    for (std::size_t length = 0; length < whole.size(); ++length) {
        {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(whole.data()),
                      static_cast<std::streamsize>(length));
        }
        RgbImage image;
        std::string error;
        // The image end chunk may be cut without losing pixels; all else must fail cleanly.
        if (readPng(path, image, &error)) {
            EXPECT_EQ(image.width, 3) << length;
        } else {
            EXPECT_EQ(image.pixels, nullptr) << length;
            EXPECT_FALSE(error.empty()) << length;
        }
    }
}

void writeBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// A PNG from hand-made chunks (CRCs left zero: these files are refused before decoding).
Bytes pngOf(const std::vector<std::pair<std::string, Bytes>>& chunks) {
    Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    for (const auto& [type, data] : chunks) {
        const auto n = static_cast<std::uint32_t>(data.size());
        for (int shift : {24, 16, 8, 0}) {
            out.push_back(static_cast<std::uint8_t>(n >> shift));
        }
        out.insert(out.end(), type.begin(), type.end());
        out.insert(out.end(), data.begin(), data.end());
        out.insert(out.end(), 4, 0);
    }
    return out;
}

Bytes ihdr(std::uint32_t width, std::uint32_t height, std::uint8_t colourType = 2) {
    Bytes b;
    for (std::uint32_t v : {width, height}) {
        for (int shift : {24, 16, 8, 0}) {
            b.push_back(static_cast<std::uint8_t>(v >> shift));
        }
    }
    b.insert(b.end(), {8, colourType, 0, 0, 0});
    return b;
}

void setLength(Bytes& png, std::size_t chunkStart, std::uint32_t length) {
    for (int i = 0; i < 4; ++i) {
        png[chunkStart + static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(length >> (24 - 8 * i));
    }
}

// Sizes known before decoding are checked against the file: chunk lengths against the bytes
// that follow, the declared image against what its compressed data can hold, and the image
// against the frame it is compared with.
TEST(PngFile, SizesAreCheckedBeforeDecoding) {
    TempDir dir;
    struct Case {
        const char* name;
        Bytes png;
        const char* expected;
    };
    // A text chunk claiming 2 GB in a 44-byte file.
    Bytes text = pngOf({{"IHDR", ihdr(1, 1)}, {"tEXt", Bytes(3, 'a')}});
    setLength(text, 33, 0x7FFFFFF0u);
    // The last chunk ends exactly at the end of the file, or one byte past it.
    Bytes exact = pngOf({{"IHDR", ihdr(1, 1)}, {"tEXt", Bytes(3, 'a')}});
    Bytes over = exact;
    setLength(over, 33, 4);
    const Case cases[] = {
        {"text", text, "claims 2147483632 bytes"},
        {"exact", exact, "file ends inside a chunk header"},
        {"over", over, "claims 4 bytes"},
        {"huge", pngOf({{"IHDR", ihdr(16384, 16384)}, {"IDAT", Bytes(10, 0)}, {"IEND", {}}}),
         "compressed bytes"},
        // Grey rows of w bytes plus a filter byte from one compressed byte: 1032 + 1024 bytes
        // fit, one more does not.
        {"bound", pngOf({{"IHDR", ihdr(2055, 1, 0)}, {"IDAT", Bytes(1, 0)}, {"IEND", {}}}), ""},
        {"past", pngOf({{"IHDR", ihdr(2056, 1, 0)}, {"IDAT", Bytes(1, 0)}, {"IEND", {}}}),
         "compressed bytes"},
        {"side", pngOf({{"IHDR", ihdr(65537, 1)}, {"IDAT", Bytes(1000, 0)}, {"IEND", {}}}),
         "outside 1..65536"},
        {"first", pngOf({{"tEXt", Bytes(3, 'a')}, {"IHDR", ihdr(1, 1)}}), "13-byte IHDR"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeBytes(dir.file("x.png"), c.png);
        RgbImage image;
        std::string error;
        EXPECT_FALSE(readPng(dir.file("x.png"), image, &error));
        if (*c.expected != '\0') {
            EXPECT_NE(error.find(c.expected), std::string::npos) << error;
        } else {
            // Past the size checks: libpng itself refuses the zero CRC.
            EXPECT_EQ(error.find("compressed bytes"), std::string::npos) << error;
            EXPECT_EQ(error.find("claims"), std::string::npos) << error;
        }
    }
    // A good picture of another size than the frame: refused from its header.
    RgbImage picture = RgbImage::createOwned(4, 3);
    ASSERT_TRUE(writePng(dir.file("p.png"), picture));
    RgbImage image;
    std::string error;
    EXPECT_FALSE(readPng(dir.file("p.png"), image, &error, 8, 3));
    EXPECT_NE(error.find("is 4x3, the frame 8x3"), std::string::npos) << error;
    EXPECT_TRUE(readPng(dir.file("p.png"), image, &error, 4, 3)) << error;
    EXPECT_TRUE(readPng(dir.file("p.png"), image, &error)) << error;
}

TEST(PngFileDeathTest, FifoIsRefusedWithoutBlocking) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("f.png").c_str(), 0600), 0);
    EXPECT_EXIT(
        {
            ::alarm(5);
            RgbImage image;
            std::string error;
            std::exit(!readPng(dir.file("f.png"), image, &error) &&
                              error.find("not a regular file") != std::string::npos
                          ? 0
                          : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(ImageCompare, PsnrAndDifferences) {
    RgbImage a = RgbImage::createOwned(4, 4);
    a.fill(0x00808080u);
    RgbImage b = a;
    EXPECT_TRUE(std::isinf(psnr(a, b)));
    EXPECT_EQ(countDifferentPixels(a, b, 0), 0);

    // One channel of one pixel off by 1: MSE = 1 / (3 * 16).
    b.at(2, 3) = 0x00808081u;
    EXPECT_NEAR(psnr(a, b), 10.0 * std::log10(255.0 * 255.0 * 48.0), 1e-9);
    EXPECT_EQ(countDifferentPixels(a, b, 0), 1);
    EXPECT_EQ(countDifferentPixels(a, b, 1), 0);

    // The top byte does not count.
    b = a;
    b.at(0, 0) = 0xFF808080u;
    EXPECT_TRUE(std::isinf(psnr(a, b)));

    // Every channel of every pixel off by 255: PSNR 0.
    RgbImage black = RgbImage::createOwned(4, 4);
    RgbImage white = RgbImage::createOwned(4, 4);
    white.fill(0x00FFFFFFu);
    EXPECT_NEAR(psnr(black, white), 0.0, 1e-12);
    EXPECT_EQ(countDifferentPixels(black, white, 254), 16);

    const RgbImage other = RgbImage::createOwned(3, 4);
    EXPECT_EQ(psnr(a, other), 0.0);
    EXPECT_EQ(countDifferentPixels(a, other, 0), -1);
}

}  // namespace
}  // namespace strata::imageutil
