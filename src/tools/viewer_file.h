// Opening any file the viewer opens, chosen by its extension as the viewer's File Open does:
// "vox" a voxel model, "ldiset" an LDI set, "ldipyr" an LDI pyramid, anything else an LDI file
// (or ".ldiquad" list). Drawing it picks the object as the frame driver does.
#pragma once

#include <memory>
#include <string>

#include "geometry/view_camera.h"
#include "imageutil/rgb_image.h"
#include "ldi/draw_common.h"
#include "ldi/ldi_base.h"
#include "ldi/ldi_pyramid.h"
#include "ldi/ldi_set.h"
#include "ldi/voxel_model.h"
#include "render/output_view.h"

namespace strata::tools {

enum class ViewerFileKind { ldi, pyramid, set, voxel };

// The kind by the path's extension (compared without regard to case).
ViewerFileKind viewerFileKindOf(const std::string& path);

struct ViewerFile {
    ViewerFileKind kind = ViewerFileKind::ldi;
    std::unique_ptr<ldi::LdiBase> ldi;
    std::unique_ptr<ldi::LdiPyramid> pyramid;
    std::unique_ptr<ldi::LdiSet> set;
    std::unique_ptr<ldi::VoxelModel> voxel;
    // The look-at depth of the view reset (pyramids and sets).
    float lookAtDepth = 0.0f;
    // The reference camera a view starts from and the bounding box: the LDI's; for a pyramid its
    // current level's; for a set its first loaded member's; for a voxel model its reference
    // view and the box (-1, -1, -1)..(1, 1, 1).
    geometry::ViewCamera reference;
    geometry::Vector3 boundsMin;
    geometry::Vector3 boundsMax;
};

// Opens path. False with error set when it does not open or is refused, or (pyramids, sets)
// when no level of it loaded. quiet keeps the readers' own lines off stderr and the debug
// output.
bool openViewerFile(const std::string& path, ViewerFile& file, std::string& error, bool quiet);

// What a draw chose and counted; level and member are -1 where they do not apply.
struct ViewerDraw {
    ldi::LdiDrawStats stats;
    std::int32_t level = -1;
    std::int32_t member = -1;
};

// One frame as the viewer draws it: background, then the object the frame driver picks for a
// camera at view.camera.pos (a pyramid's level by distance, a set's member by direction then
// its level), drawn with the settings. An empty level draws the background only.
ViewerDraw drawViewerFile(ViewerFile& file, const ldi::FrameSettings& settings,
                          const render::OutputView& view, imageutil::RgbImage& frame);

}  // namespace strata::tools
