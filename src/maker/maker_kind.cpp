#include "maker/maker_kind.h"

#include <array>

namespace strata::maker {

namespace {
constexpr std::array<MakerKindInfo, 10> kKinds{{
    {MakerKind::rtCp, "rt-cp", "ldibrtcp", "stream LDI, compact 4-byte pixels"},
    {MakerKind::rtQp, "rt-qp", "ldibrtqp", "stream LDI, quantised 8-byte pixels"},
    {MakerKind::rtMrqp, "rt-mrqp", "ldibrtmrqp", "stream LDI, multi-resolution pixels"},
    {MakerKind::rtffCp, "rtff-cp", "ldirtffcp", "block-layout LDI, compact pixels"},
    {MakerKind::rtffQp, "rtff-qp", "ldirtffqp", "block-layout LDI, quantised pixels"},
    {MakerKind::rtffMrqp, "rtff-mrqp", "ldirtffmrqp", "block-layout LDI, multi-resolution"},
    {MakerKind::quad, "quad", "ldiquad", "two quantised halves (top and bottom rows)"},
    {MakerKind::pyramid, "pyramid", "ldipyr", "levels of halving resolution"},
    {MakerKind::set, "set", "ldiset", "pyramids from several directions"},
    {MakerKind::voxel, "voxel", "vox", "voxel columns on a 90-degree grid of 2N+1 cells"},
}};
}  // namespace

std::span<const MakerKindInfo> makerKinds() {
    return kKinds;
}

const MakerKindInfo& makerKindInfo(MakerKind kind) {
    for (const MakerKindInfo& info : kKinds) {
        if (info.kind == kind) {
            return info;
        }
    }
    return kKinds[0];
}

std::optional<MakerKind> makerKindFromName(std::string_view name) {
    for (const MakerKindInfo& info : kKinds) {
        if (info.name == name) {
            return info.kind;
        }
    }
    return std::nullopt;
}

bool isSingleFileKind(MakerKind kind) {
    return kind != MakerKind::quad && kind != MakerKind::pyramid && kind != MakerKind::set &&
           kind != MakerKind::voxel;
}

PixelKind pixelKindOf(MakerKind kind) {
    switch (kind) {
        case MakerKind::rtCp:
        case MakerKind::rtffCp:
            return PixelKind::cp;
        case MakerKind::rtMrqp:
        case MakerKind::rtffMrqp:
            return PixelKind::mrqp;
        default:
            return PixelKind::qp;
    }
}

bool isBlockLayout(MakerKind kind) {
    return kind == MakerKind::rtffCp || kind == MakerKind::rtffQp || kind == MakerKind::rtffMrqp;
}

}  // namespace strata::maker
