#include "tools/sequence.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "imageutil/png_file.h"
#include "platform/debug_output.h"
#include "platform/file_io.h"
#include "render/camera_path.h"
#include "tools/camera_options.h"
#include "tools/checked_options.h"

extern char** environ;

namespace strata::tools {
namespace {

constexpr std::array<const char*, 6> kVideoExtensions = {".mp4",  ".mkv", ".mov",
                                                         ".webm", ".avi", ".gif"};

std::string lowerExtension(const std::string& name) {
    std::string ext = std::filesystem::path(name).extension().string();
    for (char& c : ext) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return ext;
}

}  // namespace

bool isFramePattern(const std::string& text) {
    int conversions = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            continue;
        }
        ++i;
        if (i < text.size() && text[i] == '%') {
            continue;
        }
        if (i < text.size() && text[i] == '0') {
            ++i;
        }
        std::size_t digits = 0;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) != 0) {
            ++i;
            ++digits;
        }
        if (digits > 2 || i >= text.size() || text[i] != 'd') {
            return false;
        }
        ++conversions;
    }
    return conversions == 1;
}

namespace {

bool isDirectory(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_directory(path.empty() ? "." : path, ec);
}

// Runs argv and waits; the exit status, or -1 when it could not run.
int runProgram(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0].c_str(), nullptr, nullptr, args.data(), environ) != 0) {
        return -1;
    }
    // A stop signal ends the encoder before the frames it reads are removed.
    platform::setHelperChild(pid);
    int status = 0;
    int waited = 0;
    while ((waited = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    platform::setHelperChild(0);
    if (waited < 0) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Frame folders "<folder>/.strata-frames-<pid>-XXXXXX" of runs that no longer run (stopped by
// SIGKILL) are removed when a video is made in the same folder again.
void removeLeftoverFrameFolders(const std::string& folder) {
    std::error_code code;
    std::filesystem::directory_iterator it(folder, code);
    if (code) {
        return;
    }
    const std::string prefix = ".strata-frames-";
    for (const auto& entry : it) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) != 0 || !entry.is_directory(code) || entry.is_symlink(code)) {
            continue;
        }
        const std::string rest = name.substr(prefix.size());
        const std::size_t dash = rest.find('-');
        if (dash == std::string::npos || dash == 0 ||
            rest.find_first_not_of("0123456789") != dash) {
            continue;
        }
        const long pid = std::strtol(rest.substr(0, dash).c_str(), nullptr, 10);
        if (pid > 0 && pid != ::getpid() && ::kill(static_cast<pid_t>(pid), 0) != 0 &&
            errno == ESRCH) {
            std::filesystem::remove_all(entry.path(), code);
        }
    }
}

}  // namespace

void addSequenceOptions(CLI::App& command, SequenceOptions& options, bool withFrames) {
    command.add_option("--orbit", options.orbitDegrees,
                       "turn the camera by DEGREES about the scene centre (around its up axis) "
                       "over --frames pictures; -o names a pattern such as frames/%04d.png or a "
                       "video such as out.mp4");
    command.add_option("--path", options.path,
                       "a JSON array of camera records to fly through smoothly over --frames "
                       "pictures (-o as for --orbit)");
    if (withFrames) {
        command.add_option("--frames", options.frames, "pictures of --orbit or --path")
            ->transform(wholeNumber(INT32_MIN, INT32_MAX));
    }
    command.add_option("--fps", options.fps, "frames per second of a video (default 30)")
        ->transform(wholeNumber(INT32_MIN, INT32_MAX));
}

bool checkSequence(const SequenceOptions& options, const std::string& output,
                   SequenceTarget& target, double& orbitDegrees, std::string& error) {
    if (!options.orbitDegrees.empty() && !options.path.empty()) {
        error = "--orbit and --path exclude each other";
        return false;
    }
    if (!options.orbitDegrees.empty()) {
        float degrees = 0.0f;
        if (!parseFloat(options.orbitDegrees, degrees)) {
            error = "--orbit wants degrees, not \"" + options.orbitDegrees + "\"";
            return false;
        }
        orbitDegrees = degrees;
    }
    if (options.frames < 1 || options.frames > render::kMaxSequenceFrames) {
        error = "--orbit and --path want --frames N with N in 1.." +
                std::to_string(render::kMaxSequenceFrames);
        return false;
    }
    if (options.fps < 1 || options.fps > 240) {
        error = "--fps wants 1..240";
        return false;
    }
    target = SequenceTarget{};
    const std::string ext = lowerExtension(output);
    for (const char* video : kVideoExtensions) {
        if (ext == video) {
            // The same check as every save, before anything is drawn.
            if (!platform::checkSaveTarget(platform::saveTargetOf(output), error)) {
                return false;
            }
            target.video = output;
            return true;
        }
    }
    // The number goes in the file name only: a folder is made before the first frame, and a
    // pattern there would make a folder literally named "d%d".
    if (platform::directoryOf(output).find('%') != std::string::npos) {
        error = "-o takes the frame number in the file name, not in a folder: \"" + output + "\"";
        return false;
    }
    if (!isFramePattern(output) || (ext != ".png" && ext != ".bmp")) {
        error =
            "-o wants a picture pattern with one number such as frames/%04d.png, or a video "
            "such as out.mp4, not \"" +
            output + "\"";
        return false;
    }
    target.pattern = output;
    return true;
}

std::string frameName(const std::string& pattern, std::int32_t index) {
    const int length = std::snprintf(nullptr, 0, pattern.c_str(), index);
    std::string name(static_cast<std::size_t>(std::max(length, 0)) + 1, '\0');
    std::snprintf(name.data(), name.size(), pattern.c_str(), index);
    name.resize(name.size() - 1);
    return name;
}

std::string findProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    if (path == nullptr) {
        return "";
    }
    const std::string list = path;
    std::size_t from = 0;
    while (from <= list.size()) {
        std::size_t colon = list.find(':', from);
        if (colon == std::string::npos) {
            colon = list.size();
        }
        const std::string dir = list.substr(from, colon - from);
        const std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        from = colon + 1;
    }
    return "";
}

int runSequence(const std::string& tool, const std::vector<render::CameraRecord>& cameras,
                const SequenceTarget& target, std::int32_t fps, const FrameDrawer& draw) {
    const auto fail = [&tool](const std::string& message) {
        std::fprintf(stderr, "%s: %s\n", tool.c_str(), message.c_str());
        return 1;
    };
    std::string ffmpeg;
    std::string pattern = target.pattern;
    std::string frameDir;
    int frameSlot = -1;
    if (!target.video.empty()) {
        ffmpeg = findProgram("ffmpeg");
        if (ffmpeg.empty()) {
            return fail(
                "ffmpeg is not installed, so no video; write the frames with -o "
                "frames/%04d.png instead");
        }
        // The frames go to a folder beside the video (beside the file a link leads to, so the
        // finished video renames into place), removed afterwards or when a signal stops the run.
        const std::string parent = platform::directoryOf(platform::saveTargetOf(target.video));
        const std::string place = parent.empty() ? std::string(".") : parent;
        removeLeftoverFrameFolders(place);
        // Registered before it exists, so a signal at any moment leaves no folder behind.
        std::random_device random;
        for (int attempt = 0; attempt < 100 && frameDir.empty(); ++attempt) {
            const std::string folder = platform::formatString(
                "%s/.strata-frames-%d-%08x", place.c_str(), static_cast<int>(::getpid()),
                static_cast<unsigned>(random()));
            frameSlot = platform::registerTemporaryFolder(folder);
            if (::mkdir(folder.c_str(), 0700) == 0) {
                frameDir = folder;
            } else {
                const int failure = errno;
                platform::unregisterTemporary(frameSlot);
                frameSlot = -1;
                if (failure != EEXIST) {
                    break;
                }
            }
        }
        if (frameDir.empty()) {
            return fail("cannot make a folder for the frames beside " + target.video);
        }
        if (frameDir.find('%') != std::string::npos) {
            std::error_code ec;
            std::filesystem::remove(frameDir, ec);
            return fail("the folder of " + target.video + " has a % in its name");
        }
        pattern = frameDir + "/%06d.png";
    } else {
        const std::string parent = platform::directoryOf(pattern);
        std::error_code ec;
        if (!parent.empty() && !isDirectory(parent) &&
            !std::filesystem::create_directories(parent, ec)) {
            return fail("cannot make the folder " + parent);
        }
    }
    struct FolderRemover {
        std::string folder;
        int slot;
        ~FolderRemover() {
            if (!folder.empty()) {
                std::error_code ec;
                std::filesystem::remove_all(folder, ec);
            }
            platform::unregisterTemporary(slot);
        }
    } remover{frameDir, frameSlot};

    TerminalProgress progress;
    const std::string label = target.video.empty() ? target.pattern : target.video;
    const auto count = static_cast<std::int32_t>(cameras.size());
    for (std::int32_t i = 0; i < count; ++i) {
        const render::CameraRecord& camera = cameras[static_cast<std::size_t>(i)];
        imageutil::RgbImage frame = imageutil::RgbImage::createOwned(camera.width, camera.height);
        if (frame.empty()) {
            return fail("no memory for a frame");
        }
        std::string error;
        if (!draw(camera, frame, error)) {
            return fail("frame " + std::to_string(i) + ": " + error);
        }
        const std::string name = frameName(pattern, i);
        if (!imageutil::writeImageFile(name, frame, &error)) {
            return fail(name + ": " + error);
        }
        progress.update(label, static_cast<double>(i + 1) / count);
    }
    progress.finish();
    if (target.video.empty()) {
        std::printf("wrote %d frames: %s\n", count, target.pattern.c_str());
        return 0;
    }
    const std::string ext = lowerExtension(target.video);
    const std::string encoded = frameDir + "/video" + ext;
    std::vector<std::string> argv = {ffmpeg,     "-hide_banner", "-loglevel",  "error",
                                     "-nostdin", "-y",           "-framerate", std::to_string(fps),
                                     "-i",       pattern};
    if (ext != ".gif") {
        // Most players want even sides and 4:2:0 chroma.
        argv.insert(argv.end(), {"-vf", "pad=ceil(iw/2)*2:ceil(ih/2)*2", "-pix_fmt", "yuv420p"});
    }
    argv.push_back(encoded);
    const int status = runProgram(argv);
    if (status != 0) {
        return fail("ffmpeg could not encode " + target.video + " (status " +
                    std::to_string(status) + ")");
    }
    std::string moveError;
    if (!platform::moveIntoPlace(encoded, target.video, moveError)) {
        return fail("cannot move the video into place: " + moveError);
    }
    std::printf("wrote %s: %d frames at %d fps\n", target.video.c_str(), count, fps);
    return 0;
}

}  // namespace strata::tools
