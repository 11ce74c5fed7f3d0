// The QP warp kernels on synthetic LDIs: pixel conventions against the reference camera,
// occlusion order without a depth buffer, footprints, guard band, traversal variants and the
// per-sample switches.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

#include "imageutil/rgb_image.h"
#include "ldi/draw_common.h"
#include "ldi/ldi_rt_qp.h"
#include "platform/fp_mode.h"
#include "render/footprint.h"
#include "render/output_view.h"
#include "render/synthetic_ldi.h"

namespace strata::render {
namespace {

using testing::SyntheticCamera;
using testing::SyntheticSample;

std::uint32_t uniqueColour(std::int32_t r, std::int32_t c) {
    return static_cast<std::uint32_t>((r * 131 + c * 7 + 1) & 0xFFFFFF);
}

ldi::FrameSettings singlePixels() {
    ldi::FrameSettings s;
    s.highQualitySplats = false;  // the blended footprints
    s.useSplat = false;
    s.useDepthCorrection = false;
    s.frustumClipper = true;
    return s;
}

TEST(QpDraw, ReferenceCameraPutsEveryFrontSampleOnItsOwnPixel) {
    SyntheticCamera cam;
    cam.pos = {0.5f, -0.25f, 2.0f};
    const int n = 64;
    auto ldi = testing::makeSyntheticQp(cam, n, n, [](int r, int c, auto& out) {
        out.push_back({9.0f, 0x00FF00FFu, 0, 0});  // hidden, farthest first
        out.push_back({4.0f + 0.01f * static_cast<float>(c), uniqueColour(r, c), 0, 0});
    });
    ASSERT_NE(ldi, nullptr);
    // Truncation (the default mode). Under round-to-nearest-even the kernels' int(sx + 0.5)
    // sends a centre on a whole number c to the even one of c and c + 1 instead.
    for (const bool trunc : {true}) {
        ldi::FrameSettings settings = singlePixels();
        settings.useTrunc = trunc;
        const OutputView view = makeOutputView(cam.pos, cam.dir, cam.up, cam.fov, n, n);
        imageutil::RgbImage frame = imageutil::RgbImage::createOwned(n, n);
        const ldi::LdiDrawStats stats = ldi::DrawFrame(*ldi, settings, view, frame);
        EXPECT_EQ(stats.visited, 2 * n * n);
        // Pixel centres land on whole numbers; the frame's margin puts the guard band outside
        // the picture, so the border rows and columns are drawn too.
        for (int y = 0; y < n; ++y) {
            for (int x = 0; x < n; ++x) {
                ASSERT_EQ(frame.pixels[y * n + x], uniqueColour(y, x) | 0xFF000000u)
                    << x << "," << y << " trunc " << trunc;
            }
        }
        // Drawn straight into a frame of the picture's size, the guard band keeps the border
        // rows and columns untouched: 3 <= X < n - 6.
        imageutil::RgbImage bare = imageutil::RgbImage::createOwned(n, n);
        std::fill_n(bare.pixels, n * n, 0xB2B2B2u);
        ldi::ApplyFrameSettings(*ldi, settings);
        {
            const platform::FpModeGuard modes(true, true);
            ldi->DrawAll(view.warpMatrix, view.viewMatrix, view.camera, bare);
        }
        for (int y = 0; y < n; ++y) {
            for (int x = 0; x < n; ++x) {
                const bool inside = x >= 3 && x < n - 6 && y >= 3 && y < n - 6;
                ASSERT_EQ(bare.pixels[y * n + x],
                          inside ? uniqueColour(y, x) | 0xFF000000u : 0xB2B2B2u)
                    << x << "," << y;
            }
        }
    }
}

// Two surfaces: a red square at distance 3 in front of a blue wall at distance 12.
std::unique_ptr<ldi::LdiRtQp> twoLayerScene(const SyntheticCamera& cam, int n) {
    return testing::makeSyntheticQp(cam, n, n, [n](int r, int c, auto& out) {
        out.push_back({12.0f, 0x0000FFu, 0, 0});
        if (r >= n / 3 && r < 2 * n / 3 && c >= n / 3 && c < 2 * n / 3) {
            out.push_back({3.0f, 0xFF0000u, 0, 0});
        }
    });
}

// Nearest-sample picture computed independently: every sample projected in double precision,
// the nearest kept per pixel. 0 where nothing lands.
std::vector<std::uint32_t> zBufferTruth(const SyntheticCamera& cam, int n, const OutputView& view,
                                        int outSize) {
    std::vector<std::uint32_t> colour(static_cast<std::size_t>(outSize * outSize), 0);
    std::vector<double> nearest(colour.size(), 1e30);
    const geometry::Vector3 side = geometry::normalized(geometry::cross(cam.dir, cam.up));
    const double t = std::tan(static_cast<double>(cam.fov) * 0.5);
    const geometry::Matrix4& m = view.warpMatrix;
    for (int r = 0; r < n; ++r) {
        for (int c = 0; c < n; ++c) {
            const double u = ((c + 0.5) / n * 2.0 - 1.0) * t;
            const double v = ((r + 0.5) / n * 2.0 - 1.0) * t;
            const bool front = r >= n / 3 && r < 2 * n / 3 && c >= n / 3 && c < 2 * n / 3;
            for (int layer = 0; layer < (front ? 2 : 1); ++layer) {
                const double d = layer == 0 ? 12.0 : 3.0;
                double p[3];
                for (int i = 0; i < 3; ++i) {
                    const double di = i == 0 ? cam.dir.x : i == 1 ? cam.dir.y : cam.dir.z;
                    const double si = i == 0 ? side.x : i == 1 ? side.y : side.z;
                    const double ui = i == 0 ? cam.up.x : i == 1 ? cam.up.y : cam.up.z;
                    const double pi = i == 0 ? cam.pos.x : i == 1 ? cam.pos.y : cam.pos.z;
                    p[i] = pi + d * (di + u * si + v * ui);
                }
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
                if (h[3] < nearest[i]) {  // w grows with the distance from the output eye
                    nearest[i] = h[3];
                    colour[i] = layer == 0 ? 0x0000FFu : 0xFF0000u;
                }
            }
        }
    }
    return colour;
}

TEST(QpDraw, NearerSurfaceWinsWithoutADepthBuffer) {
    SyntheticCamera cam;
    cam.fov = 1.0471976f;  // 60 degrees
    const int n = 96;
    const int out = 64;  // minified: every output pixel of a surface receives a sample
    auto ldi = twoLayerScene(cam, n);
    ASSERT_NE(ldi, nullptr);
    struct Move {
        geometry::Vector3 eye;
        int behind;
        bool epipoleInside;
        bool lookAtScene = false;
    };
    const Move moves[] = {
        {{-0.6f, 0.0f, 0.0f}, -1, false},  // left, right, above, below: eye in the eye plane
        {{0.6f, 0.0f, 0.0f}, -1, false},       {{0.0f, 0.6f, 0.0f}, -1, false},
        {{0.0f, -0.6f, 0.0f}, -1, false},      {{0.0f, 0.0f, -1.0f}, 0, true},  // in front
        {{0.2f, 0.1f, 2.0f}, 1, true},                                          // behind
        {{4.0f, 0.0f, -1.0f}, 0, false, true},  // in front, epipole right of the grid
        {{-4.0f, 1.0f, 1.0f}, 1, false, true},  // behind, epipole outside the grid
    };
    for (const Move& move : moves) {
        geometry::Vector3 dir = cam.dir;
        geometry::Vector3 up = cam.up;
        if (move.lookAtScene) {  // turned toward the centre of the red square
            dir = geometry::normalized(geometry::Vector3{0.0f, 0.0f, -3.0f} - move.eye);
            up = geometry::normalized(up - geometry::dot(up, dir) * dir);
        }
        const OutputView view = makeOutputView(move.eye, dir, up, cam.fov, out, out);
        imageutil::RgbImage frame = imageutil::RgbImage::createOwned(out, out);
        ldi::FrameSettings settings = singlePixels();
        settings.background = 0;
        ldi::DrawFrame(*ldi, settings, view, frame);
        if (move.behind >= 0) {
            EXPECT_EQ(ldi->warp.setup.behind, move.behind);
            const int ex = ldi->warp.setup.epipoleX;
            const int ey = ldi->warp.setup.epipoleY;
            const bool inside = ex > 0 && ex < n - 1 && ey > 0 && ey < n - 1;
            EXPECT_EQ(inside, move.epipoleInside) << ex << "," << ey;
        }
        const std::vector<std::uint32_t> truth = zBufferTruth(cam, n, view, out);
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
                if (!allRed) {
                    continue;
                }
                ++checked;
                wrong += (frame.pixels[y * out + x] & 0xFFFFFFu) != 0xFF0000u;
            }
        }
        EXPECT_GT(checked, 60) << move.eye.x << "," << move.eye.y << "," << move.eye.z;
        EXPECT_EQ(wrong, 0) << move.eye.x << "," << move.eye.y << "," << move.eye.z << ": " << wrong
                            << " of " << checked;
    }
}

// An LDI whose reference transform is exactly the identity, so a hand-made warp matrix is the
// warp transform itself.
std::unique_ptr<ldi::LdiRtQp> identityLdi(int width, int height,
                                          const testing::SampleSource& source) {
    SyntheticCamera cam;
    auto ldi = testing::makeSyntheticQp(cam, width, height, source);
    ldi->header.view.viewport = geometry::Matrix4::identity();
    ldi->header.view.projection = geometry::Matrix4::identity();
    ldi->header.view.pos = {0, 0, 0};
    return ldi;
}

// Warp matrix: output x = column + 0.5 + dx, y = row + 0.5 + dy, w = 1, zOut = -1.
geometry::Matrix4 shiftWarp(float dx, float dy) {
    geometry::Matrix4 m = geometry::translation(dx, dy, -1.0f);
    m(2, 2) = 0.0f;
    return m;
}

struct Canvas {
    explicit Canvas(int w, int h) : image(imageutil::RgbImage::createOwned(w, h)) {
        std::fill_n(image.pixels, w * h, 0x80808080u);
    }
    std::uint32_t at(int x, int y) const { return image.pixels[y * image.width + x]; }
    imageutil::RgbImage image;
};

ldi::LdiDrawStats drawRaw(ldi::LdiRtQp& ldi, const geometry::Matrix4& warp, Canvas& canvas,
                          float* depth = nullptr, bool settingsGiven = true) {
    ldi.options.frustumClipper = 0;
    ldi.settingsGiven = settingsGiven ? 1 : 0;
    geometry::ViewCamera out = ldi.header.view;
    out.near = 0.1f;
    out.far = 10000.0f;
    const platform::FpModeGuard modes(true, true);
    return ldi.Draw(warp, geometry::Matrix4::identity(), out, canvas.image, depth, {0, ldi.width()},
                    {0, ldi.height()});
}

TEST(QpDraw, GuardBandDropsSamplesOnItsEdgesExactly) {
    auto ldi = identityLdi(32, 1, [](int, int, auto& out) { out.push_back({5.0f, 0x10u, 0, 0}); });
    ldi::ApplyFrameSettings(*ldi, singlePixels());
    // Column c lands on x = c + 2.5: column 0 sits exactly on 2.5 w.
    Canvas low(32, 32);
    ldi::LdiDrawStats stats = drawRaw(*ldi, shiftWarp(2.0f, 10.0f), low);
    EXPECT_EQ(stats.visited, 32);
    EXPECT_EQ(low.at(3, 11), 0x80808080u);   // column 0 dropped (it would be X 3)
    EXPECT_EQ(low.at(4, 11), 0xFF000010u);   // column 1: x 3.5 -> X 4
    EXPECT_EQ(low.at(26, 11), 0xFF000010u);  // column 23: x 25.5 -> X 26
    EXPECT_EQ(stats.written, 23);            // columns 1 .. 23
    // Column c lands on x = c + 3: column 23 sits exactly on (W - 6) w = 26.
    Canvas high(32, 32);
    stats = drawRaw(*ldi, shiftWarp(2.5f, 10.0f), high);
    EXPECT_EQ(high.at(3, 11), 0xFF000010u);   // column 0: x 3 -> X 3
    EXPECT_EQ(high.at(25, 11), 0xFF000010u);  // column 22: x 25
    EXPECT_EQ(high.at(26, 11), 0x80808080u);  // column 23 dropped
    EXPECT_EQ(stats.written, 23);             // columns 0 .. 22
}

TEST(QpDraw, SplatSizesOfExactlyOneThreeFivePickTheNextFootprint) {
    const std::uint32_t word = 0x40404040u;
    const float means[] = {1.0f, 3.0f, 5.0f};
    const int expectedWritten[] = {9, 25, 49};
    for (int i = 0; i < 3; ++i) {
        auto ldi = identityLdi(16, 16, [&](int r, int c, auto& out) {
            if (r == 7 && c == 7) {
                out.push_back({5.0f, word, 34, 0});
            }
        });
        ldi->header.bins[0] = means[i] - 1.0f;
        ldi->header.bins[1] = means[i] + 1.0f;
        ldi->header.binCount = 1;
        ldi::FrameSettings s = singlePixels();
        s.useSplat = true;
        s.sizeAccurate = 0;
        ldi::ApplyFrameSettings(*ldi, s);
        Canvas canvas(16, 16);
        std::vector<float> depth(256, 7.0f);
        drawRaw(*ldi, shiftWarp(0.0f, 0.0f), canvas, depth.data());  // sample lands on (8, 8)
        int changed = 0;
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x) {
                changed += canvas.at(x, y) != 0x80808080u;
            }
        }
        EXPECT_EQ(changed, expectedWritten[i]) << means[i];
        EXPECT_EQ(canvas.at(8, 8), word | 0xFF000000u);
        // The corner of the block is the quarter blend of old and new.
        const int k = i + 1;
        EXPECT_EQ(canvas.at(8 - k, 8 - k), render::blendQuarter(0x80808080u, word | 0xFF000000u));
        // The depth buffer gets zOut (-1 for this warp) over the same square, and nowhere else.
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x) {
                const bool inSquare = std::abs(x - 8) <= k && std::abs(y - 8) <= k;
                ASSERT_EQ(depth[static_cast<std::size_t>(y * 16 + x)], inSquare ? -1.0f : 7.0f)
                    << x << "," << y << " size " << means[i];
            }
        }
        // The false-colour kernel blends the same footprint but writes one depth entry only.
        s.useFalseColor = true;
        s.falseColorMode = 5;
        ldi::ApplyFrameSettings(*ldi, s);
        Canvas shown(16, 16);
        std::fill(depth.begin(), depth.end(), 7.0f);
        drawRaw(*ldi, shiftWarp(0.0f, 0.0f), shown, depth.data());
        EXPECT_NE(shown.at(8 - k, 8 - k), 0x80808080u);
        EXPECT_EQ(shown.at(8 - k - 1, 8), 0x80808080u);
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x) {
                ASSERT_EQ(depth[static_cast<std::size_t>(y * 16 + x)],
                          x == 8 && y == 8 ? -1.0f : 7.0f);
            }
        }
    }
}

TEST(QpDraw, DepthWordWithBit31IsOnePixel) {
    auto ldi = identityLdi(16, 16, [](int r, int c, auto& out) {
        if (r == 7 && c == 7) {
            out.push_back({5.0f, 0x123456u, 34, 5});
        }
    });
    ldi->pixels[1] |= 0x80000000u;
    ldi::FrameSettings s = singlePixels();
    s.useSplat = true;
    s.sizeAccurate = 0;
    for (const bool falseColour : {false, true}) {
        s.useFalseColor = falseColour;
        s.falseColorMode = 5;
        ldi::ApplyFrameSettings(*ldi, s);
        Canvas canvas(16, 16);
        const ldi::LdiDrawStats stats = drawRaw(*ldi, shiftWarp(0.0f, 0.0f), canvas);
        EXPECT_EQ(stats.written, 1);
        EXPECT_EQ(canvas.at(7, 8), 0x80808080u);
        EXPECT_NE(canvas.at(8, 8), 0x80808080u);
    }
}

TEST(QpDraw, AccurateSizeIgnoresBit31OfTheDepthWord) {
    // The accurate path reads only the normal (bits 25..30) and the class (bits 20..24). Normal
    // 34 faces both cameras, which agree, S = 16/16 = 1, zOut = -1: s = binValue[2] = 2.5,
    // the 3 x 3 footprint (false colour: yellow), with or without bit 31.
    auto ldi = identityLdi(16, 16, [](int r, int c, auto& out) {
        if (r == 7 && c == 7) {
            out.push_back({5.0f, 0x123456u, 34, 2});
        }
    });
    ldi::FrameSettings s = singlePixels();
    s.useSplat = true;
    s.sizeAccurate = 1;
    for (const std::uint32_t bit31 : {0u, 0x80000000u}) {
        ldi->pixels[1] = (ldi->pixels[1] & 0x7FFFFFFFu) | bit31;
        s.useFalseColor = false;
        ldi::ApplyFrameSettings(*ldi, s);
        Canvas canvas(16, 16);
        EXPECT_EQ(drawRaw(*ldi, shiftWarp(0.0f, 0.0f), canvas).written, 1);
        EXPECT_EQ(canvas.at(8, 8), 0xFF123456u);
        EXPECT_EQ(canvas.at(7, 8), render::blendHalf(0x80808080u, 0xFF123456u)) << bit31;
        EXPECT_EQ(canvas.at(7, 7), render::blendQuarter(0x80808080u, 0xFF123456u)) << bit31;
        EXPECT_EQ(canvas.at(6, 8), 0x80808080u);
        s.useFalseColor = true;
        s.falseColorMode = 6;
        ldi::ApplyFrameSettings(*ldi, s);
        Canvas shown(16, 16);
        drawRaw(*ldi, shiftWarp(0.0f, 0.0f), shown);
        EXPECT_EQ(shown.at(8, 8), 0xFFFF00u) << bit31;
    }
}

TEST(QpDraw, HalvesTogetherCoverEachPixelOnceAndBenchReadsTheMiddleRow) {
    const int n = 12;
    auto ldi = identityLdi(n, n, [](int r, int c, auto& out) {
        out.push_back({5.0f, uniqueColour(r, c), 0, 0});
    });
    ldi::FrameSettings s = singlePixels();
    s.lowerHalfOnly = true;
    ldi::ApplyFrameSettings(*ldi, s);
    Canvas lower(24, 24);
    const ldi::LdiDrawStats a = drawRaw(*ldi, shiftWarp(4.0f, 4.0f), lower);
    s.lowerHalfOnly = false;
    s.upperHalfOnly = true;
    ldi::ApplyFrameSettings(*ldi, s);
    Canvas upper(24, 24);
    const ldi::LdiDrawStats b = drawRaw(*ldi, shiftWarp(4.0f, 4.0f), upper);
    EXPECT_EQ(a.visited + b.visited, n * n);
    for (int r = 0; r < n; ++r) {
        for (int c = 0; c < n; ++c) {
            // x = c + 4.5 converts to X = c + 5.
            const bool inLower = lower.at(c + 5, r + 5) != 0x80808080u;
            const bool inUpper = upper.at(c + 5, r + 5) != 0x80808080u;
            EXPECT_NE(inLower, inUpper);
            EXPECT_EQ(inLower, c + r <= n - 1);
        }
    }
    // Both flags: the lower half, then the upper half, once each.
    s.lowerHalfOnly = true;
    ldi::ApplyFrameSettings(*ldi, s);
    Canvas both(24, 24);
    EXPECT_EQ(drawRaw(*ldi, shiftWarp(4.0f, 4.0f), both).visited, n * n);

    s = singlePixels();
    s.benchFlag = true;
    ldi::ApplyFrameSettings(*ldi, s);
    Canvas bench(24, 24);
    drawRaw(*ldi, shiftWarp(4.0f, 4.0f), bench);
    for (int r = 0; r < n; ++r) {
        for (int c = 0; c < n; ++c) {
            EXPECT_EQ(bench.at(c + 5, r + 5), uniqueColour(n / 2, c) | 0xFF000000u);
        }
    }
}

TEST(QpDraw, BackfaceTestAndFacingColours) {
    // Normal 23 points along -z (away from a camera looking down -z), normal 34 along +z.
    for (const int normal : {23, 34}) {
        auto ldi = identityLdi(16, 16, [normal](int r, int c, auto& out) {
            if (r == 7 && c == 7) {
                out.push_back({5.0f, 0x123456u, normal, 0});
            }
        });
        const bool away = normal == 23;
        for (const bool splat : {false, true}) {
            ldi::FrameSettings s = singlePixels();
            s.useSplat = splat;
            s.backfaceCulling = true;
            ldi::ApplyFrameSettings(*ldi, s);
            Canvas canvas(16, 16);
            EXPECT_EQ(drawRaw(*ldi, shiftWarp(0.0f, 0.0f), canvas).written, away ? 0 : 1);
            // False-colour mode 3 shows the same test without culling.
            s.backfaceCulling = false;
            s.useFalseColor = true;
            s.falseColorMode = 3;
            ldi::ApplyFrameSettings(*ldi, s);
            Canvas shown(16, 16);
            drawRaw(*ldi, shiftWarp(0.0f, 0.0f), shown);
            EXPECT_EQ(shown.at(8, 8), away ? 0xFFFFFFu : 0x000000u);
        }
    }
}

TEST(QpDraw, FalseColourModesAndDepthBuffer) {
    auto ldi = identityLdi(16, 16, [](int r, int c, auto& out) {
        if (r == 7 && c == 7) {
            out.push_back({5.0f, 0x123456u, 34, 0});
        }
    });
    const std::uint32_t q = ldi->pixels[1];
    ldi->binValue[0] = 2.0f;  // class 0
    ldi::FrameSettings s = singlePixels();
    s.useFalseColor = true;
    std::vector<float> depth(256, 7.0f);
    for (int mode : {0, 1, 2, 4, 7, 9}) {
        s.falseColorMode = mode;
        ldi::ApplyFrameSettings(*ldi, s);
        Canvas canvas(16, 16);
        drawRaw(*ldi, shiftWarp(0.0f, 0.0f), canvas, depth.data());
        const std::uint32_t got = canvas.at(8, 8);
        switch (mode) {
            case 1: {
                const std::uint32_t g = 255 - ((q & 0xFFFFFu) >> 12);
                EXPECT_EQ(got, g * 0x010101u);
                break;
            }
            case 2:  // 255 (1 - 1/far) / (1/near - 1/far) at distance 1: 25.5 less a little
                EXPECT_EQ(got, 25u * 0x010101u);
                break;
            case 4:                         // normal 34 = (-0.034563, -0.102492, 0.994133)
                EXPECT_EQ(got, 0x0000FEu);  // 255 * 0.994133 = 253.5, rounded
                break;
            case 7:  // red = sqrt(|N.h| / |N.refDir|) binValue zOut (-15): 1 x 2 x -1 x -15
                EXPECT_EQ(got, 0x1E0000u);
                break;
            default:  // no colour rule: the true colour
                EXPECT_EQ(got, 0xFF123456u);
        }
        EXPECT_EQ(depth[8 * 16 + 8], -1.0f);  // zOut of the hand-made warp
        EXPECT_EQ(depth[8 * 16 + 9], 7.0f);
    }
}

TEST(QpDraw, ScanlineCullingSkipsOffFrameRowsOnly) {
    const int n = 16;
    auto ldi = identityLdi(n, n, [](int r, int c, auto& out) {
        out.push_back({5.0f, uniqueColour(r, c), 0, 0});
    });
    // Rows land on y = row + 0.5 + 20: rows 6 and up fall off a 32-row frame entirely.
    ldi::FrameSettings s = singlePixels();
    ldi::ApplyFrameSettings(*ldi, s);
    Canvas plain(32, 32);
    const ldi::LdiDrawStats all = drawRaw(*ldi, shiftWarp(4.0f, 20.0f), plain);
    s.scanlineCulling = true;
    ldi::ApplyFrameSettings(*ldi, s);
    Canvas culled(32, 32);
    const ldi::LdiDrawStats some = drawRaw(*ldi, shiftWarp(4.0f, 20.0f), culled);
    EXPECT_EQ(all.written, some.written);
    EXPECT_LT(some.visited, all.visited);
    EXPECT_GT(ldi->header.culler.rejected, 0);
    for (int i = 0; i < 32 * 32; ++i) {
        ASSERT_EQ(plain.image.pixels[i], culled.image.pixels[i]);
    }
}

TEST(QpDraw, DepthCorrectionShrinksSplatsAwayFromTheCentre) {
    // A splat of size 1.001 (table path: class mean 1.001, zOut -1, S 1) is 3 x 3 on the
    // centre either way; near the corner the correction, sqrt(dx^2 + dy^2 + 1) with the offsets
    // measured on the near plane (about 1.0013 there for near 0.1), brings it under 1.
    const int n = 64;
    auto ldi = identityLdi(n, n, [](int r, int c, auto& out) {
        if ((r == 32 && c == 32) || (r == 4 && c == 4)) {
            out.push_back({5.0f, 0x222222u, 34, 0});
        }
    });
    ldi->header.bins[0] = 1.0f;
    ldi->header.bins[1] = 1.002f;
    ldi->header.binCount = 1;
    ldi::FrameSettings s = singlePixels();
    s.useSplat = true;
    s.sizeAccurate = 0;
    for (const bool correction : {false, true}) {
        s.useDepthCorrection = correction;
        ldi::ApplyFrameSettings(*ldi, s);
        Canvas canvas(n, n);
        drawRaw(*ldi, shiftWarp(0.0f, 0.0f), canvas);
        EXPECT_NE(canvas.at(34, 34), 0x80808080u);  // centre splat: 3 x 3 either way
        EXPECT_EQ(canvas.at(6, 6) != 0x80808080u, !correction) << correction;
        EXPECT_NE(canvas.at(5, 5), 0x80808080u);
    }
}

TEST(QpDraw, AccurateSizeMatchesTheTableWhenBothCamerasAgree) {
    // With the output direction equal to the reference direction, the accurate size on the
    // view axis equals the table size.
    auto ldi = identityLdi(16, 16, [](int r, int c, auto& out) {
        if (r == 7 && c == 7) {
            out.push_back({5.0f, 0x222222u, 34, 2});
        }
    });
    ldi::FrameSettings s = singlePixels();
    s.useSplat = true;
    s.useFalseColor = true;
    s.falseColorMode = 5;
    std::uint32_t colours[2];
    for (int accurate = 0; accurate <= 1; ++accurate) {
        s.sizeAccurate = accurate;
        ldi::ApplyFrameSettings(*ldi, s);
        Canvas canvas(16, 16);
        drawRaw(*ldi, shiftWarp(0.0f, 0.0f), canvas);
        colours[accurate] = canvas.at(8, 8);
    }
    EXPECT_EQ(colours[0], 0xFFFF00u);  // class 2: size 2.5, yellow
    EXPECT_EQ(colours[1], colours[0]);
}

TEST(QpDraw, PerPixelReferenceRaysWhenNoSettingsWereGiven) {
    // Without the settings-given marker the reference ray of each pixel is stepped along the
    // row; near the view axis it is the camera direction and the accurate size is unchanged.
    const int n = 15;
    auto ldi = identityLdi(n, n, [](int r, int c, auto& out) {
        out.push_back({5.0f, 0x222222u, 34, (r == 7 && c == 7) ? 2 : 0});
    });
    ldi::FrameSettings s = singlePixels();
    s.useSplat = true;
    s.sizeAccurate = 1;
    s.useFalseColor = true;
    s.falseColorMode = 6;
    ldi::ApplyFrameSettings(*ldi, s);
    Canvas given(24, 24);
    Canvas perPixel(24, 24);
    const auto a = drawRaw(*ldi, shiftWarp(2.0f, 2.0f), given, nullptr, true);
    const auto b = drawRaw(*ldi, shiftWarp(2.0f, 2.0f), perPixel, nullptr, false);
    EXPECT_EQ(a.written, b.written);
    EXPECT_EQ(given.at(10, 10), perPixel.at(10, 10));  // the centre sample, class 2
}

TEST(QpDraw, NonFiniteWarpDrawsNothing) {
    auto ldi = identityLdi(8, 8, [](int, int, auto& out) { out.push_back({5.0f, 1u, 0, 0}); });
    geometry::Matrix4 broken = shiftWarp(0.0f, 0.0f);
    broken(3, 3) = std::numeric_limits<float>::quiet_NaN();
    Canvas canvas(16, 16);
    EXPECT_EQ(drawRaw(*ldi, broken, canvas).written, 0);
}

}  // namespace
}  // namespace strata::render
