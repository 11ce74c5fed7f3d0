// The LDI object family. LdiBase holds what every kind shares: the header, the per-object render
// options and draw counters, the renderer's warp state and tables, and the virtual operations in
// their fixed order. The concrete classes (ldi_rt_cp.h, ldi_rt_qp.h, ldi_rt_mrqp.h, ldi_rtff.h,
// ldi_rt_quad.h) add the depth-pixel arrays of one encoding and one file layout.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "geometry/matrix.h"
#include "geometry/view_camera.h"
#include "ldi/ldi_file.h"
#include "ldi/ldi_header.h"
#include "ldi/ldi_types.h"
#include "ldi/surface_slopes.h"
#include "mesh/visible_rectangle.h"
#include "render/warp_state.h"
#include "render/wedge_cut.h"

namespace strata::imageutil {
class RgbImage;
}

namespace strata::ldi {

// Half-open index range [begin, end).
struct IntRange {
    std::int32_t begin = 0;
    std::int32_t end = 0;
};

// Per-object rendering choices; copied as one unit when a pyramid switches level.
struct LdiRenderOptions {
    std::int32_t markColour = 0x00FF0000;  // fixed splat colour
    std::int32_t falseColorMode = 4;       // 1..7
    std::int32_t sizeAccurate = 1;         // 1: splat size from normal and distance; 0: size table
    std::uint8_t useSplat = 0;
    std::uint8_t frustumClipper = 1;
    std::uint8_t scanlineCulling = 0;
    std::uint8_t backfaceCulling = 0;
    std::uint8_t useDepthCorrection = 0;
    std::uint8_t useFalseColor = 0;
    std::uint8_t benchFlag = 0;          // pushed from the view
    std::uint8_t highQualitySplats = 0;  // soft depth-tested splats and small-gap fill
    std::uint8_t lowerHalfOnly = 0;      // segment restrictions of the QP kinds
    std::uint8_t upperHalfOnly = 0;
    std::uint8_t spare1 = 0;
    std::uint8_t spare2 = 0;
};

// Inspection aids of a draw, off by default. coverage, when not null, holds one byte per frame
// pixel (frame.width x frame.height, row-major like the frame) and every pixel a sample writes
// (its whole footprint) is set to 1; nothing else touches it, so later fills do not count.
// onlyLayer >= 0 draws only that layer of each pixel counted from the front (0 = nearest; the
// arrays store each pixel's layers farthest first).
struct LdiInspection {
    std::uint8_t* coverage = nullptr;
    std::int32_t onlyLayer = -1;
};

// Counters of one draw; every draw resets them first.
struct LdiDrawStats {
    std::array<char, 264> text{};  // spare
    std::int32_t spare = 0;
    std::int32_t visited = 0;  // every depth pixel stepped over
    std::int32_t inside = 0;   // samples that passed the screen test
    std::int32_t written = 0;  // samples written to the frame
    float sizeSum = 0.0f;
    float sizeMin = 100.0f;
    float sizeMax = 0.0f;
    // The frame buffer (with its margin) could not be made: nothing was drawn.
    bool frameFailed = false;

    void reset() { *this = LdiDrawStats{}; }
};

// Whether a reference view can place samples: position within kMaxCameraCoordinate of the
// origin, a non-zero direction not parallel to up, 0 < near < far, an angle in (0, pi), and an
// invertible projection and viewport. "" when usable, else the problem.
std::string ReferenceViewProblem(const geometry::ViewCamera& view);

class LdiBase {
  public:
    // Largest accepted width and height of an LDI grid.
    static constexpr std::int32_t kMaxSide = 32768;
    // Entries of binValue and binFactor.
    static constexpr std::size_t kTableSize = 1024;

    LdiBase();
    virtual ~LdiBase();
    LdiBase(const LdiBase&) = delete;
    LdiBase& operator=(const LdiBase&) = delete;

    // ---- Virtual operations, in their fixed order --------------------------------------------

    // Sets up an empty LDI of width x height for a producer: marks the header read, stores the
    // size and counts in the header and allocates the arrays (Allocate). counts holds the depth
    // pixel count (CP, QP) or the four mrqpCounts (MRQP). Returns 1, or 0 (one line printed)
    // for a size out of range or a failed allocation.
    virtual int Create(std::int32_t width, std::int32_t height, std::int32_t perPixel,
                       std::span<const std::int32_t> counts);
    // Frees the arrays (the object can be loaded or created again). LdiBase: nothing to free.
    virtual void Release();
    // Stream body: ReadHeader, ReadPixels, then the load finishing steps. 1 or 0.
    virtual int ReadBody(LdiFileReader& file);
    // Loads the LDI file at path. Returns 1, or 0 with one line printed (see loadError()). A
    // file that does not open leaves the object as it was; any later failure leaves it empty
    // (arrays released, header back to defaults).
    virtual int Load(const std::string& path);
    // Stream body: WriteHeader then WritePixels.
    virtual int WriteBody(LdiFileWriter& file);
    // Saves to path through a temporary file renamed into place; 1, or 0 with one line printed
    // and any existing file at path left intact. Refuses an LDI whose arrays are inconsistent.
    virtual int Save(const std::string& path);
    // Reads the 12988-byte header into `header`. 1, or 0 (file.problem set) on a short file.
    virtual int ReadHeader(LdiFileReader& file);
    // Reads the stream arrays of the encoding, allocating from the header first. 1 or 0.
    virtual int ReadPixels(LdiFileReader& file) = 0;
    // Writes the header (version 255, this kind's type pair). 1 or 0.
    virtual int WriteHeader(LdiFileWriter& file);
    // Writes the stream arrays of the encoding. 1 or 0.
    virtual int WritePixels(LdiFileWriter& file) = 0;
    // Warps the depth pixels of columns xRange and rows yRange into frame. depthBuffer, when
    // not null, holds frame.width x frame.height output depths. Returns drawStats.
    virtual LdiDrawStats Draw(const geometry::Matrix4& warpMatrix,
                              const geometry::Matrix4& viewMatrix,
                              const geometry::ViewCamera& outputCamera, imageutil::RgbImage& frame,
                              float* depthBuffer, IntRange xRange, IntRange yRange) = 0;
    // Draw over the visible source rectangle (frustum clipper) or the whole grid.
    virtual LdiDrawStats DrawVisible(const geometry::Matrix4& warpMatrix,
                                     const geometry::Matrix4& viewMatrix,
                                     const geometry::ViewCamera& outputCamera,
                                     imageutil::RgbImage& frame, float* depthBuffer);
    // DrawVisible without a depth buffer.
    virtual LdiDrawStats DrawAll(const geometry::Matrix4& warpMatrix,
                                 const geometry::Matrix4& viewMatrix,
                                 const geometry::ViewCamera& outputCamera,
                                 imageutil::RgbImage& frame);
    // Layers of LDI pixel (row, col); 0 outside the grid or before arrays exist.
    virtual int LayerCount(std::int32_t row, std::int32_t col) const = 0;
    // Reserved slot: returns 0.
    virtual int Reserved();
    // Sets headerRead.
    virtual void MarkHeaderRead();
    // Allocates the arrays of the encoding for width x height and counts (see Create); sets
    // arraysAllocated. Replaces arrays of another size. 1, or 0 (one line) on failure.
    virtual int Allocate(std::int32_t width, std::int32_t height, std::int32_t perPixel,
                         std::span<const std::int32_t> counts) = 0;
    // Allocate with the header's size and counts.
    virtual int AllocateFromHeader() = 0;
    // 0 when pixel (row, col) has no layers (min, max untouched); else 1 with the smallest and
    // largest depth over its layers (normalised depth; CP: eye distances, see LdiRtCp).
    virtual int DepthRange(std::int32_t row, std::int32_t col, float& min, float& max) const = 0;
    // binValue[i] = (bins[i] + bins[i+1]) / 2 for i < min(binCount, 1024); the rest 0.
    virtual void BuildBinValues();
    // binFactor[i] = 1 for i < 2^binBits, binBits limited to 0..10; the rest 0.
    virtual void BuildBinFactors();

    // ---- Checks shared by the readers, writers and `strata info` -----------------------------

    // The (ldiType, dptType) pair this class stores.
    virtual std::int32_t KindLdiType() const = 0;
    virtual std::int32_t KindDptType() const = 0;
    // Header checks before any allocation: the type pair, width and height in 1..kMaxSide,
    // binCount in 0..2048, counts not negative (and consistent for MRQP). Empty when sound,
    // else the problem.
    virtual std::string CheckHeader() const;
    // Bytes of the stream body (after the header) that the header promises; 0 when CheckHeader
    // fails.
    virtual std::uint64_t StreamBodyBytes() const = 0;
    // Consistency of the index arrays with each other and with the header (rowStart from 0,
    // never decreasing, ending at the depth-pixel count; per-row layer sums; MRQP coverage).
    // Empty when sound, else the problem.
    virtual std::string CheckArrays() const = 0;
    // The normalised-depth range of pixel (row, col) used for the scanline culler's rows.
    virtual int NormalisedDepthRange(std::int32_t row, std::int32_t col, float& min,
                                     float& max) const;
    // The same over a whole row: the fold of its pixels' ranges; 0 for a row without samples.
    virtual int RowDepthRange(std::int32_t row, float& min, float& max) const;

    // ---- Plain accessors ----------------------------------------------------------------------
    std::int32_t width() const { return header.width; }
    std::int32_t height() const { return header.height; }
    // Total depth pixels of the loaded arrays.
    virtual std::int64_t DepthPixelCount() const = 0;
    // Where the samples lie (LayerCount of every pixel, by coarse cells), for balancing the
    // wedges of a cut; built on first use and again when the grid or its count changes.
    const render::SampleDensity& SampleDensityOfGrid();
    // The one-line reason of the last failed Load or Save ("" after a success).
    const std::string& loadError() const { return loadError_; }

    // ---- State --------------------------------------------------------------------------------
    LdiHeader header;
    geometry::ViewCamera outputView;  // output camera of the frame being drawn
    render::WarpState warp;           // renderer tables and per-draw warp constants
    mesh::VisibleRectangle visibleRect;
    std::array<float, kTableSize> binValue{};  // by CP depth code or MRQP splat class
    std::array<float, kTableSize> binFactor{};
    LdiDrawStats drawStats;
    // The samples' tangent planes for the high-quality mode, built by its first draw.
    SurfaceSlopes surfaceSlopes;
    LdiRenderOptions options;
    LdiInspection inspection;
    std::uint8_t headerRead = 0;
    std::uint8_t arraysAllocated = 0;
    std::uint8_t settingsGiven = 0;  // set to 1 by the frame driver before every draw
    // Bytes the loaded file holds after the body: ignored by the loader, reported by `info`.
    std::uint64_t trailingBytes = 0;
    // When false, failures are kept in loadError() but not printed (a caller that reports them
    // itself, such as a quad list for its halves).
    bool reportErrors = true;

  protected:
    friend struct RtffIo;
    friend class LdiRtQuad;

    // Records a failure "<path>: <problem>", prints it unless reportErrors is false, returns 0.
    int Fail(const std::string& path, const std::string& problem);
    // Records a failure that has no file (Allocate) without printing it, returns 0.
    int FailPlain(const std::string& problem);
    // After the arrays are read: warp set-up from the header view, the bin tables of the kind,
    // the culler's row depth ranges.
    virtual void FinishLoad();
    // Fills header.culler with the per-row normalised depth ranges of every row.
    void BuildRowDepthRanges();
    // For the stream readers once the index arrays are read: records indexProblem in
    // file.problem and returns 0 when it is not empty, else allocates the arrays from the header
    // (AllocateFromHeader). 1 when allocated.
    int AllocateAfterIndexCheck(LdiFileReader& file, const std::string& indexProblem);
    // Empties the object after a failed load.
    void ResetAfterFailure();
    // Validates the header size fields for Allocate/Create: sides in 1..kMaxSide, counts >= 0.
    std::string CheckAllocation(std::int32_t width, std::int32_t height,
                                std::span<const std::int32_t> counts,
                                std::size_t countsNeeded) const;

    std::string loadError_;

  private:
    render::SampleDensity density_;
    std::array<std::int64_t, 3> densityKey_{-1, -1, -1};  // width, height, depth pixels
};

}  // namespace strata::ldi
