// The ".ldiquad" list: two half-file names on their own lines, then two vectors as six floats.
#include "ldi/ldi_rt_quad.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <vector>

#include "ldi/ldi_list.h"
#include "platform/debug_output.h"
#include "platform/file_io.h"
#include "platform/folder_fence.h"
#include "platform/fp_mode.h"

namespace strata::ldi {

namespace {

bool sameFile(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

std::string fileNameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The window of a reference camera on its image plane at unit distance, from the frustum of its
// projection: x from left to right, y from bottom to top.
struct Window {
    double left = 0.0;
    double right = 0.0;
    double bottom = 0.0;
    double top = 0.0;
};

Window windowOf(const LdiHeader& header) {
    const geometry::Matrix4& p = header.view.projection;
    Window w;
    w.left = (double{p(0, 2)} - 1.0) / double{p(0, 0)};
    w.right = (double{p(0, 2)} + 1.0) / double{p(0, 0)};
    w.bottom = (double{p(1, 2)} - 1.0) / double{p(1, 1)};
    w.top = (double{p(1, 2)} + 1.0) / double{p(1, 1)};
    return w;
}

bool close(double a, double b, double scale) {
    return std::fabs(a - b) <= 1e-4 * scale;
}

bool sameVector(const geometry::Vector3& a, const geometry::Vector3& b, float scale) {
    return (a - b).length() <= 1e-5f * scale;
}

// Whether bottom and top are the lower and upper rows of one camera's grid: one eye, direction,
// up vector and depth range, the same columns, and windows that meet where the bottom half's
// rows end, with rows of one height in both. "" when they are, else the problem.
std::string halvesProblem(const LdiRtQp& top, const LdiRtQp& bottom) {
    const geometry::ViewCamera& t = top.header.view;
    const geometry::ViewCamera& b = bottom.header.view;
    const float reach = std::max({1.0f, t.pos.length(), t.far});
    if (!sameVector(t.pos, b.pos, reach) || !sameVector(t.dir, b.dir, 1.0f) ||
        !sameVector(t.up, b.up, 1.0f) || !close(t.near, b.near, t.far) ||
        !close(t.far, b.far, t.far)) {
        return "the halves are not views of one camera (their eye, direction, up or depth range "
               "differ)";
    }
    const Window wt = windowOf(top.header);
    const Window wb = windowOf(bottom.header);
    const double span = std::max(wt.right - wt.left, 1e-30);
    if (!close(wt.left, wb.left, span) || !close(wt.right, wb.right, span)) {
        return "the halves' windows do not cover the same columns";
    }
    const double rowTop = (wt.top - wt.bottom) / top.height();
    const double rowBottom = (wb.top - wb.bottom) / bottom.height();
    const bool meets = close(wb.top, wt.bottom, span) && wb.bottom < wb.top && wt.bottom < wt.top;
    if (!meets) {
        if (close(wt.top, wb.bottom, span) && wt.bottom < wt.top && wb.bottom < wb.top) {
            return "the halves are swapped: the first name is the bottom half, the second the top";
        }
        return "the halves' windows are not the lower and upper parts of one view (is one of "
               "them a whole view, or the same half twice?)";
    }
    if (!close(rowTop, rowBottom, rowTop)) {
        return platform::formatString(
            "the halves' rows are not of one height (top half %d rows, bottom half %d rows for "
            "their windows)",
            top.height(), bottom.height());
    }
    return {};
}

bool near(double a, double b, double tolerance) {
    return std::fabs(a - b) <= tolerance * std::max({1.0, std::fabs(a), std::fabs(b)});
}

// The reference camera of the bottom and top halves as one grid: the projection's window runs
// from the bottom half's lower edge to the top half's upper edge and the viewport maps it onto
// all the rows, so that every row keeps its place. None when the halves are not the lower and
// upper rows of one camera's grid: another eye, direction, up, field of view or depth range,
// another perspective or column mapping, pixels of another height, or windows that do not meet.
bool jointView(const LdiRtQp& bottom, const LdiRtQp& top, geometry::ViewCamera& joint) {
    const geometry::ViewCamera& b = bottom.header.view;
    const geometry::ViewCamera& t = top.header.view;
    if (!(b.pos == t.pos && b.dir == t.dir && b.up == t.up && b.fov == t.fov && b.near == t.near &&
          b.far == t.far)) {
        return false;
    }
    // Rows 0 and 1 of the viewport, and the projection apart from its row 1, the same.
    for (int c = 0; c < 4; ++c) {
        if (!near(b.viewport(0, c), t.viewport(0, c), 1e-6) ||
            !near(b.projection(0, c), t.projection(0, c), 1e-6) ||
            !near(b.projection(2, c), t.projection(2, c), 1e-6) ||
            !near(b.projection(3, c), t.projection(3, c), 1e-6) ||
            !near(b.viewport(2, c), t.viewport(2, c), 1e-6) ||
            !near(b.viewport(3, c), t.viewport(3, c), 1e-6)) {
            return false;
        }
    }
    // A perspective row of y: device y = P11 Y - P12 for the image-plane height Y = y / -z;
    // the viewport's row of it: row = V11 device y + V13. Per half, row = a Y + c.
    const auto rowOf = [](const geometry::ViewCamera& v, double& scale, double& offset) {
        const double p11 = v.projection(1, 1);
        const double p12 = v.projection(1, 2);
        scale = v.viewport(1, 1) * p11;
        offset = v.viewport(1, 3) - v.viewport(1, 1) * p12;
        return v.projection(1, 0) == 0.0f && v.projection(1, 3) == 0.0f && p11 > 0.0 &&
               v.projection(3, 2) == -1.0f && v.projection(3, 3) == 0.0f;
    };
    double scaleB = 0.0;
    double offsetB = 0.0;
    double scaleT = 0.0;
    double offsetT = 0.0;
    if (!rowOf(b, scaleB, offsetB) || !rowOf(t, scaleT, offsetT) || !near(scaleB, scaleT, 1e-5) ||
        !near(offsetT + bottom.height(), offsetB, 1e-4)) {
        return false;
    }
    // The joint window in Y: from the bottom half's device -1 to the top half's device +1.
    const double low = (b.projection(1, 2) - 1.0) / b.projection(1, 1);
    const double high = (t.projection(1, 2) + 1.0) / t.projection(1, 1);
    if (!(high > low)) {
        return false;
    }
    joint = b;
    double p11 = 2.0 / (high - low);
    double p12 = (high + low) / (high - low);
    // A window centred on the axis with square pixels (as a camera whose field of view spans
    // both axes of its grid has) is written as such, not within the last bits of it.
    const double rows = bottom.height() + top.height();
    const double square = b.projection(0, 0) * bottom.width() / rows;
    if (std::fabs(p12) < 1e-6 && b.projection(0, 2) == 0.0f && near(p11, square, 1e-6)) {
        p12 = 0.0;
        p11 = static_cast<float>(square);
    }
    joint.projection(1, 1) = static_cast<float>(p11);
    joint.projection(1, 2) = static_cast<float>(p12);
    double v11 = scaleB / p11;
    double v13 = offsetB + v11 * p12;
    if (near(v11, 0.5 * rows, 1e-6) && near(v13, 0.5 * rows, 1e-6)) {
        v11 = v13 = 0.5 * rows;  // rows 0 .. H for device -1 .. 1, as the halves' viewports map
    }
    joint.viewport(1, 1) = static_cast<float>(v11);
    joint.viewport(1, 3) = static_cast<float>(v13);
    return true;
}

// The two halves as one RT/QP LDI: bottom rows first, then the top rows, with the joint camera.
std::unique_ptr<LdiRtQp> joinHalves(const LdiRtQp& bottom, const LdiRtQp& top) {
    geometry::ViewCamera view;
    if (bottom.width() != top.width() || bottom.width() <= 0 || bottom.height() <= 0 ||
        top.height() <= 0 || bottom.pixels == nullptr || top.pixels == nullptr ||
        bottom.header.binCount != top.header.binCount || bottom.header.bins != top.header.bins ||
        !jointView(bottom, top, view)) {
        return nullptr;
    }
    const std::int32_t w = bottom.width();
    const std::int32_t rowsB = bottom.height();
    const std::int32_t rows = rowsB + top.height();
    const std::int64_t countB = bottom.DepthPixelCount();
    const std::int64_t count = countB + top.DepthPixelCount();
    if (rows > LdiBase::kMaxSide || count > INT32_MAX) {
        return nullptr;
    }
    auto joined = std::make_unique<LdiRtQp>();
    joined->reportErrors = false;
    const std::int32_t counts[1] = {static_cast<std::int32_t>(count)};
    if (joined->Create(w, rows, 1, counts) == 0) {
        return nullptr;
    }
    const auto words = [](std::int64_t n) { return static_cast<std::size_t>(2 * n); };
    std::copy_n(bottom.pixels, words(countB), joined->pixels);
    std::copy_n(top.pixels, words(count - countB), joined->pixels + words(countB));
    const auto offsets = static_cast<std::size_t>(w + 1);
    std::copy_n(bottom.layerOffset, offsets * static_cast<std::size_t>(rowsB), joined->layerOffset);
    std::copy_n(top.layerOffset, offsets * static_cast<std::size_t>(top.height()),
                joined->layerOffset + offsets * static_cast<std::size_t>(rowsB));
    for (std::int32_t r = 0; r < rowsB; ++r) {
        joined->rowStart[r] = bottom.rowStart[r];
    }
    for (std::int32_t r = 0; r <= top.height(); ++r) {
        joined->rowStart[rowsB + r] = top.rowStart[r] + static_cast<std::int32_t>(countB);
    }
    const LdiHeader made = joined->header;  // the size and counts Create set
    joined->header = bottom.header;
    joined->header.width = made.width;
    joined->header.height = made.height;
    joined->header.pixelCount = made.pixelCount;
    joined->header.view = view;
    const geometry::Vector3& lowB = bottom.header.boundsMin;
    const geometry::Vector3& lowT = top.header.boundsMin;
    const geometry::Vector3& highB = bottom.header.boundsMax;
    const geometry::Vector3& highT = top.header.boundsMax;
    joined->header.boundsMin = {std::min(lowB.x, lowT.x), std::min(lowB.y, lowT.y),
                                std::min(lowB.z, lowT.z)};
    joined->header.boundsMax = {std::max(highB.x, highT.x), std::max(highB.y, highT.y),
                                std::max(highB.z, highT.z)};
    return joined->CheckArrays().empty() ? std::move(joined) : nullptr;
}

}  // namespace

LdiRtQuad::LdiRtQuad() {
    header.ldiType = toInt(LdiType::RTQuad);
    header.dptType = toInt(DptType::QP);
}

LdiRtQuad::~LdiRtQuad() = default;

int LdiRtQuad::Create(std::int32_t width, std::int32_t height, std::int32_t perPixel,
                      std::span<const std::int32_t> counts) {
    auto topHalf = std::make_unique<LdiRtQp>();
    auto bottomHalf = std::make_unique<LdiRtQp>();
    topHalf->reportErrors = reportErrors;
    bottomHalf->reportErrors = reportErrors;
    if (topHalf->Create(width, height, perPixel, counts) == 0 ||
        bottomHalf->Create(width, height, perPixel, counts) == 0) {
        loadError_ = topHalf->loadError().empty() ? bottomHalf->loadError() : topHalf->loadError();
        return 0;
    }
    MarkHeaderRead();
    setHalves(std::move(topHalf), std::move(bottomHalf));
    return 1;
}

void LdiRtQuad::Release() {
    LdiRtQp::Release();
    top_.reset();
    bottom_.reset();
    joined_.reset();
    joinedFrom_ = {};
}

void LdiRtQuad::setHalves(std::unique_ptr<LdiRtQp> topHalf, std::unique_ptr<LdiRtQp> bottomHalf) {
    top_ = std::move(topHalf);
    bottom_ = std::move(bottomHalf);
    AdoptTopHeader();
    joined_.reset();
    joinedFrom_ = {};
}

bool LdiRtQuad::JoinSource::operator==(const JoinSource& other) const {
    const auto same = [](const geometry::ViewCamera& a, const geometry::ViewCamera& b) {
        return a.projection == b.projection && a.viewport == b.viewport && a.pos == b.pos &&
               a.dir == b.dir && a.up == b.up && a.near == b.near && a.far == b.far &&
               a.fov == b.fov;
    };
    return topPixels == other.topPixels && bottomPixels == other.bottomPixels &&
           topCount == other.topCount && bottomCount == other.bottomCount &&
           same(topView, other.topView) && same(bottomView, other.bottomView) && made == other.made;
}

LdiRtQp* LdiRtQuad::Joined() {
    // Joined on the first draw, and again when the halves' arrays or cameras change.
    const JoinSource now{top_ ? top_->pixels : nullptr,
                         bottom_ ? bottom_->pixels : nullptr,
                         top_ ? top_->DepthPixelCount() : 0,
                         bottom_ ? bottom_->DepthPixelCount() : 0,
                         top_ ? top_->header.view : geometry::ViewCamera{},
                         bottom_ ? bottom_->header.view : geometry::ViewCamera{},
                         true};
    if (now == joinedFrom_) {
        return joined_.get();
    }
    joinedFrom_ = now;
    // Joined within a frame: the same whatever rounding it draws with.
    const platform::NearestRoundingGuard rounding;
    joined_ = top_ && bottom_ ? joinHalves(*bottom_, *top_) : nullptr;
    if (joined_) {
        // The tables, visible rectangle and row depth ranges of the whole grid, as a load
        // finishes them.
        joined_->FinishLoad();
    }
    return joined_.get();
}

void LdiRtQuad::AdoptTopHeader() {
    if (top_) {
        header = top_->header;
        visibleRect = top_->visibleRect;
        binValue = top_->binValue;
        binFactor = top_->binFactor;
    }
    header.ldiType = toInt(LdiType::RTQuad);
    header.dptType = toInt(DptType::QP);
}

int LdiRtQuad::Load(const std::string& path) {
    const platform::OpenedFileScope fenceScope(path);
    loadError_.clear();
    const auto refuse = [this, &path](const std::string& problem) {
        ResetAfterFailure();
        return Fail(path, problem);
    };
    std::vector<ListToken> listTokens;
    std::string error;
    bool opened = false;
    if (!readListTokens(path, listTokens, error, opened)) {
        // Nothing was read: the quad keeps what it held.
        return opened ? refuse("is not a text quad list") : Fail(path, error);
    }
    std::vector<std::string> tokens;
    for (const ListToken& token : listTokens) {
        tokens.push_back(token.text);
    }
    if (tokens.size() < 2) {
        return refuse("quad list names fewer than two halves");
    }
    if (tokens[0].size() > kMaxListNameLength || tokens[1].size() > kMaxListNameLength) {
        return refuse("quad list member name too long");
    }
    const char* const halfNames[2] = {"top half", "bottom half"};
    float v[6] = {};
    if (tokens.size() < 8) {
        return refuse("quad list lacks its six vector values");
    }
    for (int i = 0; i < 6; ++i) {
        if (!parseListFloat(tokens[static_cast<std::size_t>(2 + i)], v[i])) {
            return refuse("quad list vector value \"" +
                          tokens[static_cast<std::size_t>(2 + i)].substr(0, 64) +
                          "\" is not a number");
        }
    }
    std::unique_ptr<LdiRtQp> halves[2];
    std::string refusals[2];
    const std::string memberPaths[2] = {resolveListMember(path, tokens[0], &refusals[0]),
                                        resolveListMember(path, tokens[1], &refusals[1])};
    for (int i = 0; i < 2; ++i) {
        if (!refusals[i].empty()) {
            return refuse(std::string(halfNames[i]) + " refused: " + refusals[i]);
        }
    }
    if (sameFile(memberPaths[0], memberPaths[1])) {
        return refuse("quad list names the same file " + memberPaths[0] + " for both halves");
    }
    for (int i = 0; i < 2; ++i) {
        halves[i] = std::make_unique<LdiRtQp>();
        halves[i]->reportErrors = false;
        if (halves[i]->Load(memberPaths[i]) == 0) {
            return refuse(std::string(halfNames[i]) + " refused: " + halves[i]->loadError());
        }
        halves[i]->reportErrors = reportErrors;
    }
    // The halves are the upper and lower rows of one grid.
    if (halves[0]->width() != halves[1]->width()) {
        return refuse(
            platform::formatString("quad halves do not fit together: the top half is %d "
                                   "columns wide, the bottom half %d",
                                   halves[0]->width(), halves[1]->width()));
    }
    const std::string fit = halvesProblem(*halves[0], *halves[1]);
    if (!fit.empty()) {
        return refuse("quad halves do not fit together: " + fit);
    }
    Release();
    MarkHeaderRead();
    setHalves(std::move(halves[0]), std::move(halves[1]));
    firstVector = {v[0], v[1], v[2]};
    secondVector = {v[3], v[4], v[5]};
    return 1;
}

int LdiRtQuad::Save(const std::string& path) {
    loadError_.clear();
    std::string base = path;
    const std::string suffix = ".ldiquad";
    if (base.size() > suffix.size() && platform::hasExtension(base, "ldiquad")) {
        base.resize(base.size() - suffix.size());
    }
    const std::string listPath = base + suffix;
    if (!top_ || !bottom_) {
        return Fail(listPath, "not saved: the quad has no halves");
    }
    const std::string topPath = base + "_top.ldibrtqp";
    const std::string bottomPath = base + "_bot.ldibrtqp";
    // The list names the halves by file name: a name its reader would split is refused.
    const std::string nameProblem = listNameProblem(fileNameOf(topPath));
    if (!nameProblem.empty()) {
        return Fail(listPath, "not saved: the list would name its halves \"" + fileNameOf(topPath) +
                                  "\", " + nameProblem);
    }
    // The three files are one set: the halves and the list are written to temporary names and
    // renamed into place together, so an old quad is either kept whole or replaced whole.
    platform::FileSetTransaction set;
    const std::string topTemp = set.stage(topPath);
    const std::string bottomTemp = topTemp.empty() ? std::string() : set.stage(bottomPath);
    const std::string listTemp = bottomTemp.empty() ? std::string() : set.stage(listPath);
    if (listTemp.empty()) {
        return Fail(listPath, "not saved: " + set.error());
    }
    const bool topReport = top_->reportErrors;
    const bool bottomReport = bottom_->reportErrors;
    top_->reportErrors = false;
    bottom_->reportErrors = false;
    const bool topSaved = top_->Save(topTemp) != 0;
    const bool bottomSaved = topSaved && bottom_->Save(bottomTemp) != 0;
    top_->reportErrors = topReport;
    bottom_->reportErrors = bottomReport;
    if (!topSaved) {
        return Fail(listPath, "top half not saved: " + top_->loadError());
    }
    if (!bottomSaved) {
        return Fail(listPath, "bottom half not saved: " + bottom_->loadError());
    }
    // The list names the halves by file name: they sit beside it.
    platform::AtomicFileWriter list(listTemp);
    if (!list.isOpen()) {
        return Fail(listPath, "cannot create: " + list.error());
    }
    std::fprintf(list.stream(), "%s\n", fileNameOf(topPath).c_str());
    std::fprintf(list.stream(), "%s\n", fileNameOf(bottomPath).c_str());
    std::fprintf(list.stream(), " %f %f %f ", static_cast<double>(firstVector.x),
                 static_cast<double>(firstVector.y), static_cast<double>(firstVector.z));
    std::fprintf(list.stream(), "%f %f %f\n", static_cast<double>(secondVector.x),
                 static_cast<double>(secondVector.y), static_cast<double>(secondVector.z));
    if (!list.commit()) {
        return Fail(listPath, "cannot save: " + list.error());
    }
    if (!set.commit()) {
        return Fail(listPath, "not saved: " + set.error());
    }
    return 1;
}

int LdiRtQuad::LayerCount(std::int32_t /*row*/, std::int32_t /*col*/) const {
    return 0;
}

int LdiRtQuad::DepthRange(std::int32_t /*row*/, std::int32_t /*col*/, float& /*min*/,
                          float& /*max*/) const {
    return 0;
}

std::string LdiRtQuad::CheckArrays() const {
    if (!top_ || !bottom_) {
        return "the quad has no halves";
    }
    std::string problem = top_->CheckArrays();
    if (!problem.empty()) {
        return "top half: " + problem;
    }
    problem = bottom_->CheckArrays();
    if (!problem.empty()) {
        return "bottom half: " + problem;
    }
    return {};
}

std::int64_t LdiRtQuad::DepthPixelCount() const {
    return (top_ ? top_->DepthPixelCount() : 0) + (bottom_ ? bottom_->DepthPixelCount() : 0);
}

}  // namespace strata::ldi
