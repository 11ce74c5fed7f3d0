// Voxel files: big-endian layouts written out by hand, the conversion's examples and progress
// lines, refusals of bad files, records in any order, and draws that stay inside the frame.
#include "ldi/voxel_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "imageutil/rgb_image.h"
#include "ldi/ldi_samples.h"
#include "platform/byte_io.h"
#include "platform/debug_output.h"
#include "platform/fp_mode.h"
#include "render/output_view.h"

namespace strata::ldi {
namespace {

using testing::TempDir;

constexpr std::int32_t kNoOverride = std::numeric_limits<std::int32_t>::min();

struct Sample {
    float depth;
    std::uint8_t r, g, b;
};
struct Record {
    std::int32_t x, y;
    std::vector<Sample> samples;
    std::int32_t countOverride = kNoOverride;  // written instead of samples.size()
};

// The file, field by field, most significant byte first.
std::vector<std::uint8_t> voxelBytes(std::int32_t lineCount, float pixelWidth,
                                     const std::vector<Record>& records) {
    std::vector<std::uint8_t> out;
    const auto u32 = [&out](std::uint32_t v) {
        out.push_back(static_cast<std::uint8_t>(v >> 24));
        out.push_back(static_cast<std::uint8_t>(v >> 16));
        out.push_back(static_cast<std::uint8_t>(v >> 8));
        out.push_back(static_cast<std::uint8_t>(v));
    };
    u32(static_cast<std::uint32_t>(lineCount));
    u32(std::bit_cast<std::uint32_t>(pixelWidth));
    for (const Record& r : records) {
        u32(static_cast<std::uint32_t>(r.x));
        u32(static_cast<std::uint32_t>(r.y));
        u32(static_cast<std::uint32_t>(r.countOverride != kNoOverride
                                           ? r.countOverride
                                           : static_cast<std::int32_t>(r.samples.size())));
        for (const Sample& s : r.samples) {
            u32(std::bit_cast<std::uint32_t>(s.depth));
            out.push_back(s.r);
            out.push_back(s.g);
            out.push_back(s.b);
        }
    }
    return out;
}

struct Converted {
    VoxelModel model;
    int result = 0;
    std::string debug;
};

void convert(const TempDir& dir, const std::vector<std::uint8_t>& bytes, Converted& out) {
    testing::writeBytes(dir.file("v.vox"), bytes);
    const platform::DebugCapture capture;
    out.model.reportErrors = false;
    out.result = out.model.Open(dir.file("v.vox"));
    out.debug = capture.text();
}

// The samples of cell (row, column) in storage order.
std::vector<VoxelSample> cell(const VoxelFrame& f, std::int32_t row, std::int32_t column) {
    const std::size_t base = static_cast<std::size_t>(row) * (f.width + 1);
    const std::int32_t begin = f.rowStart[row] + f.layerOffset[base + column];
    const std::int32_t end = f.rowStart[row] + f.layerOffset[base + column + 1];
    return {f.samples.begin() + begin, f.samples.begin() + end};
}

TEST(VoxelModel, GridSideColourAndDepthFollowTheFileRules) {
    EXPECT_EQ(VoxelGridSide(0.02f), 101);
    EXPECT_EQ(VoxelGridSide(2.0f), 2);
    EXPECT_EQ(VoxelGridSide(4.0f), 2);  // 2/4 + 1.5 = 2.0
    EXPECT_EQ(VoxelGridSide(4.1f), 1);
    EXPECT_EQ(VoxelGridSide(0.0f), 0);
    EXPECT_EQ(VoxelGridSide(-0.02f), 0);
    EXPECT_EQ(VoxelGridSide(std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(VoxelGridSide(std::numeric_limits<float>::infinity()), 0);
    EXPECT_EQ(VoxelGridSide(2.0f / 4094.5f), 4096);  // the largest side taken
    EXPECT_EQ(VoxelGridSide(2.0f / 4095.6f), 0);     // one more is refused
    EXPECT_EQ(VoxelColour(18, 52, 86), 1193046);
    EXPECT_FLOAT_EQ(VoxelDepthToZ(-1.0f), -4.0f);
    EXPECT_FLOAT_EQ(VoxelDepthToZ(0.0f), -1.0f);
    EXPECT_FLOAT_EQ(VoxelDepthToZ(1.0f), 0.0f);
    EXPECT_NEAR(VoxelZToDepth(VoxelDepthToZ(0.37f)), 0.37f, 1e-6f);
}

TEST(VoxelModel, ConvertsTheCentreCellInReverseOrderWithItsProgressLines) {
    TempDir dir;
    Converted c;
    convert(dir,
            voxelBytes(1, 0.02f, {{0, 0, {{-1.0f, 18, 52, 86}, {0.0f, 1, 2, 3}, {1.0f, 4, 5, 6}}}}),
            c);
    ASSERT_EQ(c.result, 1) << c.model.loadError();
    const VoxelFrame& f = c.model.current();
    EXPECT_EQ(f.width, 101);
    EXPECT_EQ(f.height, 101);
    ASSERT_EQ(f.samples.size(), 3u);
    const std::vector<VoxelSample> centre = cell(f, 50, 50);
    ASSERT_EQ(centre.size(), 3u);
    EXPECT_EQ(centre[0].z, 0.0f);  // file order -1, 0, 1 stored as z 0, -1, -4
    EXPECT_EQ(centre[1].z, -1.0f);
    EXPECT_EQ(centre[2].z, -4.0f);
    EXPECT_EQ(centre[2].colour, 1193046);
    EXPECT_EQ(centre[0].colour, 0x040506);
    EXPECT_EQ(f.rowStart[50], 0);
    EXPECT_EQ(f.rowStart[51], 3);
    EXPECT_EQ(f.rowStart[101], 3);
    const std::string path = dir.file("v.vox");
    EXPECT_EQ(c.debug, "------------------------\nConverting voxel file: " + path +
                           "\nnumber of lines in file: 1\npixel width: 0.020000\nresolution: "
                           "101\ntnp: 3\t total: 3\n------------------------\n");
    // The reference view: eye at the origin looking down -z, 90 degrees, cells on whole
    // coordinates; a point at distance 1 on the axis lands on the centre cell.
    const geometry::ViewCamera& view = f.view;
    EXPECT_EQ(view.dir.z, -1.0f);
    EXPECT_EQ(view.up.y, 1.0f);
    EXPECT_FLOAT_EQ(view.fov, 1.5707964f);
    const geometry::Vector4 p = geometry::transform(view.fullTransform(), {0, 0, -1, 1});
    EXPECT_NEAR(p.x / p.w, 50.0f, 1e-4f);
    EXPECT_NEAR(p.y / p.w, 50.0f, 1e-4f);
    EXPECT_NEAR(p.z / p.w, VoxelDepthToZ(0.0f), 2e-3f);
}

TEST(VoxelModel, RecordsLandInTheirOwnCellsInAnyOrder) {
    TempDir dir;
    // R = 3, c = 1: x is the row offset, y the column offset.
    const std::vector<Record> ordered = {{-1, -1, {{0.1f, 1, 0, 0}}},
                                         {-1, 1, {{0.2f, 2, 0, 0}, {0.3f, 3, 0, 0}}},
                                         {0, 0, {}},
                                         {1, 0, {{0.4f, 4, 0, 0}}}};
    std::vector<Record> shuffled = {ordered[3], ordered[1], ordered[2], ordered[0]};
    Converted a;
    Converted b;
    convert(dir, voxelBytes(4, 1.0f, ordered), a);
    convert(dir, voxelBytes(4, 1.0f, shuffled), b);
    ASSERT_EQ(a.result, 1);
    ASSERT_EQ(b.result, 1);
    for (const Converted* c : {&a, &b}) {
        const VoxelFrame& f = c->model.current();
        ASSERT_EQ(f.width, 3);
        EXPECT_EQ(cell(f, 0, 0).at(0).colour, 0x010000);
        ASSERT_EQ(cell(f, 0, 2).size(), 2u);
        EXPECT_EQ(cell(f, 0, 2)[0].colour, 0x030000);
        EXPECT_EQ(cell(f, 0, 2)[1].colour, 0x020000);
        EXPECT_EQ(cell(f, 2, 1).at(0).colour, 0x040000);
        EXPECT_TRUE(cell(f, 1, 1).empty());
        EXPECT_EQ(f.rowStart, (std::vector<std::int32_t>{0, 3, 3, 4}));
    }
    // Two records of one cell add up; out-of-grid records are skipped.
    Converted twice;
    convert(dir,
            voxelBytes(
                3, 1.0f,
                {{0, 0, {{0.1f, 1, 0, 0}}}, {2, 0, {{0.5f, 9, 9, 9}}}, {0, 0, {{0.2f, 2, 0, 0}}}}),
            twice);
    ASSERT_EQ(twice.result, 1);
    const VoxelFrame& f = twice.model.current();
    ASSERT_EQ(cell(f, 1, 1).size(), 2u);
    EXPECT_EQ(cell(f, 1, 1)[0].colour, 0x010000);
    EXPECT_EQ(cell(f, 1, 1)[1].colour, 0x020000);
    EXPECT_EQ(f.samples.size(), 2u);
    EXPECT_EQ(f.skippedRecords, 1);
}

TEST(VoxelModel, BadFilesAreRefusedWithOneLineAndAnEmptyFrame) {
    TempDir dir;
    const Sample s{0.0f, 1, 2, 3};
    std::vector<Sample> fullRow(32767, s);
    const struct {
        std::vector<std::uint8_t> bytes;
        const char* says;
    } cases[] = {
        {voxelBytes(0, 0.0f, {}), "pixel width"},
        {voxelBytes(0, -1.0f, {}), "pixel width"},
        {voxelBytes(0, std::numeric_limits<float>::quiet_NaN(), {}), "pixel width"},
        {voxelBytes(0, std::numeric_limits<float>::infinity(), {}), "pixel width"},
        {voxelBytes(0, 1e-6f, {}), "pixel width"},
        {voxelBytes(-1, 1.0f, {}), "negative line count"},
        {voxelBytes(1, 1.0f, {{0, 0, {}, -2}}), "negative sample count"},
        {voxelBytes(2, 1.0f, {{0, 0, {s}}}), "truncated"},
        {voxelBytes(1, 1.0f, {{0, 0, {s}, 2}}), "truncated"},
        {voxelBytes(1, 1.0f, {{0, 0, {s, s}, 1}}), "after the last"},
        {voxelBytes(1, 1.0f, {{0, 0, {s}, 0x7FFFFFFF}}), "truncated"},
        // One row over 32767 samples, in one cell or spread over two.
        {voxelBytes(2, 1.0f, {{0, 0, fullRow}, {0, 1, {s}}}), "more than 32767"},
        {voxelBytes(2, 1.0f, {{0, 0, fullRow}, {0, 0, {s}}}), "more than 32767"},
    };
    for (const auto& c : cases) {
        Converted out;
        // A model that held a frame before.
        convert(dir, voxelBytes(1, 1.0f, {{0, 0, {s}}}), out);
        ASSERT_EQ(out.result, 1);
        testing::writeBytes(dir.file("v.vox"), c.bytes);
        const platform::DebugCapture quiet;
        EXPECT_EQ(out.model.Open(dir.file("v.vox")), 0) << c.says;
        EXPECT_FALSE(out.model.loaded());
        EXPECT_NE(out.model.loadError().find(c.says), std::string::npos)
            << c.says << " -> " << out.model.loadError();
        EXPECT_NE(out.model.loadError().find(dir.file("v.vox")), std::string::npos);
        EXPECT_EQ(out.model.current().width, 0);
        EXPECT_TRUE(out.model.current().samples.empty());
        EXPECT_EQ(out.model.sampleCount(), 0);
    }
    // A full row is accepted.
    Converted full;
    convert(dir, voxelBytes(1, 1.0f, {{0, 0, fullRow}}), full);
    EXPECT_EQ(full.result, 1) << full.model.loadError();
    EXPECT_EQ(full.model.sampleCount(), 32767);
    // A missing file: the frame stays as it was.
    Converted kept;
    convert(dir, voxelBytes(1, 1.0f, {{0, 0, {s}}}), kept);
    const platform::DebugCapture quiet;
    EXPECT_EQ(kept.model.ConvertVoxelFile(dir.file("none.vox")), 0);
    EXPECT_EQ(kept.model.loadError(), "Cannot open " + dir.file("none.vox") + " for reading.");
    EXPECT_EQ(kept.model.current().samples.size(), 1u);
}

TEST(VoxelModel, EveryTruncationOfAValidFileIsRefused) {
    TempDir dir;
    const std::vector<std::uint8_t> bytes = voxelBytes(
        3, 0.5f,
        {{-1, 0, {{0.1f, 1, 2, 3}}}, {0, 0, {}}, {2, -2, {{0.2f, 4, 5, 6}, {0.3f, 7, 8, 9}}}});
    Converted whole;
    convert(dir, bytes, whole);
    ASSERT_EQ(whole.result, 1);
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        Converted cut;
        convert(dir, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + n), cut);
        EXPECT_EQ(cut.result, 0) << n;
        EXPECT_EQ(cut.model.sampleCount(), 0) << n;
    }
}

// Draws the model from a camera at pos looking down -z into a 64 x 64 frame.
imageutil::RgbImage draw(VoxelModel& model, const geometry::Vector3& pos, bool splat,
                         float fov = render::kDefaultFov) {
    const render::OutputView view = render::makeOutputView(pos, {0, 0, -1}, {0, 1, 0}, fov, 64, 64);
    imageutil::RgbImage frame = imageutil::RgbImage::createOwned(64, 64);
    const platform::FpModeGuard modes(true, true);
    model.DrawVoxels(view.warpMatrix, view.viewMatrix, view.camera, frame, splat);
    return frame;
}

TEST(VoxelModel, DrawsSamplesWhereTheReferenceViewPutsThemAndNeverOutsideTheFrame) {
    TempDir dir;
    // R = 101: offsets -50..50. A sample of depth 0 lies at distance 1.
    Converted c;
    convert(dir, voxelBytes(1, 0.02f, {{10, -20, {{0.0f, 255, 0, 0}}}}), c);
    ASSERT_EQ(c.result, 1);
    // From the reference eye with the reference field (90 degrees) and a frame as wide as the
    // grid is not possible here (64 < 101): use the geometry instead. The cell (row 60,
    // column 30) is on the ray through ((2 * 30 + 1) / 101 - 1, (2 * 60 + 1) / 101 - 1).
    const float nx = (2.0f * 30 + 1) / 101 - 1;
    const float ny = (2.0f * 60 + 1) / 101 - 1;
    // Seen from (0, 0, 0) with fov 90 into 64 x 64: pixel (nx + 1) * 32 - 0.5.
    imageutil::RgbImage frame = draw(c.model, {0, 0, 0}, false, 1.5707964f);
    const auto col = static_cast<std::int32_t>(std::lround((nx + 1) * 32 - 0.5f));
    const auto row = static_cast<std::int32_t>(std::lround((ny + 1) * 32 - 0.5f));
    int hits = 0;
    for (std::int32_t y = 0; y < 64; ++y) {
        for (std::int32_t x = 0; x < 64; ++x) {
            if (frame.pixels[y * 64 + x] != 0) {
                ++hits;
                EXPECT_LE(std::abs(x - col), 1) << x << "," << y;
                EXPECT_LE(std::abs(y - row), 1) << x << "," << y;
            }
        }
    }
    EXPECT_EQ(hits, 1);
    EXPECT_EQ(c.model.samplesVisited, 1);

    // A dense wall of samples seen from close by with big splats: with a guard frame around
    // the picture, nothing outside the picture is touched.
    std::vector<Record> wall;
    for (std::int32_t x = -50; x <= 50; ++x) {
        for (std::int32_t y = -50; y <= 50; ++y) {
            wall.push_back({x, y, {{-0.9f, 0, 255, 0}}});
        }
    }
    Converted w;
    convert(dir, voxelBytes(static_cast<std::int32_t>(wall.size()), 0.02f, wall), w);
    ASSERT_EQ(w.result, 1);
    // Camera positions stepped over one cell spacing, so that some samples fall just inside
    // the guard band's edge (a position of 2.5 .. 3 truncates to 2).
    std::vector<geometry::Vector3> eyes = {{0, 0, -0.3f}, {0, 0, 0.2f}};
    for (int k = 0; k < 12; ++k) {
        const float step = 0.00075f * static_cast<float>(k);
        eyes.push_back({step, step, 0.0f});
    }
    for (const geometry::Vector3& eye : eyes) {
        const std::int32_t guard = 8;
        std::vector<std::uint32_t> words(static_cast<std::size_t>((64 + 2 * guard) * 64),
                                         0xABCDEFu);
        imageutil::RgbImage inner = imageutil::RgbImage::wrap(64, 64, 4, words.data() + guard * 64);
        const render::OutputView view =
            render::makeOutputView(eye, {0, 0, -1}, {0, 1, 0}, render::kDefaultFov, 64, 64);
        const platform::FpModeGuard modes(true, true);
        w.model.DrawVoxels(view.warpMatrix, view.viewMatrix, view.camera, inner, true);
        for (std::int32_t i = 0; i < guard * 64; ++i) {
            ASSERT_EQ(words[static_cast<std::size_t>(i)], 0xABCDEFu) << eye.x;
            ASSERT_EQ(words[words.size() - 1 - static_cast<std::size_t>(i)], 0xABCDEFu) << eye.x;
        }
        // Column -1 of a row is the last pixel of the row below: the last column, rows 0..62,
        // is never written (no sample is centred past column 58).
        for (std::int32_t y = 0; y < 64; ++y) {
            ASSERT_EQ(inner.pixels[y * 64 + 63], 0xABCDEFu) << y << " " << eye.x;
        }
        int written = 0;
        for (std::int32_t i = 0; i < 64 * 64; ++i) {
            written += inner.pixels[i] != 0xABCDEFu ? 1 : 0;
        }
        EXPECT_GT(written, 50 * 50) << eye.x;
    }
    // Every draw counts what it stepped over (the visible part of the grid), never reset.
    EXPECT_GT(w.model.samplesVisited, 14 * 40 * 40);
}

}  // namespace
}  // namespace strata::ldi
