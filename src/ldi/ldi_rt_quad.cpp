// The ".ldiquad" list: two half-file names on their own lines, then two vectors as six floats.
#include "ldi/ldi_rt_quad.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "ldi/ldi_list.h"
#include "platform/debug_output.h"
#include "platform/file_io.h"
#include "platform/folder_fence.h"

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
}

void LdiRtQuad::setHalves(std::unique_ptr<LdiRtQp> topHalf, std::unique_ptr<LdiRtQp> bottomHalf) {
    top_ = std::move(topHalf);
    bottom_ = std::move(bottomHalf);
    AdoptTopHeader();
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
