// Window classes and windows: registration, creation and destruction with
// their synchronous messages, placement and Z order, lookups, client areas,
// and the windows of other processes (the game window).
#include <windows.h>

#include <algorithm>

#include "sim/desktop.h"
#include "sim/user_state.h"

namespace sim {
namespace detail {
namespace {

WindowClass* FindClass(LPCWSTR name) {
    for (WindowClass& cls : D().classes) {
        if (IsAtom(name) ? cls.atom == static_cast<ATOM>(reinterpret_cast<std::uintptr_t>(name))
                         : SameClassName(cls.name, name))
            return &cls;
    }
    return nullptr;
}

bool IsTopmost(HWND window) {
    const Window* record = FindWindowRecord(window);
    return record && (record->exStyle & WS_EX_TOPMOST);
}

void Hide(HWND window) {
    Window* record = FindWindowRecord(window);
    if (!record || !record->visible) return;
    WINDOWPOS pos{window, nullptr, 0, 0, 0, 0, kSwpNoMove | kSwpNoSize | kSwpNoZOrder | kSwpHideWindow | SWP_NOACTIVATE};
    DeliverMessage(window, WM_WINDOWPOSCHANGING, 0, reinterpret_cast<LPARAM>(&pos));
    if ((record = FindWindowRecord(window))) record->visible = false;
    DeliverMessage(window, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
}

// DestroyWindow's work once the call is known to be valid: hide, WM_DESTROY,
// WM_NCDESTROY (the handle stays valid through both), then the handle dies
// and takes its timers and queued messages with it.
void Destroy(HWND window) {
    Window* record = FindWindowRecord(window);
    if (!record || record->destroying) return;
    record->destroying = true;
    Hide(window);
    if (D().foreground == window) D().foreground = nullptr;
    DeliverMessage(window, WM_DESTROY, 0, 0);
    DeliverMessage(window, WM_NCDESTROY, 0, 0);
    DestroyWindowSilently(window);
}

}  // namespace

Window* FindWindowRecord(HWND window) {
    auto it = D().windows.find(reinterpret_cast<std::uintptr_t>(window));
    return it == D().windows.end() ? nullptr : &it->second;
}

bool OwnedByRenderer(const Window& window) { return window.pid == D().config.rendererPid; }

LRESULT DeliverMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const Window* record = FindWindowRecord(window);
    if (!record) return 0;
    if (record->procedure) return record->procedure(window, message, wParam, lParam);
    return DefaultAnswer(window, message, wParam, lParam);
}

LRESULT DefaultAnswer(HWND window, UINT message, WPARAM, LPARAM lParam) {
    const Window* record = FindWindowRecord(window);
    switch (message) {
    case WM_NCCREATE:
        return TRUE;
    case WM_CLOSE:
        Destroy(window);
        return 0;
    case WM_NCHITTEST: {
        if (!record) return 0;
        const LONG x = static_cast<SHORT>(lParam & 0xFFFF);
        const LONG y = static_cast<SHORT>((lParam >> 16) & 0xFFFF);
        const RECT& r = record->rect;
        return x >= r.left && x < r.right && y >= r.top && y < r.bottom ? kHtClient : 0;
    }
    case WM_MOUSEACTIVATE:
        return kMaActivate;
    default:
        return 0;
    }
}

void DestroyWindowSilently(HWND window) {
    DropTimersOf(window);
    DropPostedFor(window);
    RemoveFromZOrder(window);
    if (D().foreground == window) D().foreground = nullptr;
    D().windows.erase(reinterpret_cast<std::uintptr_t>(window));
}

void RemoveFromZOrder(HWND window) {
    auto& z = D().zOrder;
    z.erase(std::remove(z.begin(), z.end(), window), z.end());
}

// Front of its band: topmost windows above all others.
void PlaceOnTop(HWND window) {
    RemoveFromZOrder(window);
    auto& z = D().zOrder;
    auto at = z.begin();
    if (!IsTopmost(window))
        while (at != z.end() && IsTopmost(*at)) ++at;
    z.insert(at, window);
}

}  // namespace detail

using namespace detail;

HWND CreateForeignWindow(DWORD pid, const std::wstring& className, const std::wstring& title, RECT windowRect,
                         RECT clientRectOnScreen, bool visible) {
    Desktop& desktop = D();
    if (!ProcessAlive(pid) || pid == desktop.config.rendererPid) {
        ReportMisuse("CreateForeignWindow: process " + std::to_string(pid) + " is not a live process of another program");
        return nullptr;
    }
    const HWND handle = reinterpret_cast<HWND>(desktop.nextWindowHandle);
    desktop.nextWindowHandle += 0x10;
    Window record;
    record.handle = handle;
    record.pid = pid;
    record.className = className;
    record.title = title;
    record.style = visible ? kWsVisible : 0;
    record.rect = windowRect;
    record.client = clientRectOnScreen;
    record.visible = visible;
    desktop.windows[reinterpret_cast<std::uintptr_t>(handle)] = record;
    PlaceOnTop(handle);
    return handle;
}

void MoveForeignWindow(HWND window, RECT windowRect, RECT clientRectOnScreen) {
    Window* record = FindWindowRecord(window);
    if (!record || OwnedByRenderer(*record)) {
        ReportMisuse("MoveForeignWindow: not a window of another process");
        return;
    }
    record->rect = windowRect;
    record->client = clientRectOnScreen;
}

void DestroyForeignWindow(HWND window) {
    Window* record = FindWindowRecord(window);
    if (!record || OwnedByRenderer(*record)) {
        ReportMisuse("DestroyForeignWindow: not a window of another process");
        return;
    }
    DestroyWindowSilently(window);
}

std::vector<HWND> WindowsOfClass(const std::wstring& className) {
    std::vector<HWND> found;
    for (HWND window : D().zOrder) {
        const Window* record = FindWindowRecord(window);
        if (record && OwnedByRenderer(*record) && SameClassName(record->className, className)) found.push_back(window);
    }
    return found;
}

HWND FindWindowOf(const std::wstring& className) {
    const std::vector<HWND> found = WindowsOfClass(className);
    return found.empty() ? nullptr : found.front();
}

std::vector<HWND> RendererWindows() {
    std::vector<HWND> found;
    for (HWND window : D().zOrder) {
        const Window* record = FindWindowRecord(window);
        if (record && OwnedByRenderer(*record)) found.push_back(window);
    }
    return found;
}

HWND ForegroundWindow() { return D().foreground; }

void PreRegisterClass(const std::wstring& className, WNDPROC procedure) {
    Desktop& desktop = D();
    for (const WindowClass& cls : desktop.classes)
        if (SameClassName(cls.name, className)) return;
    desktop.classes.push_back(WindowClass{className, desktop.nextAtom++, procedure, RendererInstance(), nullptr});
}

HWND WindowAtPoint(POINT point) {
    const std::vector<HWND> order = D().zOrder;
    for (HWND window : order) {
        const Window* record = FindWindowRecord(window);
        if (!record || !record->visible) continue;
        const RECT& r = record->rect;
        if (point.x < r.left || point.x >= r.right || point.y < r.top || point.y >= r.bottom) continue;
        // Layered windows with WS_EX_TRANSPARENT are skipped without a hit test.
        const DWORD clickThrough = WS_EX_LAYERED | WS_EX_TRANSPARENT;
        if ((record->exStyle & clickThrough) == clickThrough) continue;
        const LPARAM at = static_cast<LPARAM>((static_cast<DWORD>(point.x) & 0xFFFF) | ((static_cast<DWORD>(point.y) & 0xFFFF) << 16));
        if (DeliverMessage(window, WM_NCHITTEST, 0, at) == HTTRANSPARENT) continue;
        return window;
    }
    return nullptr;
}

}  // namespace sim

using namespace sim;
using namespace sim::detail;

ATOM WINAPI RegisterClassExW(const WNDCLASSEXW* wc) {
    Desktop& desktop = D();
    const std::string args =
        wc ? "cbSize=" + std::to_string(wc->cbSize) + " style=" + Hex(wc->style) +
                 " proc=" + Ptr(reinterpret_cast<const void*>(wc->lpfnWndProc)) + " instance=" + Ptr(wc->hInstance) +
                 " cursor=" + Ptr(wc->hCursor) + " class=" + WideArg(wc->lpszClassName)
           : std::string("null");
    auto fail = [&](DWORD error) {
        desktop.lastError = error;
        Record("RegisterClassExW", args, 0);
        return ATOM{0};
    };
    if (auto fault = FaultFor("RegisterClassExW")) return fail(FaultError(*fault, kErrorNotEnoughMemory));
    if (!wc || wc->cbSize != sizeof(WNDCLASSEXW) || !wc->lpfnWndProc || !wc->lpszClassName || IsAtom(wc->lpszClassName) ||
        wc->lpszClassName[0] == 0)
        return fail(ERROR_INVALID_PARAMETER);
    if (FindClass(wc->lpszClassName)) return fail(ERROR_CLASS_ALREADY_EXISTS);
    const ATOM atom = desktop.nextAtom++;
    desktop.classes.push_back(WindowClass{wc->lpszClassName, atom, wc->lpfnWndProc, wc->hInstance, wc->hCursor});
    Record("RegisterClassExW", args, atom);
    return atom;
}

HCURSOR WINAPI LoadCursorW(HINSTANCE hInstance, LPCWSTR lpCursorName) {
    Desktop& desktop = D();
    HCURSOR cursor = nullptr;
    const auto id = reinterpret_cast<std::uintptr_t>(lpCursorName);
    const bool systemCursor = !hInstance && IsAtom(lpCursorName) && id >= 32512 && id <= 32651;
    if (auto fault = FaultFor("LoadCursorW")) {
        desktop.lastError = FaultError(*fault, kErrorResourceNameNotFound);
    } else if (!systemCursor) {
        // The renderer's module carries no cursor resources.
        desktop.lastError = kErrorResourceNameNotFound;
    } else {
        cursor = reinterpret_cast<HCURSOR>(0x30000 + id);  // shared system cursors: one handle per id
    }
    Record("LoadCursorW", "instance=" + Ptr(hInstance) + " name=" + WideArg(lpCursorName),
           static_cast<long>(reinterpret_cast<std::uintptr_t>(cursor)));
    return cursor;
}

HWND WINAPI CreateWindowExW(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName, DWORD dwStyle, int X, int Y,
                            int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                            LPVOID lpParam) {
    Desktop& desktop = D();
    const std::uint64_t seq = Record(
        "CreateWindowExW", "exStyle=" + Hex(dwExStyle) + " class=" + WideArg(lpClassName) + " title=" +
                               WideArg(lpWindowName) + " style=" + Hex(dwStyle) + " x=" + std::to_string(X) +
                               " y=" + std::to_string(Y) + " w=" + std::to_string(nWidth) + " h=" +
                               std::to_string(nHeight) + " parent=" + Ptr(hWndParent) + " menu=" + Ptr(hMenu) +
                               " instance=" + Ptr(hInstance) + " param=" + Ptr(lpParam));
    auto fail = [&](DWORD error) -> HWND {
        if (error) D().lastError = error;
        SetResult(seq, 0);
        return nullptr;
    };
    if (auto fault = FaultFor("CreateWindowExW")) return fail(FaultError(*fault, kErrorNotEnoughMemory));
    const WindowClass* cls = lpClassName ? FindClass(lpClassName) : nullptr;
    if (!cls) return fail(kErrorCannotFindWndClass);
    if (hWndParent) {
        if (!FindWindowRecord(hWndParent)) return fail(kErrorInvalidWindowHandle);
        ReportMisuse("CreateWindowExW with a parent or owner window is not modelled");
        return fail(ERROR_INVALID_PARAMETER);
    }
    const HWND handle = reinterpret_cast<HWND>(desktop.nextWindowHandle);
    desktop.nextWindowHandle += 0x10;
    Window record;
    record.handle = handle;
    record.pid = desktop.config.rendererPid;
    record.className = cls->name;
    record.title = lpWindowName && !IsAtom(lpWindowName) ? lpWindowName : L"";
    record.style = dwStyle;
    record.exStyle = dwExStyle;
    record.rect = RECT{X, Y, X + std::max(0, nWidth), Y + std::max(0, nHeight)};
    record.client = record.rect;  // popup windows without a frame: the client area is the whole window
    record.procedure = cls->procedure;
    const std::wstring className = cls->name;
    desktop.windows[reinterpret_cast<std::uintptr_t>(handle)] = record;
    PlaceOnTop(handle);

    CREATESTRUCTW create{lpParam, hInstance, hMenu, hWndParent, nHeight, nWidth, Y, X, static_cast<LONG>(dwStyle),
                         lpWindowName, className.c_str(), dwExStyle};
    if (!DeliverMessage(handle, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&create))) {
        if (FindWindowRecord(handle)) {
            DeliverMessage(handle, WM_NCDESTROY, 0, 0);
            DestroyWindowSilently(handle);
        }
        return fail(0);
    }
    if (!FindWindowRecord(handle)) return fail(0);
    if (DeliverMessage(handle, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
        Destroy(handle);
        return fail(0);
    }
    Window* made = FindWindowRecord(handle);
    if (!made) return fail(0);
    if (dwStyle & kWsVisible) {
        made->visible = true;
        DeliverMessage(handle, WM_SHOWWINDOW, TRUE, 0);
    }
    SetResult(seq, static_cast<long>(reinterpret_cast<std::uintptr_t>(handle)));
    return handle;
}

BOOL WINAPI DestroyWindow(HWND hWnd) {
    Desktop& desktop = D();
    const std::uint64_t seq = Record("DestroyWindow", "hwnd=" + Ptr(hWnd));
    BOOL result = FALSE;
    const Window* record = FindWindowRecord(hWnd);
    if (auto fault = FaultFor("DestroyWindow")) {
        desktop.lastError = FaultError(*fault, kErrorAccessDenied);
    } else if (!record) {
        desktop.lastError = kErrorInvalidWindowHandle;
    } else if (!OwnedByRenderer(*record)) {
        // Only the thread that made a window may destroy it.
        desktop.lastError = kErrorAccessDenied;
    } else {
        Destroy(hWnd);
        result = TRUE;
    }
    SetResult(seq, result);
    return result;
}

LRESULT WINAPI DefWindowProcW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    const std::uint64_t seq = Record("DefWindowProcW", "hwnd=" + Ptr(hWnd) + " msg=" + MessageName(Msg) +
                                                           " wParam=" + Hex(wParam) + " lParam=" +
                                                           Hex(static_cast<std::uint64_t>(lParam)));
    const LRESULT result = DefaultAnswer(hWnd, Msg, wParam, lParam);
    SetResult(seq, static_cast<long>(result));
    return result;
}

BOOL WINAPI SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags) {
    Desktop& desktop = D();
    const std::uint64_t seq =
        Record("SetWindowPos", "hwnd=" + Ptr(hWnd) + " after=" +
                                   (hWndInsertAfter == HWND_TOPMOST ? std::string("HWND_TOPMOST") : Ptr(hWndInsertAfter)) +
                                   " x=" + std::to_string(X) + " y=" + std::to_string(Y) + " cx=" + std::to_string(cx) +
                                   " cy=" + std::to_string(cy) + " flags=" + Hex(uFlags));
    auto finish = [&](BOOL result) {
        SetResult(seq, result);
        return result;
    };
    if (auto fault = FaultFor("SetWindowPos")) {
        desktop.lastError = FaultError(*fault, kErrorAccessDenied);
        return finish(FALSE);
    }
    if (!FindWindowRecord(hWnd)) {
        desktop.lastError = kErrorInvalidWindowHandle;
        return finish(FALSE);
    }
    WINDOWPOS pos{hWnd, hWndInsertAfter, X, Y, cx, cy, uFlags};
    DeliverMessage(hWnd, WM_WINDOWPOSCHANGING, 0, reinterpret_cast<LPARAM>(&pos));
    Window* record = FindWindowRecord(hWnd);
    if (!record) return finish(FALSE);
    if (!(uFlags & kSwpNoMove)) {
        const LONG dx = X - record->rect.left;
        const LONG dy = Y - record->rect.top;
        record->rect = RECT{record->rect.left + dx, record->rect.top + dy, record->rect.right + dx, record->rect.bottom + dy};
        record->client = RECT{record->client.left + dx, record->client.top + dy, record->client.right + dx,
                              record->client.bottom + dy};
    }
    if (!(uFlags & kSwpNoSize)) {
        const LONG growX = std::max(0, cx) - (record->rect.right - record->rect.left);
        const LONG growY = std::max(0, cy) - (record->rect.bottom - record->rect.top);
        record->rect.right += growX;
        record->rect.bottom += growY;
        record->client.right += growX;
        record->client.bottom += growY;
    }
    if (!(uFlags & kSwpNoZOrder)) {
        const HWND kTop = nullptr;
        const HWND kBottom = reinterpret_cast<HWND>(1);
        const HWND kNoTopmost = reinterpret_cast<HWND>(-2);
        if (hWndInsertAfter == HWND_TOPMOST) {
            record->exStyle |= WS_EX_TOPMOST;
            PlaceOnTop(hWnd);
        } else if (hWndInsertAfter == kNoTopmost) {
            record->exStyle &= ~WS_EX_TOPMOST;
            PlaceOnTop(hWnd);
        } else if (hWndInsertAfter == kTop) {
            PlaceOnTop(hWnd);
        } else if (hWndInsertAfter == kBottom) {
            RemoveFromZOrder(hWnd);
            desktop.zOrder.push_back(hWnd);
        } else if (FindWindowRecord(hWndInsertAfter) && hWndInsertAfter != hWnd) {
            RemoveFromZOrder(hWnd);
            auto at = std::find(desktop.zOrder.begin(), desktop.zOrder.end(), hWndInsertAfter);
            desktop.zOrder.insert(at == desktop.zOrder.end() ? at : at + 1, hWnd);
        }
    }
    if (uFlags & SWP_SHOWWINDOW) record->visible = true;
    if (uFlags & kSwpHideWindow) record->visible = false;
    if (!(uFlags & SWP_NOACTIVATE) && record->visible) desktop.foreground = hWnd;
    DeliverMessage(hWnd, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
    return finish(TRUE);
}

HWND WINAPI FindWindowW(LPCWSTR lpClassName, LPCWSTR lpWindowName) {
    Desktop& desktop = D();
    HWND found = nullptr;
    if (auto fault = FaultFor("FindWindowW")) {
        desktop.lastError = FaultError(*fault, kErrorAccessDenied);
    } else {
        for (HWND window : desktop.zOrder) {
            const Window* record = FindWindowRecord(window);
            if (!record) continue;
            if (lpClassName) {
                if (IsAtom(lpClassName)) {
                    const WindowClass* cls = FindClass(lpClassName);
                    if (!cls || !OwnedByRenderer(*record) || !SameClassName(cls->name, record->className)) continue;
                } else if (!SameClassName(record->className, lpClassName)) {
                    continue;
                }
            }
            if (lpWindowName && !SameClassName(record->title, lpWindowName)) continue;
            found = window;
            break;
        }
    }
    Record("FindWindowW", "class=" + WideArg(lpClassName) + " title=" + WideArg(lpWindowName),
           static_cast<long>(reinterpret_cast<std::uintptr_t>(found)));
    return found;
}

BOOL WINAPI ScreenToClient(HWND hWnd, LPPOINT lpPoint) {
    Desktop& desktop = D();
    const std::string before =
        lpPoint ? "(" + std::to_string(lpPoint->x) + "," + std::to_string(lpPoint->y) + ")" : std::string("null");
    BOOL result = FALSE;
    const Window* record = FindWindowRecord(hWnd);
    if (auto fault = FaultFor("ScreenToClient")) {
        desktop.lastError = FaultError(*fault, kErrorInvalidWindowHandle);
    } else if (!record) {
        desktop.lastError = kErrorInvalidWindowHandle;
    } else if (!lpPoint) {
        desktop.lastError = ERROR_INVALID_PARAMETER;
    } else {
        lpPoint->x -= record->client.left;
        lpPoint->y -= record->client.top;
        result = TRUE;
    }
    Record("ScreenToClient", "hwnd=" + Ptr(hWnd) + " point=" + before, result);
    return result;
}

BOOL WINAPI GetClientRect(HWND hWnd, LPRECT lpRect) {
    Desktop& desktop = D();
    BOOL result = FALSE;
    const Window* record = FindWindowRecord(hWnd);
    if (auto fault = FaultFor("GetClientRect")) {
        desktop.lastError = FaultError(*fault, kErrorInvalidWindowHandle);
    } else if (!record) {
        desktop.lastError = kErrorInvalidWindowHandle;
    } else if (!lpRect) {
        desktop.lastError = ERROR_INVALID_PARAMETER;
    } else {
        *lpRect = RECT{0, 0, record->client.right - record->client.left, record->client.bottom - record->client.top};
        result = TRUE;
    }
    Record("GetClientRect", "hwnd=" + Ptr(hWnd), result);
    return result;
}
