// The render pass over all surfaces: which failure stops what, which code is
// reported, and when the composition device is committed.
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

constexpr std::uint64_t kFrameAt = 100;

std::vector<sim::MonitorConfig> TwoMonitors() {
    return {Monitor(0, 0, 1920, 1080, 96, true), Monitor(1920, 0, 1280, 1024, 96, false)};
}

Frame RedBox() { return Encode(SceneOf({FillRect(Rect{10, 10, 60, 60}, Color{255, 0, 0, 255})})); }

struct PassResult {
    RendererRun run;
    std::size_t presents = 0;   // Present calls in the frame's pass
    std::size_t commits = 0;    // Commit calls in the frame's pass
    std::size_t rebuilds = 0;   // kRebuildMessage posts after the frame
};

// Start-up on two monitors, one frame at kFrameAt whose pass meets `faults`,
// then the parent ends. Counts are taken from the frame's pass alone: the
// frame's pass is the second use of each per-surface call on each monitor.
PassResult RunFramePass(const std::vector<sim::Fault>& faults) {
    Harness harness;
    sim::DesktopConfig config = harness.DefaultConfig();
    config.monitors = TwoMonitors();
    harness.Prepare(config);
    for (const sim::Fault& fault : faults) sim::AddFault(fault);
    SendFrameAt(kFrameAt, RedBox());
    PassResult result;
    harness.EndParentAt(1000);
    result.run = harness.Run();
    const std::vector<sim::Call> pass = CallsWhileHandling("WM_APP+1", kFrameAt);
    result.presents = CountNamed(pass, "IDXGISwapChain1::Present");
    result.commits = CountNamed(pass, "IDCompositionDevice::Commit");
    for (const sim::Call& call : pass)
        if (call.name == "PostMessageW" && call.args.find("msg=WM_APP+2") != std::string::npos) ++result.rebuilds;
    return result;
}

TEST(RenderPass, FailureMatrixOnTwoSurfaces) {
    struct Row {
        const char* why;
        std::vector<sim::Fault> faults;
        std::size_t presents;
        std::size_t commits;
        const char* logged;  // the render line, or null for none
    };
    const Row rows[] = {
        {"nothing fails: both presented, one commit", {}, 2, 1, nullptr},
        {"GetBuffer fails on the first surface: the second is still drawn and presented, no commit",
         {sim::Fault::On("IDXGISwapChain1::GetBuffer", E_OUTOFMEMORY).Nth(2).ForMonitor(0)}, 1, 0,
         "render failed (0x8007000e)"},
        {"the target bitmap cannot be made on the second surface",
         {sim::Fault::On("ID2D1DeviceContext::CreateBitmapFromDxgiSurface", E_INVALIDARG).Nth(2).ForMonitor(1)}, 1, 0,
         "render failed (0x80070057)"},
        {"EndDraw fails on the first surface: not presented, the second is",
         {sim::Fault::On("ID2D1DeviceContext::EndDraw", static_cast<long>(0x8899000C)).Nth(2).ForMonitor(0)}, 1, 0,
         "render failed (0x8899000c)"},
        {"a negative Present fails the pass after both were tried",
         {sim::Fault::On("IDXGISwapChain1::Present", DXGI_ERROR_DEVICE_REMOVED).Nth(2).ForMonitor(0)}, 2, 0,
         "render failed (0x887a0005)"},
        {"a positive Present status is success",
         {sim::Fault::On("IDXGISwapChain1::Present", DXGI_STATUS_OCCLUDED).Nth(3)}, 2, 1,
         nullptr},
        {"two surfaces fail with different codes: the last one wins",
         {sim::Fault::On("IDXGISwapChain1::GetBuffer", E_OUTOFMEMORY).Nth(2).ForMonitor(0),
          sim::Fault::On("ID2D1DeviceContext::EndDraw", E_FAIL).Nth(2).ForMonitor(1)},
         0, 0, "render failed (0x80004005)"},
        {"only the commit fails: its own code",
         {sim::Fault::On("IDCompositionDevice::Commit", E_UNEXPECTED).Nth(3)}, 2, 1,
         "render failed (0x8000ffff)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        const PassResult result = RunFramePass(row.faults);
        EXPECT_EQ(result.presents, row.presents);
        EXPECT_EQ(result.commits, row.commits);
        Strings lines{kStarting, Created(2)};
        if (row.logged) lines.insert(lines.end(), {row.logged, Created(2)});
        lines.insert(lines.end(), {kParentExited, kExiting});
        EXPECT_EQ(result.run.Messages(), lines);
        EXPECT_EQ(result.rebuilds, row.logged ? 1u : 0u) << "a failed pass asks for exactly one rebuild";
        EXPECT_LEFT_NOTHING(result.run);
    }
}

// With the stack in place but no surface (every monitor gone), a pass is the
// commit alone, and a failing commit is reported with its own code.
TEST(RenderPass, WithoutSurfacesAPassIsOnlyTheCommit) {
    Harness harness;
    harness.Prepare();
    sim::At(100, [] { sim::ChangeDisplays({}); });
    // Commits: the start-up rebuild's and its pass's; the display change's
    // rebuild stops before committing; the third is the frame's pass.
    sim::AddFault(sim::Fault::On("IDCompositionDevice::Commit", E_FAIL).Nth(3));
    SendFrameAt(200, RedBox());
    harness.EndParentAt(1000);
    const RendererRun run = harness.Run();

    const std::vector<sim::Call> pass = CallsWhileHandling("WM_APP+1", 200);
    const std::size_t buffers = CountNamed(pass, "IDXGISwapChain1::GetBuffer");
    const std::size_t commits = CountNamed(pass, "IDCompositionDevice::Commit");

    EXPECT_EQ(buffers, 0u);
    EXPECT_EQ(commits, 1u);
    EXPECT_EQ(run.Messages(), (Strings{kStarting, Created(1), kNoMonitors, "render failed (0x80004005)", kNoMonitors,
                                       kParentExited, kExiting}));
    EXPECT_LEFT_NOTHING(run);
}

}  // namespace
