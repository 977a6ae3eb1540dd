// The test-facing side of the simulated desktop's user and kernel services: how
// a test sets up the world around the renderer (monitors, processes, the game
// window, the cursor, the executable's path, the local time), how it scripts
// what happens while the renderer runs, and what it can read back afterwards.
//
// The desktop is single-threaded and deterministic. The program's thread is the
// only thread; "other processes" act only through scripted events, which run
// inside the program's GetMessageW when virtual time reaches them, as sent
// messages from another thread are delivered on Windows.
//
// Journal: every user/kernel call of the program is recorded under its own
// name. Calls that nest others (CreateWindowExW, DestroyWindow, SetWindowPos,
// DispatchMessageW, SendMessageW, DefWindowProcW, EnumDisplayMonitors) are
// recorded when they start; GetMessageW is recorded when it returns, with the
// message it retrieved, so what the script did while it waited comes first.
// A send from another process is recorded as "script:SendMessage".
#pragma once

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/core.h"

// The program the desktop runs (renderer/main.cpp); tests and the preview
// call it as the process's start would.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR commandLine, int show);

namespace sim {

struct MonitorConfig {
    RECT rect{0, 0, 1920, 1080};  // whole monitor, physical pixels of the virtual screen
    RECT work{0, 0, 1920, 1040};  // work area (without the taskbar)
    bool primary = true;
    UINT dpi = 96;
};

struct DesktopConfig {
    // In enumeration order; the primary monitor need not come first.
    std::vector<MonitorConfig> monitors{MonitorConfig{}};
    // What GetModuleFileNameW reports; any length. The renderer's log goes
    // through the real file system beside it.
    std::filesystem::path modulePath = std::filesystem::temp_directory_path() / "vorlune-sim" / "vorlune-overlay.exe";
    // Local time at virtual time 0; GetLocalTime adds the virtual time.
    // wDayOfWeek is ignored and computed.
    SYSTEMTIME startLocalTime{2026, 1, 0, 1, 0, 0, 0, 0};
    DWORD rendererPid = 7400;
    // Where the cursor starts; by default the centre of the primary monitor.
    std::optional<POINT> cursor;
    // The application manifest declares per-monitor (v2) awareness, so a later
    // SetProcessDpiAwarenessContext fails with ERROR_ACCESS_DENIED as on Windows.
    bool manifestDpiAware = true;
    // Guards that turn a runaway program into a test failure instead of a hang.
    std::uint64_t virtualTimeLimitMs = 10 * 60 * 1000;
    std::uint64_t maxMessagesWithoutWait = 100000;
};

// A fresh desktop is made by sim::Reset() (default configuration, no windows,
// classes, timers or script, only the renderer's process). Configure replaces
// the configuration; call it after Reset and before the program runs.
void Configure(const DesktopConfig& config);
const DesktopConfig& Config();

// ---- Processes ----
DWORD RendererPid();
HINSTANCE RendererInstance();  // what GetModuleHandleW(nullptr) returns
DWORD SpawnProcess();          // a new live process of some other program
void EndProcess(DWORD pid, DWORD exitCode = 0);  // also destroys its windows
bool ProcessAlive(DWORD pid);
// Kernel handles the renderer holds open (process handles), as "pid=N access=0x..".
std::vector<std::string> OpenHandles();

// What the renderer's process left behind when it ended.
struct ProcessEndReport {
    std::vector<WindowView> windowsLeft;  // renderer windows still alive, top to bottom
    std::vector<std::string> handlesLeft; // kernel handles never closed
};
// Ends the renderer's process after wWinMain has returned: records what was
// still alive, then destroys the windows without calling their procedures (the
// thread is gone), drops the classes, timers, queue and handles.
ProcessEndReport EndRendererProcess(DWORD exitCode);

// ---- Windows of other processes and the renderer's windows ----
HWND CreateForeignWindow(DWORD pid, const std::wstring& className, const std::wstring& title, RECT windowRect,
                         RECT clientRectOnScreen, bool visible = true);
void MoveForeignWindow(HWND window, RECT windowRect, RECT clientRectOnScreen);
void DestroyForeignWindow(HWND window);
// The renderer's live windows of a class, top to bottom, and the first of them.
std::vector<HWND> WindowsOfClass(const std::wstring& className);
HWND FindWindowOf(const std::wstring& className);
std::vector<HWND> RendererWindows();
HWND ForegroundWindow();  // null when no window was ever activated
// Registers a class in the renderer's process before it runs, as an earlier
// registration in the same process would have; a null procedure means
// DefWindowProcW.
void PreRegisterClass(const std::wstring& className, WNDPROC procedure = nullptr);
// The window that a mouse click at this screen point would reach, as Windows
// picks it: visible windows front to back, skipping layered transparent ones
// and those answering WM_NCHITTEST with HTTRANSPARENT. Null for the desktop.
HWND WindowAtPoint(POINT point);

// ---- Cursor and monitors ----
void SetCursorPos(POINT point);
POINT CursorPos();
HMONITOR MonitorHandle(int index);
// Replace the monitor layout, then send WM_DISPLAYCHANGE to every top-level window.
void ChangeDisplays(const std::vector<MonitorConfig>& monitors);
// Change one monitor's DPI, then send WM_DPICHANGED to each top-level window on it.
void ChangeDpi(int monitorIndex, UINT dpi);

// ---- Script: what the world does while the renderer runs ----
// Runs `event` inside the program's GetMessageW once virtual time reaches ms;
// events of one time run in the order they were added, before any posted
// message or timer of that time.
void At(std::uint64_t ms, std::function<void()> event);
std::size_t PendingEvents();

// Every message another process sent to a window, with its answer.
struct SentMessage {
    std::uint64_t timeMs = 0;
    HWND window = nullptr;
    UINT message = 0;
    LRESULT result = 0;
    bool delivered = false;  // false when the window did not exist
};
const std::vector<SentMessage>& SentMessages();

// A synchronous send from another process; the answer of the window procedure
// is returned and recorded. To a window that does not exist: 0, not delivered.
LRESULT SendFromOtherProcess(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// WM_COPYDATA as another process sends it: the receiver sees its own copy of
// the bytes, which is overwritten and freed as soon as the send returns.
// A null `data` arrives as a null lpData (with cbData as given).
LRESULT SendCopyData(HWND window, ULONG_PTR dwData, const void* data, DWORD cbData);
// WM_COPYDATA with a null COPYDATASTRUCT pointer.
LRESULT SendNullCopyData(HWND window);
BOOL PostFromOtherProcess(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT SendClose(HWND window);

// ---- Reading back ----
// The readable name the journal uses for a message ("WM_TIMER", "WM_APP+1", "0x1234").
std::string MessageName(UINT message);
// The text the journal uses for a handle ("null", "0x10010").
std::string HandleText(const void* handle);

}  // namespace sim
