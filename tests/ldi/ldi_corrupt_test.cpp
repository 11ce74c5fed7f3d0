// Damaged files: each is refused with one line of its own, no object, no crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>

#include "ldi/ldi_factory.h"
#include "ldi/ldi_samples.h"
#include "platform/debug_output.h"
#include "platform/worker_pool.h"

namespace strata::ldi {
namespace {

using testing::allSampleKinds;
using testing::makeSample;
using testing::readBytes;
using testing::TempDir;
using testing::writeBytes;

void putU32(std::vector<std::uint8_t>& b, std::size_t offset, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        b[offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

// Loads bytes from a file and expects a refusal whose one line holds `expected`.
std::string expectRefused(const TempDir& dir, const std::vector<std::uint8_t>& bytes,
                          const std::string& expected, const std::string& name = "bad.ldi") {
    const std::string path = dir.file(name);
    writeBytes(path, bytes);
    platform::DebugCapture capture;
    std::string error;
    auto ldi = LoadLdi(path, &error);
    EXPECT_EQ(ldi, nullptr);
    EXPECT_NE(error.find(expected), std::string::npos) << "got: " << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
    EXPECT_EQ(error.rfind(path, 0), 0u) << "the line names the file: " << error;
    EXPECT_EQ(capture.text(), error + "\n");  // printed exactly once
    return error;
}

struct Saved {
    std::vector<std::uint8_t> bytes;
    std::int32_t width;
    std::int32_t height;
};

Saved savedSample(const TempDir& dir, int ldiType, int dptType, std::uint32_t seed = 9) {
    auto ldi = makeSample(ldiType, dptType, 5, 3, seed);
    const std::string path = dir.file("sample.ldi");
    EXPECT_EQ(ldi->Save(path), 1);
    return {readBytes(path), 5, 3};
}

TEST(LdiCorrupt, TruncatedFilesAreRefusedAtEveryLength) {
    TempDir dir;
    for (const auto& kind : allSampleKinds()) {
        if (kind.ldiType == 5) {
            continue;
        }
        SCOPED_TRACE(kind.name);
        const Saved s = savedSample(dir, kind.ldiType, kind.dptType);
        std::set<std::size_t> lengths = {0, 1, 4, 12987, 12988, 12989, 65535, 65536, 65537};
        const std::size_t step = s.bytes.size() > 100000 ? 4093 : 61;
        for (std::size_t n = 0; n < s.bytes.size(); n += step) {
            lengths.insert(n);
        }
        lengths.insert(s.bytes.size() - 1);
        for (std::size_t n : lengths) {
            if (n >= s.bytes.size()) {
                continue;
            }
            const std::vector<std::uint8_t> cut(s.bytes.begin(),
                                                s.bytes.begin() + static_cast<std::ptrdiff_t>(n));
            expectRefused(dir, cut, "truncated");
        }
    }
}

TEST(LdiCorrupt, DamagedIndexArraysAreRefused) {
    TempDir dir;
    std::set<std::string> messages;
    const std::size_t body = 12988;
    const std::size_t rowStartBytes = 4 * (3 + 1);
    {  // CP: a row's layer counts off by one.
        Saved s = savedSample(dir, 1, 3);
        s.bytes[body + rowStartBytes] ^= 1;
        messages.insert(expectRefused(dir, s.bytes, "layerCount of row 0 sums"));
    }
    {  // QP: rowStart decreasing.
        Saved s = savedSample(dir, 1, 2);
        putU32(s.bytes, body + 4, 0x7FFFFFFF);
        messages.insert(expectRefused(dir, s.bytes, "rowStart decreases at row 2"));
    }
    {  // QP: rowStart not starting at 0.
        Saved s = savedSample(dir, 1, 2);
        putU32(s.bytes, body, 1);
        messages.insert(expectRefused(dir, s.bytes, "rowStart[0] is 1"));
    }
    {  // QP: a row's offsets not ending at its span.
        Saved s = savedSample(dir, 1, 2);
        const std::size_t lastOfRow0 = body + rowStartBytes + 2 * 5;
        s.bytes[lastOfRow0] = static_cast<std::uint8_t>(s.bytes[lastOfRow0] + 1);
        messages.insert(expectRefused(dir, s.bytes, "layerOffset of row 0 ends at"));
    }
    {  // QP: offsets starting above 0.
        Saved s = savedSample(dir, 1, 2);
        s.bytes[body + rowStartBytes] = 1;
        messages.insert(expectRefused(dir, s.bytes, "layerOffset of row 0 starts at 1"));
    }
    {  // QP: rowStart ending past the header's pixel count.
        Saved s = savedSample(dir, 1, 2);
        putU32(s.bytes, 20, testing::u32At(s.bytes, 20) - 1);
        messages.insert(expectRefused(dir, s.bytes, "rowStart ends at"));
    }
    {  // MRQP: a coverage mask that disagrees with the colour offsets.
        Saved s = savedSample(dir, 1, 6);
        const std::size_t index = 3 * (4 * 4 + 2 * 6 * 3);
        // The first depth pixel's coverage word.
        s.bytes[body + index + 4] ^= 0x01;
        messages.insert(expectRefused(dir, s.bytes, "coverage masks of pixel"));
    }
    {  // MRQP: a 4x4 colour count that disagrees with the level-1 totals.
        Saved s = savedSample(dir, 1, 6);
        putU32(s.bytes, 8892 + 4, testing::u32At(s.bytes, 8892 + 4) - 1);
        messages.insert(expectRefused(dir, s.bytes, "rowStart1 ends at"));
    }
    {  // MRQP: full colours not one per depth pixel.
        Saved s = savedSample(dir, 1, 6);
        putU32(s.bytes, 8892 + 12, testing::u32At(s.bytes, 8892 + 12) + 1);
        messages.insert(expectRefused(dir, s.bytes, "full colours for"));
    }
    {  // RTFF/QP: damage inside the block body.
        Saved s = savedSample(dir, 2, 2);
        putU32(s.bytes, 65536 + 8, 0x7FFFFFFF);
        messages.insert(expectRefused(dir, s.bytes, "rowStart decreases at row 3"));
    }
    EXPECT_EQ(messages.size(), 10u);
}

// Tall index arrays are checked in bands of rows on the drawing threads; whatever the threads
// and wherever the bands fall, the line names the first damaged row.
TEST(LdiCorrupt, TheFirstDamagedRowIsNamedWhateverTheThreads) {
    TempDir dir;
    struct Case {
        int dptType;  // 2 QP (layer offsets), 3 CP (layer counts)
        std::int32_t height;
        std::vector<std::int32_t> damaged;
        std::int32_t named;
    };
    const Case cases[] = {
        {2, 5000, {4100, 1300}, 1300}, {2, 5000, {4999}, 4999},     {2, 5000, {0, 2600}, 0},
        {2, 1023, {1022}, 1022},       {2, 1024, {1023, 512}, 512}, {3, 5000, {3900, 2501}, 2501},
        {3, 1024, {1023}, 1023},       {3, 1025, {600, 1024}, 600},
    };
    constexpr std::int32_t kWidth = 3;
    constexpr std::size_t kBody = 12988;
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "type " << c.dptType << " height " << c.height);
        auto ldi = makeSample(1, c.dptType, kWidth, c.height, 5);
        const std::string path = dir.file("tall.ldi");
        ASSERT_EQ(ldi->Save(path), 1);
        std::vector<std::uint8_t> bytes = readBytes(path);
        const std::size_t index = kBody + 4 * (static_cast<std::size_t>(c.height) + 1);
        for (std::int32_t row : c.damaged) {
            const auto r = static_cast<std::size_t>(row);
            if (c.dptType == 2) {
                bytes[index + r * (kWidth + 1) * 2] = 1;  // the row's offsets start above 0
            } else {
                bytes[index + r * (kWidth + 1)] ^= 1;  // its first count off by one
            }
        }
        const std::string expected = platform::formatString(
            c.dptType == 2 ? "layerOffset of row %d starts at 1" : "layerCount of row %d sums",
            c.named);
        for (int threads : {1, 2, 3}) {
            platform::setDrawThreads(threads);
            expectRefused(dir, bytes, expected);
        }
        platform::setDrawThreadsAutomatic();
    }
}

TEST(LdiCorrupt, HeaderSizesAreCheckedBeforeAllocating) {
    TempDir dir;
    const Saved s = savedSample(dir, 1, 3);
    {
        auto b = s.bytes;  // a huge grid over a tiny body: refused without allocating
        putU32(b, 12, 32768);
        putU32(b, 16, 32768);
        expectRefused(dir, b, "truncated: the header promises");
    }
    {
        auto b = s.bytes;
        putU32(b, 20, 0x7FFFFFFF);
        expectRefused(dir, b, "truncated: the header promises");
    }
    {
        auto b = s.bytes;
        putU32(b, 12, 32769);
        expectRefused(dir, b, "outside 1..32768");
    }
    {
        auto b = s.bytes;
        putU32(b, 16, 0);
        expectRefused(dir, b, "grid 5 x 0");
    }
    {
        auto b = s.bytes;
        putU32(b, 12, 0x80000000u);
        expectRefused(dir, b, "outside");
    }
    {
        auto b = s.bytes;
        putU32(b, 20, 0xFFFFFFFFu);
        expectRefused(dir, b, "negative pixelCount");
    }
    {
        auto b = s.bytes;
        putU32(b, 692, 2049);
        expectRefused(dir, b, "binCount 2049");
    }
    {
        auto b = s.bytes;
        putU32(b, 692, 0xFFFFFFFFu);
        expectRefused(dir, b, "binCount -1");
    }
    {
        const Saved m = savedSample(dir, 2, 6);
        auto b = m.bytes;
        putU32(b, 8892, 0xFFFFFF00u);
        expectRefused(dir, b, "negative mrqpCounts[0]");
    }
    {
        const Saved m = savedSample(dir, 2, 6);
        auto b = m.bytes;
        putU32(b, 12, 4);  // 3 x (4 + 1) offsets: no whole-word layout
        expectRefused(dir, b, "even height x (width + 1)");
    }
}

TEST(LdiCorrupt, UnknownTypePairsAreRefused) {
    TempDir dir;
    const Saved s = savedSample(dir, 1, 3);
    const std::pair<std::uint32_t, std::uint32_t> pairs[] = {
        {0, 3}, {3, 3}, {4, 2}, {6, 2}, {1, 0}, {5, 3}, {2, 9}, {7, 3}, {0xFFFFFFFFu, 3}, {1, 11}};
    for (const auto& [ldiType, dptType] : pairs) {
        auto b = s.bytes;
        putU32(b, 4, ldiType);
        putU32(b, 8, dptType);
        expectRefused(dir, b, "unknown LDI type pair");
    }
    auto b = s.bytes;
    putU32(b, 4, 1);
    putU32(b, 8, 2);  // a CP body under a QP header
    expectRefused(dir, b, "");
}

TEST(LdiCorrupt, MissingFilesAndOtherVersions) {
    TempDir dir;
    platform::DebugCapture capture;
    std::string error;
    EXPECT_EQ(LoadLdi(dir.file("nothing.ldi"), &error), nullptr);
    EXPECT_NE(error.find("cannot open"), std::string::npos);
    EXPECT_EQ(LoadLdi(dir.path(), &error), nullptr);  // a folder
    Saved s = savedSample(dir, 1, 2);
    putU32(s.bytes, 0, 17);  // the version word is ignored
    writeBytes(dir.file("v.ldi"), s.bytes);
    EXPECT_NE(LoadLdi(dir.file("v.ldi")), nullptr);
}

TEST(LdiCorrupt, QuadListsRefuseBadHalvesAndShortLists) {
    TempDir dir;
    auto quad = makeSample(5, 2, 4, 2, 3);
    ASSERT_EQ(quad->Save(dir.file("q")), 1);
    // A damaged bottom half: refused naming the half.
    auto bottom = readBytes(dir.file("q_bot.ldibrtqp"));
    bottom.resize(bottom.size() - 1);
    writeBytes(dir.file("q_bot.ldibrtqp"), bottom);
    expectRefused(dir, readBytes(dir.file("q.ldiquad")), "bottom half refused", "q2.ldiquad");
    testing::writeText(dir.file("x.ldiquad"), "missing.ldi q_top.ldibrtqp 1 2 3 4 5 6\n");
    expectRefused(dir, readBytes(dir.file("x.ldiquad")), "top half refused", "x2.ldiquad");
    testing::writeText(dir.file("y.ldiquad"), "q_top.ldibrtqp\n");
    expectRefused(dir, readBytes(dir.file("y.ldiquad")), "fewer than two", "y2.ldiquad");
    testing::writeText(dir.file("z.ldiquad"), "q_top.ldibrtqp q_top.ldibrtqp 1 2 3\n");
    expectRefused(dir, readBytes(dir.file("z.ldiquad")), "six vector values", "z2.ldiquad");
    testing::writeText(dir.file("w.ldiquad"), "q_top.ldibrtqp q_top.ldibrtqp 1 2 3 4 x 6\n");
    expectRefused(dir, readBytes(dir.file("w.ldiquad")), "is not a number", "w2.ldiquad");
    // A binary RTQuad header is no list.
    const Saved s = savedSample(dir, 1, 2);
    auto b = s.bytes;
    putU32(b, 4, 5);
    expectRefused(dir, b, "is not a text quad list", "bin.ldi");
}

}  // namespace
}  // namespace strata::ldi
