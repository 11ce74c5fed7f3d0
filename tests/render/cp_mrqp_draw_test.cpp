// The CP and MRQP warp kernels on synthetic LDIs: occlusion order without a depth buffer, the
// mask blocks written out by hand, colour order across skipped samples, size boundaries, the
// fixed sizes and the false colours.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "geometry/depth.h"
#include "imageutil/rgb_image.h"
#include "ldi/draw_common.h"
#include "platform/fp_mode.h"
#include "render/footprint.h"
#include "render/output_view.h"
#include "render/synthetic_ldi.h"

namespace strata::render {
namespace {

using testing::SyntheticCamera;
using testing::SyntheticMrqpSample;
using testing::SyntheticSample;

constexpr std::uint32_t kBackground = 0x80808080u;

ldi::FrameSettings singlePixels() {
    ldi::FrameSettings s;
    s.highQualitySplats = false;  // the blended footprints
    s.useSplat = false;
    s.useDepthCorrection = false;
    return s;
}

// ---- Occlusion ------------------------------------------------------------------------------

// A red square at distance 3 in front of a blue wall at distance 12, seen from a 60 degree
// camera; the square covers the middle third of the grid.
constexpr int kGrid = 96;
bool inSquare(int r, int c) {
    return r >= kGrid / 3 && r < 2 * kGrid / 3 && c >= kGrid / 3 && c < 2 * kGrid / 3;
}

// Nearest-sample picture computed independently in double precision; 0 where nothing lands.
std::vector<std::uint32_t> zBufferTruth(const SyntheticCamera& cam, const OutputView& view,
                                        int outSize) {
    std::vector<std::uint32_t> colour(static_cast<std::size_t>(outSize * outSize), 0);
    std::vector<double> nearest(colour.size(), 1e30);
    const geometry::Vector3 side = geometry::normalized(geometry::cross(cam.dir, cam.up));
    const double t = std::tan(static_cast<double>(cam.fov) * 0.5);
    const geometry::Matrix4& m = view.warpMatrix;
    for (int r = 0; r < kGrid; ++r) {
        for (int c = 0; c < kGrid; ++c) {
            const double u = ((c + 0.5) / kGrid * 2.0 - 1.0) * t;
            const double v = ((r + 0.5) / kGrid * 2.0 - 1.0) * t;
            for (int layer = 0; layer < (inSquare(r, c) ? 2 : 1); ++layer) {
                const double d = layer == 0 ? 12.0 : 3.0;
                const double p[3] = {cam.pos.x + d * (cam.dir.x + u * side.x + v * cam.up.x),
                                     cam.pos.y + d * (cam.dir.y + u * side.y + v * cam.up.y),
                                     cam.pos.z + d * (cam.dir.z + u * side.z + v * cam.up.z)};
                double h[4];
                for (int i = 0; i < 4; ++i) {
                    h[i] = m(i, 0) * p[0] + m(i, 1) * p[1] + m(i, 2) * p[2] + m(i, 3);
                }
                if (h[3] <= 0.0) {
                    continue;
                }
                const int X = static_cast<int>(std::floor(h[0] / h[3] + 0.5));
                const int Y = static_cast<int>(std::floor(h[1] / h[3] + 0.5));
                if (X < 0 || Y < 0 || X >= outSize || Y >= outSize) {
                    continue;
                }
                const auto i = static_cast<std::size_t>(Y * outSize + X);
                if (h[3] < nearest[i]) {
                    nearest[i] = h[3];
                    colour[i] = layer == 0 ? 0x0000FFu : 0xFF0000u;
                }
            }
        }
    }
    return colour;
}

// Surface colours whose channels survive the footprints' half and quarter blends unchanged.
constexpr std::uint32_t kRed = 0xFC0000u;
constexpr std::uint32_t kBlue = 0x0000FCu;

// The eight camera moves of the QP occlusion test: pixels whose 3 x 3 truth neighbourhood is all
// red (the near square) must show the square's colour.
template <class DrawFn>
void checkOcclusion(const SyntheticCamera& cam, DrawFn draw, const char* what) {
    const int out = 64;  // minified: every output pixel of a surface receives a sample
    struct Move {
        geometry::Vector3 eye;
        bool lookAtScene = false;
    };
    const Move moves[] = {
        {{-0.6f, 0.0f, 0.0f}},       {{0.6f, 0.0f, 0.0f}},        {{0.0f, 0.6f, 0.0f}},
        {{0.0f, -0.6f, 0.0f}},       {{0.0f, 0.0f, -1.0f}},       {{0.2f, 0.1f, 2.0f}},
        {{4.0f, 0.0f, -1.0f}, true}, {{-4.0f, 1.0f, 1.0f}, true},
    };
    for (const Move& move : moves) {
        geometry::Vector3 dir = cam.dir;
        geometry::Vector3 up = cam.up;
        if (move.lookAtScene) {
            dir = geometry::normalized(geometry::Vector3{0.0f, 0.0f, -3.0f} - move.eye);
            up = geometry::normalized(up - geometry::dot(up, dir) * dir);
        }
        const OutputView view = makeOutputView(move.eye, dir, up, cam.fov, out, out);
        imageutil::RgbImage frame = imageutil::RgbImage::createOwned(out, out);
        draw(view, frame);
        const std::vector<std::uint32_t> truth = zBufferTruth(cam, view, out);
        int checked = 0;
        int wrong = 0;
        for (int y = 4; y < out - 4; ++y) {
            for (int x = 4; x < out - 4; ++x) {
                bool allRed = true;
                for (int dy = -1; dy <= 1; ++dy) {
                    for (int dx = -1; dx <= 1; ++dx) {
                        allRed =
                            allRed &&
                            truth[static_cast<std::size_t>((y + dy) * out + x + dx)] == 0xFF0000u;
                    }
                }
                if (allRed) {
                    ++checked;
                    wrong += (frame.pixels[y * out + x] & 0xFFFFFFu) != kRed;
                }
            }
        }
        EXPECT_GT(checked, 60) << what << " " << move.eye.x << "," << move.eye.y << ","
                               << move.eye.z;
        EXPECT_EQ(wrong, 0) << what << " " << move.eye.x << "," << move.eye.y << "," << move.eye.z
                            << ": " << wrong << " of " << checked;
    }
}

TEST(CpMrqpDraw, NearerSurfaceWinsWithoutADepthBuffer) {
    SyntheticCamera cam;
    cam.fov = 1.0471976f;  // 60 degrees
    auto cp = testing::makeSyntheticCp(cam, kGrid, kGrid, [](int r, int c, auto& out) {
        out.push_back({12.0f, kBlue, 0, 0});
        if (inSquare(r, c)) {
            out.push_back({3.0f, kRed, 0, 0});
        }
    });
    ASSERT_NE(cp, nullptr);
    // Every sub-cell of a sample has the sample's colour, so any block shows the right surface.
    auto mrqp = testing::makeSyntheticMrqp(cam, kGrid, kGrid, [](int r, int c, auto& out) {
        out.push_back({{12.0f, kBlue, 34, 0},
                       0xFFFF,
                       0xF,
                       std::vector<std::uint32_t>(16, kBlue),
                       std::vector<std::uint32_t>(4, kBlue)});
        if (inSquare(r, c)) {
            out.push_back({{3.0f, kRed, 34, 0},
                           0xFFFF,
                           0xF,
                           std::vector<std::uint32_t>(16, kRed),
                           std::vector<std::uint32_t>(4, kRed)});
        }
    });
    ASSERT_NE(mrqp, nullptr);
    for (const bool splat : {false, true}) {
        ldi::FrameSettings s = singlePixels();
        s.useSplat = splat;
        s.background = 0;
        checkOcclusion(
            cam,
            [&](const OutputView& view, imageutil::RgbImage& frame) {
                ldi::DrawFrame(*cp, s, view, frame);
            },
            splat ? "CP splats" : "CP single pixels");
    }
    // Both size paths; minified, every sample is under one pixel and drawn in its full colour.
    for (const int accurate : {0, 1}) {
        ldi::FrameSettings s = singlePixels();
        s.useSplat = true;
        s.sizeAccurate = accurate;
        s.background = 0;
        checkOcclusion(
            cam,
            [&](const OutputView& view, imageutil::RgbImage& frame) {
                ldi::DrawFrame(*mrqp, s, view, frame);
            },
            accurate != 0 ? "MRQP accurate" : "MRQP table");
    }
}

// ---- Hand-made warps ------------------------------------------------------------------------

// Makes the LDI's reference transform exactly the identity, so a hand-made warp matrix is the
// warp transform itself.
template <class Ldi>
void makeIdentity(Ldi& ldi) {
    ldi.header.view.viewport = geometry::Matrix4::identity();
    ldi.header.view.projection = geometry::Matrix4::identity();
    ldi.header.view.pos = {0, 0, 0};
}

// Warp matrix: output x = column + 0.5 + dx, y = row + 0.5 + dy, w = 1, zOut = -1.
geometry::Matrix4 shiftWarp(float dx, float dy) {
    geometry::Matrix4 m = geometry::translation(dx, dy, -1.0f);
    m(2, 2) = 0.0f;
    return m;
}

struct Canvas {
    explicit Canvas(int w, int h) : image(imageutil::RgbImage::createOwned(w, h)) {
        std::fill_n(image.pixels, w * h, kBackground);
    }
    std::uint32_t at(int x, int y) const { return image.pixels[y * image.width + x]; }
    int changed() const {
        return static_cast<int>(std::count_if(image.pixels,
                                              image.pixels + image.width * image.height,
                                              [](std::uint32_t p) { return p != kBackground; }));
    }
    imageutil::RgbImage image;
};

ldi::LdiDrawStats drawRaw(ldi::LdiBase& ldi, const geometry::Matrix4& warp, Canvas& canvas,
                          const ldi::FrameSettings& settings) {
    ldi::ApplyFrameSettings(ldi, settings);
    ldi.options.frustumClipper = 0;
    geometry::ViewCamera out = ldi.header.view;
    out.near = 0.1f;
    out.far = 10000.0f;
    const platform::FpModeGuard modes(settings.useTrunc, true);
    return ldi.Draw(warp, geometry::Matrix4::identity(), out, canvas.image, nullptr,
                    {0, ldi.width()}, {0, ldi.height()});
}

// Colours 'A', 'B', ... as pixel words, for the hand-written blocks below.
std::uint32_t letter(char c) {
    return 0x010000u * static_cast<std::uint32_t>(c);
}

// An asymmetric 4 x 4 mask: bits 0, 1 (sub-row 0), 6 (row 1, column 2), 11 (row 2, column 3),
// 12, 15 (row 3), with colours A..F in bit order; the 2 x 2 mask bits 0 and 3 with G, H.
constexpr std::uint32_t kMask4 =
    (1u << 0) | (1u << 1) | (1u << 6) | (1u << 11) | (1u << 12) | (1u << 15);
constexpr std::uint32_t kMask2 = (1u << 0) | (1u << 3);

SyntheticMrqpSample maskSample(int sizeClass, int normal = 34, float distance = 5.0f) {
    SyntheticMrqpSample m;
    m.sample = {distance, letter('Z'), normal, sizeClass};
    m.mask4 = kMask4;
    m.mask2 = kMask2;
    for (char c = 'A'; c <= 'F'; ++c) {
        m.colours4.push_back(letter(c));
    }
    m.colours2 = {letter('G'), letter('H')};
    return m;
}

// A 16 x 16 MRQP LDI with the identity reference transform; pixel (7, 7) holds `samples`.
// Class 0 has mean `size` (bins size - 1 .. size + 1), so with S = 1 and zOut = -1 the table
// size of a class-0 sample is exactly `size`.
std::unique_ptr<ldi::LdiRtMrqp> maskLdi(const std::vector<SyntheticMrqpSample>& samples,
                                        float size) {
    SyntheticCamera cam;
    auto ldi = testing::makeSyntheticMrqp(cam, 16, 16, [&](int r, int c, auto& out) {
        if (r == 7 && c == 7) {
            out = samples;
        }
    });
    makeIdentity(*ldi);
    ldi->header.bins[0] = size - 1.0f;
    ldi->header.bins[1] = size + 1.0f;
    ldi->header.binCount = 1;
    ldi->BuildBinValues();
    return ldi;
}

// The expected picture: rows listed from the top (highest y) down, '.' untouched, starting at
// column x0 and top row yTop.
void expectBlock(const Canvas& canvas, int x0, int yTop, const std::vector<std::string>& rows,
                 const std::string& what) {
    int expectedChanged = 0;
    for (std::size_t j = 0; j < rows.size(); ++j) {
        for (std::size_t i = 0; i < rows[j].size(); ++i) {
            const int x = x0 + static_cast<int>(i);
            const int y = yTop - static_cast<int>(j);
            const char c = rows[j][i];
            const std::uint32_t want = c == '.' ? kBackground : letter(c);
            expectedChanged += c != '.';
            EXPECT_EQ(canvas.at(x, y), want) << what << " at " << x << "," << y;
        }
    }
    EXPECT_EQ(canvas.changed(), expectedChanged) << what;
}

TEST(CpMrqpDraw, MaskBlocksByHand) {
    // shiftWarp(dx, dy) puts the sample of pixel (7, 7) at sx = 7.5 + dx: the frame's pixel
    // centres lie on whole numbers, so 7.5 is the corner between pixels 7 and 8.
    struct Case {
        float size;
        float dx, dy;
        int x0, yTop;
        std::vector<std::string> rows;
        const char* what;
    };
    const std::vector<Case> cases = {
        {0.5f, 0.0f, 0.0f, 8, 8, {"Z"}, "under one pixel: the full colour"},
        {1.0f, 0.0f, 0.0f, 7, 8, {".H", "G."}, "exactly 1: the 2 x 2 mask"},
        {1.999f, 0.2f, -0.2f, 7, 8, {".H", "G."}, "below 2, off the corner: still the 2 x 2"},
        {2.0f, 0.0f, 0.0f, 6, 9, {"E..F", "...D", "..C.", "AB.."}, "exactly 2: the 4 x 4"},
        {3.499f, 0.0f, 0.0f, 6, 9, {"E..F", "...D", "..C.", "AB.."}, "below 3.5: the 4 x 4"},
        // Fractions below one half: the last sub-column and sub-row are doubled.
        {3.5f,
         0.0f,
         0.0f,
         6,
         10,
         {"E..FF", "E..FF", "...DD", "..C..", "AB..."},
         "exactly 3.5: 5 x 5, last doubled"},
        // Fractions of one half: the first ones are doubled and the block starts one earlier.
        {4.0f,
         0.5f,
         0.5f,
         6,
         10,
         {"EE..F", "....D", "...C.", "AAB..", "AAB.."},
         "5 x 5, first doubled"},
        {4.0f,
         0.5f,
         0.0f,
         6,
         10,
         {"EE..F", "EE..F", "....D", "...C.", "AAB.."},
         "5 x 5, first column and last row doubled"},
        {4.0f,
         0.0f,
         0.5f,
         6,
         10,
         {"E..FF", "...DD", "..C..", "AB...", "AB..."},
         "5 x 5, last column and first row doubled"},
        {4.5f,
         0.0f,
         0.0f,
         5,
         10,
         {"EE..FF", "EE..FF", "....DD", "...C..", "AAB...", "AAB..."},
         "exactly 4.5: 6 x 6, outer doubled"},
    };
    for (const Case& c : cases) {
        auto ldi = maskLdi({maskSample(0)}, c.size);
        ldi::FrameSettings s = singlePixels();
        s.useSplat = true;
        s.sizeAccurate = 0;
        Canvas canvas(16, 16);
        const ldi::LdiDrawStats stats = drawRaw(*ldi, shiftWarp(c.dx, c.dy), canvas, s);
        EXPECT_EQ(stats.written, 1) << c.what;
        expectBlock(canvas, c.x0, c.yTop, c.rows, c.what);
    }
}

TEST(CpMrqpDraw, FullMaskBlocksByHand) {
    // Every sub-cell set (the common case inside surfaces): the 4 x 4 colours a..p in bit order,
    // the 2 x 2 colours G..J.
    SyntheticMrqpSample m = maskSample(0);
    m.mask4 = 0xFFFF;
    m.mask2 = 0xF;
    m.colours4.clear();
    for (char c = 'a'; c <= 'p'; ++c) {
        m.colours4.push_back(letter(c));
    }
    m.colours2 = {letter('G'), letter('H'), letter('I'), letter('J')};
    struct Case {
        float size;
        float dx, dy;
        int x0, yTop;
        std::vector<std::string> rows;
    };
    const Case cases[] = {
        {1.0f, 0.0f, 0.0f, 7, 8, {"IJ", "GH"}},
        {2.0f, 0.0f, 0.0f, 6, 9, {"mnop", "ijkl", "efgh", "abcd"}},
        {3.5f, 0.0f, 0.0f, 6, 10, {"mnopp", "mnopp", "ijkll", "efghh", "abcdd"}},
        {3.5f, 0.5f, 0.5f, 6, 10, {"mmnop", "iijkl", "eefgh", "aabcd", "aabcd"}},
        {4.5f, 0.0f, 0.0f, 5, 10, {"mmnopp", "mmnopp", "iijkll", "eefghh", "aabcdd", "aabcdd"}},
    };
    for (const Case& c : cases) {
        auto ldi = maskLdi({m}, c.size);
        ldi::FrameSettings s = singlePixels();
        s.useSplat = true;
        s.sizeAccurate = 0;
        Canvas canvas(16, 16);
        drawRaw(*ldi, shiftWarp(c.dx, c.dy), canvas, s);
        expectBlock(canvas, c.x0, c.yTop, c.rows, "full mask, size " + std::to_string(c.size));
    }
}

TEST(CpMrqpDraw, MrqpFixedSizes) {
    // Splatting off: size 3.9, the 4 x 4 mask stretched to 5 x 5 (fractions below one half).
    auto ldi = maskLdi({maskSample(0)}, 0.5f);
    Canvas off(16, 16);
    drawRaw(*ldi, shiftWarp(0.0f, 0.0f), off, singlePixels());
    expectBlock(off, 6, 10, {"E..FF", "E..FF", "...DD", "..C..", "AB..."}, "splatting off");

    // Bit 31 of the depth word with table sizes: size 1, the 2 x 2 mask (false colour: one
    // pixel). The class's own size (4.5) is not used.
    SyntheticMrqpSample flagged = maskSample(0);
    flagged.bit31 = true;
    auto marked = maskLdi({flagged}, 4.5f);
    ldi::FrameSettings s = singlePixels();
    s.useSplat = true;
    s.sizeAccurate = 0;
    Canvas table(16, 16);
    drawRaw(*marked, shiftWarp(0.0f, 0.0f), table, s);
    expectBlock(table, 7, 8, {".H", "G."}, "bit 31");
    // The depth correction (every divisor above 1 off the frame's centre lines) does not shrink
    // the fixed size to one pixel.
    s.useDepthCorrection = true;
    Canvas corrected(16, 16);
    drawRaw(*marked, shiftWarp(0.0f, 0.0f), corrected, s);
    expectBlock(corrected, 7, 8, {".H", "G."}, "bit 31, depth correction on");
    // Without bit 31, the same class is drawn at its own size, corrected: the 6 x 6 mask.
    auto unmarked = maskLdi({maskSample(0)}, 4.7f);
    Canvas sized(16, 16);
    drawRaw(*unmarked, shiftWarp(0.0f, 0.0f), sized, s);
    EXPECT_GT(sized.changed(), 6);
    s.useDepthCorrection = false;
    s.useFalseColor = true;
    s.falseColorMode = 5;
    Canvas shown(16, 16);
    drawRaw(*marked, shiftWarp(0.0f, 0.0f), shown, s);
    EXPECT_EQ(shown.changed(), 1);
    EXPECT_EQ(shown.at(8, 8), 0xFFFFFFu);
}

TEST(CpMrqpDraw, ColourIndicesStayAlignedPastSkippedSamples) {
    // Pixel (7, 7) holds three layers with different colours: a far one (distance 100, depth
    // +1), a back-facing one (normal 23 points away from the camera) and the front one. The
    // skipped layers' masks still advance the colour indices.
    SyntheticMrqpSample far = maskSample(0, 34, 100.0f);
    far.colours4.assign(6, letter('X'));
    far.colours2.assign(2, letter('X'));
    SyntheticMrqpSample back = maskSample(0, 23, 1.0f);
    back.mask4 = 0x00FF;  // a different count of bits
    back.mask2 = 0x1;
    back.colours4.assign(8, letter('Y'));
    back.colours2.assign(1, letter('Y'));
    const SyntheticMrqpSample front = maskSample(0, 34, 1.0f);
    for (const float size : {1.0f, 2.0f}) {
        auto ldi = maskLdi({far, back, front}, size);
        ldi::FrameSettings s = singlePixels();
        s.useSplat = true;
        s.sizeAccurate = 0;
        s.backfaceCulling = true;
        const std::vector<std::string> expected =
            size < 2.0f ? std::vector<std::string>{".H", "G."}
                        : std::vector<std::string>{"E..F", "...D", "..C.", "AB.."};
        const int x0 = size < 2.0f ? 7 : 6;
        const int yTop = size < 2.0f ? 8 : 9;
        // The far layer off the frame: x moves by 20 per unit of depth above -1.
        geometry::Matrix4 sideways = shiftWarp(20.0f, 0.0f);
        sideways(0, 2) = 20.0f;
        Canvas canvas(16, 16);
        ldi::LdiDrawStats stats = drawRaw(*ldi, sideways, canvas, s);
        EXPECT_EQ(stats.visited, 3);
        EXPECT_EQ(stats.inside, 2);
        EXPECT_EQ(stats.written, 1);
        expectBlock(canvas, x0, yTop, expected, "far layer off the frame");
        // The far layer behind the output eye: w = 1 - 0.75 (z + 1) is negative at z = +1, and
        // such a sample is not counted as visited.
        geometry::Matrix4 behind = shiftWarp(0.0f, 0.0f);
        behind(3, 2) = -0.75f;
        behind(3, 3) = 0.25f;
        Canvas second(16, 16);
        stats = drawRaw(*ldi, behind, second, s);
        EXPECT_EQ(stats.visited, 2);
        EXPECT_EQ(stats.written, 1);
        expectBlock(second, x0, yTop, expected, "far layer behind the eye");
    }
}

TEST(CpMrqpDraw, MrqpFalseColours) {
    // Single pixels: class 0 has mean 0.5, normal 34 faces the camera, zOut = -1.
    auto ldi = maskLdi({maskSample(0)}, 0.5f);
    const std::uint32_t v = ldi->pixels[0];
    struct Case {
        int mode;
        std::uint32_t colour;
    };
    const Case cases[] = {
        {1, (255 - ((v & 0xFFFFFu) >> 12)) * 0x010101u},
        {2, 25u * 0x010101u},  // 255 (1 - 1/far) / (1/near - 1/far) at distance 1
        {3, 0x000000u},        // facing the output eye
        {4, 0x0000FEu},        // normal 34 = (-0.03, -0.10, 0.994): blue 253.5 rounded
        {5, 0xFFFFFFu},        // size under 1
        {6, 0xFFFFFFu},
        {7, 0x080000u},    // sqrt(1) x binValue 0.5 x zOut -1 x -15 = 7.5, rounded
        {0, letter('Z')},  // no colour rule: the full colour
        {9, letter('Z')},
    };
    for (const Case& c : cases) {
        ldi::FrameSettings s = singlePixels();
        s.useSplat = true;
        s.sizeAccurate = c.mode == 6 ? 1 : 0;
        s.useFalseColor = true;
        s.falseColorMode = c.mode;
        Canvas canvas(16, 16);
        drawRaw(*ldi, shiftWarp(0.0f, 0.0f), canvas, s);
        EXPECT_EQ(canvas.at(8, 8), c.colour) << "mode " << c.mode;
        EXPECT_EQ(canvas.changed(), 1) << "mode " << c.mode;
    }
    // Mode 3 shows a surface facing away in white.
    auto away = maskLdi({maskSample(0, 23)}, 0.5f);
    ldi::FrameSettings s = singlePixels();
    s.useSplat = true;
    s.useFalseColor = true;
    s.falseColorMode = 3;
    Canvas canvas(16, 16);
    drawRaw(*away, shiftWarp(0.0f, 0.0f), canvas, s);
    EXPECT_EQ(canvas.at(8, 8), 0xFFFFFFu);
}

TEST(CpMrqpDraw, MrqpFalseColourSizesAndShapes) {
    // Full masks, so the block shapes count their pixels: sizes below 2 fill the 2 x 2 block
    // whatever its mask; then the 4 x 4 mask shape up to 4, 5 x 5 up to 5, 6 x 6 above.
    struct Case {
        float size;
        std::uint32_t colour;
        int pixels;
    };
    const Case cases[] = {
        {0.5f, 0xFFFFFFu, 1},   {1.5f, 0xFFFF00u, 4},   {2.5f, 0x0000FFu, 16},
        {3.25f, 0xD8811Au, 16}, {3.75f, 0xFF00FFu, 16}, {4.5f, 0xFF0000u, 25},
        {5.5f, 0x00FF00u, 36},  {6.5f, 0xD8811Au, 36},  {7.5f, 0x7F9FEFu, 36},
    };
    for (const Case& c : cases) {
        SyntheticMrqpSample m = maskSample(0);
        m.mask4 = 0xFFFF;
        m.mask2 = 0;
        m.colours2.clear();
        auto ldi = maskLdi({m}, c.size);
        ldi::FrameSettings s = singlePixels();
        s.useSplat = true;
        s.sizeAccurate = 0;
        s.useFalseColor = true;
        s.falseColorMode = 5;
        Canvas canvas(16, 16);
        drawRaw(*ldi, shiftWarp(0.0f, 0.0f), canvas, s);
        EXPECT_EQ(canvas.changed(), c.pixels) << "size " << c.size;
        EXPECT_EQ(canvas.at(8, 8), c.colour) << "size " << c.size;
    }
}

TEST(CpMrqpDraw, MrqpSizePathsAgreeAndArePositive) {
    // A wall facing a 60 degree camera at distance 10, class chosen by the maker's rule (the
    // class mean just under the depth): from 10 / 1.5 away both size paths give about 1.5, the
    // 2 x 2 mask (false colour yellow), nearly everywhere.
    SyntheticCamera cam;
    cam.fov = 1.0471976f;
    const int n = 64;
    auto ldi = testing::makeSyntheticMrqp(cam, n, n, [](int, int, auto& out) {
        SyntheticMrqpSample m;
        m.sample = {10.0f, 0x00FF00u, 18, 9};  // class 9: mean 9.5; normal 18 ~ +z
        m.mask4 = 0xFFFF;
        m.colours4.assign(16, 0x00FF00u);
        out.push_back(m);
    });
    ASSERT_NE(ldi, nullptr);
    const OutputView view =
        makeOutputView({0.0f, 0.0f, -10.0f + 10.0f / 1.5f}, cam.dir, cam.up, cam.fov, n, n);
    for (const int accurate : {0, 1}) {
        ldi::FrameSettings s = singlePixels();
        s.useSplat = true;
        s.sizeAccurate = accurate;
        s.useFalseColor = true;
        s.falseColorMode = 6;
        s.background = 0;
        imageutil::RgbImage frame = imageutil::RgbImage::createOwned(n, n);
        ldi::DrawFrame(*ldi, s, view, frame);
        int yellow = 0;
        int drawn = 0;
        for (int i = 0; i < n * n; ++i) {
            drawn += frame.pixels[i] != 0;
            yellow += frame.pixels[i] == 0xFFFF00u;
        }
        EXPECT_GT(drawn, n * n / 2) << accurate;
        EXPECT_GT(yellow, drawn * 9 / 10) << "accurate " << accurate;
    }
}

// A CP and an MRQP LDI with the identity reference transform holding one sample per pixel of
// the given colour, each drawn as a single pixel with pairSettings (CP without splatting, MRQP
// splatted with class 0, size 0.5).
struct KindPair {
    std::unique_ptr<ldi::LdiRtCp> cp;
    std::unique_ptr<ldi::LdiRtMrqp> mrqp;

    std::vector<ldi::LdiBase*> both() const { return {cp.get(), mrqp.get()}; }
    ldi::FrameSettings settings(const ldi::LdiBase* object) const {
        ldi::FrameSettings s = singlePixels();
        s.useSplat = object == mrqp.get();
        return s;
    }
    const char* name(const ldi::LdiBase* object) const {
        return object == mrqp.get() ? "MRQP" : "CP";
    }
};

template <class ColourFn>
KindPair singleSamplePair(int width, int height, ColourFn colourOf) {
    SyntheticCamera cam;
    KindPair pair;
    pair.cp = testing::makeSyntheticCp(cam, width, height, [&](int r, int c, auto& out) {
        out.push_back({5.0f, colourOf(r, c), 0, 0});
    });
    pair.mrqp = testing::makeSyntheticMrqp(cam, width, height, [&](int r, int c, auto& out) {
        out.push_back({{5.0f, colourOf(r, c), 34, 0}, 0, 0, {}, {}});
    });
    makeIdentity(*pair.cp);
    makeIdentity(*pair.mrqp);
    return pair;
}

TEST(CpMrqpDraw, GuardBandDropsSamplesOnItsEdgesExactly) {
    // One row of 32 pixels into a 32 x 32 frame. shiftWarp(2, 10) puts column c at x = c + 2.5:
    // column 0 sits exactly on 2.5 w and is dropped, columns 1 .. 23 are drawn (x < 26).
    // shiftWarp(2.5, 10) puts column 23 exactly on (W - 6) w = 26: columns 0 .. 22 are drawn.
    const KindPair pair = singleSamplePair(32, 1, [](int, int) { return 0x10u; });
    for (ldi::LdiBase* object : pair.both()) {
        const ldi::FrameSettings s = pair.settings(object);
        Canvas low(32, 32);
        EXPECT_EQ(drawRaw(*object, shiftWarp(2.0f, 10.0f), low, s).written, 23);
        EXPECT_EQ(low.at(3, 11), kBackground);  // column 0 would be X 3
        EXPECT_NE(low.at(4, 11), kBackground);
        EXPECT_NE(low.at(26, 11), kBackground);
        Canvas high(32, 32);
        EXPECT_EQ(drawRaw(*object, shiftWarp(2.5f, 10.0f), high, s).written, 23);
        EXPECT_NE(high.at(3, 11), kBackground);
        EXPECT_NE(high.at(25, 11), kBackground);
        EXPECT_EQ(high.at(26, 11), kBackground);  // column 23 dropped
    }
}

TEST(CpMrqpDraw, TraversalVariantsAndScanlineCulling) {
    // A 12 x 12 grid of unique single-pixel samples, column c, row r drawn at x = c + 5,
    // y = r + 5.
    const int n = 12;
    auto colourOf = [](int r, int c) { return static_cast<std::uint32_t>(r * 64 + c + 1); };
    const KindPair pair = singleSamplePair(n, n, colourOf);
    for (ldi::LdiBase* object : pair.both()) {
        ldi::FrameSettings s = pair.settings(object);
        const char* what = pair.name(object);
        // The lower and upper halves cover every pixel exactly once between them.
        s.lowerHalfOnly = true;
        Canvas lower(24, 24);
        const int a = drawRaw(*object, shiftWarp(4.0f, 4.0f), lower, s).visited;
        s.lowerHalfOnly = false;
        s.upperHalfOnly = true;
        Canvas upper(24, 24);
        const int b = drawRaw(*object, shiftWarp(4.0f, 4.0f), upper, s).visited;
        EXPECT_EQ(a + b, n * n) << what;
        for (int r = 0; r < n; ++r) {
            for (int c = 0; c < n; ++c) {
                const bool inLower = lower.at(c + 5, r + 5) != kBackground;
                EXPECT_NE(inLower, upper.at(c + 5, r + 5) != kBackground) << what;
                EXPECT_EQ(inLower, c + r <= n - 1) << what << " " << r << "," << c;
            }
        }
        // Both flags: the lower half, then the upper half.
        s.lowerHalfOnly = true;
        Canvas both(24, 24);
        EXPECT_EQ(drawRaw(*object, shiftWarp(4.0f, 4.0f), both, s).visited, n * n) << what;
        // Bench rows: every row shows the samples of the middle row.
        s = pair.settings(object);
        s.benchFlag = true;
        Canvas bench(24, 24);
        drawRaw(*object, shiftWarp(4.0f, 4.0f), bench, s);
        for (int r = 0; r < n; ++r) {
            for (int c = 0; c < n; ++c) {
                EXPECT_EQ(bench.at(c + 5, r + 5) & 0xFFFFFFu, colourOf(n / 2, c)) << what;
            }
        }
        // Scanline culling skips the rows that land off the frame (y = r + 20.5 in a 28-row
        // frame: rows 8 .. 11 lie above it; rows 0 and 1 pass the guard band) and changes
        // nothing else.
        s = pair.settings(object);
        Canvas plain(28, 28);
        const ldi::LdiDrawStats all = drawRaw(*object, shiftWarp(4.0f, 20.0f), plain, s);
        s.scanlineCulling = true;
        Canvas culled(28, 28);
        const ldi::LdiDrawStats some = drawRaw(*object, shiftWarp(4.0f, 20.0f), culled, s);
        EXPECT_EQ(all.written, 2 * n) << what;
        EXPECT_EQ(some.written, all.written) << what;
        EXPECT_LT(some.visited, all.visited) << what;
        for (int i = 0; i < 28 * 28; ++i) {
            ASSERT_EQ(plain.image.pixels[i], culled.image.pixels[i]) << what;
        }
    }
}

// ---- CP -------------------------------------------------------------------------------------

// A 16 x 16 CP LDI with the identity reference transform; pixel (7, 7) holds one sample of
// colour 0x123456 whose code's reference eye depth is -size, so with S = 1 and zOut = -1 its
// splat size is exactly `size`.
std::unique_ptr<ldi::LdiRtCp> cpLdi(float size) {
    SyntheticCamera cam;
    auto ldi = testing::makeSyntheticCp(cam, 16, 16, [](int r, int c, auto& out) {
        if (r == 7 && c == 7) {
            out.push_back({5.0f, 0x123456u, 0, 0});
        }
    });
    makeIdentity(*ldi);
    ldi->binFactor[ldi->pixels[0] >> 24] = -size;
    return ldi;
}

TEST(CpMrqpDraw, CpSizeBoundariesPickTheFootprint) {
    struct Case {
        float size;
        bool splat;
        int pixels;
    };
    // A magnification of exactly 1 (the reference view) is still one pixel: the 3 x 3 starts
    // at 1 + 1/256.
    const Case cases[] = {
        {0.999f, true, 1}, {1.0f, true, 1},    {1.00390625f, true, 9}, {2.999f, true, 9},
        {3.0f, true, 25},  {4.999f, true, 25}, {5.0f, true, 49},       {7.0f, false, 1},
    };
    for (const Case& c : cases) {
        auto ldi = cpLdi(c.size);
        const std::uint32_t word = ldi->pixels[0];
        ldi::FrameSettings s = singlePixels();
        s.useSplat = c.splat;
        Canvas canvas(16, 16);
        const ldi::LdiDrawStats stats = drawRaw(*ldi, shiftWarp(0.0f, 0.0f), canvas, s);
        EXPECT_EQ(stats.visited, 1);
        EXPECT_EQ(stats.written, 1);
        EXPECT_EQ(canvas.changed(), c.pixels) << "size " << c.size;
        // The whole CP word, depth code included, is the pixel word.
        EXPECT_EQ(canvas.at(8, 8), word) << "size " << c.size;
        if (c.pixels > 1) {
            const int k = c.pixels == 9 ? 1 : c.pixels == 25 ? 2 : 3;
            EXPECT_EQ(canvas.at(8 - k, 8 - k), blendQuarter(kBackground, word));
        }
    }
}

TEST(CpMrqpDraw, CpFalseColours) {
    // Sizes for false colour come from the code's depth converted directly: the distance from
    // a synthetic camera (near 1, far 100), seen with zOut = -1.
    struct Case {
        int mode;
        float distance;
        std::uint32_t colour;
    };
    const Case cases[] = {
        {1, 1.2f, 0xFFFFFFu},
        {2, 1.2f, 25u * 0x010101u},
        {3, 1.2f, 0x000000u},
        {5, 1.2f, 0xFFFFFFu},
        // Size colours on both sides of each bound 1.5, 3, 5, 7 (codes are within 2%).
        {5, 1.4f, 0xFFFFFFu},
        {5, 1.6f, 0xFFFF00u},
        {5, 2.9f, 0xFFFF00u},
        {6, 3.1f, 0x0000FFu},
        {5, 4.9f, 0x0000FFu},
        {5, 5.1f, 0xFF0000u},
        {5, 6.7f, 0xFF0000u},
        {5, 7.3f, 0x00FF00u},
        {4, 1.2f, 0xFFFFFFFFu},  // no colour rule: the CP word itself
        {7, 1.2f, 0xFFFFFFFFu},
        {0, 1.2f, 0xFFFFFFFFu},
    };
    for (const Case& c : cases) {
        SyntheticCamera cam;
        auto ldi = testing::makeSyntheticCp(cam, 16, 16, [&](int r, int col, auto& out) {
            if (r == 7 && col == 7) {
                out.push_back({c.distance, 0x123456u, 0, 0});
            }
        });
        makeIdentity(*ldi);
        // The code's middle converts back to within a code step of the distance.
        const float eye =
            geometry::perspectiveEye(ldi->binValue[ldi->pixels[0] >> 24], 1.0f, 100.0f);
        ASSERT_NEAR(-eye, c.distance, 0.02f * c.distance);
        ldi::FrameSettings s = singlePixels();
        s.useSplat = true;
        s.useFalseColor = true;
        s.falseColorMode = c.mode;
        Canvas canvas(16, 16);
        drawRaw(*ldi, shiftWarp(0.0f, 0.0f), canvas, s);
        const std::uint32_t want = c.colour == 0xFFFFFFFFu ? ldi->pixels[0] : c.colour;
        EXPECT_EQ(canvas.at(8, 8), want) << "mode " << c.mode << " distance " << c.distance;
    }
}

TEST(CpMrqpDraw, CpRunningIndexInBothDirections) {
    // Pixels with 0, 1, 2 and 3 layers in a row; the front (last) layer of each lands on its own
    // output pixel whichever way the sheets run: epipole right of the grid (runs move right),
    // left of it (runs move left).
    SyntheticCamera cam;
    const int n = 16;
    auto colourOf = [](int r, int c) { return static_cast<std::uint32_t>(r * 64 + c + 1); };
    auto ldi = testing::makeSyntheticCp(cam, n, n, [&](int r, int c, auto& out) {
        for (int k = 0; k < (r + c) % 4; ++k) {
            const bool front = k == (r + c) % 4 - 1;
            out.push_back({front ? 4.0f : 20.0f - static_cast<float>(k),
                           front ? colourOf(r, c) : 0xEEEEEEu, 0, 0});
        }
    });
    makeIdentity(*ldi);
    for (const float a : {0.05f, -0.05f}) {
        // x gains a * z: the output eye projects into the grid's plane at column 1000 a, far
        // right (runs move right) or far left (runs move left), while every sample stays
        // within 0.05 of x = c + 4.
        geometry::Matrix4 warp = shiftWarp(3.5f, 3.5f);
        warp(0, 2) = a;
        warp(2, 2) = 1.0f;
        Canvas canvas(32, 32);
        const ldi::LdiDrawStats stats = drawRaw(*ldi, warp, canvas, singlePixels());
        EXPECT_EQ(ldi->warp.setup.epipoleX, a > 0.0f ? n : 0);
        int expectedVisited = 0;
        for (int r = 0; r < n; ++r) {
            for (int c = 0; c < n; ++c) {
                expectedVisited += (r + c) % 4;
                if ((r + c) % 4 != 0) {
                    ASSERT_EQ(canvas.at(c + 4, r + 4) & 0xFFFFFFu, colourOf(r, c))
                        << r << "," << c << " slope " << a;
                }
            }
        }
        EXPECT_EQ(stats.visited, expectedVisited);
    }
}

}  // namespace
}  // namespace strata::render
