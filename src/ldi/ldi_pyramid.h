// An LDI pyramid: a text list (".ldipyr") of LDIs of one scene at decreasing resolution, each
// with the viewing distance it suits. The frame driver draws the level whose distance range
// holds the camera's distance; levels switch at the midpoint of two neighbouring distances.
//
// List format: the level count N, then N pairs "<file> <distance>", whitespace-separated (line
// breaks anywhere), distances increasing.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "geometry/matrix.h"
#include "geometry/view_camera.h"
#include "ldi/ldi_base.h"

namespace strata::imageutil {
class RgbImage;
}

namespace strata::ldi {

class LdiLoadCache;

class LdiPyramid {
  public:
    // Largest level count a list may give.
    static constexpr std::int32_t kMaxLevels = 64;

    LdiPyramid();
    virtual ~LdiPyramid();
    LdiPyramid(const LdiPyramid&) = delete;
    LdiPyramid& operator=(const LdiPyramid&) = delete;

    // OpenPyramidIn with no directory.
    int OpenPyramid(const std::string& path);
    // Reads the list at path and loads every level. When path does not open, the last path
    // component is cut at its first dot and "<part>.ldipyr" is tried instead ("scene.ldi" ->
    // "scene.ldipyr", "a.b.c" -> "a.ldipyr", "/data/v1.2/s" -> "/data/v1.2/s.ldipyr"). Level
    // names are looked up in `directory` first when one is given, then as quad lists resolve
    // their halves (beside the list first). Returns 1 when the list was read (a level file that
    // fails to load leaves that level empty, with its reason in levelError); 0 when no list
    // opens or the list is short or malformed (one line naming the list and the line), and the
    // pyramid is then left empty. Any previous content is dropped first.
    // Level names that lead outside the folder of the file opened are refused (levelError) unless
    // outside paths are allowed (platform::FolderFence). Before any level is loaded the distinct
    // level files are sized from their headers: a pyramid that would take more than the list
    // memory budget (listMemoryBudget) is refused whole. Levels naming the same file share one
    // loaded LDI.
    int OpenPyramidIn(const std::string& directory, const std::string& path);

    // The two steps of OpenPyramidIn, for a set that budgets and loads all its pyramids at once:
    // ReadLevelList reads and checks the list and finds every level's file (1, or 0 with the
    // pyramid refused and empty); LoadLevels then loads them through the cache.
    int ReadLevelList(const std::string& directory, const std::string& path);
    void LoadLevels(LdiLoadCache& cache);
    // The files of the levels found by ReadLevelList (refused and missing names left out).
    std::vector<std::string> LevelFiles() const;
    // Refuses the pyramid as OpenPyramidIn refuses a list (empty, openError set, one line).
    int RefuseWhole(const std::string& message) { return Refuse(message); }

    // The current level, or none when there are no levels or the current one is empty.
    LdiBase* CurrentLdi() const;
    // The level for a camera at `distance` (the viewer measures it from the look-at centre):
    // the highest i >= 1 whose midpoint (d[i-1] + d[i]) / 2 lies strictly below distance, else
    // 0. Makes it current, handing the render options of the old level to the new one when
    // both are loaded, and returns it. No levels: returns 0 and changes nothing.
    std::int32_t SelectLevel(float distance);
    // Makes index, clamped to 0..levelCount-1, current (options handed over as in SelectLevel)
    // and returns it. No levels: returns 0.
    std::int32_t SetLevel(std::int32_t index);

    // ---- Virtual operations, in their fixed order --------------------------------------------
    // Draws the current level's columns xRange and rows yRange with no depth buffer; an empty
    // level draws nothing (zero counters).
    virtual LdiDrawStats Draw(const geometry::Matrix4& warpMatrix,
                              const geometry::Matrix4& viewMatrix,
                              const geometry::ViewCamera& outputCamera, imageutil::RgbImage& frame,
                              IntRange xRange, IntRange yRange);
    // DrawAll of the current level; an empty level draws nothing.
    virtual LdiDrawStats DrawAll(const geometry::Matrix4& warpMatrix,
                                 const geometry::Matrix4& viewMatrix,
                                 const geometry::ViewCamera& outputCamera,
                                 imageutil::RgbImage& frame);

    // The list that was read (after the ".ldipyr" fallback), and the reason of the last failed
    // open ("" after a success).
    const std::string& listPath() const { return listPath_; }
    const std::string& openError() const { return openError_; }
    // The reason a level did not load ("" for a loaded level).
    const std::string& levelError(std::int32_t index) const;
    // The file a level was looked for under ("" out of range).
    const std::string& levelPath(std::int32_t index) const;
    // The first level that loaded, or none.
    LdiBase* FirstLoadedLdi() const;

    std::int32_t levelCount = 0;
    std::int32_t currentLevel = 0;
    std::array<float, 12> spare{};     // carried, not used
    std::vector<float> levelDistance;  // levelCount entries, file order
    // levelCount entries, file order; an entry is empty when its file did not load. Levels
    // naming one file share it (with each other and with other pyramids of a set).
    std::vector<std::shared_ptr<LdiBase>> levels;
    // When false, failures are kept (openError, levelError) but not printed.
    bool reportErrors = true;

  private:
    std::int32_t MakeCurrent(std::int32_t level);
    int Refuse(const std::string& message);
    void Clear();

    std::string listPath_;
    std::string openError_;
    std::vector<std::string> levelErrors_;
    std::vector<std::string> levelPaths_;
};

// The name tried when a pyramid list does not open: the last component of path cut at its
// first dot, with ".ldipyr" added. Empty when that part would be empty (".hidden").
std::string PyramidFallbackPath(const std::string& path);

// The look-at depth the view reset takes for a pyramid: boundsMax.z - boundsMin.z of the
// current level (or, when that is empty, of the first level that loaded); 0 with no level.
float LookAtDepth(const LdiPyramid& pyramid);

// The camera's distance as the frame driver measures it: from the look-at centre
// (0, 0, lookAtDepth) to pos.
float LookAtDistance(const geometry::Vector3& pos, float lookAtDepth);

// "" when the pyramid's current level is loaded (or it has no levels), else "level N of the
// pyramid did not load: <reason>".
std::string ChosenLevelFailure(const LdiPyramid& pyramid);

// The frame driver's level choice: unless frozen, the pyramid selects the level for the
// camera's distance from (0, 0, lookAtDepth). Returns the level to draw (none when empty).
LdiBase* ChooseLevel(LdiPyramid& pyramid, const geometry::Vector3& cameraPos, float lookAtDepth,
                     bool freezeSelection = false);

}  // namespace strata::ldi
