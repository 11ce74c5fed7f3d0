// The command line of strata-viewer, with no toolkit types so it is testable on its own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace strata::viewer {

// Frame sides accepted by --frame-size.
inline constexpr std::int32_t kMinFrameSide = 16;
inline constexpr std::int32_t kMaxFrameSide = 8192;

struct ViewerOptions {
    std::int32_t frameWidth = 350;
    std::int32_t frameHeight = 350;
    bool frameSizeGiven = false;   // --frame-size: the frame keeps that size; else it follows
                                   // the window
    std::int32_t resizeWidth = 0;  // --resize: the view's new size once the first frame is shown
    std::int32_t resizeHeight = 0;
    std::string file;        // opened at start as through File Open ("" for none)
    std::string screenshot;  // --screenshot: grab the screen after the first frame, then quit
    bool probeDisplay = false;
    bool help = false;
    // --allow-outside-paths: lists and models may name files outside their own folder.
    bool allowOutsidePaths = false;
};

// Parses "WxH": two decimal numbers of kMinFrameSide..kMaxFrameSide joined by a lower-case x,
// nothing else (no sign, spaces or trailing characters).
bool parseFrameSize(const std::string& text, std::int32_t& width, std::int32_t& height);

// Parses the arguments after the program name (the toolkit's own options already removed).
// On failure returns false with one line in `error`.
bool parseViewerArguments(const std::vector<std::string>& arguments, ViewerOptions& options,
                          std::string& error);

// The arguments after the program name without the toolkit's own options (single-dash options
// such as "-platform NAME" or "-reverse", with the value of those that take one), so that the
// viewer's options can be checked before the toolkit starts.
std::vector<std::string> withoutToolkitOptions(int argc, const char* const* argv);

// The usage text for --help.
std::string viewerUsage();

}  // namespace strata::viewer
