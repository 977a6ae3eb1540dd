// The control window seen from the parent: which frame messages are accepted,
// refused or rejected, how bursts of frames and rebuild requests coalesce,
// how the animation timer follows the scene, and that the renderer's windows
// never take clicks or the focus.
#include <algorithm>
#include <functional>

#include "support/harness.h"

namespace {

using simtest::Harness;
using simtest::RendererRun;
using simtest::frames::Color;
using simtest::frames::Command;
using simtest::frames::Encode;
using simtest::frames::FillRect;
using simtest::frames::Rect;
using simtest::frames::SceneOf;
using Strings = std::vector<std::string>;
using Frame = std::vector<std::uint8_t>;

constexpr char kStarting[] = "renderer starting";
constexpr ULONG_PTR kTag = vorlune::overlay::kFrameMagic;
constexpr UINT kRenderMessage = WM_APP + 1;

// Journal calls of `name` at or after `fromMs`.
std::size_t CountFrom(const std::string& name, std::uint64_t fromMs) {
    const std::vector<std::uint64_t> times = simtest::TimesOf(name);
    return static_cast<std::size_t>(std::count_if(times.begin(), times.end(), [&](std::uint64_t t) { return t >= fromMs; }));
}
std::size_t RendersFrom(std::uint64_t fromMs) { return CountFrom("IDCompositionDevice::Commit", fromMs); }

// A scene of n filled rectangles, so the number of rectangles drawn tells
// which frame was drawn.
Frame Rectangles(int n, std::uint64_t tag = 1) {
    std::vector<Command> commands;
    for (int i = 0; i < n; ++i)
        commands.push_back(FillRect(Rect{10.0f * i, 0, 10.0f * i + 5, 5}, Color{255, 0, 0, 255}));
    return Encode(SceneOf(commands, vorlune::overlay::MonitorTarget::All, tag));
}

// A valid frame of exactly `size` bytes: the header and one command of a kind
// the decoder skips, which fills the rest.
Frame FillerFrame(std::size_t size) {
    Frame frame(size, 0);
    auto put = [&frame](std::size_t at, std::uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) frame[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    };
    put(0, vorlune::overlay::kFrameMagic, 4);
    put(4, 2, 2);           // version
    put(6, 2, 2);           // target: all monitors
    put(8, 7, 8);           // frame tag
    put(16, size - 24, 4);  // payload length
    put(20, 1, 4);          // one command
    put(24, 0, 2);          // kind 0: skipped
    put(28, size - 24, 4);  // its length: the whole payload
    return frame;
}

Strings AroundStartAndEnd(Strings middle, int surfaces = 1) {
    Strings lines{kStarting, "created " + std::to_string(surfaces) + " monitor surface(s)"};
    lines.insert(lines.end(), middle.begin(), middle.end());
    lines.push_back("parent exited");
    lines.push_back("renderer exiting");
    return lines;
}

TEST(FrameIntake, AnswersAndLogLinesOfEachKindOfMessage) {
    struct Row {
        const char* why;
        std::function<LRESULT()> send;
        LRESULT answer;
        Strings logged;
        std::size_t renders;
    };
    const Frame valid = Rectangles(1);
    const Row rows[] = {
        {"a valid frame", [&] { return simtest::SendFrame(valid); }, 1, {}, 1},
        {"no COPYDATASTRUCT at all", [] { return sim::SendNullCopyData(simtest::ControlWindow()); }, 0, {}, 0},
        {"the tag in the low 32 bits only: the upper bits count too",
         [&] {
             return sim::SendCopyData(simtest::ControlWindow(), kTag | (ULONG_PTR{1} << 32), valid.data(),
                                      static_cast<DWORD>(valid.size()));
         },
         0, {}, 0},
        {"another tag", [&] { return sim::SendCopyData(simtest::ControlWindow(), 0, valid.data(), DWORD(valid.size())); },
         0, {}, 0},
        {"no bytes behind the size", [&] { return sim::SendCopyData(simtest::ControlWindow(), kTag, nullptr, 64); }, 0,
         {}, 0},
        {"largest frame, 1,048,576 bytes, reaches the decoder",
         [] { return simtest::SendFrame(FillerFrame(1048576)); }, 1, {}, 1},
        {"1,048,577 bytes are refused before the decoder, silently",
         [] {
             const Frame big(1048577, 0);
             return sim::SendCopyData(simtest::ControlWindow(), kTag, big.data(), DWORD(big.size()));
         },
         0, {}, 0},
        {"garbage of the largest size is judged by the decoder",
         [] {
             const Frame big(1048576, 0);
             return sim::SendCopyData(simtest::ControlWindow(), kTag, big.data(), DWORD(big.size()));
         },
         0, {"rejected scene: invalid frame magic"}, 0},
        {"zero bytes: the decoder's reason is logged",
         [&] { return sim::SendCopyData(simtest::ControlWindow(), kTag, valid.data(), 0); }, 0,
         {"rejected scene: truncated frame header"}, 0},
        {"a frame sent to an overlay window is not taken",
         [&] { return simtest::SendFrame(valid, simtest::OverlayWindows().at(0)); }, 0, {}, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        Harness harness;
        harness.Prepare();
        LRESULT answer = -2;
        sim::At(100, [&] { answer = row.send(); });
        harness.EndParentAt(300);
        const RendererRun run = harness.Run();
        EXPECT_EQ(answer, row.answer);
        EXPECT_EQ(run.Messages(), AroundStartAndEnd(row.logged));
        EXPECT_EQ(RendersFrom(100), row.renders);
        EXPECT_LEFT_NOTHING(run);
    }
}

TEST(FrameIntake, BurstOfFramesIsDrawnOnceFromTheLastOne) {
    Harness harness;
    harness.Prepare();
    std::vector<LRESULT> answers;
    sim::At(100, [&] {
        for (int n : {1, 2, 3}) answers.push_back(simtest::SendFrame(Rectangles(n, static_cast<std::uint64_t>(n))));
    });
    harness.EndParentAt(300);
    const RendererRun run = harness.Run();
    EXPECT_EQ(answers, (std::vector<LRESULT>{1, 1, 1}));
    EXPECT_EQ(RendersFrom(100), 1u);
    EXPECT_EQ(CountFrom("ID2D1DeviceContext::FillRectangle", 100), 3u) << "the third frame's three rectangles";
    EXPECT_EQ(CountFrom("PostMessageW", 100), 1u) << "one render message for the burst";
    EXPECT_LEFT_NOTHING(run);
}

TEST(FrameIntake, RejectedFrameLeavesTheAcceptedOneToBeDrawn) {
    Harness harness;
    harness.Prepare();
    std::vector<LRESULT> answers;
    sim::At(100, [&] {
        answers.push_back(simtest::SendFrame(Rectangles(2)));
        Frame bad = Rectangles(1);
        bad[4] = 3;  // version 3
        answers.push_back(simtest::SendFrame(bad));
    });
    harness.EndParentAt(300);
    const RendererRun run = harness.Run();
    EXPECT_EQ(answers, (std::vector<LRESULT>{1, 0}));
    EXPECT_EQ(run.Messages(), AroundStartAndEnd({"rejected scene: incompatible protocol version"}));
    EXPECT_EQ(RendersFrom(100), 1u);
    EXPECT_EQ(CountFrom("ID2D1DeviceContext::FillRectangle", 100), 2u);
    EXPECT_LEFT_NOTHING(run);
}

TEST(FrameIntake, RenderMessageWithNothingPendingDrawsNothing) {
    Harness harness;
    harness.Prepare();
    sim::At(100, [] { sim::PostFromOtherProcess(simtest::ControlWindow(), kRenderMessage, 0, 0); });
    harness.EndParentAt(300);
    const RendererRun run = harness.Run();
    EXPECT_EQ(RendersFrom(100), 0u);
    EXPECT_EQ(run.Messages(), AroundStartAndEnd({}));
    EXPECT_LEFT_NOTHING(run);
}

TEST(Rebuilds, DisplayAndDpiChangesAtSeveralWindowsRebuildOnce) {
    sim::MonitorConfig left{{-1920, 0, 0, 1080}, {-1920, 0, 0, 1040}, false, 96};
    sim::MonitorConfig primary{{0, 0, 2560, 1440}, {0, 0, 2560, 1400}, true, 96};
    struct Row {
        const char* why;
        std::function<void()> change;
        std::size_t deliveries;  // windows the messages reached
    };
    const Row rows[] = {
        {"display change: the control window and both overlays", [&] { sim::ChangeDisplays({primary, left}); }, 3},
        {"DPI change of the monitor holding the control window", [] { sim::ChangeDpi(0, 144); }, 2},
        {"both before the queued rebuild runs",
         [&] {
             sim::ChangeDisplays({primary, left});
             sim::ChangeDpi(1, 192);
         },
         4},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        Harness harness;
        sim::DesktopConfig config = harness.DefaultConfig();
        config.monitors = {primary, left};
        harness.Prepare(config);
        sim::At(100, row.change);
        harness.EndParentAt(300);
        const RendererRun run = harness.Run();
        EXPECT_EQ(sim::SentMessages().size(), row.deliveries);
        EXPECT_EQ(CountFrom("D3D11CreateDevice", 100), 1u) << simtest::JournalTail();
        EXPECT_EQ(run.Messages(), AroundStartAndEnd({"created 2 monitor surface(s)"}, 2));
        EXPECT_LEFT_NOTHING(run);
    }
}

// A post that fails (a full queue) must not leave the request marked as
// queued: then nothing would ever draw a later frame or run a later rebuild.
TEST(PostedRequests, AFailedPostDoesNotBlockTheNextRequest) {
    struct Row {
        const char* why;
        std::function<void()> request;
        const char* doneCall;  // one call per request that was carried out
        std::size_t done;      // requests carried out in all
        Strings lines;
    };
    const Row rows[] = {
        {"render requests: the first frame is lost with its post, the second is drawn",
         [] { simtest::SendFrame(Rectangles(1)); }, "IDCompositionDevice::Commit", 1, AroundStartAndEnd({})},
        // The display change reaches the overlay window too, whose request
        // posts again at once: neither change is lost.
        {"rebuild requests: both display changes rebuild", [] { sim::ChangeDisplays(sim::Config().monitors); },
         "D3D11CreateDevice", 2,
         AroundStartAndEnd({"created 1 monitor surface(s)", "created 1 monitor surface(s)"})},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        Harness harness;
        harness.Prepare();
        sim::AddFault(sim::Fault::On("PostMessageW").Nth(1));  // the first request's post
        sim::At(100, row.request);
        sim::At(200, row.request);
        harness.EndParentAt(400);
        const RendererRun run = harness.Run();
        EXPECT_EQ(CountFrom(row.doneCall, 100), row.done) << simtest::JournalTail();
        EXPECT_EQ(CountFrom(row.doneCall, 200), 1u) << "the second request was carried out";
        EXPECT_EQ(run.Messages(), row.lines);
        EXPECT_LEFT_NOTHING(run);
    }
}

TEST(AnimationTimer, FollowsTheRainbowCursorInTheScene) {
    Harness harness;
    harness.Prepare();
    sim::At(100, [] {
        EXPECT_EQ(simtest::SendFrame(Encode(SceneOf({simtest::frames::RainbowCursor()}))), 1);
    });
    // A scene without commands clears the picture and stops the timer.
    sim::At(200, [] { EXPECT_EQ(simtest::SendFrame(Encode(SceneOf({}))), 1); });
    harness.EndParentAt(300);
    const RendererRun run = harness.Run();

    Strings animation;
    for (const sim::Call& call : sim::Journal())
        if ((call.name == "SetTimer" || call.name == "KillTimer") && call.args.find(" id=2") != std::string::npos)
            animation.push_back(call.name + "@" + std::to_string(call.timeMs));
    EXPECT_EQ(animation, (Strings{"SetTimer@100", "KillTimer@200"}));
    const Strings set = simtest::ArgsOf("SetTimer");
    EXPECT_NE(std::find_if(set.begin(), set.end(),
                           [](const std::string& a) { return a.find("id=2 elapse=16 proc=null") != std::string::npos; }),
              set.end());
    // The frame at 100, a full pass every 16 ms while the arrow is in the
    // scene (116 .. 196), the empty frame at 200, and nothing after it.
    std::vector<std::uint64_t> renders;
    for (std::uint64_t t : simtest::TimesOf("IDCompositionDevice::Commit"))
        if (t >= 100) renders.push_back(t);
    EXPECT_EQ(renders, (std::vector<std::uint64_t>{100, 116, 132, 148, 164, 180, 196, 200}));
    EXPECT_LEFT_NOTHING(run);
}

TEST(ControlWindow, RendererWindowsTakeNoClicksAndNoFocus) {
    Harness harness;
    sim::DesktopConfig config = harness.DefaultConfig();
    config.monitors = {sim::MonitorConfig{}, sim::MonitorConfig{{1920, 0, 3840, 1080}, {1920, 0, 3840, 1040}, false, 96}};
    harness.Prepare(config);
    const DWORD game = sim::SpawnProcess();
    HWND gameWindow = sim::CreateForeignWindow(game, L"Mabinogi", L"Mabinogi", RECT{0, 0, 3840, 1080}, RECT{0, 0, 3840, 1080});
    struct Seen {
        std::string window;
        LRESULT hitTest;
        LRESULT mouseActivate;
    };
    std::vector<Seen> seen;
    HWND clicked[2] = {};
    sim::At(100, [&] {
        std::vector<std::pair<std::string, HWND>> windows{{"control", simtest::ControlWindow()}};
        for (HWND overlay : simtest::OverlayWindows()) windows.emplace_back("overlay", overlay);
        for (const auto& [name, window] : windows)
            seen.push_back(Seen{name, sim::SendFromOtherProcess(window, WM_NCHITTEST, 0, 0),
                                sim::SendFromOtherProcess(window, WM_MOUSEACTIVATE, 0, 0)});
        clicked[0] = sim::WindowAtPoint(POINT{100, 100});
        clicked[1] = sim::WindowAtPoint(POINT{2000, 100});
    });
    harness.EndParentAt(300);
    const RendererRun run = harness.Run();
    ASSERT_EQ(seen.size(), 3u);
    for (const Seen& s : seen) {
        SCOPED_TRACE(s.window);
        EXPECT_EQ(s.hitTest, HTTRANSPARENT);
        EXPECT_EQ(s.mouseActivate, MA_NOACTIVATE);
    }
    EXPECT_EQ(clicked[0], gameWindow) << "clicks on either monitor reach the game";
    EXPECT_EQ(clicked[1], gameWindow);
    EXPECT_EQ(sim::ForegroundWindow(), nullptr);
    EXPECT_LEFT_NOTHING(run);
}

}  // namespace
