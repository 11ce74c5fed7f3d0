#include "viewer/viewer_options.h"

#include <charconv>

namespace strata::viewer {
namespace {

bool parseSide(std::string_view text, std::int32_t& side) {
    if (text.empty() || text.size() > 5 || text.front() < '0' || text.front() > '9') {
        return false;
    }
    std::int32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < kMinFrameSide ||
        value > kMaxFrameSide) {
        return false;
    }
    side = value;
    return true;
}

std::string sizeError(const std::string& option, const std::string& value) {
    return "strata-viewer: " + option + " wants WxH with sides " + std::to_string(kMinFrameSide) +
           ".." + std::to_string(kMaxFrameSide) + ", got \"" + value + "\"";
}

}  // namespace

bool parseFrameSize(const std::string& text, std::int32_t& width, std::int32_t& height) {
    const std::size_t x = text.find('x');
    if (x == std::string::npos) {
        return false;
    }
    std::int32_t w = 0;
    std::int32_t h = 0;
    const std::string_view all(text);
    if (!parseSide(all.substr(0, x), w) || !parseSide(all.substr(x + 1), h)) {
        return false;
    }
    width = w;
    height = h;
    return true;
}

bool parseViewerArguments(const std::vector<std::string>& arguments, ViewerOptions& options,
                          std::string& error) {
    ViewerOptions parsed;
    bool files = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (a == "--help" || a == "-h") {
            parsed.help = true;
        } else if (a == "--probe-display") {
            parsed.probeDisplay = true;
        } else if (a == "--allow-outside-paths") {
            parsed.allowOutsidePaths = true;
        } else if (a == "--frame-size") {
            if (!hasValue ||
                !parseFrameSize(arguments[i + 1], parsed.frameWidth, parsed.frameHeight)) {
                error = sizeError(a, hasValue ? arguments[i + 1] : std::string());
                return false;
            }
            parsed.frameSizeGiven = true;
            ++i;
        } else if (a == "--resize") {
            if (!hasValue ||
                !parseFrameSize(arguments[i + 1], parsed.resizeWidth, parsed.resizeHeight)) {
                error = sizeError(a, hasValue ? arguments[i + 1] : std::string());
                return false;
            }
            ++i;
        } else if (a == "--screenshot") {
            if (!hasValue || arguments[i + 1].empty()) {
                error = "strata-viewer: --screenshot wants a file name";
                return false;
            }
            parsed.screenshot = arguments[++i];
        } else if (a.size() > 1 && a.front() == '-') {
            error = "strata-viewer: unknown option \"" + a + "\" (see --help)";
            return false;
        } else if (files) {
            error =
                "strata-viewer: one file at a time, got \"" + parsed.file + "\" and \"" + a + "\"";
            return false;
        } else {
            parsed.file = a;
            files = true;
        }
    }
    if (parsed.frameSizeGiven && parsed.resizeWidth > 0) {
        error = "strata-viewer: --resize needs a frame that follows the window, not --frame-size";
        return false;
    }
    options = parsed;
    return true;
}

std::vector<std::string> withoutToolkitOptions(int argc, const char* const* argv) {
    static const std::string_view kWithValue[] = {"-platform",        "-platformpluginpath",
                                                  "-platformtheme",   "-plugin",
                                                  "-qwindowgeometry", "-qwindowicon",
                                                  "-qwindowtitle",    "-display",
                                                  "-geometry",        "-style",
                                                  "-stylesheet",      "-session",
                                                  "-qmljsdebugger"};
    std::vector<std::string> kept;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a(argv[i]);
        if (a.size() > 1 && a[0] == '-' && a[1] != '-') {
            for (const std::string_view option : kWithValue) {
                if (a == option) {
                    ++i;
                }
            }
            continue;
        }
        kept.emplace_back(a);
    }
    return kept;
}

std::string viewerUsage() {
    return "usage: strata-viewer [--frame-size WxH] [--resize WxH] [--screenshot FILE]\n"
           "                     [--allow-outside-paths] [FILE]\n"
           "  FILE                 an LDI, .ldipyr, .ldiset or .vox file to open at start\n"
           "  --frame-size WxH     a fixed frame size in pixels (sides 16..8192); without it the\n"
           "                       frame starts at 350x350 and follows the window\n"
           "  --resize WxH         once the first frame is shown, resize the view to WxH (the\n"
           "                       window follows; with --screenshot, the shot waits for it)\n"
           "  --screenshot FILE    after the first frame, save the screen to FILE (PNG) and the\n"
           "                       view's part of it to FILE with \"-view\" before the extension,\n"
           "                       then quit\n"
           "  --allow-outside-paths  also read files a list names outside the list's own folder\n"
           "                       (by default only that folder and its subfolders are read)\n"
           "  --probe-display      exit 0 when a display can be opened\n";
}

}  // namespace strata::viewer
