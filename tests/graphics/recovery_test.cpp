// Two situations the renderer must survive: a pass after a failed rebuild,
// when parts of the graphics stack are absent, and a failure that repeats in
// every pass, which must neither spin rebuilds back to back nor keep the
// parent watch from ending the renderer.
#include <algorithm>

#include "graphics_test.h"

namespace {

using namespace gfxtest;
using simtest::Harness;
using simtest::RendererRun;
using simtest::frames::Color;
using simtest::frames::Encode;
using simtest::frames::FillRect;
using simtest::frames::RainbowCursor;
using simtest::frames::Rect;
using simtest::frames::SceneOf;

Frame GreenBoxAndArrow() {
    return Encode(SceneOf({FillRect(Rect{0, 0, 50, 50}, Color{0, 255, 0, 255}), RainbowCursor()}));
}

// After a failed rebuild some of the stack is absent; frames and animation
// ticks in that state must touch none of it, and a later rebuild recovers.
TEST(Recovery, PassesAfterAFailedRebuildTouchNoAbsentObject) {
    struct Row {
        const char* why;
        sim::Fault fault;  // makes the display change's rebuild fail
        Strings failure;   // the lines that rebuild writes
    };
    const Row rows[] = {
        // D3D11CreateDevice: 1 at start-up, then 2 (hardware) and 3 (WARP) for the display change.
        {"both device chains fail", sim::Fault::On("D3D11CreateDevice", E_FAIL).Nth(2).Times(2), {kFallback, kNoWarp}},
        {"the WARP chain fails at the device context",
         sim::Fault::On("ID2D1Device::CreateDeviceContext", E_OUTOFMEMORY).Nth(2).Times(2), {kFallback, kNoWarp}},
        {"the factory lookup fails", sim::Fault::On("IDXGIAdapter::GetParent", E_FAIL).Nth(2), {}},
        {"no monitor yields a surface", sim::Fault::On("IDXGIFactory2::CreateSwapChainForComposition", E_FAIL).Nth(2), 
         {"create monitor surface failed (0x80004005)", kNoMonitors}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        Harness harness;
        sim::DesktopConfig config = harness.DefaultConfig();
        config.cursor = POINT{300, 300};
        harness.Prepare(config);
        const DWORD game = sim::SpawnProcess();
        sim::CreateForeignWindow(game, L"Mabinogi", L"Mabinogi", RECT{0, 0, 1000, 800}, RECT{8, 31, 992, 792});
        sim::AddFault(row.fault);
        sim::At(100, [] { sim::ChangeDisplays(sim::Config().monitors); });
        LRESULT answer = -1;
        SendFrameAt(200, GreenBoxAndArrow(), &answer);  // drawn while the stack is broken; animation starts
        sim::At(400, [] { sim::ChangeDisplays(sim::Config().monitors); });  // faults are used up: recovers
        sim::Image shot;
        sim::At(450, [&] { shot = sim::Screenshot(0); });
        harness.EndParentAt(1000);
        const RendererRun run = harness.Run();

        EXPECT_EQ(answer, 1);
        Strings lines{kStarting, Created(1)};
        lines.insert(lines.end(), row.failure.begin(), row.failure.end());
        lines.insert(lines.end(), {Created(1), kParentExited, kExiting});
        EXPECT_EQ(run.Messages(), lines);
        EXPECT_EQ(run.exitCode, 0);
        ASSERT_FALSE(shot.Empty());
        EXPECT_EQ(shot.Pixel(25, 25).g, 255) << "the frame accepted while broken is drawn after recovery";
        EXPECT_LEFT_NOTHING(run);
    }
}

// Every pass fails from the first frame on. Rebuilds go on, but after the
// first immediate one they are spaced out, growing to about a second, so the
// parent's end is still noticed promptly and no core is burnt.
TEST(Recovery, RepeatedPassFailuresSpaceOutRebuildsAndTheParentWatchStillEndsTheRenderer) {
    Harness harness;
    sim::DesktopConfig config = harness.DefaultConfig();
    // Rebuilds back to back would never let the loop wait: stop such a run early.
    config.maxMessagesWithoutWait = 500;
    harness.Prepare(config);
    // Presents: the start-up pass's is the first; every later one fails.
    sim::AddFault(sim::Fault::On("IDXGISwapChain1::Present", DXGI_ERROR_DEVICE_REMOVED).Nth(2).Times(1000000));
    SendFrameAt(100, Encode(SceneOf({FillRect(Rect{0, 0, 50, 50}, Color{0, 255, 0, 255})})));
    harness.EndParentAt(5000);
    const RendererRun run = harness.Run();

    EXPECT_EQ(run.exitCode, 0);
    const std::vector<std::uint64_t> quits = simtest::TimesOf("PostQuitMessage");
    ASSERT_EQ(quits.size(), 1u);
    EXPECT_LE(quits[0], 5000u + 1100u) << "the parent's end must be noticed within about a second";

    // Rebuilds are the D3D11CreateDevice calls after start-up.
    std::vector<std::uint64_t> rebuilds = simtest::TimesOf("D3D11CreateDevice");
    ASSERT_GE(rebuilds.size(), 6u);
    rebuilds.erase(rebuilds.begin());
    EXPECT_EQ(rebuilds[0], 100u) << "the first retry is immediate";
    std::vector<std::uint64_t> gaps;
    for (std::size_t i = 1; i < rebuilds.size(); ++i) gaps.push_back(rebuilds[i] - rebuilds[i - 1]);
    EXPECT_TRUE(std::is_sorted(gaps.begin(), gaps.end())) << "the delay only grows while failures go on";
    EXPECT_GT(gaps.front(), 0u);
    EXPECT_LE(gaps.back(), 1000u) << "capped at about a second";
    EXPECT_GE(gaps.back(), 500u) << "and it does grow that far";
    EXPECT_LT(rebuilds.size(), 20u) << "no tight loop of rebuilds";
    EXPECT_LEFT_NOTHING(run);
}

TEST(Recovery, AfterASuccessfulRebuildTheNextFailureIsRetriedAtOnceAgain) {
    Harness harness;
    harness.Prepare();
    // Presents 2..4 fail: the frame's pass and the passes closing the next two rebuilds.
    sim::AddFault(sim::Fault::On("IDXGISwapChain1::Present", DXGI_ERROR_DEVICE_REMOVED).Nth(2).Times(3));
    SendFrameAt(100, Encode(SceneOf({FillRect(Rect{0, 0, 50, 50}, Color{0, 255, 0, 255})})));
    // Present 6 fails too (5 is the recovered rebuild's pass): a second frame.
    sim::AddFault(sim::Fault::On("IDXGISwapChain1::Present", DXGI_ERROR_DEVICE_REMOVED).Nth(6));
    SendFrameAt(2000, Encode(SceneOf({FillRect(Rect{0, 0, 60, 60}, Color{0, 255, 0, 255})})));
    harness.EndParentAt(3000);
    const RendererRun run = harness.Run();

    std::vector<std::uint64_t> rebuilds = simtest::TimesOf("D3D11CreateDevice");
    ASSERT_EQ(rebuilds.size(), 5u) << simtest::JournalTail(80);
    EXPECT_EQ(rebuilds[1], 100u);
    EXPECT_GT(rebuilds[2], 100u);
    EXPECT_GT(rebuilds[3], rebuilds[2]);
    EXPECT_EQ(rebuilds[4], 2000u) << "a new run of failures starts with an immediate retry";
    EXPECT_LEFT_NOTHING(run);
}

}  // namespace
