// What the user sees: screenshots of each monitor after scenes are drawn.
#include <cmath>

#include "graphics_test.h"

namespace {

using namespace gfxtest;
using simtest::Harness;
using simtest::RendererRun;
using simtest::frames::Color;
using simtest::frames::Command;
using simtest::frames::Encode;
using simtest::frames::FillRect;
using simtest::frames::RainbowCursor;
using simtest::frames::Rect;
using simtest::frames::SceneOf;
using vorlune::overlay::CommandKind;
using vorlune::overlay::MonitorTarget;
using vorlune::overlay::NormalizedX;

constexpr std::uint64_t kFrameAt = 100;
constexpr std::uint64_t kShotAt = 101;

struct Shots {
    RendererRun run;
    std::vector<sim::Image> monitors;
    std::vector<D2D1_MATRIX_3X2_F> arrowTransforms;  // in effect for each FillGeometry
};

struct World {
    std::vector<sim::MonitorConfig> monitors{Monitor(0, 0, 1920, 1080, 96, true)};
    std::optional<RECT> gameClient;  // screen rectangle of the game's client area
    POINT cursor{5000, 5000};        // off every monitor unless a row says otherwise
    std::uint64_t frameAt = kFrameAt;
    std::uint64_t shotAt = kShotAt;
};

// Runs the renderer in `world`, sends `frame`, and screenshots every monitor
// right after the frame's pass.
Shots Draw(const World& world, const Frame& frame) {
    Harness harness;
    sim::DesktopConfig config = harness.DefaultConfig();
    config.monitors = world.monitors;
    config.cursor = world.cursor;
    harness.Prepare(config);
    if (world.gameClient) {
        const DWORD game = sim::SpawnProcess();
        RECT outer = *world.gameClient;
        outer.left -= 8, outer.top -= 31, outer.right += 8, outer.bottom += 8;
        sim::CreateForeignWindow(game, L"Mabinogi", L"Mabinogi", outer, *world.gameClient);
    }
    LRESULT answer = -1;
    SendFrameAt(world.frameAt, frame, &answer);
    Shots shots;
    sim::At(world.shotAt, [&] {
        for (std::size_t i = 0; i < world.monitors.size(); ++i) shots.monitors.push_back(sim::Screenshot(int(i)));
    });
    harness.EndParentAt(world.shotAt + 500);
    shots.run = harness.Run();
    shots.arrowTransforms = sim::FillGeometryTransforms();
    EXPECT_EQ(answer, 1) << "the frame was refused";
    EXPECT_LEFT_NOTHING(shots.run);
    return shots;
}

bool FullyTransparent(const sim::Image& image) {
    for (std::size_t i = 3; i < image.bgra.size(); i += 4)
        if (image.bgra[i] != 0) return false;
    return !image.Empty();
}

int CountOpaqueish(const sim::Image& image, int left, int top, int right, int bottom) {
    int count = 0;
    for (int y = std::max(top, 0); y < std::min(bottom, image.height); ++y)
        for (int x = std::max(left, 0); x < std::min(right, image.width); ++x)
            if (image.Bgra(x, y)[3] > 64) ++count;
    return count;
}

bool Near(sim::Rgba pixel, sim::Rgba want, int tolerance = 2) {
    return std::abs(pixel.r - want.r) <= tolerance && std::abs(pixel.g - want.g) <= tolerance &&
           std::abs(pixel.b - want.b) <= tolerance && std::abs(pixel.a - want.a) <= tolerance;
}

std::string Show(sim::Rgba p) {
    return "(" + std::to_string(p.r) + "," + std::to_string(p.g) + "," + std::to_string(p.b) + "," +
           std::to_string(p.a) + ")";
}

Command Text(Rect box, std::string text, std::uint8_t alignment) {
    Command command;
    command.kind = CommandKind::Text;
    command.rect = box;
    command.fontSize = 40;
    command.fontWeight = 700;
    command.alignment = alignment;
    command.color = Color{255, 255, 255, 255};
    command.text = std::move(text);
    return command;
}

TEST(Drawing, ASceneWithoutCommandsLeavesEveryMonitorTransparent) {
    World world;
    world.monitors = {Monitor(0, 0, 1920, 1080, 96, true), Monitor(1920, 0, 1280, 1024, 144, false)};
    // First something visible, then the empty scene that must clear it.
    Harness harness;
    sim::DesktopConfig config = harness.DefaultConfig();
    config.monitors = world.monitors;
    harness.Prepare(config);
    SendFrameAt(100, Encode(SceneOf({FillRect(Rect{0, 0, 500, 500}, Color{0, 255, 0, 255})})));
    SendFrameAt(200, Encode(SceneOf({})));
    std::vector<sim::Image> before, after;
    sim::At(150, [&] { before = {sim::Screenshot(0), sim::Screenshot(1)}; });
    sim::At(250, [&] { after = {sim::Screenshot(0), sim::Screenshot(1)}; });
    harness.EndParentAt(600);
    const RendererRun run = harness.Run();

    ASSERT_EQ(after.size(), 2u);
    EXPECT_FALSE(FullyTransparent(before[0])) << "the green square never showed";
    EXPECT_TRUE(FullyTransparent(after[0]));
    EXPECT_TRUE(FullyTransparent(after[1]));
    EXPECT_LEFT_NOTHING(run);
}

TEST(Drawing, FillRectAtItsPlaceInItsColour) {
    const Shots shots = Draw(World{}, Encode(SceneOf({FillRect(Rect{10, 20, 110, 70}, Color{255, 0, 0, 128})})));
    ASSERT_EQ(shots.monitors.size(), 1u);
    const sim::Image& shot = shots.monitors[0];
    EXPECT_TRUE(Near(shot.Pixel(60, 45), sim::Rgba{255, 0, 0, 128})) << Show(shot.Pixel(60, 45));
    EXPECT_TRUE(Near(shot.Pixel(10, 20), sim::Rgba{255, 0, 0, 128})) << "top-left corner pixel is inside";
    EXPECT_EQ(shot.Pixel(9, 45).a, 0) << "left of the rectangle";
    EXPECT_EQ(shot.Pixel(110, 45).a, 0) << "right edge is exclusive";
    EXPECT_EQ(shot.Pixel(60, 70).a, 0) << "bottom edge is exclusive";
}

TEST(Drawing, PrimaryTargetPutsShapesOnThePrimaryOnlyWhileTheArrowShowsAnywhere) {
    World world;
    // The primary monitor is enumerated second.
    world.monitors = {Monitor(1920, 0, 1920, 1080, 96, false), Monitor(0, 0, 1920, 1080, 96, true)};
    world.gameClient = RECT{100, 100, 3800, 1000};  // spans both monitors
    world.cursor = POINT{1920 + 400, 300};           // over the game, on the secondary monitor
    const Frame frame = Encode(SceneOf({FillRect(Rect{0, 0, 200, 200}, Color{0, 0, 255, 255}), RainbowCursor()},
                                       MonitorTarget::Primary));
    const Shots shots = Draw(world, frame);
    ASSERT_EQ(shots.monitors.size(), 2u);
    const sim::Image& secondary = shots.monitors[0];
    const sim::Image& primary = shots.monitors[1];

    EXPECT_TRUE(Near(primary.Pixel(100, 100), sim::Rgba{0, 0, 255, 255})) << Show(primary.Pixel(100, 100));
    EXPECT_EQ(secondary.Pixel(100, 100).a, 0) << "the rectangle belongs to the primary monitor";
    EXPECT_GT(CountOpaqueish(secondary, 400 - 16, 300, 400 + 16, 330), 100) << "the arrow under the cursor";
    EXPECT_EQ(CountOpaqueish(primary, 0, 0, primary.width, primary.height), 200 * 200)
        << "only the rectangle on the primary: the cursor is not there";
}

TEST(Drawing, NormalizedXFollowsEachMonitorsWidthAndDpi) {
    World world;
    world.monitors = {Monitor(0, 0, 2560, 1440, 144, true), Monitor(2560, 0, 1920, 1080, 96, false)};
    Command half = FillRect(Rect{0.5f, 10, 1.0f, 20}, Color{255, 255, 0, 255}, NormalizedX);
    const Shots shots = Draw(world, Encode(SceneOf({half})));
    ASSERT_EQ(shots.monitors.size(), 2u);
    // 0.5 of 2560 pixels at DPI 144 is 853.33 DIPs, that is pixel 1280 again;
    // Y stays in DIPs: 10..20 DIPs are pixels 15..30.
    const sim::Image& wide = shots.monitors[0];
    EXPECT_EQ(wide.Pixel(1278, 22).a, 0);
    EXPECT_EQ(wide.Pixel(1281, 22).a, 255);
    EXPECT_EQ(wide.Pixel(2559, 22).a, 255) << "reaches the right edge";
    EXPECT_EQ(wide.Pixel(2000, 13).a, 0) << "above 10 DIPs";
    EXPECT_EQ(wide.Pixel(2000, 31).a, 0) << "below 20 DIPs";
    const sim::Image& plain = shots.monitors[1];
    EXPECT_EQ(plain.Pixel(958, 15).a, 0);
    EXPECT_EQ(plain.Pixel(961, 15).a, 255);
    EXPECT_EQ(plain.Pixel(1919, 15).a, 255);
}

TEST(Drawing, TextIsAlignedInItsBoxAndClippedToIt) {
    struct Row {
        const char* why;
        std::uint8_t alignment;
    };
    const Row rows[] = {{"leading", 0}, {"centred", 1}, {"trailing", 2}};
    const Rect box{100, 100, 500, 160};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        // A short word shows where the alignment puts it; a long one must be clipped.
        const Shots shots = Draw(World{}, Encode(SceneOf({Text(box, "Hi", row.alignment),
                                                          Text(Rect{100, 300, 300, 360}, std::string(60, 'W'), 0)})));
        ASSERT_EQ(shots.monitors.size(), 1u);
        const sim::Image& shot = shots.monitors[0];
        int left = 10000, right = -1, top = 10000, bottom = -1;
        for (int y = 0; y < 250; ++y)
            for (int x = 0; x < 700; ++x)
                if (shot.Bgra(x, y)[3] > 64) {
                    left = std::min(left, x), right = std::max(right, x);
                    top = std::min(top, y), bottom = std::max(bottom, y);
                }
        ASSERT_GE(right, 0) << "no text drawn";
        EXPECT_GE(left, 100);
        EXPECT_LT(right, 500);
        const int middle = (left + right) / 2;
        if (row.alignment == 0) {
            EXPECT_LT(left, 110);
        } else if (row.alignment == 1) {
            EXPECT_NEAR(middle, 300, 6);
        } else {
            EXPECT_GT(right, 488);
        }
        EXPECT_NEAR((top + bottom) / 2, 130, 8) << "vertically centred in the box";

        EXPECT_GT(CountOpaqueish(shot, 100, 300, 300, 360), 0) << "the long text is drawn";
        EXPECT_EQ(CountOpaqueish(shot, 300, 290, 1920, 370), 0) << "nothing right of its box";
        EXPECT_EQ(CountOpaqueish(shot, 0, 360, 1920, 400), 0) << "nothing below its box";
    }
}

// The arrow shows only while the cursor is inside the game's client area
// (right and bottom edges excluded) and inside the surface's window.
TEST(Drawing, ArrowOnlyOverTheGamesClientAreaOnTheMonitorUnderTheCursor) {
    struct Row {
        const char* why;
        bool game;
        POINT cursor;
        int arrowOnMonitor;  // -1: on none
    };
    const RECT client{200, 200, 1200, 800};
    const Row rows[] = {
        {"inside the client area", true, {600, 400}, 0},
        {"no game window", false, {600, 400}, -1},
        {"on the client area's right edge", true, {1200, 400}, -1},
        {"on the client area's bottom edge", true, {600, 800}, -1},
        {"on the client area's left and top edges", true, {200, 200}, 0},
        {"outside the game", true, {1500, 400}, -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        World world;
        world.monitors = {Monitor(0, 0, 1920, 1080, 96, true), Monitor(1920, 0, 1920, 1080, 96, false)};
        if (row.game) world.gameClient = client;
        world.cursor = row.cursor;
        const Shots shots = Draw(world, Encode(SceneOf({RainbowCursor()})));
        ASSERT_EQ(shots.monitors.size(), 2u);
        for (int m = 0; m < 2; ++m) {
            const int drawn = CountOpaqueish(shots.monitors[m], 0, 0, 1920, 1080);
            if (m == row.arrowOnMonitor)
                EXPECT_GT(CountOpaqueish(shots.monitors[m], row.cursor.x - 16, row.cursor.y, row.cursor.x + 16,
                                         row.cursor.y + 31),
                          200);
            else
                EXPECT_EQ(drawn, 0) << "monitor " << m;
        }
    }
}

TEST(Drawing, ArrowOnTheSecondMonitorOnly) {
    World world;
    world.monitors = {Monitor(0, 0, 1920, 1080, 96, true), Monitor(1920, 0, 1920, 1080, 96, false)};
    world.gameClient = RECT{1920 + 100, 100, 1920 + 1500, 900};
    world.cursor = POINT{1920 + 700, 500};
    const Shots shots = Draw(world, Encode(SceneOf({RainbowCursor()})));
    ASSERT_EQ(shots.monitors.size(), 2u);
    EXPECT_EQ(CountOpaqueish(shots.monitors[0], 0, 0, 1920, 1080), 0);
    EXPECT_GT(CountOpaqueish(shots.monitors[1], 700 - 16, 500, 700 + 16, 531), 200);
    EXPECT_EQ(CountOpaqueish(shots.monitors[1], 0, 0, 650, 1080), 0) << "nothing away from the cursor";
}

TEST(Drawing, ArrowIsPlacedInDipsAndTheTransformIsRestored) {
    World world;
    world.monitors = {Monitor(0, 0, 2560, 1440, 144, true)};
    world.gameClient = RECT{0, 0, 2000, 1200};
    world.cursor = POINT{300, 150};
    // A rectangle after the arrow must land untransformed.
    const Shots shots = Draw(world, Encode(SceneOf({RainbowCursor(), FillRect(Rect{0, 400, 10, 410},
                                                                             Color{255, 0, 255, 255})})));
    const std::vector<D2D1_MATRIX_3X2_F>& transforms = shots.arrowTransforms;
    ASSERT_FALSE(transforms.empty());
    const D2D1_MATRIX_3X2_F& placed = transforms.back();
    EXPECT_FLOAT_EQ(placed._11, 1.0f);
    EXPECT_FLOAT_EQ(placed._12, 0.0f);
    EXPECT_FLOAT_EQ(placed._21, 0.0f);
    EXPECT_FLOAT_EQ(placed._22, 1.0f);
    EXPECT_FLOAT_EQ(placed._31, 200.0f);
    EXPECT_FLOAT_EQ(placed._32, 100.0f);
    ASSERT_EQ(shots.monitors.size(), 1u);
    // The tip at the cursor: the arrow is drawn at DPI 144, so 30 DIPs tall is 45 pixels.
    EXPECT_GT(CountOpaqueish(shots.monitors[0], 300 - 22, 150, 300 + 22, 195), 500);
    EXPECT_EQ(shots.monitors[0].Pixel(5, 605).a, 255) << "the rectangle after the arrow is in place";
    EXPECT_EQ(shots.monitors[0].Pixel(5 + 200, 605 + 100).a, 0) << "not shifted by the arrow's translation";
}

TEST(Drawing, RainbowColourAtKnownTimes) {
    struct Row {
        const char* why;
        std::uint64_t ms;
        sim::Rgba colour;
    };
    const Row rows[] = {
        {"t = 0: hue 0, saturation 0.7", 0, {255, 77, 77, 255}},
        {"t = 0.125 s: hue 90, saturation 0.81", 125, {152, 255, 48, 255}},
        {"t = 0.25 s: hue 180 opens the cyan sector", 250, {24, 255, 255, 255}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        World world;
        world.gameClient = RECT{0, 0, 1900, 1000};
        world.cursor = POINT{500, 300};
        // The start-up time is virtual time 0; the frame's pass runs at row.ms.
        // At t = 0 the pass of the start-up rebuild has no arrow yet, so send
        // the frame in the same instant as the process starts.
        world.frameAt = row.ms;
        world.shotAt = row.ms + 1;
        const Shots shots = Draw(world, Encode(SceneOf({RainbowCursor()})));
        ASSERT_EQ(shots.monitors.size(), 1u);
        const sim::Rgba inside = shots.monitors[0].Pixel(500, 300 + 20);
        EXPECT_TRUE(Near(inside, row.colour, 3)) << Show(inside);
    }
}

}  // namespace
