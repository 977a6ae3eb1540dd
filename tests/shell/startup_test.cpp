// The process shell as the parent sees it: the command line, every exit code
// with exactly its log lines, the end of the parent and WM_CLOSE, and that
// nothing of the renderer outlives wWinMain.
#include <functional>
#include <optional>

#include "support/harness.h"

namespace {

using simtest::Harness;
using simtest::RendererRun;
using Strings = std::vector<std::string>;

constexpr char kStarting[] = "renderer starting";
constexpr char kCreatedOne[] = "created 1 monitor surface(s)";

// A process id that the desktop never hands out.
constexpr DWORD kNoSuchProcess = 4242;

TEST(ExitCodes, EachExitHasExactlyItsLogLines) {
    struct Row {
        const char* why;
        std::function<void(Harness&)> setUp;  // after Prepare
        std::optional<std::wstring> commandLine;  // default: the parent's switch
        int exitCode;
        Strings lines;
    };
    const Row rows[] = {
        {"no switch at all", nullptr, L"", 1, {}},
        {"the parent's id names no process", nullptr, L"--parent-pid " + std::to_wstring(kNoSuchProcess), 2,
         {kStarting, "could not open parent process"}},
        {"the parent cannot be opened",
         [](Harness&) { sim::AddFault(sim::Fault::On("OpenProcess").LastError(5)); }, std::nullopt, 2,
         {kStarting, "could not open parent process"}},
        {"registering the control class fails for want of memory",
         [](Harness&) { sim::AddFault(sim::Fault::On("RegisterClassExW").LastError(8)); }, std::nullopt, 3,
         {kStarting}},
        {"registering the overlay class fails",
         [](Harness&) { sim::AddFault(sim::Fault::On("RegisterClassExW").LastError(8).Nth(2)); },
         std::nullopt, 3, {kStarting}},
        {"the control window cannot be created",
         [](Harness&) { sim::AddFault(sim::Fault::On("CreateWindowExW").LastError(8).Nth(1)); },
         std::nullopt, 4, {kStarting, "could not create control window"}},
        {"no graphics device, neither hardware nor WARP",
         [](Harness&) { sim::AddFault(sim::Fault::On("D3D11CreateDevice", E_FAIL)); }, std::nullopt, 5,
         {kStarting, "hardware graphics unavailable; falling back to WARP", "could not create WARP graphics devices"}},
        {"the parent ends", [](Harness& h) { h.EndParentAt(1200); }, std::nullopt, 0,
         {kStarting, kCreatedOne, "parent exited", "renderer exiting"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        Harness harness;
        harness.Prepare();
        if (row.setUp) row.setUp(harness);
        const RendererRun run = row.commandLine ? harness.Run(*row.commandLine) : harness.Run();
        EXPECT_EQ(run.exitCode, row.exitCode) << simtest::JournalTail();
        EXPECT_EQ(run.Messages(), row.lines);
        EXPECT_LEFT_NOTHING(run);
    }
}

TEST(ExitCodes, MissingIdCreatesNoLogDirectory) {
    Harness harness;
    const RendererRun run = harness.Run(L"");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_FALSE(run.logDirectoryExists);
    EXPECT_EQ(sim::CountCalls("OpenProcess"), 0u);
    EXPECT_EQ(sim::CountCalls("GetModuleFileNameW"), 0u) << "nothing at all is done before the id is known";
}

TEST(ExitCodes, ClassThatExistsAlreadyIsAccepted) {
    Harness harness;
    harness.Prepare();
    // As if an earlier registration in this process had made it.
    sim::PreRegisterClass(simtest::kOverlayClass);
    harness.EndParentAt(600);
    const RendererRun run = harness.Run();
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.Messages(), (Strings{kStarting, kCreatedOne, "parent exited", "renderer exiting"}));
    EXPECT_LEFT_NOTHING(run);
}

TEST(CommandLine, ParentIdIsReadAsWindowsReadsIt) {
    struct Row {
        const char* why;
        std::wstring tail;
        std::optional<DWORD> pid;  // nothing: missing, exit code 1
    };
    const Row rows[] = {
        {"no switch", L"", std::nullopt},
        {"the id 0 counts as missing", L"--parent-pid 0", std::nullopt},
        {"an equals sign is not skipped, so no digit follows", L"--parent-pid=1234", std::nullopt},
        {"letters instead of digits", L"--parent-pid abc", std::nullopt},
        {"the switch is case-sensitive", L"--PARENT-PID 1234", std::nullopt},
        {"a tab and a blank before the digits", L"--parent-pid\t 1234", 1234},
        {"digits followed by letters", L"--parent-pid   1234abc", 1234},
        {"digits right after the switch", L"--parent-pid1234", 1234},
        {"anywhere in the tail", L"-x --parent-pid 77 -y", 77},
        {"the first of two switches counts", L"--parent-pid 12 --parent-pid 34", 12},
        {"largest 32-bit id", L"--parent-pid 4294967295", 4294967295u},
        {"one above the largest id clamps to it", L"--parent-pid 4294967296", 4294967295u},
        {"far above: still the largest 32-bit value", L"--parent-pid 99999999999", 4294967295u},
        {"a minus sign wraps as 32-bit wcstoul does", L"--parent-pid -1", 4294967295u},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        Harness harness;
        const RendererRun run = harness.Run(row.tail);
        const Strings opened = simtest::ArgsOf("OpenProcess");
        if (!row.pid) {
            EXPECT_EQ(run.exitCode, 1);
            EXPECT_TRUE(opened.empty());
            continue;
        }
        // None of these ids is a live process here, so each run ends with 2.
        EXPECT_EQ(run.exitCode, 2);
        ASSERT_EQ(opened.size(), 1u);
        EXPECT_EQ(opened[0], "access=0x100000 inherit=0 pid=" + std::to_string(*row.pid));
    }
}

TEST(Shutdown, ParentEndIsNoticedAtTheNextWatchTick) {
    Harness harness;
    harness.Prepare();
    harness.EndParentAt(1200);
    const RendererRun run = harness.Run();
    EXPECT_EQ(run.exitCode, 0);
    // Ticks every 500 ms; the one at 1500 ms is the first after the parent ended.
    EXPECT_EQ(simtest::TimesOf("WaitForSingleObject"), (std::vector<std::uint64_t>{500, 1000, 1500}));
    EXPECT_EQ(sim::CallsNamed("WaitForSingleObject").back().result, static_cast<long>(WAIT_OBJECT_0));
    ASSERT_GE(run.lines.size(), 2u);
    EXPECT_EQ(run.lines[run.lines.size() - 2].message, "parent exited");
    EXPECT_EQ(run.lines.back().message, "renderer exiting");
    EXPECT_EQ(run.lines.back().stamp, "2026-1-1 0:0:1");
    EXPECT_LEFT_NOTHING(run);
}

TEST(Shutdown, CloseEndsTheRunWithoutParentExited) {
    Harness harness;
    harness.Prepare();
    harness.CloseControlWindowAt(700);
    const RendererRun run = harness.Run();
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.Messages(), (Strings{kStarting, kCreatedOne, "renderer exiting"}));
    EXPECT_TRUE(sim::ProcessAlive(harness.Parent()));
    EXPECT_LEFT_NOTHING(run);
}

TEST(Shutdown, FailingParentWaitNeverEndsTheRenderer) {
    Harness harness;
    harness.Prepare();
    sim::AddFault(sim::Fault::On("WaitForSingleObject"));
    harness.EndParentAt(600);
    harness.CloseControlWindowAt(3100);
    const RendererRun run = harness.Run();
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(sim::CountCalls("WaitForSingleObject"), 6u) << "ticks at 500 .. 3000 ms, every one failing";
    EXPECT_EQ(run.Messages(), (Strings{kStarting, kCreatedOne, "renderer exiting"}));
    EXPECT_LEFT_NOTHING(run);
}

TEST(Startup, ControlWindowIsAHiddenTopLevelToolWindow) {
    Harness harness;
    harness.Prepare();
    sim::WindowView control;
    bool seen = false;
    sim::At(100, [&] { seen = sim::ViewWindow(simtest::ControlWindow(), control); });
    harness.EndParentAt(200);
    const RendererRun run = harness.Run();
    ASSERT_TRUE(seen);
    EXPECT_EQ(control.style, WS_POPUP);
    EXPECT_EQ(control.exStyle, WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW);
    EXPECT_FALSE(control.visible);
    EXPECT_EQ(control.title, L"");
    EXPECT_EQ(control.rect.right - control.rect.left, 0);
    const Strings created = simtest::ArgsOf("CreateWindowExW");
    ASSERT_FALSE(created.empty());
    EXPECT_EQ(created[0], "exStyle=0x8000080 class=\"vorluneOverlayControl\" title=\"\" style=0x80000000 x=0 y=0 w=0 "
                          "h=0 parent=null menu=null instance=0x140000000 param=null");
    // The parent-watch timer starts right after the control window.
    const Strings timers = simtest::ArgsOf("SetTimer");
    ASSERT_FALSE(timers.empty());
    EXPECT_NE(timers[0].find("id=1 elapse=500"), std::string::npos);
    EXPECT_LEFT_NOTHING(run);
}

}  // namespace
