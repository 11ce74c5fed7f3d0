#include "ldi/ldi_base.h"

#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/debug_output.h"
#include "platform/worker_pool.h"

namespace strata::ldi {

LdiBase::LdiBase() = default;
LdiBase::~LdiBase() = default;

int LdiBase::Create(std::int32_t width, std::int32_t height, std::int32_t perPixel,
                    std::span<const std::int32_t> counts) {
    MarkHeaderRead();
    header.ldiType = KindLdiType();
    header.dptType = KindDptType();
    header.width = width;
    header.height = height;
    if (KindDptType() == toInt(DptType::MRQP)) {
        for (int i = 0; i < 4; ++i) {
            header.setMrqpCount(i, static_cast<std::size_t>(i) < counts.size() ? counts[i] : 0);
        }
    } else {
        header.pixelCount = counts.empty() ? 0 : counts[0];
    }
    if (Allocate(width, height, perPixel, counts) == 0) {
        if (reportErrors) {
            platform::debugPrintf("%s\n", loadError_.c_str());
        }
        return 0;
    }
    return 1;
}

void LdiBase::Release() {}

int LdiBase::ReadBody(LdiFileReader& file) {
    if (ReadHeader(file) == 0) {
        return Fail(file.path(), file.problem);
    }
    const std::string problem = CheckHeader();
    if (!problem.empty()) {
        return Fail(file.path(), problem);
    }
    // The file must hold every byte the header promises before anything is allocated.
    const std::uint64_t need = StreamBodyBytes();
    if (file.remaining() < need) {
        return Fail(file.path(), platform::formatString("truncated: the header promises %" PRIu64
                                                        " body bytes after offset %" PRIu64
                                                        ", the file holds %" PRIu64,
                                                        need, file.position(), file.remaining()));
    }
    if (ReadPixels(file) == 0) {
        return Fail(file.path(), file.problem);
    }
    const std::string arrays = CheckArrays();
    if (!arrays.empty()) {
        return Fail(file.path(), arrays);
    }
    FinishLoad();
    return 1;
}

int LdiBase::Load(const std::string& path) {
    loadError_.clear();
    LdiFileReader file;
    if (!file.open(path)) {
        // Nothing was read: the object keeps what it held.
        return Fail(path, file.problem);
    }
    if (ReadBody(file) == 0) {
        const std::string reason = loadError_;
        ResetAfterFailure();
        loadError_ = reason;
        return 0;
    }
    trailingBytes = file.remaining();
    return 1;
}

int LdiBase::WriteBody(LdiFileWriter& file) {
    if (WriteHeader(file) == 0 || WritePixels(file) == 0) {
        return 0;
    }
    return 1;
}

int LdiBase::Save(const std::string& path) {
    loadError_.clear();
    std::string problem = CheckHeader();
    if (problem.empty()) {
        problem = CheckArrays();
    }
    if (!problem.empty()) {
        return Fail(path, "not saved: " + problem);
    }
    LdiFileWriter file(path);
    if (WriteBody(file) == 0 || !file.commit()) {
        return Fail(path, file.problem);
    }
    return 1;
}

int LdiBase::ReadHeader(LdiFileReader& file) {
    std::vector<std::uint8_t> bytes(LdiHeader::kSize);
    if (!file.read(bytes.data(), bytes.size(), "the header")) {
        return 0;
    }
    header.deserialize(bytes);
    MarkHeaderRead();
    return 1;
}

int LdiBase::WriteHeader(LdiFileWriter& file) {
    header.version = LdiHeader::kStoredVersion;
    LdiHeader stored = header;
    stored.ldiType = KindLdiType();
    stored.dptType = KindDptType();
    platform::ByteWriter out;
    stored.serialize(out);
    return file.write(out.bytes().data(), out.size(), "the header") ? 1 : 0;
}

int LdiBase::Reserved() {
    return 0;
}

void LdiBase::MarkHeaderRead() {
    headerRead = 1;
}

void LdiBase::BuildBinValues() {
    binValue.fill(0.0f);
    const std::int32_t count = std::clamp<std::int32_t>(header.binCount, 0, kTableSize);
    for (std::int32_t i = 0; i < count; ++i) {
        const auto k = static_cast<std::size_t>(i);
        binValue[k] = (header.bins[k] + header.bins[k + 1]) / 2.0f;
    }
}

void LdiBase::BuildBinFactors() {
    binFactor.fill(0.0f);
    const std::int32_t bits = std::clamp<std::int32_t>(header.binBits, 0, 10);
    const std::size_t count = std::size_t{1} << bits;
    for (std::size_t i = 0; i < count; ++i) {
        binFactor[i] = 1.0f;
    }
}

namespace {

// The first float word of a stored camera record that is not finite, or -1.
int firstNonFiniteWord(const std::vector<std::uint8_t>& bytes, std::size_t floatWords) {
    for (std::size_t i = 0; i < floatWords && 4 * i + 4 <= bytes.size(); ++i) {
        std::uint32_t word = 0;
        std::memcpy(&word, bytes.data() + 4 * i, 4);
        if (!std::isfinite(std::bit_cast<float>(word))) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

double determinant4(const geometry::Matrix4& m) {
    // Laplace expansion along the first row, in double precision.
    const auto at = [&m](int r, int c) { return double{m(r, c)}; };
    const auto minor3 = [&at](int skip) {
        int cols[3];
        for (int c = 0, k = 0; c < 4; ++c) {
            if (c != skip) {
                cols[k++] = c;
            }
        }
        return at(1, cols[0]) *
                   (at(2, cols[1]) * at(3, cols[2]) - at(2, cols[2]) * at(3, cols[1])) -
               at(1, cols[1]) *
                   (at(2, cols[0]) * at(3, cols[2]) - at(2, cols[2]) * at(3, cols[0])) +
               at(1, cols[2]) * (at(2, cols[0]) * at(3, cols[1]) - at(2, cols[1]) * at(3, cols[0]));
    };
    return at(0, 0) * minor3(0) - at(0, 1) * minor3(1) + at(0, 2) * minor3(2) -
           at(0, 3) * minor3(3);
}

}  // namespace

std::string ReferenceViewProblem(const geometry::ViewCamera& view) {
    const geometry::Vector3& p = view.pos;
    if (std::fabs(p.x) > geometry::kMaxCameraCoordinate ||
        std::fabs(p.y) > geometry::kMaxCameraCoordinate ||
        std::fabs(p.z) > geometry::kMaxCameraCoordinate) {
        return platform::formatString(
            "the reference view's position (%g, %g, %g) lies beyond %g of the origin", p.x, p.y,
            p.z, static_cast<double>(geometry::kMaxCameraCoordinate));
    }
    const double dirLength = view.dir.length();
    const double upLength = view.up.length();
    const double sideLength = geometry::cross(view.dir, view.up).length();
    if (!(dirLength > 0.0) || !(sideLength > 1e-6 * dirLength * upLength)) {
        return "the reference view's direction is zero or parallel to its up vector";
    }
    if (!(view.near > 0.0f) || !(view.far > view.near)) {
        return platform::formatString(
            "the reference view's depth range %g to %g is not 0 < near "
            "< far",
            view.near, view.far);
    }
    if (!(view.fov > 0.0f) || !(view.fov < 3.14159265f)) {
        return platform::formatString("the reference view's angle %g is not in (0, pi)", view.fov);
    }
    const double projection = determinant4(view.projection);
    if (!(std::fabs(projection) > 0.0) || !std::isfinite(projection)) {
        return "the reference view's projection cannot be inverted";
    }
    const double viewport = determinant4(view.viewport);
    if (!(std::fabs(viewport) > 0.0) || !std::isfinite(viewport)) {
        return "the reference view's viewport cannot be inverted";
    }
    return {};
}

std::string LdiBase::CheckHeader() const {
    if (header.ldiType != KindLdiType() || header.dptType != KindDptType()) {
        return platform::formatString(
            "type pair (%d %s, %d %s) does not match this kind (%s, %s)", header.ldiType,
            std::string(ldiTypeName(header.ldiType)).c_str(), header.dptType,
            std::string(dptTypeName(header.dptType)).c_str(),
            std::string(ldiTypeName(KindLdiType())).c_str(),
            std::string(dptTypeName(KindDptType())).c_str());
    }
    if (header.width < 1 || header.width > kMaxSide || header.height < 1 ||
        header.height > kMaxSide) {
        return platform::formatString("grid %d x %d outside 1..%d on a side", header.width,
                                      header.height, kMaxSide);
    }
    if (header.binCount < 0 || header.binCount > 2048) {
        return platform::formatString("binCount %d outside 0..2048", header.binCount);
    }
    // Both reference camera records are all floats (the full one ends with two ints): a NaN or
    // infinity anywhere would give a camera that sees nothing.
    platform::ByteWriter view;
    header.view.serializeInMemoryOrder(view);
    const int viewWord = firstNonFiniteWord(view.bytes(), geometry::ViewCamera::kStoredSize / 4);
    if (viewWord >= 0) {
        return platform::formatString("the reference view holds a non-finite value (word %d)",
                                      viewWord);
    }
    platform::ByteWriter camera;
    header.camera.serialize(camera);
    const int cameraWord =
        firstNonFiniteWord(camera.bytes(), geometry::Camera::kStoredSize / 4 - 2);
    if (cameraWord >= 0) {
        return platform::formatString("the reference camera holds a non-finite value (word %d)",
                                      cameraWord);
    }
    return ReferenceViewProblem(header.view);
}

int LdiBase::NormalisedDepthRange(std::int32_t row, std::int32_t col, float& min,
                                  float& max) const {
    return DepthRange(row, col, min, max);
}

int LdiBase::Fail(const std::string& path, const std::string& problem) {
    loadError_ = path + ": " + problem;
    if (reportErrors) {
        platform::debugPrintf("%s\n", loadError_.c_str());
    }
    return 0;
}

int LdiBase::FailPlain(const std::string& problem) {
    loadError_ = problem;
    return 0;
}

void LdiBase::FinishLoad() {
    visibleRect.prepare(header.view, header.width, header.height);
    BuildBinValues();
    // Only the CP kinds convert their bins to eye-depth factors at load.
    if (KindDptType() == toInt(DptType::CP)) {
        BuildBinFactors();
    }
    BuildRowDepthRanges();
}

int LdiBase::RowDepthRange(std::int32_t row, float& min, float& max) const {
    int any = 0;
    for (std::int32_t col = 0; col < header.width; ++col) {
        float lo = 0.0f;
        float hi = 0.0f;
        if (NormalisedDepthRange(row, col, lo, hi) != 0) {
            min = any != 0 ? std::min(min, lo) : lo;
            max = any != 0 ? std::max(max, hi) : hi;
            any = 1;
        }
    }
    return any;
}

void LdiBase::BuildRowDepthRanges() {
    const std::int32_t rows = std::max(header.height, 0);
    header.culler.allocate(rows);
    // Folded from 1 and -1, so a row without samples keeps (1, -1). Bands of rows on the
    // drawing threads: a large LDI's rows hold millions of samples.
    std::vector<float> mins(static_cast<std::size_t>(rows), 1.0f);
    std::vector<float> maxs(static_cast<std::size_t>(rows), -1.0f);
    const int parts = std::max(1, std::min(platform::drawThreads(), rows / 256));
    platform::drawPool().run(parts, [&](int part) {
        const auto first = static_cast<std::int32_t>(std::int64_t{rows} * part / parts);
        const auto last = static_cast<std::int32_t>(std::int64_t{rows} * (part + 1) / parts);
        for (std::int32_t row = first; row < last; ++row) {
            float lo = 0.0f;
            float hi = 0.0f;
            if (RowDepthRange(row, lo, hi) != 0) {
                const auto r = static_cast<std::size_t>(row);
                mins[r] = std::min(mins[r], lo);
                maxs[r] = std::max(maxs[r], hi);
            }
        }
    });
    for (std::int32_t row = 0; row < rows; ++row) {
        header.culler.setRow(row, mins[static_cast<std::size_t>(row)],
                             maxs[static_cast<std::size_t>(row)]);
    }
}

int LdiBase::AllocateAfterIndexCheck(LdiFileReader& file, const std::string& indexProblem) {
    if (!indexProblem.empty()) {
        file.problem = indexProblem;
        return 0;
    }
    if (AllocateFromHeader() == 0) {
        file.problem = loadError_;
        return 0;
    }
    return 1;
}

void LdiBase::ResetAfterFailure() {
    Release();
    header = LdiHeader{};
    header.ldiType = KindLdiType();
    header.dptType = KindDptType();
    headerRead = 0;
    arraysAllocated = 0;
    trailingBytes = 0;
    binValue.fill(0.0f);
    binFactor.fill(0.0f);
}

std::string LdiBase::CheckAllocation(std::int32_t width, std::int32_t height,
                                     std::span<const std::int32_t> counts,
                                     std::size_t countsNeeded) const {
    if (width < 1 || width > kMaxSide || height < 1 || height > kMaxSide) {
        return platform::formatString("grid %d x %d outside 1..%d on a side", width, height,
                                      kMaxSide);
    }
    if (counts.size() < countsNeeded) {
        return platform::formatString("%zu element counts given, %zu needed", counts.size(),
                                      countsNeeded);
    }
    for (std::size_t i = 0; i < countsNeeded; ++i) {
        if (counts[i] < 0) {
            return platform::formatString("negative element count %d", counts[i]);
        }
    }
    return {};
}

const render::SampleDensity& LdiBase::SampleDensityOfGrid() {
    const std::array<std::int64_t, 3> key{width(), height(),
                                          arraysAllocated ? DepthPixelCount() : -1};
    if (key != densityKey_) {
        densityKey_ = key;
        density_ = arraysAllocated ? render::makeSampleDensity(
                                         width(), height(),
                                         [this](std::int32_t r, std::int32_t c) {
                                             return static_cast<std::int64_t>(LayerCount(r, c));
                                         })
                                   : render::SampleDensity{};
    }
    return density_;
}

}  // namespace strata::ldi
