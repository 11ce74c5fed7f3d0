// Opening a mesh file: the viewer core asks a MeshMaker (supplied by the shell, which links the
// LDI maker; the core itself never does) to make an LDI of it into a file of its own, on a
// thread of its own, and opens that file when it is done. A cancelled job leaves no file and
// the picture as it was.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace strata::app {

class MeshMaker {
  public:
    virtual ~MeshMaker() = default;
    // Makes an LDI of `mesh` at `output` with a square grid of side `gridSide`, from the
    // maker's default camera for the mesh. progress (0..1) may be called from any thread.
    // False with one line in error; nothing is then left at output.
    virtual bool make(const std::string& mesh, const std::string& output, std::int32_t gridSide,
                      const std::function<void(double)>& progress, std::string& error) = 0;
};

// One make on its own thread. The destructor waits for the thread; the file made stays only
// when take() handed it over.
class MeshJob {
  public:
    MeshJob(std::shared_ptr<MeshMaker> maker, std::string mesh, std::string output,
            std::int32_t gridSide);
    ~MeshJob();
    MeshJob(const MeshJob&) = delete;
    MeshJob& operator=(const MeshJob&) = delete;

    const std::string& mesh() const { return mesh_; }
    const std::string& output() const { return output_; }
    double progress() const { return progress_.load(); }
    bool finished() const { return finished_.load(); }
    // Only after finished().
    bool succeeded() const { return succeeded_; }
    const std::string& error() const { return error_; }
    // The made file is the caller's from now on (it is no longer removed).
    void take() { taken_ = true; }
    void wait();

  private:
    std::shared_ptr<MeshMaker> maker_;
    std::string mesh_;
    std::string output_;
    std::atomic<double> progress_{0.0};
    std::atomic<bool> finished_{false};
    bool succeeded_ = false;
    bool taken_ = false;
    std::string error_;
    std::thread thread_;
};

// The grid side a mesh is made at for a frame of width x height: the larger side, so that a
// sample covers about a pixel from the start view, within 64..1024.
std::int32_t meshGridSide(std::int32_t width, std::int32_t height);

}  // namespace strata::app
