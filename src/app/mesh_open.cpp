#include "app/mesh_open.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <system_error>

#include "app/app_view.h"
#include "app/file_kinds.h"
#include "platform/debug_output.h"

#ifdef __unix__
#include <unistd.h>
#endif

namespace strata::app {

MeshJob::MeshJob(std::shared_ptr<MeshMaker> maker, std::string mesh, std::string output,
                 std::int32_t gridSide)
    : maker_(std::move(maker)), mesh_(std::move(mesh)), output_(std::move(output)) {
    thread_ = std::thread([this, gridSide] {
        std::string error;
        const bool ok = maker_->make(
            mesh_, output_, gridSide,
            [this](double f) { progress_.store(std::clamp(f, 0.0, 1.0)); }, error);
        succeeded_ = ok;
        error_ = ok ? std::string() : (error.empty() ? mesh_ + ": cannot be made" : error);
        finished_.store(true);
    });
}

void MeshJob::wait() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

MeshJob::~MeshJob() {
    wait();
    if (!taken_) {
        std::error_code ignored;
        std::filesystem::remove(output_, ignored);
    }
}

std::int32_t meshGridSide(std::int32_t width, std::int32_t height) {
    return std::clamp(std::max(width, height), 64, 1024);
}

// ---- AppView's side ---------------------------------------------------------------------------

bool AppView::StartMeshOpen(const std::string& path) {
    if (!meshMaker) {
        statusNote = path + ": meshes open only where the LDI maker is at hand";
        return false;
    }
    std::error_code code;
    if (!std::filesystem::is_regular_file(path, code)) {
        statusNote = path + ": no such file";
        return false;
    }
    CancelMeshOpen();
    static std::atomic<int> counter{0};
    int pid = 0;
#ifdef __unix__
    pid = static_cast<int>(::getpid());
#endif
    const std::filesystem::path output =
        std::filesystem::temp_directory_path(code) /
        platform::formatString("strata-viewer-%d-%d.ldibrtqp", pid, counter.fetch_add(1));
    meshJob = std::make_unique<MeshJob>(meshMaker, path, output.string(),
                                        meshGridSide(clientWidth, clientHeight));
    statusNote.clear();
    return true;
}

void AppView::CancelMeshOpen() {
    if (meshJob) {
        // The make runs on to its end; its file goes then.
        cancelledJobs.push_back(std::move(meshJob));
    }
    ReapMeshJobs();
}

void AppView::ReapMeshJobs() {
    std::erase_if(cancelledJobs, [](const std::unique_ptr<MeshJob>& j) { return j->finished(); });
}

void AppView::WaitForMeshJobs() {
    for (const auto& j : cancelledJobs) {
        j->wait();
    }
    if (meshJob) {
        meshJob->wait();
    }
    ReapMeshJobs();
}

int AppView::PollMeshOpen() {
    ReapMeshJobs();
    if (!meshJob || !meshJob->finished()) {
        return 0;
    }
    const std::unique_ptr<MeshJob> job = std::move(meshJob);
    job->wait();
    if (!job->succeeded()) {
        statusNote = job->error();
        return -1;
    }
    if (!OpenFile(job->output())) {
        return -1;
    }
    // What is shown is the mesh: its name in the title; the made file is gone once loaded
    // (Save LDI As... writes what is shown).
    fullPath = job->mesh();
    fileTitle = std::filesystem::path(job->mesh()).filename().string();
    UpdateTitle();
    return 1;
}

bool AppView::SaveLdi(const std::string& path, std::string& error) const {
    if (ldiLoaded == 0 || !singleLdi ||
        (displayMode != ModeLdiQp && displayMode != ModeLdiCp && displayMode != ModeLdiMrqp)) {
        error = "Save LDI As... saves a single LDI; what is shown is none";
        return false;
    }
    if (singleLdi->Save(path) == 0) {
        error = path + ": the LDI was not saved";
        return false;
    }
    return true;
}

}  // namespace strata::app
