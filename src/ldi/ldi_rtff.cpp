// Block-layout (RTFF) loading and saving. The header block and the body are read with
// unbuffered I/O straight into 65536-byte aligned blocks; the arrays are views into the body.
#include "ldi/ldi_rtff.h"

#include <cinttypes>
#include <cstring>

#include "platform/debug_output.h"
#include "platform/unbuffered_file.h"

namespace strata::ldi {

namespace {

std::array<std::int64_t, 4> countsOf(std::int32_t dptType, std::span<const std::int32_t> counts) {
    std::array<std::int64_t, 4> out{};
    const std::size_t used = dptType == toInt(DptType::MRQP) ? 4 : 1;
    for (std::size_t i = 0; i < used && i < counts.size(); ++i) {
        out[i] = counts[i];
    }
    return out;
}

std::array<std::int32_t, 4> headerCounts(const LdiHeader& header) {
    if (header.dptType == toInt(DptType::MRQP)) {
        const auto c = header.mrqpCounts();
        return {c[0], c[1], c[2], c[3]};
    }
    return {header.pixelCount, 0, 0, 0};
}

bool sameLayout(const RtffLayout& a, const RtffLayout& b) {
    return a.partA == b.partA && a.partB == b.partB && a.blocksA == b.blocksA &&
           a.blocksB == b.blocksB;
}

}  // namespace

bool RtffIo::allocate(RtffBlocks& blocks, std::int32_t dptType, std::int32_t width,
                      std::int32_t height, std::span<const std::int32_t> counts,
                      std::string& problem) {
    blocks.reset();
    RtffLayout layout;
    if (!computeRtffLayout(dptType, width, height, countsOf(dptType, counts), layout, problem)) {
        return false;
    }
    if (!blocks.headerBlock.allocate(RtffLayout::kBlock) ||
        !blocks.body.allocate(layout.bodyBytes())) {
        blocks.reset();
        problem = "out of memory";
        return false;
    }
    blocks.layout = layout;
    return true;
}

int RtffIo::load(LdiBase& ldi, RtffBlocks& blocks, const std::string& path,
                 const IndexCheck& checkIndex) {
    ldi.loadError_.clear();
    const auto refuse = [&ldi, &path](const std::string& problem) {
        ldi.ResetAfterFailure();
        return ldi.Fail(path, problem);
    };
    platform::UnbufferedFile file;
    std::string error;
    if (!file.open(path, error)) {
        // Nothing was read: the object keeps what it held.
        return ldi.Fail(path, error);
    }
    // The header block.
    platform::AlignedBlock headerBlock;
    if (!headerBlock.allocate(RtffLayout::kBlock)) {
        return refuse("out of memory");
    }
    const std::int64_t got = file.read(headerBlock.data(), RtffLayout::kBlock, error);
    if (got < 0) {
        return refuse(error);
    }
    if (static_cast<std::uint64_t>(got) < RtffLayout::kBlock) {
        return refuse(platform::formatString(
            "truncated: the header block needs 65536 bytes, the file holds %" PRId64, got));
    }
    LdiHeader header;
    header.deserialize(std::span<const std::uint8_t>(headerBlock.data(), LdiHeader::kSize));
    ldi.header = header;
    ldi.MarkHeaderRead();
    const std::string problem = ldi.CheckHeader();
    if (!problem.empty()) {
        return refuse(problem);
    }
    // The file must hold the whole body before anything is allocated.
    RtffLayout layout;
    const auto counts = headerCounts(ldi.header);
    if (!computeRtffLayout(ldi.header.dptType, ldi.header.width, ldi.header.height,
                           countsOf(ldi.header.dptType, counts), layout, error)) {
        return refuse(error);
    }
    if (file.size() < layout.fileBytes()) {
        return refuse(platform::formatString("truncated: the header promises a %" PRIu64
                                             "-byte block file, the file holds %" PRIu64,
                                             layout.fileBytes(), file.size()));
    }
    // Part A: the index arrays, checked before anything else is allocated or read.
    const std::uint64_t partABytes = layout.blocksA * RtffLayout::kBlock;
    platform::AlignedBlock partA;
    if (!partA.allocate(partABytes)) {
        return refuse("out of memory");
    }
    const std::int64_t gotA = file.read(partA.data(), partABytes, error);
    if (gotA < 0) {
        return refuse(error);
    }
    if (static_cast<std::uint64_t>(gotA) < partABytes) {
        return refuse(platform::formatString("truncated: the index blocks need %" PRIu64
                                             " bytes, the file holds %" PRId64,
                                             partABytes, gotA));
    }
    const std::string index = checkIndex(partA.data());
    if (!index.empty()) {
        return refuse(index);
    }
    if (ldi.AllocateFromHeader() == 0) {
        const std::string reason = ldi.loadError_;
        return refuse(reason);
    }
    // Part B: the pixel arrays, in one read.
    if (partABytes != 0) {
        std::memcpy(blocks.body.data(), partA.data(), partABytes);
    }
    partA.reset();
    const std::uint64_t partBBytes = layout.blocksB * RtffLayout::kBlock;
    const std::int64_t gotB = file.read(blocks.body.data() + partABytes, partBBytes, error);
    if (gotB < 0) {
        return refuse(error);
    }
    if (static_cast<std::uint64_t>(gotB) < partBBytes) {
        return refuse(platform::formatString(
            "truncated: the body needs %" PRIu64 " bytes, the file holds %" PRId64,
            layout.bodyBytes(), static_cast<std::int64_t>(partABytes) + gotB));
    }
    blocks.headerBlock = std::move(headerBlock);
    const std::string arrays = ldi.CheckArrays();
    if (!arrays.empty()) {
        return refuse(arrays);
    }
    ldi.FinishLoad();
    ldi.trailingBytes = file.size() - layout.fileBytes();
    return 1;
}

int RtffIo::save(LdiBase& ldi, const RtffBlocks& blocks, const std::string& path) {
    ldi.loadError_.clear();
    std::string problem = ldi.CheckHeader();
    if (problem.empty()) {
        problem = ldi.CheckArrays();
    }
    RtffLayout layout;
    if (problem.empty()) {
        const auto counts = headerCounts(ldi.header);
        computeRtffLayout(ldi.header.dptType, ldi.header.width, ldi.header.height,
                          countsOf(ldi.header.dptType, counts), layout, problem);
    }
    if (problem.empty() &&
        (!sameLayout(layout, blocks.layout) || blocks.body.size() != layout.bodyBytes())) {
        problem = "the header does not match the allocated body";
    }
    if (!problem.empty()) {
        return ldi.Fail(path, "not saved: " + problem);
    }
    ldi.header.version = LdiHeader::kStoredVersion;
    LdiHeader stored = ldi.header;
    stored.ldiType = ldi.KindLdiType();
    stored.dptType = ldi.KindDptType();
    platform::ByteWriter out;
    stored.serialize(out);
    LdiFileWriter file(path);
    if (!file.write(out.bytes().data(), out.size(), "the header block") ||
        !file.writeZeros(RtffLayout::kBlock - out.size(), "the header block") ||
        !file.write(blocks.body.data(), layout.bodyBytes(), "the body") || !file.commit()) {
        return ldi.Fail(path, file.problem);
    }
    return 1;
}

// ---- LdiRtffCp ---------------------------------------------------------------------------

LdiRtffCp::LdiRtffCp() {
    header.ldiType = toInt(LdiType::RTFF);
}
LdiRtffCp::~LdiRtffCp() = default;

void LdiRtffCp::Release() {
    LdiRtCp::Release();
    blocks_.reset();
}

int LdiRtffCp::Load(const std::string& path) {
    return RtffIo::load(*this, blocks_, path, [this](const std::uint8_t* partA) {
        const auto* starts = reinterpret_cast<const std::int32_t*>(partA);
        return CheckIndex(starts, partA + 4 * (static_cast<std::size_t>(header.height) + 1),
                          header.pixelCount);
    });
}

int LdiRtffCp::Save(const std::string& path) {
    return RtffIo::save(*this, blocks_, path);
}

int LdiRtffCp::Allocate(std::int32_t width, std::int32_t height, std::int32_t /*perPixel*/,
                        std::span<const std::int32_t> counts) {
    Release();
    std::string problem = CheckAllocation(width, height, counts, 1);
    if (problem.empty()) {
        RtffIo::allocate(blocks_, KindDptType(), width, height, counts, problem);
    }
    if (!problem.empty()) {
        Release();
        return FailPlain("cannot allocate the RTFF/CP body: " + problem);
    }
    std::uint8_t* body = blocks_.body.data();
    rowStart = reinterpret_cast<std::int32_t*>(body);
    layerCount = body + 4 * (static_cast<std::size_t>(height) + 1);
    pixels = reinterpret_cast<std::uint32_t*>(body + blocks_.layout.partBOffset());
    MarkAllocated(width, height, counts);
    return 1;
}

// ---- LdiRtffQp ---------------------------------------------------------------------------

LdiRtffQp::LdiRtffQp() {
    header.ldiType = toInt(LdiType::RTFF);
}
LdiRtffQp::~LdiRtffQp() = default;

void LdiRtffQp::Release() {
    LdiRtQp::Release();
    blocks_.reset();
}

int LdiRtffQp::Load(const std::string& path) {
    return RtffIo::load(*this, blocks_, path, [this](const std::uint8_t* partA) {
        const auto* starts = reinterpret_cast<const std::int32_t*>(partA);
        const auto* offsets = reinterpret_cast<const std::uint16_t*>(
            partA + 4 * (static_cast<std::size_t>(header.height) + 1));
        return CheckIndex(starts, offsets, header.pixelCount);
    });
}

int LdiRtffQp::Save(const std::string& path) {
    return RtffIo::save(*this, blocks_, path);
}

int LdiRtffQp::Allocate(std::int32_t width, std::int32_t height, std::int32_t /*perPixel*/,
                        std::span<const std::int32_t> counts) {
    Release();
    std::string problem = CheckAllocation(width, height, counts, 1);
    if (problem.empty()) {
        RtffIo::allocate(blocks_, KindDptType(), width, height, counts, problem);
    }
    if (!problem.empty()) {
        Release();
        return FailPlain("cannot allocate the RTFF/QP body: " + problem);
    }
    std::uint8_t* body = blocks_.body.data();
    rowStart = reinterpret_cast<std::int32_t*>(body);
    layerOffset =
        reinterpret_cast<std::uint16_t*>(body + 4 * (static_cast<std::size_t>(height) + 1));
    pixels = reinterpret_cast<std::uint32_t*>(body + blocks_.layout.partBOffset());
    MarkAllocated(width, height, counts);
    return 1;
}

// ---- LdiRtffMrqp -------------------------------------------------------------------------

LdiRtffMrqp::LdiRtffMrqp() {
    header.ldiType = toInt(LdiType::RTFF);
}
LdiRtffMrqp::~LdiRtffMrqp() = default;

void LdiRtffMrqp::Release() {
    LdiRtMrqp::Release();
    blocks_.reset();
}

int LdiRtffMrqp::Load(const std::string& path) {
    return RtffIo::load(*this, blocks_, path, [this](const std::uint8_t* partA) {
        std::array<const std::int32_t*, 3> starts{};
        std::array<const std::uint16_t*, 3> offsets{};
        const std::size_t rows = static_cast<std::size_t>(header.height) + 1;
        const std::size_t entries = static_cast<std::size_t>(header.width + 1) * header.height;
        for (std::size_t k = 0; k < 3; ++k) {
            starts[k] = reinterpret_cast<const std::int32_t*>(partA + 4 * rows * k);
            offsets[k] =
                reinterpret_cast<const std::uint16_t*>(partA + 12 * rows + 2 * entries * k);
        }
        return CheckIndexLevels(starts, offsets,
                                {header.mrqpCount(0), header.mrqpCount(1), header.mrqpCount(2)});
    });
}

int LdiRtffMrqp::Save(const std::string& path) {
    return RtffIo::save(*this, blocks_, path);
}

std::string LdiRtffMrqp::CheckHeader() const {
    std::string problem = LdiRtMrqp::CheckHeader();
    if (problem.empty() &&
        (static_cast<std::int64_t>(header.height) * (header.width + 1)) % 2 != 0) {
        problem = platform::formatString(
            "block-layout MRQP needs an even height x (width + 1), this grid has %" PRId64,
            static_cast<std::int64_t>(header.height) * (header.width + 1));
    }
    return problem;
}

int LdiRtffMrqp::Allocate(std::int32_t width, std::int32_t height, std::int32_t /*perPixel*/,
                          std::span<const std::int32_t> counts) {
    Release();
    std::string problem = CheckAllocation(width, height, counts, 4);
    if (problem.empty()) {
        RtffIo::allocate(blocks_, KindDptType(), width, height, counts, problem);
    }
    if (!problem.empty()) {
        Release();
        return FailPlain("cannot allocate the RTFF/MRQP body: " + problem);
    }
    std::uint8_t* body = blocks_.body.data();
    const std::size_t rows = static_cast<std::size_t>(height) + 1;
    const std::size_t offsets = static_cast<std::size_t>(width + 1) * height;
    for (std::size_t k = 0; k < 3; ++k) {
        rowStart[k] = reinterpret_cast<std::int32_t*>(body + 4 * rows * k);
        layerOffset[k] = reinterpret_cast<std::uint16_t*>(body + 12 * rows + 2 * offsets * k);
    }
    std::uint8_t* partB = body + blocks_.layout.partBOffset();
    const auto n = [&counts](int k) { return static_cast<std::size_t>(counts[k]); };
    pixels = reinterpret_cast<std::uint32_t*>(partB);
    colours4x4 = reinterpret_cast<std::uint32_t*>(partB + 8 * n(0));
    colours2x2 = reinterpret_cast<std::uint32_t*>(partB + 8 * n(0) + 4 * n(1));
    fullColours = reinterpret_cast<std::uint32_t*>(partB + 8 * n(0) + 4 * (n(1) + n(2)));
    MarkAllocated(width, height, counts);
    return 1;
}

}  // namespace strata::ldi
