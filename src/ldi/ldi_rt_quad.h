// The quad kind: two QP halves (top and bottom) listed in a small ".ldiquad" text file, with two
// vectors carried alongside. The quad itself holds no depth pixels: its header, reference view
// and bounds are copies of the top half's. When the halves are the lower and upper rows of one
// camera's grid (the same eye, direction, field of view, depth range and size classes, and
// windows that meet), the quad draws them as that one grid, joined, so no seam shows between
// them from any camera; otherwise it draws the top half then the bottom half.
#pragma once

#include <memory>
#include <string>

#include "geometry/vector.h"
#include "ldi/ldi_rt_qp.h"

namespace strata::ldi {

class LdiRtQuad : public LdiRtQp {
  public:
    LdiRtQuad();
    ~LdiRtQuad() override;

    // Creates both halves with the same arguments (each an RT/QP LDI).
    int Create(std::int32_t width, std::int32_t height, std::int32_t perPixel,
               std::span<const std::int32_t> counts) override;
    // Drops both halves.
    void Release() override;
    // Reads the list at path: two half names (resolved against the list's folder first, then
    // as written, then by file name beside the list; '\' read as '/'), then six floats. Both
    // halves must load; otherwise 0, naming the half that failed. Afterwards the quad's header
    // is a copy of the top half's with ldiType RTQuad. A list that does not open leaves the
    // quad as it was.
    int Load(const std::string& path) override;
    // Saves under base name B (a trailing ".ldiquad" is dropped): the halves as B_top.ldibrtqp
    // and B_bot.ldibrtqp (stream RT/QP), then the list B.ldiquad naming them by file name (one
    // per line), then the two vectors. The three files are replaced together or not at all.
    int Save(const std::string& path) override;
    // Draws the joined grid with the ranges given (rows count from the bottom half's first), or
    // each half with them.
    LdiDrawStats Draw(const geometry::Matrix4& warpMatrix, const geometry::Matrix4& viewMatrix,
                      const geometry::ViewCamera& outputCamera, imageutil::RgbImage& frame,
                      float* depthBuffer, IntRange xRange, IntRange yRange) override;
    // The joined grid over its own visible rectangle, or each half over its own.
    LdiDrawStats DrawVisible(const geometry::Matrix4& warpMatrix,
                             const geometry::Matrix4& viewMatrix,
                             const geometry::ViewCamera& outputCamera, imageutil::RgbImage& frame,
                             float* depthBuffer) override;
    // The quad has no layers of its own: LayerCount and DepthRange report none.
    int LayerCount(std::int32_t row, std::int32_t col) const override;
    int DepthRange(std::int32_t row, std::int32_t col, float& min, float& max) const override;
    int RowDepthRange(std::int32_t row, float& min, float& max) const override {
        return LdiBase::RowDepthRange(row, min, max);
    }
    std::int32_t KindLdiType() const override { return toInt(LdiType::RTQuad); }
    // Checks both halves.
    std::string CheckArrays() const override;
    std::int64_t DepthPixelCount() const override;

    LdiRtQp* top() { return top_.get(); }
    const LdiRtQp* top() const { return top_.get(); }
    LdiRtQp* bottom() { return bottom_.get(); }
    const LdiRtQp* bottom() const { return bottom_.get(); }
    // Takes over two halves (a producer's); the quad's header becomes the top half's, and the
    // halves are joined when they fit together.
    void setHalves(std::unique_ptr<LdiRtQp> topHalf, std::unique_ptr<LdiRtQp> bottomHalf);
    // The halves as one grid (bottom rows first), or none when they do not fit together. Made
    // on the first draw, and again after the halves' arrays or cameras change.
    LdiRtQp* Joined();

    // The two vectors carried in the list, in file order.
    geometry::Vector3 firstVector;
    geometry::Vector3 secondVector;

  private:
    void AdoptTopHeader();
    // Hands this quad's settings of the frame to the object that draws, and takes back what
    // lives only as long as the frame.
    void HandOver(LdiRtQp& drawer);
    static void TakeBack(LdiRtQp& drawer);

    std::unique_ptr<LdiRtQp> top_;
    std::unique_ptr<LdiRtQp> bottom_;
    std::unique_ptr<LdiRtQp> joined_;
    // What joined_ was made from.
    struct JoinSource {
        const std::uint32_t* topPixels = nullptr;
        const std::uint32_t* bottomPixels = nullptr;
        std::int64_t topCount = 0;
        std::int64_t bottomCount = 0;
        geometry::ViewCamera topView;
        geometry::ViewCamera bottomView;
        bool made = false;

        bool operator==(const JoinSource& other) const;
    };
    JoinSource joinedFrom_;
};

}  // namespace strata::ldi
