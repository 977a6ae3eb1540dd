// Windows, classes and monitors of the simulated desktop: registration,
// lookups, client areas, placement, click-through, monitor enumeration and
// per-monitor DPI, fault rules tied to a monitor, and reset.
#include <windows.h>

#include <gtest/gtest.h>

#include "probe.h"
#include "sim/desktop.h"

namespace {

using probe::DesktopTest;

// Left monitor at 144 DPI, primary in the middle, a third above-right.
sim::DesktopConfig ThreeMonitors() {
    sim::DesktopConfig config;
    config.monitors = {
        sim::MonitorConfig{{-2560, 0, 0, 1440}, {-2560, 0, 0, 1400}, false, 144},
        sim::MonitorConfig{{0, 0, 1920, 1080}, {0, 0, 1920, 1040}, true, 96},
        sim::MonitorConfig{{1920, -200, 3200, 824}, {1920, -200, 3200, 824}, false, 120},
    };
    return config;
}

using WindowClasses = DesktopTest;

TEST_F(WindowClasses, RegistrationRules) {
    struct Row {
        const char* why;
        UINT cbSize;
        const wchar_t* name;
        DWORD error;  // 0: registered
    };
    const Row rows[] = {
        {"a new class", 80, L"fresh", 0},
        {"the same name again", 80, L"fresh", ERROR_CLASS_ALREADY_EXISTS},
        {"names compare without case", 80, L"FRESH", ERROR_CLASS_ALREADY_EXISTS},
        {"the structure size must be 80", 79, L"other", ERROR_INVALID_PARAMETER},
        {"no name", 80, nullptr, ERROR_INVALID_PARAMETER},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        WNDCLASSEXW wc{};
        wc.cbSize = row.cbSize;
        wc.lpfnWndProc = &probe::Procedure;
        wc.lpszClassName = row.name;
        SetLastError(0);
        const ATOM atom = RegisterClassExW(&wc);
        EXPECT_EQ(atom != 0, row.error == 0);
        EXPECT_EQ(GetLastError(), row.error);
    }
}

TEST_F(WindowClasses, FaultRuleFailsWithItsLastError) {
    sim::AddFault(sim::Fault::On("RegisterClassExW").LastError(8));
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &probe::Procedure;
    wc.lpszClassName = L"another";
    EXPECT_EQ(RegisterClassExW(&wc), 0);
    EXPECT_EQ(GetLastError(), 8u);
    EXPECT_EQ(CreateWindowExW(0, L"another", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr)
        << "the class was not registered";
}

TEST_F(WindowClasses, PreRegisteredClassMakesRegistrationReportExisting) {
    sim::PreRegisterClass(L"early");
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &probe::Procedure;
    wc.lpszClassName = L"early";
    EXPECT_EQ(RegisterClassExW(&wc), 0);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_CLASS_ALREADY_EXISTS});
    // The earlier registration's procedure (here the default one) serves its windows.
    HWND window = CreateWindowExW(0, L"early", L"", WS_POPUP, 0, 0, 5, 5, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(SendMessageW(window, WM_MOUSEACTIVATE, 0, 0), 1) << "MA_ACTIVATE from DefWindowProcW";
}

TEST_F(WindowClasses, LoadCursorGivesOnlySystemCursors) {
    EXPECT_NE(LoadCursorW(nullptr, IDC_ARROW), nullptr);
    EXPECT_EQ(LoadCursorW(nullptr, IDC_ARROW), LoadCursorW(nullptr, IDC_ARROW));
    EXPECT_EQ(LoadCursorW(sim::RendererInstance(), IDC_ARROW), nullptr) << "the module has no cursor resources";
}

using Windows = DesktopTest;

TEST_F(Windows, FindWindowMatchesClassAndTitle) {
    const DWORD game = sim::SpawnProcess();
    HWND launcher = sim::CreateForeignWindow(game, L"Mabinogi", L"Launcher", RECT{0, 0, 10, 10}, RECT{0, 0, 10, 10});
    HWND main = sim::CreateForeignWindow(game, L"Mabinogi", L"Mabinogi", RECT{0, 0, 10, 10}, RECT{0, 0, 10, 10});
    struct Row {
        const char* why;
        const wchar_t* cls;
        const wchar_t* title;
        HWND expected;
    };
    const Row rows[] = {
        {"class and title", L"Mabinogi", L"Mabinogi", main},
        {"title decides between windows of one class", L"Mabinogi", L"Launcher", launcher},
        {"class alone: the front one", L"Mabinogi", nullptr, main},
        {"no window has that title", L"Mabinogi", L"Other", nullptr},
        {"no window has that class", L"Other", L"Mabinogi", nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        EXPECT_EQ(FindWindowW(row.cls, row.title), row.expected);
    }
}

TEST_F(Windows, ClientCoordinatesOfForeignAndOwnWindows) {
    const DWORD game = sim::SpawnProcess();
    // A framed game window: its client area is inset from its window rectangle.
    HWND foreign = sim::CreateForeignWindow(game, L"Mabinogi", L"Mabinogi", RECT{100, 50, 900, 650}, RECT{108, 81, 892, 642});
    HWND own = Make(RECT{-2560, 0, 0, 1440});
    struct Row {
        const char* why;
        HWND window;
        POINT screen;
        POINT client;
        RECT clientRect;
    };
    const Row rows[] = {
        {"game window: relative to its client area", foreign, {108, 81}, {0, 0}, {0, 0, 784, 561}},
        {"game window: a point left of it is negative", foreign, {100, 50}, {-8, -31}, {0, 0, 784, 561}},
        {"own popup window at negative coordinates: the whole rectangle is client",
         own,
         {-2000, 100},
         {560, 100},
         {0, 0, 2560, 1440}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        POINT p = row.screen;
        ASSERT_TRUE(ScreenToClient(row.window, &p));
        EXPECT_EQ(p.x, row.client.x);
        EXPECT_EQ(p.y, row.client.y);
        RECT r{};
        ASSERT_TRUE(GetClientRect(row.window, &r));
        EXPECT_EQ(r.right, row.clientRect.right);
        EXPECT_EQ(r.bottom, row.clientRect.bottom);
    }
    POINT p{};
    EXPECT_FALSE(ScreenToClient(reinterpret_cast<HWND>(0x999), &p));
    RECT r{};
    EXPECT_FALSE(GetClientRect(nullptr, &r));
}

TEST_F(Windows, TopmostNonActivatingPlacementLeavesTheForegroundAlone) {
    HWND overlay = Make(RECT{0, 0, 0, 0}, WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW);
    HWND other = Make();
    ASSERT_TRUE(SetWindowPos(overlay, HWND_TOPMOST, 0, 0, 1920, 1080, SWP_SHOWWINDOW | SWP_NOACTIVATE));
    sim::WindowView view;
    ASSERT_TRUE(sim::ViewWindow(overlay, view));
    EXPECT_TRUE(view.visible);
    EXPECT_TRUE(view.exStyle & WS_EX_TOPMOST);
    EXPECT_EQ(view.rect.right, 1920);
    EXPECT_EQ(sim::WindowsTopToBottom().front(), overlay);
    EXPECT_EQ(sim::ForegroundWindow(), nullptr);
    // The same call without SWP_NOACTIVATE activates.
    ASSERT_TRUE(SetWindowPos(other, HWND_TOPMOST, 0, 0, 10, 10, SWP_SHOWWINDOW));
    EXPECT_EQ(sim::ForegroundWindow(), other);
}

TEST_F(Windows, ClicksPassThroughLayeredTransparentAndHitTransparentWindows) {
    const DWORD game = sim::SpawnProcess();
    HWND below = sim::CreateForeignWindow(game, L"Mabinogi", L"Mabinogi", RECT{0, 0, 800, 600}, RECT{0, 0, 800, 600});
    HWND layered = Make(RECT{0, 0, 0, 0}, WS_EX_LAYERED | WS_EX_TRANSPARENT | WS_EX_TOPMOST);
    SetWindowPos(layered, HWND_TOPMOST, 0, 0, 800, 600, SWP_SHOWWINDOW | SWP_NOACTIVATE);
    EXPECT_EQ(sim::WindowAtPoint(POINT{10, 10}), below);

    HWND plain = Make(RECT{0, 0, 0, 0}, WS_EX_TOPMOST);
    SetWindowPos(plain, HWND_TOPMOST, 0, 0, 800, 600, SWP_SHOWWINDOW | SWP_NOACTIVATE);
    EXPECT_EQ(sim::WindowAtPoint(POINT{10, 10}), plain) << "answers HTCLIENT by default";
    probe::CurrentHook() = [](HWND, UINT message, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (message == WM_NCHITTEST) return HTTRANSPARENT;
        return std::nullopt;
    };
    EXPECT_EQ(sim::WindowAtPoint(POINT{10, 10}), below);
    EXPECT_EQ(sim::WindowAtPoint(POINT{900, 10}), nullptr);
}

using Monitors = DesktopTest;

TEST_F(Monitors, EnumerationFollowsTheConfiguredOrderAndNamesTheCurrentMonitor) {
    Fresh(ThreeMonitors());
    struct Seen {
        HMONITOR monitor;
        RECT rect;
        int current;
        MONITORINFO info;
    };
    static std::vector<Seen> seen;
    seen.clear();
    const MONITORENUMPROC callback = [](HMONITOR monitor, HDC, LPRECT rect, LPARAM) -> BOOL {
        Seen s{monitor, *rect, sim::CurrentMonitor(), {}};
        s.info.cbSize = sizeof(MONITORINFO);
        EXPECT_TRUE(GetMonitorInfoW(monitor, &s.info));
        seen.push_back(s);
        return TRUE;
    };
    EXPECT_TRUE(EnumDisplayMonitors(nullptr, nullptr, callback, 0));
    EXPECT_EQ(sim::CurrentMonitor(), -1);
    ASSERT_EQ(seen.size(), 3u);
    const sim::DesktopConfig config = ThreeMonitors();
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(seen[i].monitor, sim::MonitorHandle(i));
        EXPECT_EQ(seen[i].current, i);
        EXPECT_EQ(seen[i].info.rcMonitor.left, config.monitors[i].rect.left);
        EXPECT_EQ(seen[i].info.rcWork.bottom, config.monitors[i].work.bottom);
        EXPECT_EQ(seen[i].info.dwFlags, config.monitors[i].primary ? DWORD{MONITORINFOF_PRIMARY} : DWORD{0});
    }
}

TEST_F(Monitors, MonitorInfoNeedsTheSizeOfTheStructure) {
    for (DWORD size : {DWORD{39}, DWORD{41}, DWORD{0}}) {
        SCOPED_TRACE(size);
        MONITORINFO info{};
        info.cbSize = size;
        EXPECT_FALSE(GetMonitorInfoW(sim::MonitorHandle(0), &info));
        EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
    }
    MONITORINFO info{};
    info.cbSize = sizeof info;
    EXPECT_FALSE(GetMonitorInfoW(reinterpret_cast<HMONITOR>(0x5), &info));
}

TEST_F(Monitors, WindowDpiIsThatOfTheMonitorHoldingMostOfIt) {
    Fresh(ThreeMonitors());
    struct Row {
        const char* why;
        RECT rect;
        UINT dpi;
    };
    const Row rows[] = {
        {"wholly on the left monitor", {-2560, 0, 0, 1440}, 144},
        {"mostly on the primary", {-100, 0, 1000, 500}, 96},
        {"mostly on the left one", {-1000, 0, 100, 500}, 144},
        {"an empty window at the origin: the monitor holding that point", {0, 0, 0, 0}, 96},
        {"off every monitor: the nearest", {5000, 100, 5010, 110}, 120},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        HWND window = Make(row.rect);
        EXPECT_EQ(GetDpiForWindow(window), row.dpi);
        DestroyWindow(window);
    }
    EXPECT_EQ(GetDpiForWindow(reinterpret_cast<HWND>(0x999)), 0u);
    HWND window = Make(RECT{0, 0, 10, 10});
    sim::AddFault(sim::Fault::On("GetDpiForWindow"));
    EXPECT_EQ(GetDpiForWindow(window), 0u);
}

TEST_F(Monitors, CreateWindowFaultCanBeTiedToOneMonitor) {
    Fresh(ThreeMonitors());
    sim::AddFault(sim::Fault::On("CreateWindowExW").ForMonitor(1));
    static std::vector<HWND> made;
    made.clear();
    EXPECT_NE(Make(), nullptr) << "outside an enumeration no monitor is current";
    EnumDisplayMonitors(nullptr, nullptr,
                        [](HMONITOR, HDC, LPRECT rect, LPARAM) -> BOOL {
                            made.push_back(CreateWindowExW(0, probe::kClass, L"", WS_POPUP, rect->left, rect->top,
                                                           rect->right - rect->left, rect->bottom - rect->top, nullptr,
                                                           nullptr, nullptr, nullptr));
                            return TRUE;
                        },
                        0);
    ASSERT_EQ(made.size(), 3u);
    EXPECT_NE(made[0], nullptr);
    EXPECT_EQ(made[1], nullptr);
    EXPECT_NE(made[2], nullptr);
}

TEST_F(Monitors, DisplayAndDpiChangesReachTheWindows) {
    Fresh(ThreeMonitors());
    HWND left = Make(RECT{-2560, 0, 0, 1440});
    HWND primary = Make(RECT{0, 0, 1920, 1080});
    probe::Trace().clear();
    sim::ChangeDpi(0, 192);
    ASSERT_EQ(probe::Names(), (std::vector<std::string>{"WM_DPICHANGED"}));
    EXPECT_EQ(probe::Trace()[0].window, left);
    EXPECT_EQ(probe::Trace()[0].wParam, (WPARAM{192} << 16) | 192);
    EXPECT_EQ(GetDpiForWindow(left), 192u);

    probe::Trace().clear();
    sim::ChangeDisplays({sim::MonitorConfig{}});
    EXPECT_EQ(probe::Names(), (std::vector<std::string>{"WM_DISPLAYCHANGE", "WM_DISPLAYCHANGE"}));
    EXPECT_EQ(sim::MonitorsView().size(), 1u);
    EXPECT_EQ(GetDpiForWindow(primary), 96u);
}

TEST(DesktopReset, GivesAFreshDesktop) {
    sim::Reset();
    sim::DesktopConfig config = ThreeMonitors();
    sim::Configure(config);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &probe::Procedure;
    wc.lpszClassName = L"gone";
    RegisterClassExW(&wc);
    HWND window = CreateWindowExW(0, L"gone", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    SetTimer(window, 1, 10, nullptr);
    sim::At(5, [] {});
    OpenProcess(SYNCHRONIZE, FALSE, sim::SpawnProcess());

    sim::Reset();
    EXPECT_TRUE(sim::WindowsTopToBottom().empty());
    EXPECT_EQ(sim::MonitorsView().size(), 1u);
    EXPECT_EQ(sim::PendingEvents(), 0u);
    EXPECT_TRUE(sim::OpenHandles().empty());
    EXPECT_TRUE(sim::Journal().empty());
    EXPECT_NE(RegisterClassExW(&wc), 0) << "classes are gone too";
    sim::Reset();
}

}  // namespace
