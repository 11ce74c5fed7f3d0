#include "imageutil/bmp_file.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "imageutil/rgb_image.h"
#include "platform/debug_output.h"

namespace strata::imageutil {
namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string kData = std::string(STRATA_TEST_DATA_DIR) + "/imageutil/";

// The fixture picture (see tests/data/imageutil/README.md), pixel (x, y) with y = 0 the bottom.
constexpr std::uint32_t kBottom[3] = {0x00FFFFFFu, 0x00000000u, 0x000A141Eu};
constexpr std::uint32_t kTop[3] = {0x00FF0000u, 0x0000FF00u, 0x000000FFu};

class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/strata-bmp-XXXXXX";
        path_ = ::mkdtemp(pattern);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }
    std::size_t entries() const {
        return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(path_),
                                                      std::filesystem::directory_iterator()));
    }

  private:
    std::string path_;
};

Bytes readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

void put16(Bytes& b, std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(Bytes& b, std::uint32_t v) {
    put16(b, v & 0xFFFFu);
    put16(b, v >> 16);
}

// A file laid out by hand: the two headers with the given fields, `gap` bytes of junk after the
// headers, then `data`.
Bytes handMade(std::int32_t width, std::int32_t height, std::uint16_t bits, const Bytes& data,
               std::uint32_t compression = 0, std::uint32_t offBits = 54, std::uint16_t planes = 1,
               const Bytes& gap = {}) {
    Bytes b = {'B', 'M'};
    put32(b, static_cast<std::uint32_t>(54 + gap.size() + data.size()));
    put32(b, 0);
    put32(b, offBits);
    put32(b, 40);
    put32(b, static_cast<std::uint32_t>(width));
    put32(b, static_cast<std::uint32_t>(height));
    put16(b, planes);
    put16(b, bits);
    put32(b, compression);
    for (int i = 0; i < 5; ++i) {
        put32(b, 0);
    }
    b.insert(b.end(), gap.begin(), gap.end());
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

struct Loaded {
    int result = 0;
    PixelBuffer pixels;
    std::int32_t width = -1;
    std::int32_t height = -1;
    std::string messages;
    std::uint32_t at(int x, int y) const { return pixels[y * width + x]; }
};

Loaded load(const std::string& path) {
    platform::DebugCapture capture;
    Loaded out;
    out.result = ImageUtilLoadBMP(path, out.pixels, out.width, out.height);
    out.messages = capture.text();
    return out;
}

void expectNoImage(const Loaded& l) {
    EXPECT_EQ(l.result, 0);
    EXPECT_EQ(l.pixels, nullptr);
    EXPECT_EQ(l.width, 0);
    EXPECT_EQ(l.height, 0);
}

void expectFixturePicture(const Loaded& l, std::uint32_t topByte = 0) {
    ASSERT_EQ(l.result, 1) << l.messages;
    ASSERT_EQ(l.width, 3);
    ASSERT_EQ(l.height, 2);
    for (int x = 0; x < 3; ++x) {
        EXPECT_EQ(l.at(x, 0), kBottom[x] | topByte) << "x " << x;
        EXPECT_EQ(l.at(x, 1), kTop[x] | topByte) << "x " << x;
    }
}

TEST(BmpLoad, FixturesFromAnIndependentTool) {
    const Loaded w3 = load(kData + "rgb24_w3.bmp");
    expectFixturePicture(w3);
    EXPECT_EQ(w3.messages, "");

    const Loaded w4 = load(kData + "rgb24_w4.bmp");
    ASSERT_EQ(w4.result, 1);
    ASSERT_EQ(w4.width, 4);
    EXPECT_EQ(w4.at(3, 0), 0x00405060u);
    EXPECT_EQ(w4.at(3, 1), 0x00102030u);
    EXPECT_EQ(w4.at(2, 0), 0x000A141Eu);
    EXPECT_EQ(w4.at(0, 1), 0x00FF0000u);

    // 32-bit words are kept as they are, including the file's alpha byte.
    expectFixturePicture(load(kData + "rgb32.bmp"), 0xFF000000u);
}

TEST(BmpLoad, TopDownFileIsReportedAndRowsPutBottomUp) {
    const Loaded l = load(kData + "rgb24_topdown.bmp");
    EXPECT_EQ(l.messages, "ImageUtilReadBMP() inverted bitmap!!\n");
    expectFixturePicture(l);
}

TEST(BmpLoad, RefusesNonTruecolourAndLargerHeaders) {
    const Loaded palette = load(kData + "palette8.bmp");
    expectNoImage(palette);
    EXPECT_EQ(palette.messages, "ImageUtilReadBMPHeader(): given non-24/32-bit-truecolor file!\n");

    const Loaded v5 = load(kData + "v5header.bmp");
    expectNoImage(v5);
    EXPECT_EQ(v5.messages, "ImageUtilReadBMPHeader(): larger BITMAPINFOHEADER!\n");

    // The 8-bit file still passes the header reader, positioned after its colour table.
    platform::DebugCapture capture;
    BmpHandle handle;
    BmpFileHeader fileHeader;
    BmpInfoHeader info;
    ASSERT_EQ(ImageUtilReadBMPHeader(kData + "palette8.bmp", handle, fileHeader, info), 1);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(info.bitCount, 8);
    EXPECT_EQ(fileHeader.offBits, 1078u);
    EXPECT_EQ(std::ftell(handle.get()), 1078);
    EXPECT_EQ(capture.text(), "");
}

TEST(BmpLoad, HeaderFailuresUseTheirMessages) {
    TempDir dir;
    const Bytes good = readBytes(kData + "rgb24_w3.bmp");
    const auto expectRefused = [&](Bytes bytes, const std::string& message) {
        const std::string path = dir.file("case.bmp");
        writeBytes(path, bytes);
        const Loaded l = load(path);
        expectNoImage(l);
        EXPECT_EQ(l.messages, message);
    };

    const Loaded missing = load(dir.file("missing.bmp"));
    expectNoImage(missing);
    EXPECT_EQ(missing.messages, "ImageUtilReadBMPHeader(): can't open file " +
                                    dir.file("missing.bmp") + " to read!\n");

    Bytes notBm = good;
    notBm[0] = 'P';
    expectRefused(notBm, "ImageUtilReadBMPHeader(): file type ISN'T 'BM'!!\n");
    expectRefused(Bytes(good.begin(), good.begin() + 10),
                  "ImageUtilReadBMPHeader(): bitmapFILEheader read error!\n");
    expectRefused(Bytes(good.begin(), good.begin() + 40),
                  "ImageUtilReadBMPHeader(): bitmapINFOheader read error!\n");
    expectRefused(handMade(1, 1, 24, Bytes(4, 0), 0, 54, 2),
                  "ImageUtilReadBMPHeader(): illegal # of planes!!\n");
    // Pixel data shorter than the header promises: refused, no partial image.
    expectRefused(Bytes(good.begin(), good.end() - 1),
                  "ImageUtilReadBMPBits(): image data read error!\n");
    expectRefused(handMade(2, 2, 32, Bytes(12, 0)),
                  "ImageUtilReadBMPBits(): image data read error!\n");
    // Compressed 24-bit data is not read as raw rows.
    expectRefused(handMade(1, 1, 24, Bytes(4, 0), 1),
                  "ImageUtilReadBMPHeader(): given non-24/32-bit-truecolor file!\n");
}

TEST(BmpLoad, RefusesUnusableSizes) {
    TempDir dir;
    const std::string path = dir.file("size.bmp");
    const std::int32_t intMin = std::numeric_limits<std::int32_t>::min();
    const std::int32_t cases[][2] = {{0, 1},     {1, 0},      {-3, 2},       {2, intMin},
                                     {70000, 1}, {1, -70000}, {65536, 65536}};
    for (const auto& c : cases) {
        writeBytes(path, handMade(c[0], c[1], 24, Bytes(64, 0)));
        const Loaded l = load(path);
        expectNoImage(l);
        EXPECT_EQ(l.messages, "ImageUtilReadBMPHeader(): " + path + " has an unusable size " +
                                  std::to_string(c[0]) + " x " + std::to_string(c[1]) + "!\n");
    }
    // A plausible size with far too little data is refused before a buffer is allocated.
    writeBytes(path, handMade(16000, 16000, 32, Bytes(64, 0)));
    const Loaded big = load(path);
    expectNoImage(big);
    EXPECT_EQ(big.messages, "ImageUtilReadBMPBits(): image data read error!\n");
}

TEST(BmpLoad, PixelDataOffsetAndBitFields) {
    TempDir dir;
    const std::string path = dir.file("offset.bmp");
    // 2 x 1, 24-bit, after 6 bytes of a colour table the header's offset points past.
    const Bytes row = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x00, 0x00};
    writeBytes(path, handMade(2, 1, 24, row, 0, 60, 1, Bytes(6, 0xEE)));
    Loaded l = load(path);
    ASSERT_EQ(l.result, 1) << l.messages;
    EXPECT_EQ(l.at(0, 0), 0x00030201u);
    EXPECT_EQ(l.at(1, 0), 0x00060504u);

    // An offset outside the file falls back to the data right after the headers.
    writeBytes(path, handMade(2, 1, 24, row, 0, 5000));
    l = load(path);
    ASSERT_EQ(l.result, 1) << l.messages;
    EXPECT_EQ(l.at(1, 0), 0x00060504u);

    // 32-bit bit fields with the standard masks read like uncompressed words.
    Bytes masks;
    put32(masks, 0x00FF0000u);
    put32(masks, 0x0000FF00u);
    put32(masks, 0x000000FFu);
    Bytes words;
    put32(words, 0x00112233u);
    writeBytes(path, handMade(1, 1, 32, words, 3, 66, 1, masks));
    l = load(path);
    ASSERT_EQ(l.result, 1) << l.messages;
    EXPECT_EQ(l.at(0, 0), 0x00112233u);

    // Other masks would need channel shuffling: refused as non-truecolour.
    Bytes swapped;
    put32(swapped, 0x000000FFu);
    put32(swapped, 0x0000FF00u);
    put32(swapped, 0x00FF0000u);
    writeBytes(path, handMade(1, 1, 32, words, 3, 66, 1, swapped));
    l = load(path);
    expectNoImage(l);
    EXPECT_EQ(l.messages, "ImageUtilReadBMPHeader(): given non-24/32-bit-truecolor file!\n");
}

TEST(BmpLoad, EveryTruncatedLengthIsRefused) {
    TempDir dir;
    const std::string path = dir.file("cut.bmp");
    for (const char* name : {"rgb24_w3.bmp", "rgb32.bmp", "rgb24_topdown.bmp"}) {
        const Bytes whole = readBytes(kData + name);
        ASSERT_GT(whole.size(), 54u);
        for (std::size_t length = 0; length < whole.size(); ++length) {
            writeBytes(path, Bytes(whole.begin(), whole.begin() + static_cast<long>(length)));
            const Loaded l = load(path);
            expectNoImage(l);
            EXPECT_FALSE(l.messages.empty()) << name << " cut at " << length;

            platform::DebugCapture capture;
            std::vector<std::uint32_t> buffer(6, 0xABABABABu);
            EXPECT_EQ(ImageUtilReadBMP(path, buffer), 0) << name << " cut at " << length;
            EXPECT_EQ(buffer, std::vector<std::uint32_t>(6, 0xABABABABu));
        }
    }
}

TEST(BmpReadBits, RowStridesAndBufferCapacity) {
    EXPECT_EQ(bmpStride24(1), 4u);
    EXPECT_EQ(bmpStride24(3), 12u);  // 9 data bytes, 3 padding
    EXPECT_EQ(bmpStride24(4), 12u);  // no padding
    EXPECT_EQ(bmpStride24(5), 16u);

    platform::DebugCapture capture;
    BmpHandle handle;
    BmpFileHeader fileHeader;
    BmpInfoHeader info;
    ASSERT_EQ(ImageUtilReadBMPHeader(kData + "rgb24_w4.bmp", handle, fileHeader, info), 1);
    EXPECT_EQ(std::ftell(handle.get()), 54);
    std::vector<std::uint32_t> tooSmall(7, 1u);
    EXPECT_EQ(ImageUtilReadBMPBits(handle.get(), 4, 2, tooSmall, 24), 0);
    EXPECT_EQ(tooSmall, std::vector<std::uint32_t>(7, 1u));
    EXPECT_EQ(capture.text(), "ImageUtilReadBMPBits(): image data read error!\n");
    std::vector<std::uint32_t> pixels(8);
    ASSERT_EQ(ImageUtilReadBMPBits(handle.get(), 4, 2, pixels, 24), 1);
    EXPECT_EQ(pixels[3], 0x00405060u);
    EXPECT_EQ(pixels[7], 0x00102030u);
    // Nothing is left to read: a second read is short.
    EXPECT_EQ(ImageUtilReadBMPBits(handle.get(), 4, 2, pixels, 32), 0);
}

TEST(BmpReadIntoBuffer, ReadsTwentyFourBitFilesIntoTheCallersBuffer) {
    platform::DebugCapture capture;
    std::vector<std::uint32_t> buffer(6);
    std::int32_t width = 0;
    std::int32_t height = 0;
    ASSERT_EQ(ImageUtilReadBMP(kData + "rgb24_w3.bmp", buffer, &width, &height), 1);
    EXPECT_EQ(width, 3);
    EXPECT_EQ(height, 2);
    EXPECT_EQ(buffer, (std::vector<std::uint32_t>{kBottom[0], kBottom[1], kBottom[2], kTop[0],
                                                  kTop[1], kTop[2]}));
    EXPECT_EQ(capture.text(), "");

    std::vector<std::uint32_t> flipped(6);
    ASSERT_EQ(ImageUtilReadBMP(kData + "rgb24_topdown.bmp", flipped), 1);
    EXPECT_EQ(flipped, buffer);
    EXPECT_EQ(capture.text(), "ImageUtilReadBMP() inverted bitmap!!\n");
}

TEST(BmpReadIntoBuffer, RefusalsAndMessages) {
    const auto refused = [](const std::string& path, std::size_t capacity) {
        platform::DebugCapture capture;
        std::vector<std::uint32_t> buffer(capacity, 7u);
        EXPECT_EQ(ImageUtilReadBMP(path, buffer), 0);
        EXPECT_EQ(buffer, std::vector<std::uint32_t>(capacity, 7u));
        return capture.text();
    };
    // A buffer too small for the file is never written past its end.
    EXPECT_EQ(refused(kData + "rgb24_w3.bmp", 5),
              "ImageUtilReadBMP(): " + kData +
                  "rgb24_w3.bmp holds 3 x 2 pixels, more than the buffer's 5!\n");
    EXPECT_EQ(refused(kData + "rgb32.bmp", 6),
              "ImageUtilReadBMP() given non-24-bit-truecolor file!\n");
    EXPECT_EQ(refused(kData + "palette8.bmp", 100),
              "ImageUtilReadBMP() given non-24-bit-truecolor file!\n");
    EXPECT_EQ(refused(kData + "v5header.bmp", 6), "ImageUtilReadBMP() larger BITMAPINFOHEADER!\n");
    EXPECT_EQ(refused("/nonexistent/x.bmp", 6),
              "ImageUtilReadBMP(): can't open file /nonexistent/x.bmp to read!\n");

    TempDir dir;
    const std::string path = dir.file("r.bmp");
    const Bytes good = readBytes(kData + "rgb24_w3.bmp");
    writeBytes(path, Bytes(good.begin(), good.begin() + 8));
    EXPECT_EQ(refused(path, 6), "ImageUtilReadBMP(): bitmapFILEheader read error!\n");
    writeBytes(path, Bytes(good.begin(), good.begin() + 30));
    EXPECT_EQ(refused(path, 6), "ImageUtilReadBMP() bitmapINFOheader read error!\n");
    Bytes notBm = good;
    notBm[1] = 'A';
    writeBytes(path, notBm);
    EXPECT_EQ(refused(path, 6), "ImageUtilReadBMP() file type ISN'T 'BM'!!\n");
    writeBytes(path, handMade(1, 1, 24, Bytes(4, 0), 0, 54, 3));
    EXPECT_EQ(refused(path, 6), "ImageUtilReadBMP() illegal # of planes!!\n");
    writeBytes(path, Bytes(good.begin(), good.end() - 2));
    EXPECT_EQ(refused(path, 6), "bmpReadBMPfile() image data read error!\n");
    writeBytes(path, handMade(-1, 1, 24, Bytes(4, 0)));
    EXPECT_EQ(refused(path, 6), "ImageUtilReadBMP(): " + path + " has an unusable size -1 x 1!\n");
}

// 350 x 350 picture with distinct words everywhere (top byte included).
RgbImage frame350() {
    RgbImage image = RgbImage::createOwned(350, 350);
    for (int y = 0; y < 350; ++y) {
        for (int x = 0; x < 350; ++x) {
            image.at(x, y) = static_cast<std::uint32_t>(y * 350 + x) * 2654435761u;
        }
    }
    return image;
}

TEST(BmpWrite, FrameFileLayoutAndRoundTrip) {
    TempDir dir;
    const std::string path = dir.file("frame.bmp");
    const RgbImage image = frame350();
    platform::DebugCapture capture;
    ASSERT_EQ(image.writeBMP(path), 1);
    EXPECT_EQ(capture.text(), "");

    const Bytes bytes = readBytes(path);
    ASSERT_EQ(bytes.size(), 490054u);
    const Bytes header = {
        0x42, 0x4D, 0x46, 0x7A, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0x36, 0x00, 0x00, 0x00,  // file
        0x28, 0x00, 0x00, 0x00, 0x5E, 0x01, 0x00, 0x00, 0x5E, 0x01, 0x00, 0x00,  // size, w, h
        0x01, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00,                          // planes, 32, 0
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,              // 20 zero bytes
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 54), header);
    // First stored word is pixel (0, 0), the bottom-left one, blue byte first.
    const std::uint32_t w1 = image.at(1, 0);
    EXPECT_EQ(bytes[54 + 4], static_cast<std::uint8_t>(w1));
    EXPECT_EQ(bytes[54 + 6], static_cast<std::uint8_t>(w1 >> 16));

    RgbImage back;
    ASSERT_TRUE(back.load(path));
    ASSERT_EQ(back.width, 350);
    ASSERT_EQ(back.height, 350);
    EXPECT_TRUE(std::equal(back.words().begin(), back.words().end(), image.words().begin()));
    EXPECT_EQ(dir.entries(), 1u);  // no temporary left beside it
}

TEST(BmpWrite, OverwriteReplacesAndFailuresKeepTheOldFile) {
    TempDir dir;
    const std::string path = dir.file("out.bmp");
    RgbImage small = RgbImage::createOwned(2, 2);
    small.fill(0x00123456u);
    ASSERT_EQ(frame350().writeBMP(path), 1);
    ASSERT_EQ(small.writeBMP(path), 1);
    EXPECT_EQ(readBytes(path).size(), 54u + 16u);

    platform::DebugCapture capture;
    const std::string noFolder = dir.file("no/such/folder/x.bmp");
    EXPECT_EQ(small.writeBMP(noFolder), 0);
    EXPECT_EQ(capture.text(), "ImageUtilWriteBMP(): can't open file " + noFolder + " to write!\n");

    // Refused arguments never touch the existing file.
    capture.clear();
    EXPECT_EQ(ImageUtilWriteBMP(path, 0, 5, small.pixels), 0);
    EXPECT_EQ(ImageUtilWriteBMP(path, 2, 2, nullptr), 0);
    EXPECT_EQ(ImageUtilWriteBMP(path, 70000, 70000, small.pixels), 0);
    EXPECT_EQ(capture.pieces().size(), 3u);
    EXPECT_EQ(capture.pieces()[0],
              "ImageUtilWriteBMP(): can't write a 0 x 5 image to " + path + "!\n");
    EXPECT_EQ(readBytes(path).size(), 70u);

    // A write that fails part-way (file size limit) leaves the old file and no temporary.
    const Bytes before = readBytes(path);
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = old;
    limited.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    capture.clear();
    const int result = frame350().writeBMP(path);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(capture.pieces().size(), 1u) << capture.text();
    EXPECT_EQ(readBytes(path), before);
    EXPECT_EQ(dir.entries(), 1u);

    // A directory standing where the file should go is left as it is.
    const std::string folder = dir.file("folder.bmp");
    std::filesystem::create_directory(folder);
    capture.clear();
    EXPECT_EQ(small.writeBMP(folder), 0);
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_EQ(dir.entries(), 2u);
}

TEST(BmpWrite, ReadOnlyFolderKeepsTheOldFile) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permissions do not bind root";
    }
    TempDir dir;
    const std::string path = dir.file("keep.bmp");
    RgbImage small = RgbImage::createOwned(2, 2);
    ASSERT_EQ(small.writeBMP(path), 1);
    const Bytes before = readBytes(path);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
    platform::DebugCapture capture;
    small.fill(0x00FFFFFFu);
    EXPECT_EQ(small.writeBMP(path), 0);
    ::chmod(dir.path().c_str(), 0755);
    EXPECT_EQ(readBytes(path), before);
    EXPECT_EQ(capture.text(), "ImageUtilWriteBMP(): can't open file " + path + " to write!\n");
}

TEST(BmpWrite, NegativeHeightWritesATopDownFile) {
    TempDir dir;
    const std::string path = dir.file("topdown.bmp");
    // Words in file order, top row first: the loader turns them bottom-up.
    const std::vector<std::uint32_t> words = {kTop[0],    kTop[1],    kTop[2],
                                              kBottom[0], kBottom[1], kBottom[2]};
    ASSERT_EQ(ImageUtilWriteBMP(path, 3, -2, words.data()), 1);
    const Loaded l = load(path);
    EXPECT_EQ(l.messages, "ImageUtilReadBMP() inverted bitmap!!\n");
    expectFixturePicture(l);
}

TEST(RgbImageLoad, LoadKeepsTheImageOnFailure) {
    RgbImage image = RgbImage::createOwned(1, 1);
    image.fill(0x00ABCDEFu);
    platform::DebugCapture capture;
    EXPECT_FALSE(image.load(kData + "palette8.bmp"));
    EXPECT_EQ(image.width, 1);
    EXPECT_EQ(image.at(0, 0), 0x00ABCDEFu);
    ASSERT_TRUE(image.load(kData + "rgb24_w3.bmp"));
    EXPECT_TRUE(image.ownsPixels());
    EXPECT_EQ(image.at(2, 1), kTop[2]);
    EXPECT_EQ(image.at(2, 0), kBottom[2]);
}

}  // namespace
}  // namespace strata::imageutil
