// Runs the real renderer through wWinMain on the simulated desktop and
// collects what a test checks afterwards: the exit code, the log as written
// on disk, what was left alive when wWinMain returned, and misuse reports.
//
// Typical use:
//
//     simtest::Harness harness;            // per-test directory, removed afterwards
//     harness.Prepare();                   // fresh desktop, the parent process spawned
//     sim::AddFault(...);                  // faults and script go after Prepare
//     harness.EndParentAt(1200);
//     const simtest::RendererRun run = harness.Run();   // "--parent-pid <parent>"
//     EXPECT_EQ(run.exitCode, 0);
//     EXPECT_LEFT_NOTHING(run);
//
// Run() without a Prepare() since the last run prepares a default desktop.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "protocol/protocol.h"
#include "sim/core.h"
#include "sim/desktop.h"

namespace simtest {

inline constexpr wchar_t kControlClass[] = L"vorluneOverlayControl";
inline constexpr wchar_t kOverlayClass[] = L"vorluneOverlayWindow";
inline constexpr char kControlClassName[] = "vorluneOverlayControl";
inline constexpr char kOverlayClassName[] = "vorluneOverlayWindow";

struct LogLine {
    std::string stamp;    // "2026-1-1 0:0:0"; empty for a line without a time stamp
    std::string message;  // the rest of the line, without the line end
};

// Splits the bytes of a log file at CR LF; a last piece without a line end is
// kept as a line too. A line that starts with a time stamp has it split off.
std::vector<LogLine> ParseLog(const std::string& bytes);

struct RendererRun {
    int exitCode = -1;
    bool logDirectoryExists = false;
    bool logFileExists = false;
    std::string logBytes;          // the log file byte for byte
    std::vector<LogLine> lines;    // ParseLog(logBytes)
    // Classes of the renderer's windows still alive when wWinMain returned.
    std::vector<std::string> windowsLeft;
    // Graphics objects still alive when wWinMain returned.
    std::vector<sim::ObjectInfo> objectsLeft;
    // Kernel handles the renderer never closed.
    std::vector<std::string> handlesLeft;
    std::vector<std::string> misuses;
    std::size_t eventsNotRun = 0;  // scripted events the run never reached

    std::vector<std::string> Messages() const;  // the lines' messages
};

class Harness {
public:
    Harness();  // named after the running test
    explicit Harness(const std::string& name);
    ~Harness();
    Harness(const Harness&) = delete;
    Harness& operator=(const Harness&) = delete;

    // A directory of this test's own, removed with the harness.
    const std::filesystem::path& Directory() const { return directory_; }
    // One 1920x1080 primary monitor at 96 DPI, the executable at
    // <Directory()>/app/vorlune-overlay.exe, local time 2026-1-1 0:00:00.
    sim::DesktopConfig DefaultConfig() const;

    // sim::Reset(), then the configuration, then the parent process. Faults,
    // foreign windows and scripted events are added after this.
    void Prepare();
    void Prepare(const sim::DesktopConfig& config);

    const sim::DesktopConfig& Config() const { return config_; }
    DWORD Parent() const { return parent_; }
    std::wstring ParentSwitch() const;  // L"--parent-pid <parent>"
    std::filesystem::path LogDirectory() const;
    std::filesystem::path LogPath() const;
    std::filesystem::path OldLogPath() const;

    // Scripted events that most runs need.
    void EndParentAt(std::uint64_t ms);
    void CloseControlWindowAt(std::uint64_t ms);

    // Calls wWinMain with a writable copy of the command-line tail, then ends
    // the renderer's process and collects the results.
    RendererRun Run();
    RendererRun Run(const std::wstring& commandLine);

private:
    std::filesystem::path directory_;
    sim::DesktopConfig config_;
    DWORD parent_ = 0;
    bool prepared_ = false;
};

// ---- Frames ----
namespace frames {
using vorlune::overlay::Color;
using vorlune::overlay::Command;
using vorlune::overlay::MonitorTarget;
using vorlune::overlay::Rect;
using vorlune::overlay::Scene;

Command FillRect(Rect rect, Color color, std::uint16_t flags = 0);
Command RainbowCursor();
Scene SceneOf(std::vector<Command> commands, MonitorTarget target = MonitorTarget::All, std::uint64_t tag = 1);
// The frame's bytes; fails the test if the encoder refuses the scene.
std::vector<std::uint8_t> Encode(const Scene& scene);
}  // namespace frames

// The renderer's control window and overlay windows as they are now.
HWND ControlWindow();
std::vector<HWND> OverlayWindows();
// A frame as the parent sends it: WM_COPYDATA with the frame tag in dwData.
LRESULT SendFrame(const std::vector<std::uint8_t>& frame, HWND to = ControlWindow());

// ---- Assertions ----
// No renderer window, graphics object or kernel handle left, and no misuse.
::testing::AssertionResult LeftNothing(const RendererRun& run);
#define EXPECT_LEFT_NOTHING(run) EXPECT_TRUE(::simtest::LeftNothing(run))
#define ASSERT_LEFT_NOTHING(run) ASSERT_TRUE(::simtest::LeftNothing(run))

// The journal's calls of one name, and their arguments and virtual times.
std::vector<std::string> ArgsOf(const std::string& name);
std::vector<std::uint64_t> TimesOf(const std::string& name);
// The journal as text (for failure messages), the last `count` calls.
std::string JournalTail(std::size_t count = 60);

}  // namespace simtest
