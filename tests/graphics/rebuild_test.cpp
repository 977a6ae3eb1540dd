// How a rebuild ends, as the log, the exit code and the journal show it, and
// that whatever route it takes, nothing outlives the run.
#include <algorithm>
#include <functional>

#include "graphics_test.h"

namespace {

using namespace gfxtest;
using simtest::Harness;
using simtest::RendererRun;
using simtest::frames::Color;
using simtest::frames::Encode;
using simtest::frames::FillRect;
using simtest::frames::Rect;
using simtest::frames::SceneOf;

TEST(Rebuild, StartUpOutcomesWithTheirLinesAndExitCodes) {
    struct Row {
        const char* why;
        std::vector<sim::Fault> faults;
        int exitCode;
        Strings lines;
    };
    const Row rows[] = {
        {"everything works on hardware", {}, 0, {kStarting, Created(1), kParentExited, kExiting}},
        {"no hardware device: WARP takes over",
         {sim::Fault::On("D3D11CreateDevice", E_FAIL).ForDriver(D3D_DRIVER_TYPE_HARDWARE)},
         0,
         {kStarting, kFallback, Created(1), kParentExited, kExiting}},
        {"the hardware chain breaks late, at the composition device: WARP takes over",
         {sim::Fault::On("DCompositionCreateDevice", E_FAIL).Nth(1)},
         0,
         {kStarting, kFallback, Created(1), kParentExited, kExiting}},
        {"neither hardware nor WARP", {sim::Fault::On("D3D11CreateDevice", E_FAIL)}, 5,
         {kStarting, kFallback, kNoWarp}},
        {"the WARP chain breaks at the text factory", {sim::Fault::On("DWriteCreateFactory", E_FAIL)}, 5,
         {kStarting, kFallback, kNoWarp}},
        {"the adapter lookup fails: no line of its own", {sim::Fault::On("IDXGIDevice::GetAdapter", E_FAIL)}, 5,
         {kStarting}},
        {"the factory lookup fails: no line of its own", {sim::Fault::On("IDXGIAdapter::GetParent", E_NOINTERFACE)}, 5,
         {kStarting}},
        {"the factory lookup fails after the fallback",
         {sim::Fault::On("D3D11CreateDevice", E_FAIL).ForDriver(D3D_DRIVER_TYPE_HARDWARE),
          sim::Fault::On("IDXGIAdapter::GetParent", E_FAIL)},
         5,
         {kStarting, kFallback}},
        {"no monitor yields a surface",
         {sim::Fault::On("IDXGIFactory2::CreateSwapChainForComposition", E_OUTOFMEMORY)},
         5,
         {kStarting, "create monitor surface failed (0x8007000e)", kNoMonitors}},
        {"the first commit fails", {sim::Fault::On("IDCompositionDevice::Commit", E_FAIL).Nth(1)}, 5,
         {kStarting, "DirectComposition commit failed (0x80004005)"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        Harness harness;
        harness.Prepare();
        for (const sim::Fault& fault : row.faults) sim::AddFault(fault);
        harness.EndParentAt(1000);
        const RendererRun run = harness.Run();
        EXPECT_EQ(run.exitCode, row.exitCode) << simtest::JournalTail();
        EXPECT_EQ(run.Messages(), row.lines);
        EXPECT_LEFT_NOTHING(run);
    }
}

TEST(Rebuild, RefusedFeatureLevel11_1IsRetriedWith11_0Silently) {
    Harness harness;
    harness.Prepare();
    sim::RejectFeatureLevel11_1(true);
    harness.EndParentAt(600);
    const RendererRun run = harness.Run();

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.Messages(), (Strings{kStarting, Created(1), kParentExited, kExiting}));
    const Strings calls = simtest::ArgsOf("D3D11CreateDevice");
    ASSERT_EQ(calls.size(), 2u) << simtest::JournalTail();
    EXPECT_NE(calls[0].find("driverType=1 "), std::string::npos) << calls[0];
    EXPECT_NE(calls[0].find("levels=0xb100,0xb000 count=2"), std::string::npos) << calls[0];
    EXPECT_NE(calls[1].find("driverType=1 "), std::string::npos) << "the retry keeps the driver type: " << calls[1];
    EXPECT_NE(calls[1].find("levels=0xb000 count=1"), std::string::npos) << calls[1];
    EXPECT_LEFT_NOTHING(run);
}

TEST(Rebuild, OtherDeviceFailuresAreNotRetriedWithTheShortList) {
    Harness harness;
    harness.Prepare();
    sim::AddFault(sim::Fault::On("D3D11CreateDevice", E_FAIL).Nth(1));
    harness.EndParentAt(600);
    const RendererRun run = harness.Run();

    EXPECT_EQ(run.Messages(), (Strings{kStarting, kFallback, Created(1), kParentExited, kExiting}));
    const Strings calls = simtest::ArgsOf("D3D11CreateDevice");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_NE(calls[1].find("driverType=5 "), std::string::npos) << "the second call is WARP: " << calls[1];
    EXPECT_NE(calls[1].find("count=2"), std::string::npos) << calls[1];
}

// A failed pass at the end of a rebuild: the rebuild still counts as done,
// logs the failure only when there was something to draw, and queues one more.
TEST(Rebuild, FailedClosingPassLogsOnlyWithCommandsAndQueuesOneRebuild) {
    struct Row {
        const char* why;
        bool withCommands;
        Strings lines;
    };
    const Row rows[] = {
        {"the scene has commands", true,
         {kStarting, Created(1), Created(1), "render failed (0x887a0005)", Created(1), kParentExited, kExiting}},
        {"the scene has none", false, {kStarting, Created(1), Created(1), Created(1), kParentExited, kExiting}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        Harness harness;
        harness.Prepare();
        std::vector<simtest::frames::Command> commands;
        if (row.withCommands) commands.push_back(FillRect(Rect{0, 0, 10, 10}, Color{0, 0, 255, 255}));
        SendFrameAt(100, Encode(SceneOf(commands)));
        // Passes: 1 at start-up, 2 for the frame, 3 closing the rebuild of the display change.
        sim::AddFault(sim::Fault::On("IDXGISwapChain1::Present", DXGI_ERROR_DEVICE_REMOVED).Nth(3));
        sim::At(200, [] { sim::ChangeDisplays(sim::Config().monitors); });
        harness.EndParentAt(1000);
        const RendererRun run = harness.Run();

        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.Messages(), row.lines);
        std::size_t rebuildPosts = 0;
        for (const std::string& args : simtest::ArgsOf("PostMessageW"))
            if (args.find("msg=WM_APP+2") != std::string::npos) ++rebuildPosts;
        EXPECT_EQ(rebuildPosts, 2u) << "one for the display change, one after the failed pass";
        EXPECT_LEFT_NOTHING(run);
    }
}

TEST(Rebuild, ASecondRebuildDestroysTheFirstWindowsBeforeMakingAny) {
    Harness harness;
    sim::DesktopConfig config = harness.DefaultConfig();
    config.monitors = {Monitor(0, 0, 1920, 1080, 96, true), Monitor(1920, 0, 1280, 1024, 96, false)};
    harness.Prepare(config);
    std::vector<std::size_t> overlayCounts;
    for (std::uint64_t ms : {100, 200}) sim::At(ms, [] { sim::ChangeDisplays(sim::Config().monitors); });
    sim::At(300, [&] { overlayCounts.push_back(simtest::OverlayWindows().size()); });
    harness.EndParentAt(1000);
    const RendererRun run = harness.Run();

    EXPECT_EQ(run.Messages(), (Strings{kStarting, Created(2), Created(2), Created(2), kParentExited, kExiting}));
    EXPECT_EQ(overlayCounts, (std::vector<std::size_t>{2}));

    // Walk the journal: the overlay windows alive never exceed one set.
    std::size_t alive = 0, most = 0;
    for (const sim::Call& call : sim::Journal()) {
        if (call.name == "CreateWindowExW" && call.args.find("vorluneOverlayWindow") != std::string::npos)
            most = std::max(most, ++alive);
        // Before 1000 ms the control window lives, so every DestroyWindow is an overlay's.
        if (call.name == "DestroyWindow" && call.timeMs < 1000) --alive;
    }
    EXPECT_EQ(most, 2u) << simtest::JournalTail(200);
    EXPECT_LEFT_NOTHING(run);
}

}  // namespace
