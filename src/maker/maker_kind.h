// What `strata make` writes: one LDI file of a producer/pixel kind, the two-half quad list, a
// pyramid of levels, a set of pyramids or a voxel file. One name table serves the parser, help and
// output.
#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace strata::maker {

enum class MakerKind { rtCp, rtQp, rtMrqp, rtffCp, rtffQp, rtffMrqp, quad, pyramid, set, voxel };

enum class PixelKind { cp, qp, mrqp };

struct MakerKindInfo {
    MakerKind kind;
    std::string_view name;       // command-line name, e.g. "rt-qp"
    std::string_view extension;  // file extension written, without the dot
    std::string_view summary;    // one line for the help text
};

std::span<const MakerKindInfo> makerKinds();
const MakerKindInfo& makerKindInfo(MakerKind kind);
std::optional<MakerKind> makerKindFromName(std::string_view name);

// True for the six single-file kinds; then pixelKind and blockLayout say which file.
bool isSingleFileKind(MakerKind kind);
PixelKind pixelKindOf(MakerKind kind);  // quad, pyramid and set levels are QP
bool isBlockLayout(MakerKind kind);     // the rtff-* kinds

}  // namespace strata::maker
