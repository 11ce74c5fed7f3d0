// The command line of strata-viewer: frame sizes at their limits, files and unknown options.
#include <gtest/gtest.h>

#include "viewer/viewer_options.h"

namespace strata::viewer {
namespace {

TEST(ViewerOptions, FrameSizesAtTheirLimits) {
    struct Case {
        const char* text;
        bool ok;
        std::int32_t width;
        std::int32_t height;
    };
    const Case cases[] = {
        {"350x350", true, 350, 350},
        {"16x16", true, 16, 16},
        {"8192x8192", true, 8192, 8192},
        {"1920x1080", true, 1920, 1080},
        {"0016x0020", true, 16, 20},
        {"15x350", false, 0, 0},
        {"350x15", false, 0, 0},
        {"8193x350", false, 0, 0},
        {"350x8193", false, 0, 0},
        {"350x350x", false, 0, 0},
        {"350x350 ", false, 0, 0},
        {" 350x350", false, 0, 0},
        {"+350x350", false, 0, 0},
        {"-350x350", false, 0, 0},
        {"350X350", false, 0, 0},
        {"350", false, 0, 0},
        {"x350", false, 0, 0},
        {"350x", false, 0, 0},
        {"", false, 0, 0},
        {"4294967646x350", false, 0, 0},
        {"350.5x350", false, 0, 0},
    };
    for (const Case& c : cases) {
        std::int32_t w = -1;
        std::int32_t h = -1;
        EXPECT_EQ(parseFrameSize(c.text, w, h), c.ok) << '"' << c.text << '"';
        if (c.ok) {
            EXPECT_EQ(w, c.width) << c.text;
            EXPECT_EQ(h, c.height) << c.text;
        } else {
            EXPECT_EQ(w, -1) << c.text;
        }
    }
}

TEST(ViewerOptions, ArgumentsAndOneLineRefusals) {
    ViewerOptions o;
    std::string error;
    ASSERT_TRUE(parseViewerArguments({}, o, error));
    EXPECT_EQ(o.frameWidth, 350);
    EXPECT_EQ(o.frameHeight, 350);
    EXPECT_TRUE(o.file.empty());

    ASSERT_TRUE(parseViewerArguments(
        {"--frame-size", "640x480", "scene.ldi", "--screenshot", "shot.png"}, o, error));
    EXPECT_EQ(o.frameWidth, 640);
    EXPECT_EQ(o.frameHeight, 480);
    EXPECT_EQ(o.file, "scene.ldi");
    EXPECT_EQ(o.screenshot, "shot.png");
    EXPECT_FALSE(o.allowOutsidePaths);
    ASSERT_TRUE(parseViewerArguments({"--allow-outside-paths", "list.ldiset"}, o, error));
    EXPECT_TRUE(o.allowOutsidePaths);
    EXPECT_EQ(o.file, "list.ldiset");
    // The shortest screenshot name is one character.
    ASSERT_TRUE(parseViewerArguments({"--screenshot", "s"}, o, error));
    EXPECT_EQ(o.screenshot, "s");

    const std::vector<std::vector<std::string>> refused = {
        {"--frame-size", "0x0"},
        {"--frame-size"},
        {"--frame-size", "350x350junk"},
        {"--screenshot"},
        {"--colour"},
        {"a.ldi", "b.ldi"},
        {"--screenshot", ""},
        {"--allow-outside-paths=1"},
    };
    for (const auto& arguments : refused) {
        ViewerOptions kept;
        kept.file = "kept";
        error.clear();
        EXPECT_FALSE(parseViewerArguments(arguments, kept, error)) << arguments.front();
        EXPECT_EQ(kept.file, "kept") << "refused arguments change nothing";
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        EXPECT_EQ(error.rfind("strata-viewer: ", 0), 0u) << error;
    }
    // A lone dash names a file (as "-" does for many tools) and is not an option.
    ASSERT_TRUE(parseViewerArguments({"-"}, o, error));
    EXPECT_EQ(o.file, "-");
}

TEST(ViewerOptions, ToolkitOptionsAreLeftToTheToolkit) {
    const char* const argv[] = {"strata-viewer", "-platform", "offscreen", "--frame-size", "64x48",
                                "-reverse",      "scene.ldi", "-style",    "fusion"};
    const std::vector<std::string> kept =
        withoutToolkitOptions(static_cast<int>(std::size(argv)), argv);
    EXPECT_EQ(kept, (std::vector<std::string>{"--frame-size", "64x48", "scene.ldi"}));
}

}  // namespace
}  // namespace strata::viewer
