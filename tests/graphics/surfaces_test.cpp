// One overlay surface per monitor: where its window sits, how it is styled and
// shown, how large its swap chain is, and how one failing monitor is skipped.
#include <algorithm>

#include "graphics_test.h"

namespace {

using namespace gfxtest;
using simtest::Harness;
using simtest::RendererRun;

// Enumeration order differs from screen order on purpose: the primary monitor
// comes second and one monitor sits left of and above the primary one.
std::vector<sim::MonitorConfig> ThreeMonitors() {
    return {Monitor(-1920, -200, 1920, 1080, 96, false), Monitor(0, 0, 2560, 1440, 192, true),
            Monitor(2560, 0, 1280, 1024, 120, false)};
}

sim::WindowView View(HWND window) {
    sim::WindowView view;
    EXPECT_TRUE(sim::ViewWindow(window, view));
    return view;
}

TEST(Surfaces, OneWindowPerMonitorInEnumerationOrderCoveringTheWholeMonitor) {
    Harness harness;
    sim::DesktopConfig config = harness.DefaultConfig();
    config.monitors = ThreeMonitors();
    harness.Prepare(config);
    std::vector<sim::WindowView> windows;
    sim::At(100, [&] {
        for (HWND window : simtest::OverlayWindows()) windows.push_back(View(window));
    });
    harness.EndParentAt(600);
    const RendererRun run = harness.Run();

    EXPECT_EQ(run.Messages(), (Strings{kStarting, Created(3), kParentExited, kExiting}));
    ASSERT_EQ(windows.size(), 3u);
    // Creation order is the enumeration order; the journal has it.
    Strings created;
    for (const std::string& args : simtest::ArgsOf("CreateWindowExW"))
        if (args.find("vorluneOverlayWindow") != std::string::npos) created.push_back(args);
    ASSERT_EQ(created.size(), 3u);
    const std::vector<sim::MonitorConfig> monitors = ThreeMonitors();
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        SCOPED_TRACE(i);
        const RECT& rect = monitors[i].rect;
        const std::string where = "x=" + std::to_string(rect.left) + " y=" + std::to_string(rect.top) +
                                  " w=" + std::to_string(rect.right - rect.left) +
                                  " h=" + std::to_string(rect.bottom - rect.top);
        EXPECT_NE(created[i].find(where), std::string::npos) << created[i];
        const auto match = std::find_if(windows.begin(), windows.end(), [&](const sim::WindowView& w) {
            return w.rect.left == rect.left && w.rect.top == rect.top && w.rect.right == rect.right &&
                   w.rect.bottom == rect.bottom;
        });
        ASSERT_NE(match, windows.end()) << "no window covers monitor " << i;
        EXPECT_TRUE(match->visible);
        EXPECT_EQ(match->exStyle, 0x082800A8u);
        EXPECT_EQ(match->style & static_cast<DWORD>(WS_POPUP), static_cast<DWORD>(WS_POPUP));
        EXPECT_EQ(match->title, L"");
    }
    EXPECT_LEFT_NOTHING(run);
}

TEST(Surfaces, SwapChainsHaveTheMonitorsPixelSizeWhateverTheDpi) {
    Harness harness;
    sim::DesktopConfig config = harness.DefaultConfig();
    config.monitors = ThreeMonitors();
    harness.Prepare(config);
    harness.EndParentAt(600);
    const RendererRun run = harness.Run();

    const std::vector<sim::MonitorConfig> monitors = ThreeMonitors();
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const std::optional<DXGI_SWAP_CHAIN_DESC1> desc = sim::LastSwapChainDesc(i);
        ASSERT_TRUE(desc.has_value());
        EXPECT_EQ(desc->Width, static_cast<UINT>(monitors[i].rect.right - monitors[i].rect.left));
        EXPECT_EQ(desc->Height, static_cast<UINT>(monitors[i].rect.bottom - monitors[i].rect.top));
        EXPECT_EQ(desc->Format, DXGI_FORMAT_B8G8R8A8_UNORM);
        EXPECT_EQ(desc->BufferCount, 2u);
        EXPECT_EQ(desc->SwapEffect, DXGI_SWAP_EFFECT_FLIP_SEQUENTIAL);
        EXPECT_EQ(desc->AlphaMode, DXGI_ALPHA_MODE_PREMULTIPLIED);
        EXPECT_EQ(desc->Scaling, DXGI_SCALING_STRETCH);
    }
    // Each surface draws at its monitor's DPI: the target bitmaps say so, in surface order.
    const Strings bitmaps = simtest::ArgsOf("ID2D1DeviceContext::CreateBitmapFromDxgiSurface");
    ASSERT_GE(bitmaps.size(), 3u);
    const char* dpis[] = {"dpi=96", "dpi=192", "dpi=120"};
    for (int i = 0; i < 3; ++i) EXPECT_NE(bitmaps[i].find(dpis[i]), std::string::npos) << bitmaps[i];
    EXPECT_LEFT_NOTHING(run);
}

TEST(Surfaces, AWindowIsShownOnlyAfterItsCompositionContentIsAttached) {
    Harness harness;
    harness.Prepare();
    harness.EndParentAt(600);
    const RendererRun run = harness.Run();

    std::uint64_t setRoot = 0, shown = 0, created = 0;
    for (const sim::Call& call : sim::Journal()) {
        if (call.name == "CreateWindowExW" && call.args.find("vorluneOverlayWindow") != std::string::npos)
            created = call.seq;
        if (call.name == "IDCompositionTarget::SetRoot" && setRoot == 0) setRoot = call.seq;
        if (call.name == "SetWindowPos" && shown == 0) {
            shown = call.seq;
            EXPECT_NE(call.args.find("after=HWND_TOPMOST"), std::string::npos) << call.args;
            EXPECT_NE(call.args.find("flags=0x50"), std::string::npos) << call.args;
        }
    }
    ASSERT_NE(created, 0u);
    ASSERT_NE(setRoot, 0u);
    ASSERT_NE(shown, 0u);
    EXPECT_LT(created, setRoot);
    EXPECT_LT(setRoot, shown);
    EXPECT_LEFT_NOTHING(run);
}

TEST(Surfaces, AFailingMonitorIsSkippedAndNotCounted) {
    struct Row {
        const char* why;
        sim::Fault fault;
        Strings lines;
    };
    const Row rows[] = {
        {"its swap chain cannot be made",
         sim::Fault::On("IDXGIFactory2::CreateSwapChainForComposition", E_OUTOFMEMORY).ForMonitor(1),
         {kStarting, "create monitor surface failed (0x8007000e)", Created(2), kParentExited, kExiting}},
        {"its composition target cannot be made",
         sim::Fault::On("IDCompositionDevice::CreateTargetForHwnd", E_INVALIDARG).ForMonitor(1),
         {kStarting, "create monitor surface failed (0x80070057)", Created(2), kParentExited, kExiting}},
        {"its visual cannot take the swap chain",
         sim::Fault::On("IDCompositionVisual::SetContent", E_FAIL).ForMonitor(1),
         {kStarting, "create monitor surface failed (0x80004005)", Created(2), kParentExited, kExiting}},
        {"its window cannot be made: no line", sim::Fault::On("CreateWindowExW", 0).ForMonitor(1),
         {kStarting, Created(2), kParentExited, kExiting}},
        {"its information cannot be read: no line", sim::Fault::On("GetMonitorInfoW", 0).ForMonitor(1),
         {kStarting, Created(2), kParentExited, kExiting}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        Harness harness;
        sim::DesktopConfig config = harness.DefaultConfig();
        config.monitors = ThreeMonitors();
        harness.Prepare(config);
        sim::AddFault(row.fault);
        std::vector<sim::WindowView> windows;
        sim::At(100, [&] {
            for (HWND window : simtest::OverlayWindows()) windows.push_back(View(window));
        });
        harness.EndParentAt(600);
        const RendererRun run = harness.Run();

        EXPECT_EQ(run.Messages(), row.lines);
        ASSERT_EQ(windows.size(), 2u);
        for (const sim::WindowView& window : windows) EXPECT_NE(window.rect.left, 0) << "monitor 1 got a window";
        EXPECT_LEFT_NOTHING(run);
    }
}

TEST(Surfaces, ZeroDpiFromTheSystemMeansNinetySix) {
    Harness harness;
    sim::DesktopConfig config = harness.DefaultConfig();
    config.monitors = {Monitor(0, 0, 1920, 1080, 144, true)};
    harness.Prepare(config);
    sim::AddFault(sim::Fault::On("GetDpiForWindow", 0));
    harness.EndParentAt(600);
    const RendererRun run = harness.Run();

    const Strings bitmaps = simtest::ArgsOf("ID2D1DeviceContext::CreateBitmapFromDxgiSurface");
    ASSERT_FALSE(bitmaps.empty());
    EXPECT_NE(bitmaps[0].find("dpi=96"), std::string::npos) << bitmaps[0];
    EXPECT_LEFT_NOTHING(run);
}

}  // namespace
