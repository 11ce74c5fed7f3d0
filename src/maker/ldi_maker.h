// The LDI maker: casts a scene into layered sample lists and writes them as LDI files of every
// kind, as pyramids of halving resolution and as sets of pyramids seen from several directions.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "maker/layer_source.h"
#include "maker/layered_image.h"
#include "maker/maker_kind.h"
#include "maker/ray_caster.h"

namespace strata::maker {

// The grid side of `strata make` without --size: one sample per pixel of the viewer's 350 x 350
// window at its 45-degree view of the file's own camera, so the first picture is neither a
// magnified lattice nor resampled.
inline constexpr std::int32_t kDefaultGridSize = 350;
// Most directions of a set.
inline constexpr int kMaxSetMembers = 64;
// The side below which a pyramid gets no further level.
inline constexpr std::int32_t kMinLevelSide = 8;

// Levels a pyramid of a square grid of side `size` can have (the side halves each level and
// stays at least kMinLevelSide below the first).
int pyramidLevelsFor(std::int32_t size);

// "" when a square grid of side `size` can be stored in `kind`, else why not. An MRQP row of N
// pixels may need 16 colours a pixel at its finest level, and a row holds at most
// kMaxRowEntries, so MRQP sides stop at 2047.
std::string sizeProblem(MakerKind kind, std::int32_t size);

// Progress of the work on one output file: its name and the fraction done (0..1).
using FileProgressCallback = std::function<void(const std::string& file, double fraction)>;

struct MakeRequest {
    MakerKind kind = MakerKind::rtQp;
    PinholeCamera camera;                  // normalised; near/far 0 are fitted per file
    std::int32_t size = kDefaultGridSize;  // square grid
    int layers = 8;
    int threads = 2;
    ShadingOptions shading;
    int pyramidLevels = 3;     // levels of a pyramid (stops before a side below 8)
    int setMembers = 4;        // directions of a set, evenly around the vertical axis
    double loadSeconds = 0.0;  // time the scene took to read, stored in every header
    FileProgressCallback progress;
};

// One file written (for pyramids and sets: the list and every member file).
struct MadeFile {
    std::string path;
    std::string kindName;  // the maker kind name, or "level" / "member" for parts
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int64_t depthPixels = 0;
    double meanLayers = 0.0;
    int maxLayers = 0;
    double raysPerSecond = 0.0;
};

// The summary line: "<file>: <kind> <W>x<H>, <N> depth pixels, layers mean <m> max <M>,
// <R> rays/s".
std::string summaryLine(const MadeFile& made);

// "" when the files of `kind` written to output can be named in the lists that hold them
// (pyramid levels, set members and quad halves are named by file name, and list readers split
// names at white space), else one line naming the member name and the problem.
std::string outputNameProblem(MakerKind kind, const std::string& output);

// Makes request.kind at `output`: a file path (single kinds; for quad, pyramid and set the list
// file, with members named after its stem beside it and named by file name in the list).
// Returns false with one message on failure. A quad, pyramid or set is replaced as a whole or
// not at all: on failure every file of the old one is left as it was.
bool makeLdi(const RayCaster& caster, const MakeRequest& request, const std::string& output,
             std::vector<MadeFile>& made, std::string& error);

// Makes one file of every kind, a pyramid and a set into the folder `directory` (created when
// missing), named <stem>.<extension>.
bool makeAllKinds(const RayCaster& caster, const MakeRequest& request, const std::string& directory,
                  const std::string& stem, std::vector<MadeFile>& made, std::string& error);

// A set made member by member (on several machines): each member's pyramid written by
// makeSetMember into a folder of parts, then the whole set put in place by commitSet. The files
// are those makeLdi writes for the set, byte for byte.
//
// The set list for request.setMembers members of the set at setPath.
std::string setListText(const MakeRequest& request, const std::string& setPath);
// The file names of member m of the set at setPath: its levels, then its pyramid list.
std::vector<std::string> setMemberFiles(const MakeRequest& request, const std::string& setPath,
                                        int member);
// Writes member m's pyramid (its levels, then its list) into `directory`, named as beside
// setPath, replacing them as a whole or not at all. False with one message.
bool makeSetMember(const RayCaster& caster, const MakeRequest& request, const std::string& setPath,
                   int member, const std::string& directory, std::vector<MadeFile>& made,
                   std::string& error);
// Moves every member file from `directory` beside setPath and writes the list last, as one file
// set: on failure (a member file missing included) the old set is left as it was. False with one
// message.
bool commitSet(const MakeRequest& request, const std::string& setPath, const std::string& directory,
               std::string& error);
// The same two from any source of layers (a scene cast by `caster` is one such source).
bool makeLdi(const LayerSource& source, const MakeRequest& request, const std::string& output,
             std::vector<MadeFile>& made, std::string& error);
bool makeAllKinds(const LayerSource& source, const MakeRequest& request,
                  const std::string& directory, const std::string& stem,
                  std::vector<MadeFile>& made, std::string& error);

// The frame the viewer draws (side in pixels) and its default field of view.
inline constexpr std::int32_t kViewerFrameSide = 350;

// Where a pyramid level of levelSide x levelSide samples, made with camera (normalised), draws
// about one output pixel per sample in the viewer's default frame: on the camera's line of
// sight through the scene centre, at the distance (along dir) where a sample at the centre's
// depth covers one of kViewerFrameSide pixels over the viewer's default field of view.
geometry::Vector3 pyramidLevelEye(const PinholeCamera& camera, const Bounds& sceneBounds,
                                  std::int32_t levelSide);

// The distance the maker writes for that level: as the viewer measures it, from the look-at
// centre (0, 0, lookAtDepth) to pyramidLevelEye, with lookAtDepth the z extent of the finest
// level's bounding box (the box the view reset reads).
float pyramidLevelDistance(const PinholeCamera& camera, const Bounds& sceneBounds,
                           std::int32_t levelSide, float lookAtDepth);

// The file name of a kind for a stem: "<stem>.<extension>".
std::string fileNameFor(MakerKind kind, const std::string& stem);

}  // namespace strata::maker
