// overlay-preview end to end: scene files in, the built program run as a
// user runs it, PNG files out, read back with Cairo and checked at places
// whose colour follows from the scene, the monitor layout and each DPI.
#include <gtest/gtest.h>

#include <cairo.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "tools_test_support.h"

namespace {

struct Rgba {
    int r = 0, g = 0, b = 0, a = 0;
};

std::ostream& operator<<(std::ostream& out, const Rgba& c) {
    return out << "(" << c.r << ", " << c.g << ", " << c.b << ", " << c.a << ")";
}

// A PNG read back through Cairo, whose pixels are premultiplied ARGB.
class Png {
public:
    explicit Png(const std::filesystem::path& path)
        : surface_(cairo_image_surface_create_from_png(path.c_str()), cairo_surface_destroy) {}

    bool Ok() const { return cairo_surface_status(surface_.get()) == CAIRO_STATUS_SUCCESS; }
    int Width() const { return cairo_image_surface_get_width(surface_.get()); }
    int Height() const { return cairo_image_surface_get_height(surface_.get()); }

    Rgba At(int x, int y) const {
        const unsigned char* row =
            cairo_image_surface_get_data(surface_.get()) + static_cast<std::ptrdiff_t>(y) * cairo_image_surface_get_stride(surface_.get());
        std::uint32_t argb = 0;
        std::memcpy(&argb, row + 4 * x, 4);
        Rgba c{static_cast<int>((argb >> 16) & 0xFF), static_cast<int>((argb >> 8) & 0xFF),
               static_cast<int>(argb & 0xFF), static_cast<int>(argb >> 24)};
        if (c.a != 0 && c.a != 255) {
            c.r = c.r * 255 / c.a;
            c.g = c.g * 255 / c.a;
            c.b = c.b * 255 / c.a;
        }
        return c;
    }

private:
    std::unique_ptr<cairo_surface_t, void (*)(cairo_surface_t*)> surface_;
};

::testing::AssertionResult Near(const Rgba& actual, const Rgba& expected, int tolerance = 2) {
    if (std::abs(actual.r - expected.r) <= tolerance && std::abs(actual.g - expected.g) <= tolerance &&
        std::abs(actual.b - expected.b) <= tolerance && std::abs(actual.a - expected.a) <= tolerance) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "pixel " << actual << ", expected " << expected;
}

const Rgba kClear{0, 0, 0, 0};
const Rgba kRed{255, 0, 0, 255};
const Rgba kGreen{0, 255, 0, 255};
// The arrow at 0.25 s: hue 180 degrees, saturation 0.3 sin(0.75) + 0.7.
const Rgba kArrowAtQuarterSecond{24, 255, 255, 255};

struct Preview {
    int status = -1;
    std::string out;
};

class PreviewTest : public tooltest::TempDirTest {
protected:
    Preview RunPreview(const std::string& args) {
        const std::string command = std::string("'") + VORLUNE_OVERLAY_PREVIEW + "' --out '" + Path("out").string() +
                                    "' " + args + " 2>&1";
        Preview preview;
        FILE* pipe = popen(command.c_str(), "r");
        if (pipe == nullptr) {
            ADD_FAILURE() << "could not run " << command;
            return preview;
        }
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            preview.out.append(buffer, n);
        }
        const int raw = pclose(pipe);
        preview.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        return preview;
    }
    // Two monitors with different DPI, side by side.
    static constexpr char kLayout[] = "--monitor 2560x1440+0+0@144,primary --monitor 1920x1080+2560+0@96 ";
};

// A red box in device-independent pixels, a green band over the right half of
// each monitor (normalized X) and the arrow; the cursor is over the game
// window on monitor 2.
constexpr char kScene[] = R"({"target": "all", "commands": [
    {"kind": "fillRect", "rect": [10, 20, 110, 70], "color": "#ff0000ff"},
    {"kind": "fillRect", "rect": [0.5, 200, 1.0, 210], "color": "#00ff00ff", "normalizedX": true},
    {"kind": "rainbowCursor"}]})";

TEST_F(PreviewTest, DrawsEachMonitorAtItsOwnDpi) {
    tooltest::WriteText(Path("scene.json"), kScene);
    const Preview preview = RunPreview(std::string(kLayout) +
                                       "--game-window 2600,100,3600,900 --cursor 3000,500 --time 0.25 '" +
                                       Path("scene.json").string() + "'");
    ASSERT_EQ(preview.status, 0) << preview.out;
    EXPECT_NE(preview.out.find(Path("scene.json").string() + " (at 250 ms): accepted\n"), std::string::npos)
        << preview.out;
    EXPECT_NE(preview.out.find("wrote " + Path("out/monitor-1.png").string() + " (2560x1440)\n"), std::string::npos);
    EXPECT_NE(preview.out.find("wrote " + Path("out/monitor-2.png").string() + " (1920x1080)\n"), std::string::npos);

    const Png first(Path("out/monitor-1.png"));
    ASSERT_TRUE(first.Ok());
    EXPECT_EQ(first.Width(), 2560);
    EXPECT_EQ(first.Height(), 1440);
    // 144 DPI: the box spans physical pixels 15..165 by 30..105.
    EXPECT_TRUE(Near(first.At(90, 67), kRed));
    EXPECT_TRUE(Near(first.At(163, 103), kRed)) << "inside the bottom-right corner";
    EXPECT_TRUE(Near(first.At(167, 67), kClear)) << "just right of the box";
    EXPECT_TRUE(Near(first.At(90, 107), kClear)) << "just below the box";
    // Half of 2560 pixels is 1280, whatever the DPI; y 200..210 is 300..315.
    EXPECT_TRUE(Near(first.At(1285, 307), kGreen));
    EXPECT_TRUE(Near(first.At(1275, 307), kClear));
    EXPECT_TRUE(Near(first.At(2555, 307), kGreen));
    EXPECT_TRUE(Near(first.At(440, 515), kClear)) << "no arrow where the cursor is not";

    const Png second(Path("out/monitor-2.png"));
    ASSERT_TRUE(second.Ok());
    EXPECT_EQ(second.Width(), 1920);
    EXPECT_EQ(second.Height(), 1080);
    // 96 DPI: device-independent pixels are physical pixels.
    EXPECT_TRUE(Near(second.At(60, 45), kRed));
    EXPECT_TRUE(Near(second.At(108, 68), kRed));
    EXPECT_TRUE(Near(second.At(112, 45), kClear));
    EXPECT_TRUE(Near(second.At(965, 205), kGreen));
    EXPECT_TRUE(Near(second.At(955, 205), kClear));
    // The cursor at screen (3000, 500) is (440, 500) on monitor 2; the arrow
    // hangs 30 pixels down from its tip there.
    EXPECT_TRUE(Near(second.At(440, 515), kArrowAtQuarterSecond));
    EXPECT_TRUE(Near(second.At(440, 495), kClear)) << "nothing above the tip";

    const std::string log = tooltest::ReadText(Path("out/vorlune-overlay.log"));
    EXPECT_NE(log.find("created 2 monitor surface(s)\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("renderer exiting\r\n"), std::string::npos) << log;
}

TEST_F(PreviewTest, RefusedSceneLeavesTheOneBeforeItAndSaysWhy) {
    tooltest::WriteText(Path("primary.json"), R"({"target": "primary", "commands": [
        {"kind": "fillRect", "rect": [10, 20, 110, 70], "color": "#ff0000ff"}]})");
    tooltest::WriteBytes(Path("bad.bin"), std::vector<std::uint8_t>(40, 'x'));
    const Preview preview = RunPreview(std::string(kLayout) + "'" + Path("primary.json").string() + "' '" +
                                       Path("bad.bin").string() + "'");
    EXPECT_EQ(preview.status, 1) << preview.out;
    EXPECT_NE(preview.out.find(Path("primary.json").string() + " (at 980 ms): accepted\n"), std::string::npos)
        << preview.out;
    EXPECT_NE(preview.out.find(Path("bad.bin").string() + " (at 1000 ms): refused: invalid frame magic\n"),
              std::string::npos)
        << preview.out;
    EXPECT_NE(preview.out.find(" rejected scene: invalid frame magic\n"), std::string::npos) << "the log is printed";

    const Png first(Path("out/monitor-1.png"));
    const Png second(Path("out/monitor-2.png"));
    ASSERT_TRUE(first.Ok() && second.Ok());
    EXPECT_TRUE(Near(first.At(90, 67), kRed)) << "the primary scene stays on the primary monitor";
    EXPECT_TRUE(Near(second.At(60, 45), kClear)) << "and only there";
}

TEST_F(PreviewTest, BackgroundPaintsTheDesktopAndTheGameWindow) {
    tooltest::WriteText(Path("scene.json"), kScene);
    const Preview preview =
        RunPreview(std::string(kLayout) + "--background '#102030' --game-window 2600,100,3600,900 --cursor 0,0 '" +
                   Path("scene.json").string() + "'");
    ASSERT_EQ(preview.status, 0) << preview.out;
    const Png second(Path("out/monitor-2.png"));
    ASSERT_TRUE(second.Ok());
    EXPECT_TRUE(Near(second.At(5, 5), Rgba{0x10, 0x20, 0x30, 255}, 0)) << "the desktop";
    EXPECT_TRUE(Near(second.At(500, 500), Rgba{0x10 + 24, 0x20 + 24, 0x30 + 24, 255}, 0)) << "the game window";
    EXPECT_TRUE(Near(second.At(60, 45), kRed)) << "the overlay on top";
}

TEST_F(PreviewTest, MistakesEndTheRunBeforeItStarts) {
    tooltest::WriteText(Path("scene.json"), kScene);
    tooltest::WriteText(Path("bad.json"), R"({"target": "all", "commands": [{"kind": "box"}]})");
    const std::string scene = " '" + Path("scene.json").string() + "'";
    struct Case {
        std::string args;
        int status;
        std::string message;
    };
    const Case cases[] = {
        {"", 2, "overlay-preview: no scene file given\n"},
        {"--monitor 1920x1080" + scene, 2, "overlay-preview: --monitor '1920x1080': expected WxH+X+Y[@DPI][,primary]"},
        {"--monitor 1920x1080+0+0@20" + scene, 2, "overlay-preview: --monitor '1920x1080+0+0@20': expected"},
        {"--monitor 100x100+0+0,primary --monitor 100x100+100+0,primary" + scene, 2,
         "overlay-preview: only one monitor can be the primary one\n"},
        {"--cursor 5" + scene, 2, "overlay-preview: --cursor '5': expected X,Y\n"},
        {"--game-window 10,10,5,20" + scene, 2, "overlay-preview: --game-window '10,10,5,20': expected"},
        {"--time 0.01" + scene + scene, 2, "overlay-preview: 2 scenes are sent 20 ms apart, so --time must be at least"},
        {"--background red" + scene, 2, "overlay-preview: --background 'red': expected #rrggbb\n"},
        {"--frobnicate" + scene, 2, "overlay-preview: unknown option '--frobnicate'\n"},
        {"'" + Path("bad.json").string() + "'", 1,
         "overlay-preview: " + Path("bad.json").string() +
             ": commands[0].kind: unknown kind \"box\"; kinds are fillRect, strokeRect, line, text, rainbowCursor\n"},
        {"'" + Path("missing.json").string() + "'", 1,
         "overlay-preview: " + Path("missing.json").string() + ": no such file\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const Preview preview = RunPreview(c.args);
        EXPECT_EQ(preview.status, c.status);
        EXPECT_EQ(preview.out.rfind(c.message, 0), 0u) << preview.out;
        EXPECT_FALSE(std::filesystem::exists(Path("out"))) << "nothing is written";
    }
}

}  // namespace
