// Internal state of the simulated desktop's user and kernel side, shared by
// its source files. Tests use desktop.h, never this.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sim/core.h"
#include "sim/desktop.h"

namespace sim::detail {

// Internal values the program never names.
inline constexpr DWORD kWsVisible = 0x10000000u;
inline constexpr LRESULT kHtClient = 1;
inline constexpr LRESULT kMaActivate = 1;
inline constexpr UINT kSwpNoSize = 0x0001;
inline constexpr UINT kSwpNoMove = 0x0002;
inline constexpr UINT kSwpNoZOrder = 0x0004;
inline constexpr UINT kSwpHideWindow = 0x0080;
inline constexpr DWORD kErrorAccessDenied = 5;
inline constexpr DWORD kErrorNotEnoughMemory = 8;
inline constexpr DWORD kErrorModNotFound = 126;
inline constexpr DWORD kErrorInvalidFlags = 1004;
inline constexpr DWORD kErrorInvalidWindowHandle = 1400;
inline constexpr DWORD kErrorCannotFindWndClass = 1407;
inline constexpr DWORD kErrorInvalidMonitorHandle = 1461;
inline constexpr DWORD kErrorResourceNameNotFound = 1814;
inline constexpr DWORD kErrorNotEnoughQuota = 1816;
inline constexpr UINT kMinTimerPeriod = 10;  // USER_TIMER_MINIMUM

struct WindowClass {
    std::wstring name;
    ATOM atom = 0;
    WNDPROC procedure = nullptr;  // null: DefWindowProcW
    HINSTANCE instance = nullptr;
    HCURSOR cursor = nullptr;
};

struct Window {
    HWND handle = nullptr;
    DWORD pid = 0;
    std::wstring className;
    std::wstring title;
    DWORD style = 0;
    DWORD exStyle = 0;
    RECT rect{};    // screen rectangle
    RECT client{};  // client area, screen coordinates
    WNDPROC procedure = nullptr;  // renderer windows only; null: DefWindowProcW
    bool visible = false;
    bool destroying = false;
};

struct Timer {
    HWND window = nullptr;
    UINT_PTR id = 0;
    UINT period = 0;
    TIMERPROC procedure = nullptr;
    std::uint64_t due = 0;
};

struct ScriptEvent {
    std::uint64_t at = 0;
    std::uint64_t seq = 0;
    std::function<void()> run;
};

struct Process {
    bool alive = true;
    DWORD exitCode = 0;
};

struct KernelHandle {
    DWORD pid = 0;
    DWORD access = 0;
};

struct Monitor {
    HMONITOR handle = nullptr;
    MonitorConfig config;
};

struct Desktop {
    DesktopConfig config;

    std::vector<Monitor> monitors;
    std::uintptr_t nextMonitorHandle = 0x10001;
    int currentMonitor = -1;
    POINT cursor{};

    std::map<std::uintptr_t, Window> windows;  // live windows, by handle value
    std::vector<HWND> zOrder;                  // top-level windows, front first
    std::uintptr_t nextWindowHandle = 0x10010;
    HWND foreground = nullptr;

    std::vector<WindowClass> classes;  // the renderer's process
    ATOM nextAtom = 0xC000;

    std::deque<MSG> posted;
    bool quitPending = false;
    int quitCode = 0;
    std::vector<Timer> timers;  // in the order they were first set
    UINT_PTR nextThreadTimerId = 0x7FF0;
    std::uint64_t messagesWithoutWait = 0;
    bool loopStopped = false;  // a guard fired; GetMessageW keeps returning -1

    std::vector<ScriptEvent> script;
    std::uint64_t nextEventSeq = 1;
    std::vector<SentMessage> sent;

    std::map<DWORD, Process> processes;
    DWORD nextPid = 1000;
    std::map<std::uintptr_t, KernelHandle> handles;
    std::uintptr_t nextHandle = 0x40;

    DWORD lastError = 0;
    bool dpiAwarenessSet = false;
};

Desktop& D();
void EnsureInitialized();  // registers the reset hook and builds the default desktop once

// Window lookups: null when not a live window.
Window* FindWindowRecord(HWND window);
bool OwnedByRenderer(const Window& window);
// Calls a window's procedure (DefWindowProcW when it has none) on the
// program's thread, as a sent message is delivered.
LRESULT DeliverMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT DefaultAnswer(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void DestroyWindowSilently(HWND window);  // no messages: the owning thread is gone
void RemoveFromZOrder(HWND window);
void PlaceOnTop(HWND window);
void DropTimersOf(HWND window);
void DropPostedFor(HWND window);
int MonitorIndexForRect(const RECT& rect);

// A fault rule for this call; monitor context where an enumeration is running.
std::optional<Fault> FaultFor(const char* call);
DWORD FaultError(const Fault& fault, DWORD fallback);

// Journal argument text.
std::string Hex(std::uint64_t value);
std::string Ptr(const void* pointer);
std::string WideArg(LPCWSTR text);  // quoted UTF-8, "null", or "#atom"
std::string Utf8(const std::wstring& units);  // UTF-16 units in wchar_t to UTF-8
std::string RectText(const RECT& rect);
std::wstring ToUnits(const std::filesystem::path& path);  // UTF-16 code units, one per wchar_t
bool SameClassName(const std::wstring& a, const std::wstring& b);  // case-insensitive (ASCII)
bool IsAtom(LPCWSTR name);

}  // namespace sim::detail
