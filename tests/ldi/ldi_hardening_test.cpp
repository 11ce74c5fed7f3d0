// Hostile inputs and interrupted saves: files that are not files, headers whose cameras hold no
// numbers, quads whose halves do not belong together, index arrays that are wrong in files too
// large to read, and quad saves that fail half-way.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>

#include "ldi/ldi_factory.h"
#include "ldi/ldi_pyramid.h"
#include "ldi/ldi_rt_quad.h"
#include "ldi/ldi_rtff.h"
#include "ldi/ldi_samples.h"
#include "platform/debug_output.h"

#if defined(__SANITIZE_ADDRESS__)
#define STRATA_NO_ADDRESS_LIMIT 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define STRATA_NO_ADDRESS_LIMIT 1
#endif
#endif

namespace strata::ldi {
namespace {

using testing::makeSample;
using testing::readBytes;
using testing::TempDir;
using testing::writeBytes;
using testing::writeText;

void putU32(std::vector<std::uint8_t>& b, std::size_t offset, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        b[offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

std::vector<std::uint8_t> savedBytes(const TempDir& dir, int ldiType, int dptType,
                                     std::int32_t width = 5, std::int32_t height = 3) {
    auto ldi = makeSample(ldiType, dptType, width, height, 7);
    const std::string path = dir.file("sample.ldi");
    EXPECT_EQ(ldi->Save(path), 1);
    return readBytes(path);
}

std::string refusal(const std::string& path) {
    platform::DebugCapture quiet;
    std::string error;
    auto ldi = LoadLdi(path, &error);
    return ldi ? std::string("<loaded>") : error;
}

int entriesIn(const std::string& dir) {
    return static_cast<int>(std::distance(std::filesystem::directory_iterator(dir),
                                          std::filesystem::directory_iterator()));
}

// Header words of both reference cameras: a NaN or infinity anywhere is refused, for the stream
// and the block layout alike.
TEST(LdiHardening, NonFiniteReferenceCamerasAreRefused) {
    TempDir dir;
    const std::uint32_t nan = 0x7FC00000u;
    const std::uint32_t inf = 0x7F800000u;
    struct Case {
        std::size_t offset;
        std::uint32_t value;
        const char* what;
    };
    const Case cases[] = {
        {LdiHeader::kOffsetView, nan, "reference view"},            // projection[0]
        {LdiHeader::kOffsetView + 128, nan, "reference view"},      // pos.x
        {LdiHeader::kOffsetView + 172, inf, "reference view"},      // fov, the last word
        {LdiHeader::kOffsetCamera, nan, "reference camera"},        // viewport[0]
        {LdiHeader::kOffsetCamera + 256, inf, "reference camera"},  // pos.x
        {LdiHeader::kOffsetCamera + 340, nan, "reference camera"},  // clip_far, the last float
    };
    for (int ldiType : {1, 2}) {
        const auto good = savedBytes(dir, ldiType, 2);
        for (const Case& c : cases) {
            SCOPED_TRACE(::testing::Message() << "ldiType " << ldiType << " offset " << c.offset);
            auto bytes = good;
            putU32(bytes, c.offset, c.value);
            writeBytes(dir.file("nan.ldi"), bytes);
            const std::string error = refusal(dir.file("nan.ldi"));
            EXPECT_NE(error.find(c.what), std::string::npos) << error;
            EXPECT_NE(error.find("non-finite"), std::string::npos) << error;
        }
        // The two ints that close the full camera are not floats: any value loads.
        auto bytes = good;
        putU32(bytes, LdiHeader::kOffsetCamera + 344, nan);
        writeBytes(dir.file("res.ldi"), bytes);
        EXPECT_EQ(refusal(dir.file("res.ldi")), "<loaded>");
    }
}

// Writes the halves of one camera's grid: top rows on top of bottom rows.
void saveHalves(const TempDir& dir, const std::string& top, const std::string& bottom,
                std::int32_t width, std::int32_t topRows, std::int32_t bottomRows) {
    auto t = makeSample(1, 2, width, topRows, 7);
    auto b = makeSample(1, 2, width, bottomRows, 8);
    testing::frameAsQuadHalves(*t, *b);
    ASSERT_EQ(t->Save(dir.file(top)), 1);
    ASSERT_EQ(b->Save(dir.file(bottom)), 1);
}

TEST(LdiHardening, QuadHalvesMustFitTogether) {
    TempDir dir;
    saveHalves(dir, "a.ldibrtqp", "b.ldibrtqp", 5, 3, 2);
    saveHalves(dir, "wide.ldibrtqp", "narrow.ldibrtqp", 6, 3, 3);
    // Whole views of the same camera, and a half whose rows are taller than its partner's.
    writeBytes(dir.file("full1.ldibrtqp"), savedBytes(dir, 1, 2, 5, 3));
    writeBytes(dir.file("full2.ldibrtqp"), savedBytes(dir, 1, 2, 5, 2));
    {
        auto t = makeSample(1, 2, 5, 3, 7);
        auto b = makeSample(1, 2, 5, 2, 8);
        testing::frameAsQuadHalves(*t, *b);
        auto tallBottom = makeSample(1, 2, 5, 3, 9);
        tallBottom->header.view = b->header.view;  // the window of 2 rows holding 3
        ASSERT_EQ(tallBottom->Save(dir.file("tall.ldibrtqp")), 1);
    }
    std::filesystem::copy_file(dir.file("a.ldibrtqp"), dir.file("acopy.ldibrtqp"));
    struct Case {
        const char* list;
        const char* expected;
    };
    const Case cases[] = {
        {"a.ldibrtqp\nb.ldibrtqp\n 1 2 3 4 5 6\n", "<loaded>"},  // heights may differ by a row
        {"a.ldibrtqp\nwide.ldibrtqp\n 1 2 3 4 5 6\n", "do not fit together"},
        {"a.ldibrtqp\na.ldibrtqp\n 1 2 3 4 5 6\n", "the same file"},
        {"a.ldibrtqp\n./a.ldibrtqp\n 1 2 3 4 5 6\n", "the same file"},
        {"a.ldibrtqp\nacopy.ldibrtqp\n 1 2 3 4 5 6\n", "not the lower and upper parts"},
        {"b.ldibrtqp\na.ldibrtqp\n 1 2 3 4 5 6\n", "the halves are swapped"},
        {"full1.ldibrtqp\nfull2.ldibrtqp\n 1 2 3 4 5 6\n", "not the lower and upper parts"},
        {"a.ldibrtqp\ntall.ldibrtqp\n 1 2 3 4 5 6\n", "not of one height"},
        {"a.ldibrtqp\nb.ldibrtqp\n 1 2 nan 4 5 6\n", "is not a number"},
        {"a.ldibrtqp\nb.ldibrtqp\n 1 2 3 4 5 inf\n", "is not a number"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list);
        writeText(dir.file("q.ldiquad"), c.list);
        EXPECT_NE(refusal(dir.file("q.ldiquad")).find(c.expected), std::string::npos)
            << refusal(dir.file("q.ldiquad"));
    }
}

// A negative element count is refused with the same message by every kind, stream and block.
TEST(LdiHardening, NegativePixelCountsAreRefusedByEveryKind) {
    TempDir dir;
    struct Case {
        int ldiType;
        int dptType;
        std::size_t offset;
        const char* expected;
    };
    const Case cases[] = {
        {1, 3, 20, "negative pixelCount -5"},
        {2, 3, 20, "negative pixelCount -5"},
        {1, 2, 20, "negative pixelCount -5"},
        {2, 2, 20, "negative pixelCount -5"},
        {1, 6, LdiHeader::kOffsetExtra, "negative mrqpCounts[0] -5"},
        {2, 6, LdiHeader::kOffsetExtra + 8, "negative mrqpCounts[2] -5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.ldiType << "/" << c.dptType << " at " << c.offset);
        auto bytes = savedBytes(dir, c.ldiType, c.dptType);
        putU32(bytes, c.offset, static_cast<std::uint32_t>(-5));
        writeBytes(dir.file("n.ldi"), bytes);
        const std::string error = refusal(dir.file("n.ldi"));
        EXPECT_NE(error.find(c.expected), std::string::npos) << error;
    }
}

// Reference views that cannot place a sample are refused: a zero projection word that leaves it
// singular, a position far beyond any scene, a depth range or angle that is no range.
TEST(LdiHardening, UnusableReferenceViewsAreRefused) {
    TempDir dir;
    const auto floatBits = [](float v) { return std::bit_cast<std::uint32_t>(v); };
    const std::size_t view = LdiHeader::kOffsetView;
    struct Case {
        std::vector<std::pair<std::size_t, float>> words;
        const char* expected;  // "" when the file loads
    };
    const Case cases[] = {
        {{}, ""},
        // A frustum's first row holds one word: zero, it leaves the projection singular.
        {{{view + 0, 0.0f}, {view + 4, 0.0f}, {view + 8, 0.0f}, {view + 12, 0.0f}},
         "projection cannot be inverted"},
        {{{view + 128, 1e38f}}, "lies beyond 1e+12 of the origin"},
        {{{view + 128, 1e12f}}, ""},
        {{{view + 128, -1.01e12f}}, "lies beyond 1e+12 of the origin"},
        {{{view + 164, 0.0f}}, "is not 0 < near < far"},
        {{{view + 164, 200.0f}}, "is not 0 < near < far"},
        {{{view + 172, 0.0f}}, "is not in (0, pi)"},
        {{{view + 172, 3.1416f}}, "is not in (0, pi)"},
        {{{view + 140, 0.0f}, {view + 144, 0.0f}, {view + 148, 0.0f}}, "direction is zero"},
        {{{view + 152, 0.0f}, {view + 156, 0.0f}, {view + 160, -1.0f}}, "parallel to its up"},
        {{{view + 64, 0.0f}}, "viewport cannot be inverted"},
    };
    for (int ldiType : {1, 2}) {
        const auto good = savedBytes(dir, ldiType, 2);
        for (const Case& c : cases) {
            SCOPED_TRACE(::testing::Message() << "ldiType " << ldiType << " case " << c.expected);
            auto bytes = good;
            for (const auto& [offset, value] : c.words) {
                putU32(bytes, offset, floatBits(value));
            }
            writeBytes(dir.file("v.ldi"), bytes);
            const std::string error = refusal(dir.file("v.ldi"));
            if (*c.expected == '\0') {
                EXPECT_EQ(error, "<loaded>");
            } else {
                EXPECT_NE(error.find(c.expected), std::string::npos) << error;
            }
        }
    }
}

// List files are text: a control byte below 0x20 other than white space makes one some other
// file; 0x20 and the white-space controls separate names.
TEST(LdiHardening, ListControlBytesAtTheirBoundary) {
    TempDir dir;
    writeBytes(dir.file("a.ldi"), savedBytes(dir, 1, 2));
    struct Case {
        std::string text;
        bool read;
    };
    const Case cases[] = {
        {"1 a.ldi 1\n", true},
        {"1\x20"
         "a.ldi\x20"
         "1",
         true},
        {"1\ta.ldi\v1\f\r\n", true},
        {"1 a.ldi 1\x1f\n", false},
        {"1 a.ldi 1\x01", false},
        {std::string("1 a.ldi 1\0", 10), false},
        {"1 a.ldi 1\x7f", false},  // read, but a distance with a DEL after it is no number
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.text));
        writeText(dir.file("p.ldipyr"), c.text);
        LdiPyramid pyramid;
        pyramid.reportErrors = false;
        const bool read = pyramid.OpenPyramid(dir.file("p.ldipyr")) == 1;
        EXPECT_EQ(read, c.read) << pyramid.openError();
        if (!c.read && c.text.find('\x7f') == std::string::npos) {
            EXPECT_NE(pyramid.openError().find("is not a text list"), std::string::npos)
                << pyramid.openError();
        }
    }
}

// The halves must share one eye: a bottom half moved aside is not part of the same view.
TEST(LdiHardening, QuadHalvesOfTwoCamerasAreRefused) {
    TempDir dir;
    auto t = makeSample(1, 2, 4, 2, 7);
    auto b = makeSample(1, 2, 4, 2, 8);
    testing::frameAsQuadHalves(*t, *b);
    b->header.view.pos.x += 0.5f;
    ASSERT_EQ(t->Save(dir.file("t.ldibrtqp")), 1);
    ASSERT_EQ(b->Save(dir.file("b.ldibrtqp")), 1);
    writeText(dir.file("q.ldiquad"), "t.ldibrtqp\nb.ldibrtqp\n 1 2 3 4 5 6\n");
    EXPECT_NE(refusal(dir.file("q.ldiquad")).find("not views of one camera"), std::string::npos)
        << refusal(dir.file("q.ldiquad"));
}

// A quad list names its halves by file name, so a copied folder uses its own halves.
TEST(LdiHardening, QuadListsNameHalvesByFileName) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("a"));
    auto quad = makeSample(5, 2, 4, 2, 3);
    ASSERT_EQ(quad->Save(dir.file("a/scene")), 1);
    const auto list = readBytes(dir.file("a/scene.ldiquad"));
    const std::string text(list.begin(), list.end());
    EXPECT_EQ(text.rfind("scene_top.ldibrtqp\nscene_bot.ldibrtqp\n", 0), 0u) << text;
    std::filesystem::copy(dir.file("a"), dir.file("b"));
    std::filesystem::remove(dir.file("a/scene_top.ldibrtqp"));
    EXPECT_EQ(refusal(dir.file("b/scene.ldiquad")), "<loaded>");
}

// A quad whose bottom half cannot be saved leaves the old quad exactly as it was.
TEST(LdiHardening, FailedQuadSaveKeepsTheOldSet) {
    TempDir dir;
    auto old = makeSample(5, 2, 4, 2, 3);
    ASSERT_EQ(old->Save(dir.file("q")), 1);
    const auto top = readBytes(dir.file("q_top.ldibrtqp"));
    const auto bottom = readBytes(dir.file("q_bot.ldibrtqp"));
    const auto list = readBytes(dir.file("q.ldiquad"));

    auto next = makeSample(5, 2, 4, 2, 11);
    auto& quad = dynamic_cast<LdiRtQuad&>(*next);
    quad.bottom()->rowStart[0] = 1;  // the bottom half refuses to be saved
    platform::DebugCapture quiet;
    EXPECT_EQ(quad.Save(dir.file("q.ldiquad")), 0);
    EXPECT_NE(quad.loadError().find("bottom half not saved"), std::string::npos)
        << quad.loadError();
    EXPECT_EQ(readBytes(dir.file("q_top.ldibrtqp")), top);
    EXPECT_EQ(readBytes(dir.file("q_bot.ldibrtqp")), bottom);
    EXPECT_EQ(readBytes(dir.file("q.ldiquad")), list);
    EXPECT_EQ(entriesIn(dir.path()), 3);

    // A half target that is a folder: refused before anything is written.
    std::filesystem::remove(dir.file("q_bot.ldibrtqp"));
    std::filesystem::create_directory(dir.file("q_bot.ldibrtqp"));
    auto third = makeSample(5, 2, 4, 2, 12);
    EXPECT_EQ(third->Save(dir.file("q")), 0);
    EXPECT_NE(third->loadError().find("q_bot.ldibrtqp is a folder"), std::string::npos)
        << third->loadError();
    EXPECT_EQ(readBytes(dir.file("q_top.ldibrtqp")), top);
    EXPECT_EQ(entriesIn(dir.path()), 3);
}

// Every reader refuses a FIFO at once instead of waiting for a writer.
TEST(LdiHardeningDeathTest, FifosAreRefusedWithoutBlocking) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("f.ldi").c_str(), 0600), 0);
    writeBytes(dir.file("a.ldibrtqp"), savedBytes(dir, 1, 2));
    writeText(dir.file("q.ldiquad"), "a.ldibrtqp\nf.ldi\n 1 2 3 4 5 6\n");
    ASSERT_EQ(::mkfifo(dir.file("f.ldiquad").c_str(), 0600), 0);
    EXPECT_EXIT(
        {
            ::alarm(5);
            platform::DebugCapture quiet;
            const bool refused =
                refusal(dir.file("f.ldi")).find("not a regular file") != std::string::npos &&
                refusal(dir.file("f.ldiquad")).find("not a regular file") != std::string::npos &&
                refusal(dir.file("q.ldiquad")).find("not a regular file") != std::string::npos &&
                LdiRtffQp().Load(dir.file("f.ldi")) == 0;
            std::exit(refused ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// A file that claims gigabytes of pixels behind a wrong rowStart is refused from its index
// arrays alone: with the address space held to 1 GB, any attempt to allocate (or read) the
// pixel arrays first would fail differently.
TEST(LdiHardeningDeathTest, IndexArraysAreCheckedBeforeThePixels) {
#ifdef STRATA_NO_ADDRESS_LIMIT
    GTEST_SKIP() << "the address sanitizer needs an unlimited address space";
#else
    TempDir dir;
    struct Case {
        int ldiType;
        int dptType;
        const char* expected;
    };
    const Case cases[] = {{1, 2, "rowStart ends at"},  {1, 3, "rowStart ends at"},
                          {1, 6, "rowStart0 ends at"}, {2, 2, "rowStart ends at"},
                          {2, 3, "rowStart ends at"},  {2, 6, "rowStart0 ends at"}};
    constexpr std::uint32_t kHuge = 0x7FFFFF00u;  // depth pixels: 8 to 16 GB of arrays
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.ldiType << "/" << c.dptType);
        auto bytes = savedBytes(dir, c.ldiType, c.dptType);
        if (c.dptType == 6) {
            putU32(bytes, LdiHeader::kOffsetExtra, kHuge);
            putU32(bytes, LdiHeader::kOffsetExtra + 12, kHuge);
        } else {
            putU32(bytes, LdiHeader::kOffsetPixelCount, kHuge);
        }
        const std::string path = dir.file("huge.ldi");
        writeBytes(path, bytes);
        // Sparse: the file holds every byte the header promises without using the disk.
        ASSERT_EQ(::truncate(path.c_str(), std::int64_t{40} << 30), 0);
        EXPECT_EXIT(
            {
                rlimit limit{};
                limit.rlim_cur = std::uint64_t{1} << 30;
                limit.rlim_max = limit.rlim_cur;
                ::setrlimit(RLIMIT_AS, &limit);
                const std::string error = refusal(path);
                std::fprintf(stderr, "%s\n", error.c_str());
                std::exit(error.find(c.expected) != std::string::npos ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), c.expected);
    }
#endif
}

// A file of 50 million samples (1024 x 1024 pixels of 48 layers, 400 MB of pixels, sparse on
// disk) whose index arrays are sound, loaded with the address space held to 256 MB: the pixel
// arrays cannot be allocated, and the load says so in one line naming the file, with no crash
// and no partial object. (With 2 GB it loads.)
TEST(LdiHardeningDeathTest, FiftyMillionSamplesUnderAMemoryLimitAreRefusedCleanly) {
#ifdef STRATA_NO_ADDRESS_LIMIT
    GTEST_SKIP() << "the address sanitizer needs an unlimited address space";
#else
    TempDir dir;
    constexpr std::uint32_t kSide = 1024;
    constexpr std::uint32_t kLayers = 48;
    constexpr std::uint64_t kSamples = std::uint64_t{kSide} * kSide * kLayers;
    static_assert(kSamples > 50000000 && kSamples < 51000000);
    auto bytes = savedBytes(dir, 1, 2);
    bytes.resize(LdiHeader::kSize);
    putU32(bytes, LdiHeader::kOffsetWidth, kSide);
    putU32(bytes, LdiHeader::kOffsetHeight, kSide);
    putU32(bytes, LdiHeader::kOffsetPixelCount, static_cast<std::uint32_t>(kSamples));
    for (std::uint32_t r = 0; r <= kSide; ++r) {  // rowStart
        const std::uint32_t start = r * kSide * kLayers;
        for (int i = 0; i < 4; ++i) {
            bytes.push_back(static_cast<std::uint8_t>(start >> (8 * i)));
        }
    }
    for (std::uint32_t r = 0; r < kSide; ++r) {  // layerOffset: 48 more per pixel
        for (std::uint32_t c = 0; c <= kSide; ++c) {
            const std::uint32_t offset = c * kLayers;
            bytes.push_back(static_cast<std::uint8_t>(offset));
            bytes.push_back(static_cast<std::uint8_t>(offset >> 8));
        }
    }
    const std::string path = dir.file("fifty-million.ldi");
    writeBytes(path, bytes);
    // The pixels, 8 bytes each, as a hole: the file holds every byte the header promises.
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(bytes.size() + 8 * kSamples)), 0);
    EXPECT_EXIT(
        {
            rlimit limit{};
            limit.rlim_cur = std::uint64_t{256} << 20;
            limit.rlim_max = limit.rlim_cur;
            ::setrlimit(RLIMIT_AS, &limit);
            const std::string error = refusal(path);
            std::fprintf(stderr, "%s\n", error.c_str());
            const bool named = error.find("fifty-million.ldi") != std::string::npos;
            std::exit(named && error.find("\n") == std::string::npos ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "cannot allocate|out of memory");
#endif
}

TEST(LdiHardening, BytesAfterTheBodyLoadAndAreCounted) {
    TempDir dir;
    for (int ldiType : {1, 2}) {
        for (int dptType : {2, 3, 6}) {
            SCOPED_TRACE(::testing::Message() << ldiType << "/" << dptType);
            auto bytes = savedBytes(dir, ldiType, dptType);
            writeBytes(dir.file("exact.ldi"), bytes);
            bytes.resize(bytes.size() + 7, 0xAB);
            writeBytes(dir.file("tail.ldi"), bytes);
            std::string error;
            auto exact = LoadLdi(dir.file("exact.ldi"), &error);
            auto tail = LoadLdi(dir.file("tail.ldi"), &error);
            ASSERT_NE(exact, nullptr);
            ASSERT_NE(tail, nullptr) << error;
            EXPECT_EQ(exact->trailingBytes, 0u);
            EXPECT_EQ(tail->trailingBytes, 7u);
        }
    }
}

}  // namespace
}  // namespace strata::ldi
