// The desktop as a whole: its state and reset, configuration, monitors, DPI,
// the cursor, and the read-only views that the graphics side uses.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <limits>

#include "sim/desktop.h"
#include "sim/user_state.h"

namespace sim {
namespace detail {
namespace {

void Build(Desktop& desktop, const DesktopConfig& config) {
    desktop = Desktop{};
    desktop.config = config;
    for (const MonitorConfig& monitor : config.monitors)
        desktop.monitors.push_back(Monitor{reinterpret_cast<HMONITOR>(desktop.nextMonitorHandle++), monitor});
    if (config.cursor) {
        desktop.cursor = *config.cursor;
    } else if (!config.monitors.empty()) {
        auto primary = std::find_if(config.monitors.begin(), config.monitors.end(),
                                    [](const MonitorConfig& m) { return m.primary; });
        const RECT r = primary != config.monitors.end() ? primary->rect : config.monitors.front().rect;
        desktop.cursor = POINT{r.left + (r.right - r.left) / 2, r.top + (r.bottom - r.top) / 2};
    }
    desktop.processes[config.rendererPid] = Process{};
}

bool PerMonitorAware(const Desktop& desktop) {
    return desktop.config.manifestDpiAware || desktop.dpiAwarenessSet;
}

LONG MulDivLike(LONG value, UINT numerator, UINT denominator) {
    return static_cast<LONG>((static_cast<std::int64_t>(value) * numerator + denominator / 2) / denominator);
}

std::int64_t Area(const RECT& r) {
    return static_cast<std::int64_t>(std::max<LONG>(0, r.right - r.left)) * std::max<LONG>(0, r.bottom - r.top);
}

RECT Intersect(const RECT& a, const RECT& b) {
    return RECT{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                std::min(a.bottom, b.bottom)};
}

// Distance in pixels between a window rectangle and a monitor rectangle (0
// when they share a pixel); an empty window counts as its top-left pixel.
std::int64_t Distance(RECT a, const RECT& b) {
    a.right = std::max(a.right, a.left + 1);
    a.bottom = std::max(a.bottom, a.top + 1);
    const std::int64_t dx = std::max<std::int64_t>({0, std::int64_t{b.left} - a.right + 1, std::int64_t{a.left} - b.right + 1});
    const std::int64_t dy = std::max<std::int64_t>({0, std::int64_t{b.top} - a.bottom + 1, std::int64_t{a.top} - b.bottom + 1});
    return dx * dx + dy * dy;
}

}  // namespace

Desktop& D() {
    static Desktop* desktop = [] {
        auto* made = new Desktop;
        Build(*made, DesktopConfig{});
        OnReset([] { Build(D(), DesktopConfig{}); });
        return made;
    }();
    return *desktop;
}

void EnsureInitialized() { (void)D(); }

int MonitorIndexForRect(const RECT& rect) {
    const Desktop& desktop = D();
    int best = -1;
    std::int64_t bestArea = 0;
    for (std::size_t i = 0; i < desktop.monitors.size(); ++i) {
        const std::int64_t area = Area(Intersect(rect, desktop.monitors[i].config.rect));
        if (area > bestArea) {
            bestArea = area;
            best = static_cast<int>(i);
        }
    }
    if (best >= 0) return best;
    // No overlap (an empty or off-screen window): the nearest monitor.
    std::int64_t bestDistance = std::numeric_limits<std::int64_t>::max();
    for (std::size_t i = 0; i < desktop.monitors.size(); ++i) {
        const std::int64_t distance = Distance(rect, desktop.monitors[i].config.rect);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = static_cast<int>(i);
        }
    }
    return best;
}

std::optional<Fault> FaultFor(const char* call) {
    FaultContext context;
    if (D().currentMonitor >= 0) context.monitor = D().currentMonitor;
    return ShouldFail(call, context);
}

DWORD FaultError(const Fault& fault, DWORD fallback) { return fault.lastError != 0 ? fault.lastError : fallback; }

std::string Hex(std::uint64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

std::string Ptr(const void* pointer) {
    return pointer ? Hex(reinterpret_cast<std::uintptr_t>(pointer)) : std::string("null");
}

bool IsAtom(LPCWSTR name) { return name && reinterpret_cast<std::uintptr_t>(name) < 0x10000; }

std::string Utf8(const std::wstring& units) {
    std::string out;
    auto put = [&out](std::uint32_t c) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    };
    for (std::size_t i = 0; i < units.size(); ++i) {
        const std::uint32_t u = static_cast<std::uint32_t>(units[i]) & 0xFFFF;
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < units.size()) {
            const std::uint32_t low = static_cast<std::uint32_t>(units[i + 1]) & 0xFFFF;
            if (low >= 0xDC00 && low < 0xE000) {
                put(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        put(u >= 0xD800 && u < 0xE000 ? 0xFFFD : u);
    }
    return out;
}

std::string WideArg(LPCWSTR text) {
    if (!text) return "null";
    if (IsAtom(text)) return "#" + std::to_string(reinterpret_cast<std::uintptr_t>(text));
    return "\"" + Utf8(text) + "\"";
}

std::string RectText(const RECT& r) {
    return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom) + ")";
}

std::wstring ToUnits(const std::filesystem::path& path) {
    const std::u16string units = path.u16string();
    return std::wstring(units.begin(), units.end());
}

bool SameClassName(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto fold = [](wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; };
        if (fold(a[i]) != fold(b[i])) return false;
    }
    return true;
}

}  // namespace detail

using namespace detail;

void Configure(const DesktopConfig& config) {
    EnsureInitialized();
    Desktop& desktop = D();
    if (!desktop.windows.empty() || !desktop.script.empty())
        ReportMisuse("desktop configured while windows or scripted events exist; call sim::Reset() first");
    Build(desktop, config);
}

const DesktopConfig& Config() { return D().config; }

void SetCursorPos(POINT point) { D().cursor = point; }
POINT CursorPos() { return D().cursor; }

HMONITOR MonitorHandle(int index) {
    const Desktop& desktop = D();
    if (index < 0 || static_cast<std::size_t>(index) >= desktop.monitors.size()) return nullptr;
    return desktop.monitors[static_cast<std::size_t>(index)].handle;
}

void ChangeDisplays(const std::vector<MonitorConfig>& monitors) {
    Desktop& desktop = D();
    desktop.config.monitors = monitors;
    desktop.monitors.clear();
    for (const MonitorConfig& monitor : monitors)
        desktop.monitors.push_back(Monitor{reinterpret_cast<HMONITOR>(desktop.nextMonitorHandle++), monitor});
    RECT primary{};
    for (const MonitorConfig& monitor : monitors)
        if (monitor.primary) primary = monitor.rect;
    const WPARAM bitsPerPixel = 32;
    const LPARAM size = static_cast<LPARAM>(
        (static_cast<DWORD>(primary.right - primary.left) & 0xFFFF) |
        ((static_cast<DWORD>(primary.bottom - primary.top) & 0xFFFF) << 16));
    // Broadcast to every top-level window, front to back, on a snapshot: a
    // receiver may destroy windows while it handles the message.
    const std::vector<HWND> targets = desktop.zOrder;
    for (HWND window : targets)
        if (FindWindowRecord(window)) SendFromOtherProcess(window, WM_DISPLAYCHANGE, bitsPerPixel, size);
}

void ChangeDpi(int monitorIndex, UINT dpi) {
    Desktop& desktop = D();
    if (monitorIndex < 0 || static_cast<std::size_t>(monitorIndex) >= desktop.monitors.size()) {
        ReportMisuse("ChangeDpi: no monitor " + std::to_string(monitorIndex));
        return;
    }
    const UINT old = desktop.monitors[static_cast<std::size_t>(monitorIndex)].config.dpi;
    desktop.monitors[static_cast<std::size_t>(monitorIndex)].config.dpi = dpi;
    desktop.config.monitors[static_cast<std::size_t>(monitorIndex)].dpi = dpi;
    std::vector<HWND> targets;
    for (HWND window : desktop.zOrder) {
        const Window* record = FindWindowRecord(window);
        if (record && MonitorIndexForRect(record->rect) == monitorIndex) targets.push_back(window);
    }
    for (HWND window : targets) {
        const Window* record = FindWindowRecord(window);
        if (!record) continue;
        // The suggested rectangle keeps the top-left corner and scales the size.
        RECT suggested = record->rect;
        if (old != 0) {
            suggested.right = suggested.left + MulDivLike(suggested.right - suggested.left, dpi, old);
            suggested.bottom = suggested.top + MulDivLike(suggested.bottom - suggested.top, dpi, old);
        }
        const WPARAM dpis = static_cast<WPARAM>((dpi & 0xFFFF) | ((dpi & 0xFFFF) << 16));
        SendFromOtherProcess(window, WM_DPICHANGED, dpis, reinterpret_cast<LPARAM>(&suggested));
    }
}

std::vector<MonitorView> MonitorsView() {
    std::vector<MonitorView> views;
    for (const Monitor& monitor : D().monitors)
        views.push_back(MonitorView{monitor.config.rect, monitor.config.work, monitor.config.primary, monitor.config.dpi});
    return views;
}

int CurrentMonitor() { return D().currentMonitor; }

bool ViewWindow(HWND window, WindowView& view) {
    const Window* record = FindWindowRecord(window);
    if (!record) return false;
    view.visible = record->visible;
    view.rect = record->rect;
    view.style = record->style;
    view.exStyle = record->exStyle;
    view.className = record->className;
    view.title = record->title;
    view.processId = record->pid;
    return true;
}

std::vector<HWND> WindowsTopToBottom() { return D().zOrder; }

}  // namespace sim

using namespace sim;
using namespace sim::detail;

BOOL WINAPI SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT value) {
    Desktop& desktop = D();
    const auto raw = reinterpret_cast<std::intptr_t>(value);
    BOOL result = FALSE;
    if (auto fault = FaultFor("SetProcessDpiAwarenessContext")) {
        desktop.lastError = FaultError(*fault, kErrorAccessDenied);
    } else if (raw > -1 || raw < -5) {
        desktop.lastError = ERROR_INVALID_PARAMETER;
    } else if (desktop.config.manifestDpiAware || desktop.dpiAwarenessSet) {
        // Awareness is fixed once set, by the manifest or by an earlier call.
        desktop.lastError = kErrorAccessDenied;
    } else {
        desktop.dpiAwarenessSet = raw == -3 || raw == -4;
        result = TRUE;
    }
    Record("SetProcessDpiAwarenessContext", "value=" + std::to_string(raw), result);
    return result;
}

BOOL WINAPI EnumDisplayMonitors(HDC hdc, LPCRECT lprcClip, MONITORENUMPROC lpfnEnum, LPARAM dwData) {
    Desktop& desktop = D();
    const std::uint64_t seq = Record("EnumDisplayMonitors", "hdc=" + Ptr(hdc) + " clip=" +
                                                                (lprcClip ? RectText(*lprcClip) : std::string("null")) +
                                                                " data=" + Hex(static_cast<std::uint64_t>(dwData)));
    if (auto fault = FaultFor("EnumDisplayMonitors")) {
        desktop.lastError = FaultError(*fault, ERROR_INVALID_PARAMETER);
        SetResult(seq, FALSE);
        return FALSE;
    }
    if (!lpfnEnum) {
        desktop.lastError = ERROR_INVALID_PARAMETER;
        SetResult(seq, FALSE);
        return FALSE;
    }
    if (hdc) {
        ReportMisuse("EnumDisplayMonitors with a device context is not modelled");
        SetResult(seq, FALSE);
        return FALSE;
    }
    // The callback may change the layout (it may even run a script); enumerate
    // the monitors as they were when the call began.
    const std::vector<Monitor> monitors = desktop.monitors;
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        RECT rect = monitors[i].config.rect;
        if (lprcClip) {
            rect = Intersect(rect, *lprcClip);
            if (Area(rect) == 0) continue;
        }
        const int previous = desktop.currentMonitor;
        desktop.currentMonitor = static_cast<int>(i);
        const BOOL goOn = lpfnEnum(monitors[i].handle, nullptr, &rect, dwData);
        D().currentMonitor = previous;
        if (!goOn) break;
    }
    SetResult(seq, TRUE);
    return TRUE;
}

BOOL WINAPI GetMonitorInfoW(HMONITOR hMonitor, LPMONITORINFO lpmi) {
    Desktop& desktop = D();
    const std::string args = "monitor=" + Ptr(hMonitor) + " cbSize=" + (lpmi ? std::to_string(lpmi->cbSize) : std::string("null"));
    auto fail = [&](DWORD error) {
        desktop.lastError = error;
        Record("GetMonitorInfoW", args, FALSE);
        return FALSE;
    };
    if (auto fault = FaultFor("GetMonitorInfoW")) return fail(FaultError(*fault, kErrorInvalidMonitorHandle));
    auto it = std::find_if(desktop.monitors.begin(), desktop.monitors.end(),
                           [&](const Monitor& m) { return m.handle == hMonitor; });
    if (it == desktop.monitors.end()) return fail(kErrorInvalidMonitorHandle);
    if (!lpmi || lpmi->cbSize != sizeof(MONITORINFO)) return fail(ERROR_INVALID_PARAMETER);
    lpmi->rcMonitor = it->config.rect;
    lpmi->rcWork = it->config.work;
    lpmi->dwFlags = it->config.primary ? MONITORINFOF_PRIMARY : 0;
    Record("GetMonitorInfoW", args, TRUE);
    return TRUE;
}

UINT WINAPI GetDpiForWindow(HWND hwnd) {
    Desktop& desktop = D();
    UINT dpi = 0;
    const Window* window = FindWindowRecord(hwnd);
    if (FaultFor("GetDpiForWindow")) {
        dpi = 0;
    } else if (window) {
        const int index = MonitorIndexForRect(window->rect);
        if (!PerMonitorAware(desktop) || index < 0)
            dpi = 96;
        else
            dpi = desktop.monitors[static_cast<std::size_t>(index)].config.dpi;
    }
    Record("GetDpiForWindow", "hwnd=" + Ptr(hwnd), static_cast<long>(dpi));
    return dpi;
}

BOOL WINAPI GetCursorPos(LPPOINT lpPoint) {
    Desktop& desktop = D();
    BOOL result = FALSE;
    if (auto fault = FaultFor("GetCursorPos")) {
        desktop.lastError = FaultError(*fault, kErrorAccessDenied);
    } else if (!lpPoint) {
        desktop.lastError = ERROR_INVALID_PARAMETER;
    } else {
        *lpPoint = desktop.cursor;
        result = TRUE;
    }
    Record("GetCursorPos", result ? "-> (" + std::to_string(desktop.cursor.x) + "," + std::to_string(desktop.cursor.y) + ")"
                                  : std::string(), result);
    return result;
}
