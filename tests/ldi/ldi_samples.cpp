#include "ldi/ldi_samples.h"

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "geometry/matrix.h"
#include "ldi/ldi_factory.h"
#include "ldi/ldi_rt_cp.h"
#include "ldi/ldi_rt_mrqp.h"
#include "ldi/ldi_rt_qp.h"
#include "ldi/ldi_rt_quad.h"
#include "platform/byte_io.h"

namespace strata::ldi::testing {

namespace {

struct Random {
    std::uint32_t state;
    std::uint32_t next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
    int below(int n) { return static_cast<int>(next() % static_cast<std::uint32_t>(n)); }
};

void fillHeader(LdiHeader& h, Random& rnd) {
    for (auto& v : h.reserved) {
        v = static_cast<std::int32_t>(rnd.next());
    }
    h.binBits = 5;
    h.stats.rays = 1001;
    h.stats.hits = 1002;
    h.stats.depthPixels = 77;
    h.stats.writeSeconds = 13;
    h.stats.complexityMean = 1.75f;
    h.stats.zMax = 42.5f;
    h.generatorFloat = 12345.5f;
    h.generatorInt = -7;
    h.boundsMin = {-1.0f, -2.0f, -3.0f};
    h.boundsMax = {1.0f, 2.0f, 3.0f};
    h.view.pos = {0.5f, 0.25f, 4.0f};
    h.view.dir = {0.0f, 0.0f, -1.0f};
    h.view.up = {0.0f, 1.0f, 0.0f};
    h.view.near = 1.0f;
    h.view.far = 100.0f;
    h.view.fov = 0.9f;
    for (int i = 0; i < 16; ++i) {
        // Arbitrary words that still make an invertible projection (a diagonal that dominates).
        h.view.projection.m[static_cast<std::size_t>(i)] =
            static_cast<float>(i) * 0.5f + (i % 5 == 0 ? 20.0f : 0.0f);
        h.camera.affine.m[static_cast<std::size_t>(i)] = static_cast<float>(i) - 3.0f;
    }
    h.camera.fov = 0.9f;
    h.camera.xres = 640;
    h.camera.yres = 480;
    h.camera.clip_far = 99.0f;
    h.binCount = 32;
    for (std::size_t i = 0; i <= 32; ++i) {
        h.bins[i] = static_cast<float>(i) / 16.0f;  // 0..2: normalised depth + 1 for CP
    }
    h.bins[2048] = 9.0f;  // the last slot is carried too
    for (std::size_t i = 4; i < h.extra.size(); i += 97) {
        h.extra[i] = static_cast<std::int32_t>(rnd.next());
    }
}

std::vector<int> layerCounts(std::int32_t width, std::int32_t height, Random& rnd, int maxLayers) {
    std::vector<int> counts(static_cast<std::size_t>(width) * height);
    for (int& c : counts) {
        c = rnd.below(maxLayers + 1);
    }
    return counts;
}

void fillCp(LdiRtCp& ldi, const std::vector<int>& counts, Random& rnd) {
    const std::int32_t w = ldi.header.width;
    const std::int32_t h = ldi.header.height;
    std::int32_t total = 0;
    for (std::int32_t r = 0; r < h; ++r) {
        ldi.rowStart[r] = total;
        for (std::int32_t c = 0; c < w; ++c) {
            const int n = counts[static_cast<std::size_t>(r * w + c)];
            ldi.layerCount[r * (w + 1) + c] = static_cast<std::uint8_t>(n);
            total += n;
        }
    }
    ldi.rowStart[h] = total;
    for (std::int32_t i = 0; i < total; ++i) {
        ldi.pixels[i] =
            (rnd.next() & 0xFFFFFFu) | (static_cast<std::uint32_t>(rnd.below(32)) << 24);
    }
}

void fillOffsets(std::int32_t* rowStart, std::uint16_t* layerOffset, std::int32_t w, std::int32_t h,
                 const std::vector<int>& counts) {
    std::int32_t total = 0;
    for (std::int32_t r = 0; r < h; ++r) {
        rowStart[r] = total;
        std::uint16_t running = 0;
        for (std::int32_t c = 0; c < w; ++c) {
            layerOffset[r * (w + 1) + c] = running;
            running =
                static_cast<std::uint16_t>(running + counts[static_cast<std::size_t>(r * w + c)]);
        }
        layerOffset[r * (w + 1) + w] = running;
        total += running;
    }
    rowStart[h] = total;
}

void fillQp(LdiRtQp& ldi, const std::vector<int>& counts, Random& rnd) {
    fillOffsets(ldi.rowStart, ldi.layerOffset, ldi.header.width, ldi.header.height, counts);
    for (std::int32_t i = 0; i < ldi.header.pixelCount; ++i) {
        ldi.pixels[2 * i] = rnd.next() & 0xFFFFFFu;
        ldi.pixels[2 * i + 1] = rnd.next() & 0x7FFFFFFFu;
    }
}

}  // namespace

const std::vector<SampleKind>& allSampleKinds() {
    static const std::vector<SampleKind> kinds = {
        {1, 3, "RT_CP"},   {1, 2, "RT_QP"},     {1, 6, "RT_MRQP"},   {2, 3, "RTFF_CP"},
        {2, 2, "RTFF_QP"}, {2, 6, "RTFF_MRQP"}, {5, 2, "RTQuad_QP"},
    };
    return kinds;
}

void frameAsQuadHalves(LdiBase& top, LdiBase& bottom) {
    const geometry::ViewCamera& view = top.header.view;
    const float t = std::tan(view.fov * 0.5f);
    const float n = view.near;
    const float rows = static_cast<float>(top.height() + bottom.height());
    const float split = -1.0f + 2.0f * static_cast<float>(bottom.height()) / rows;
    bottom.header.view = view;
    bottom.header.view.projection =
        geometry::frustum(-n * t, n * t, -n * t, n * t * split, n, view.far);
    top.header.view.projection =
        geometry::frustum(-n * t, n * t, n * t * split, n * t, n, view.far);
}

geometry::ViewCamera usableView(std::int32_t width, std::int32_t height) {
    geometry::ViewCamera view;
    view.projection = geometry::frustum(-1.0f, 1.0f, -1.0f, 1.0f, 1.0f, 100.0f);
    view.viewport = geometry::Matrix4::identity();
    view.viewport(0, 0) = view.viewport(0, 3) = static_cast<float>(width) * 0.5f;
    view.viewport(1, 1) = view.viewport(1, 3) = static_cast<float>(height) * 0.5f;
    view.pos = {0.0f, 0.0f, 5.0f};
    view.dir = {0.0f, 0.0f, -1.0f};
    view.up = {0.0f, 1.0f, 0.0f};
    view.near = 1.0f;
    view.far = 100.0f;
    view.fov = 1.5707964f;
    return view;
}

void putUsableView(std::vector<std::uint8_t>& header, std::int32_t width, std::int32_t height) {
    const geometry::ViewCamera view = usableView(width, height);
    platform::ByteWriter bytes;
    view.serializeInMemoryOrder(bytes);
    std::copy(bytes.bytes().begin(), bytes.bytes().end(),
              header.begin() + static_cast<std::ptrdiff_t>(LdiHeader::kOffsetView));
}

std::unique_ptr<LdiBase> makeSample(int ldiType, int dptType, std::int32_t width,
                                    std::int32_t height, std::uint32_t seed, int maxLayers) {
    Random rnd{seed * 2654435761u + 17u};
    if (ldiType == 5) {
        auto quad = std::make_unique<LdiRtQuad>();
        auto top = makeSample(1, 2, width, height, seed + 1, maxLayers);
        auto bottom = makeSample(1, 2, width, height, seed + 2, maxLayers);
        frameAsQuadHalves(*top, *bottom);
        quad->setHalves(std::unique_ptr<LdiRtQp>(static_cast<LdiRtQp*>(top.release())),
                        std::unique_ptr<LdiRtQp>(static_cast<LdiRtQp*>(bottom.release())));
        quad->firstVector = {1.5f, -2.25f, 3.0f};
        quad->secondVector = {0.125f, 4.0f, -5.5f};
        return quad;
    }
    auto ldi = CreateLdi(ldiType, dptType);
    if (!ldi) {
        return nullptr;
    }
    const std::vector<int> counts = layerCounts(width, height, rnd, maxLayers);
    std::int32_t total = 0;
    for (int c : counts) {
        total += c;
    }
    if (dptType == 6) {
        // Coverage masks first, so the colour counts are known for Create.
        std::vector<std::uint32_t> coverage(static_cast<std::size_t>(total));
        std::int32_t bits4 = 0;
        std::int32_t bits2 = 0;
        for (auto& cov : coverage) {
            cov = (rnd.next() & 0xFFFFu) | ((rnd.next() & 0xFu) << 16);
            bits4 += std::popcount(cov & 0xFFFFu);
            bits2 += std::popcount((cov >> 16) & 0xFu);
        }
        const std::int32_t mc[4] = {total, bits4, bits2, total};
        if (ldi->Create(width, height, 4, mc) == 0) {
            return nullptr;
        }
        fillHeader(ldi->header, rnd);
        auto& m = static_cast<LdiRtMrqp&>(*ldi);
        // Per pixel: level 0 counts are the layers; level 1/2 the mask bits of its layers.
        std::vector<int> c4(counts.size());
        std::vector<int> c2(counts.size());
        std::size_t k = 0;
        for (std::size_t p = 0; p < counts.size(); ++p) {
            for (int i = 0; i < counts[p]; ++i, ++k) {
                c4[p] += std::popcount(coverage[k] & 0xFFFFu);
                c2[p] += std::popcount((coverage[k] >> 16) & 0xFu);
            }
        }
        fillOffsets(m.rowStart[0], m.layerOffset[0], width, height, counts);
        fillOffsets(m.rowStart[1], m.layerOffset[1], width, height, c4);
        fillOffsets(m.rowStart[2], m.layerOffset[2], width, height, c2);
        for (std::int32_t i = 0; i < total; ++i) {
            m.pixels[2 * i] = rnd.next() & 0x7FFFFFFFu;
            m.pixels[2 * i + 1] = coverage[static_cast<std::size_t>(i)];
            m.fullColours[i] = rnd.next() & 0xFFFFFFu;
        }
        for (std::int32_t i = 0; i < bits4; ++i) {
            m.colours4x4[i] = rnd.next() & 0xFFFFFFu;
        }
        for (std::int32_t i = 0; i < bits2; ++i) {
            m.colours2x2[i] = rnd.next() & 0xFFFFFFu;
        }
        return ldi;
    }
    const std::int32_t pc[1] = {total};
    if (ldi->Create(width, height, 1, pc) == 0) {
        return nullptr;
    }
    fillHeader(ldi->header, rnd);
    if (dptType == 3) {
        fillCp(static_cast<LdiRtCp&>(*ldi), counts, rnd);
    } else {
        fillQp(static_cast<LdiRtQp&>(*ldi), counts, rnd);
    }
    return ldi;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "strata_ldi_XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::abort();
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::vector<std::uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

void writeText(const std::string& path, const std::string& text) {
    writeBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

void appendU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
}

void appendU16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

std::uint32_t u32At(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes[offset]) |
           (static_cast<std::uint32_t>(bytes[offset + 1]) << 8) |
           (static_cast<std::uint32_t>(bytes[offset + 2]) << 16) |
           (static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
}

}  // namespace strata::ldi::testing
