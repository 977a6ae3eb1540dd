// vorlune-overlay: draws the scenes a parent process sends it over every
// monitor, in transparent, click-through windows, until the parent ends.
//
// Everything runs on one thread inside one message loop. Frames arrive as
// WM_COPYDATA at a hidden control window, are validated while the sender
// waits, and are drawn later from a posted message; the graphics stack is
// rebuilt from nothing whenever the display changes or a pass fails.

#include <windows.h>

#include <d2d1_1.h>
#include <d3d11.h>
#include <dcomp.h>
#include <dwrite.h>
#include <dxgi1_2.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cwchar>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "protocol/protocol.h"

namespace {

using vorlune::overlay::Command;
using vorlune::overlay::CommandKind;
using vorlune::overlay::DecodeScene;
using vorlune::overlay::kFrameMagic;
using vorlune::overlay::kMaxFrameSize;
using vorlune::overlay::MonitorTarget;
using vorlune::overlay::NormalizedX;
using vorlune::overlay::Scene;

constexpr wchar_t kControlClass[] = L"vorluneOverlayControl";
constexpr wchar_t kOverlayClass[] = L"vorluneOverlayWindow";
constexpr wchar_t kParentSwitch[] = L"--parent-pid";
constexpr wchar_t kGameWindow[] = L"Mabinogi";

constexpr UINT kRenderMessage = WM_APP + 1;
constexpr UINT kRebuildMessage = WM_APP + 2;
constexpr UINT_PTR kParentTimer = 1;
constexpr UINT kParentTimerPeriodMs = 500;
constexpr UINT_PTR kAnimationTimer = 2;
constexpr UINT kAnimationTimerPeriodMs = 16;
// After the first retry, a rebuild asked for by a failed pass waits on this
// timer instead of a posted message, so a failure that repeats in every pass
// neither spins a core recreating windows nor starves the parent watch.
constexpr UINT_PTR kRebuildTimer = 3;
constexpr UINT kFirstRetryDelayMs = 50;
constexpr UINT kMaxRetryDelayMs = 1000;

constexpr std::uintmax_t kMaxLogSize = 5242880;
constexpr std::uintmax_t kLineAllowance = 32;

template <class T>
void ReleaseAndNull(T*& object) {
    if (object != nullptr) {
        object->Release();
        object = nullptr;
    }
}

std::string HResult(const char* what, HRESULT code) {
    static constexpr char kDigits[] = "0123456789abcdef";
    auto value = static_cast<std::uint32_t>(code);
    std::string hex;
    do {
        hex.insert(hex.begin(), kDigits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    return std::string(what) + " failed (0x" + hex + ")";
}

// The full path of this executable, however long: with long paths enabled by
// the manifest it can exceed MAX_PATH, and a cut path would put the log
// somewhere else entirely.
std::wstring ModulePath() {
    std::vector<wchar_t> buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), size);
        if (length < size) return std::wstring(buffer.data(), length);
        if (buffer.size() >= 32768 * 2) return std::wstring();  // beyond any path the system allows
        buffer.assign(buffer.size() * 2, L'\0');
    }
}

class Log {
public:
    Log() {
        const std::filesystem::path directory = std::filesystem::path(ModulePath()).parent_path() / L"logs";
        std::error_code error;
        std::filesystem::create_directories(directory, error);
        path = directory / L"vorlune-overlay.log";
        const std::uintmax_t size = std::filesystem::file_size(path, error);
        if (!error && size > kMaxLogSize) Rotate();
        Open();
    }

    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    void Write(const std::string& message) {
        std::error_code error;
        const std::uintmax_t size = std::filesystem::file_size(path, error);
        if (!error && size + message.size() + kLineAllowance > kMaxLogSize) Rotate();

        SYSTEMTIME time{};
        GetLocalTime(&time);
        stream << time.wYear << '-' << time.wMonth << '-' << time.wDay << ' ' << time.wHour << ':' << time.wMinute
               << ':' << time.wSecond << ' ';
        // The file is opened in binary mode and every line feed, the message's
        // own included, is written out as CR LF, as text mode stores it on
        // Windows: the log is byte for byte the same on every build.
        std::size_t start = 0;
        for (std::size_t feed = message.find('\n'); feed != std::string::npos; feed = message.find('\n', start)) {
            stream.write(message.data() + start, static_cast<std::streamsize>(feed - start));
            stream << "\r\n";
            start = feed + 1;
        }
        stream.write(message.data() + start, static_cast<std::streamsize>(message.size() - start));
        stream << "\r\n";
        stream.flush();
    }

    void Rotate() {
        const bool wasOpen = stream.is_open();
        if (wasOpen) stream.close();  // a failed close leaves the stream failed; the reopen decides

        std::filesystem::path old = path;
        old += L".old";
        std::error_code error;
        std::filesystem::remove(old, error);
        std::filesystem::rename(path, old, error);

        if (wasOpen) Open();
    }

private:
    void Open() {
        stream.open(path, std::ios::out | std::ios::app | std::ios::binary);
        if (stream.is_open())
            stream.clear();
        else
            stream.setstate(std::ios::failbit);
    }

public:
    std::filesystem::path path;
    std::ofstream stream;
};

struct MonitorSurface {
    HMONITOR monitor = nullptr;
    RECT bounds{};
    bool primary = false;
    HWND window = nullptr;
    UINT dpi = 96;
    IDXGISwapChain1* swapChain = nullptr;
    IDCompositionTarget* compositionTarget = nullptr;
    IDCompositionVisual* visual = nullptr;

    MonitorSurface() = default;
    MonitorSurface(const MonitorSurface&) = delete;
    MonitorSurface& operator=(const MonitorSurface&) = delete;

    ~MonitorSurface() {
        ReleaseAndNull(visual);
        ReleaseAndNull(compositionTarget);
        ReleaseAndNull(swapChain);
        if (window != nullptr) DestroyWindow(window);
    }

    LONG Width() const { return bounds.right - bounds.left; }
    LONG Height() const { return bounds.bottom - bounds.top; }
};

// Reads the parent's id the way the parent writes it: the first "--parent-pid",
// then blanks or tabs, then a decimal number as wcstoul reads it. Returns 0
// when the switch is missing or no id follows.
DWORD ReadParentPid(const wchar_t* commandLine) {
    if (commandLine == nullptr) return 0;
    const wchar_t* position = std::wcsstr(commandLine, kParentSwitch);
    if (position == nullptr) return 0;
    position += std::wcslen(kParentSwitch);
    while (*position == L' ' || *position == L'\t') ++position;

    const unsigned long value = std::wcstoul(position, nullptr, 10);
    if (value <= 0xFFFFFFFFul) return static_cast<DWORD>(value);

    // Only where unsigned long is wider than 32 bits: reproduce what a 32-bit
    // wcstoul gives, a negated value wrapped to 32 bits, anything larger the
    // largest 32-bit value, so the id is the same on every build.
    const wchar_t* sign = position;
    while (std::iswspace(static_cast<std::wint_t>(*sign))) ++sign;
    const unsigned long magnitude = 0ul - value;
    if (*sign == L'-' && magnitude <= 0xFFFFFFFFul) return static_cast<DWORD>(value);
    return 0xFFFFFFFFu;
}

bool HasRainbowCursor(const Scene& scene) {
    for (const Command& command : scene.commands)
        if (command.kind == CommandKind::RainbowCursor) return true;
    return false;
}

bool Inside(const POINT& point, const RECT& rect) {
    return rect.left <= point.x && point.x < rect.right && rect.top <= point.y && point.y < rect.bottom;
}

// Brush colour of the rainbow arrow t seconds after start-up: two turns of the
// hue wheel a second, saturation breathing between 0.4 and 1.0, full value.
D2D1_COLOR_F RainbowColor(float t) {
    const float hue = std::fmod((t + t) * 360.0f, 360.0f);
    const float saturation = 0.3f * std::sin(3.0f * t) + 0.7f;
    const float chroma = saturation;
    const float x = (1.0f - std::fabs(std::fmod(hue / 60.0f, 2.0f) - 1.0f)) * saturation;
    const float m = 1.0f - saturation;
    float r = 0.0f, g = 0.0f, b = 0.0f;
    if (hue < 60.0f) {
        r = chroma, g = x;
    } else if (hue < 120.0f) {
        r = x, g = chroma;
    } else if (hue < 180.0f) {
        g = chroma, b = x;
    } else if (hue < 240.0f) {
        g = x, b = chroma;
    } else if (hue < 300.0f) {
        r = x, b = chroma;
    } else {
        r = chroma, b = x;
    }
    return D2D1_COLOR_F{r + m, g + m, b + m, 1.0f};
}

class App {
public:
    explicit App(DWORD parent) : parentPid(parent), startTime(std::chrono::steady_clock::now()) { instance_ = this; }

    App(const App&) = delete;
    App& operator=(const App&) = delete;

    ~App() {
        DestroySurfaces();
        ReleaseStack();
        if (parentProcess != nullptr) CloseHandle(parentProcess);
        instance_ = nullptr;
    }

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static BOOL CALLBACK MonitorCallback(HMONITOR monitor, HDC dc, LPRECT rect, LPARAM data);

    bool Rebuild();
    HRESULT Render();
    void DrawCommand(const Command& command, const MonitorSurface& surface);
    void QueueRebuild();

    static App* instance_;

    Log log;
    DWORD parentPid = 0;
    HANDLE parentProcess = nullptr;
    HWND controlWindow = nullptr;
    bool renderQueued = false;
    bool rebuildQueued = false;
    std::vector<std::uint8_t> pendingFrame;
    Scene scene;
    std::vector<std::unique_ptr<MonitorSurface>> surfaces;
    ID3D11Device* d3dDevice = nullptr;
    ID3D11DeviceContext* d3dContext = nullptr;
    IDXGIDevice* dxgiDevice = nullptr;
    IDXGIFactory2* dxgiFactory = nullptr;
    ID2D1Factory1* d2dFactory = nullptr;
    ID2D1Device* d2dDevice = nullptr;
    ID2D1DeviceContext* d2dContext = nullptr;
    IDWriteFactory* dwriteFactory = nullptr;
    IDCompositionDevice* dcompDevice = nullptr;
    ID2D1PathGeometry* cursorGeometry = nullptr;
    std::chrono::steady_clock::time_point startTime;
    // Failed passes that asked for a rebuild since a rebuild and its pass last
    // succeeded; spaces out the retries.
    unsigned failedPasses = 0;

private:
    LRESULT OnCopyData(const COPYDATASTRUCT* data);
    void OnRender();
    void OnTimer(UINT_PTR id);
    void OnRebuild();
    void RenderAndRecover();
    void RetryAfterFailedPass();
    bool CreateDeviceStack(D3D_DRIVER_TYPE driverType);
    bool BuildCursorGeometry();
    void DestroySurfaces();
    void ReleaseStack();
    void DrawShape(const Command& command, const MonitorSurface& surface);
    void DrawTextCommand(const Command& command, const D2D1_RECT_F& box, ID2D1Brush* brush);
    void DrawRainbowCursor(const MonitorSurface& surface);
};

App* App::instance_ = nullptr;

LRESULT CALLBACK App::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    App* app = instance_;
    if (app == nullptr) return DefWindowProcW(window, message, wParam, lParam);

    switch (message) {
        case WM_DESTROY:
            if (window == app->controlWindow) {
                app->controlWindow = nullptr;
                PostQuitMessage(0);
            }
            return 0;
        case WM_CLOSE:
            DestroyWindow(window);
            return 0;
        case WM_MOUSEACTIVATE:
            return MA_NOACTIVATE;
        case WM_COPYDATA:
            if (window != app->controlWindow) break;
            return app->OnCopyData(reinterpret_cast<const COPYDATASTRUCT*>(lParam));
        case WM_DISPLAYCHANGE:
        case WM_DPICHANGED:
            // The suggested rectangle of WM_DPICHANGED is ignored: a rebuild
            // makes every surface anew at the monitor's own size and DPI.
            app->QueueRebuild();
            return 0;
        case WM_NCHITTEST:
            return HTTRANSPARENT;
        case WM_TIMER:
            app->OnTimer(static_cast<UINT_PTR>(wParam));
            return 0;
        case kRenderMessage:
            app->OnRender();
            return 0;
        case kRebuildMessage:
            app->OnRebuild();
            return 0;
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT App::OnCopyData(const COPYDATASTRUCT* data) {
    if (data == nullptr) return 0;
    if (data->dwData != static_cast<ULONG_PTR>(kFrameMagic)) return 0;
    if (data->lpData == nullptr) return 0;
    if (data->cbData > kMaxFrameSize) return 0;

    const auto* bytes = static_cast<const std::uint8_t*>(data->lpData);
    Scene scratch;
    std::string error;
    if (!DecodeScene(bytes, data->cbData, scratch, error)) {
        log.Write("rejected scene: " + error);
        return 0;
    }

    pendingFrame.assign(bytes, bytes + data->cbData);
    if (!renderQueued) {
        renderQueued = true;
        // Should the post fail (a full queue), nothing would ever clear the
        // flag and every later frame would wait for a render that never
        // comes; leave it clear so the next frame posts again.
        if (!PostMessageW(controlWindow, kRenderMessage, 0, 0)) renderQueued = false;
    }
    return 1;
}

void App::OnRender() {
    renderQueued = false;
    if (pendingFrame.empty()) return;

    Scene decoded;
    std::string error;
    if (!DecodeScene(pendingFrame.data(), pendingFrame.size(), decoded, error)) return;
    pendingFrame.clear();

    scene.target = decoded.target;
    scene.frameTag = decoded.frameTag;
    scene.commands = std::move(decoded.commands);

    if (controlWindow != nullptr) {
        if (HasRainbowCursor(scene))
            SetTimer(controlWindow, kAnimationTimer, kAnimationTimerPeriodMs, nullptr);
        else
            KillTimer(controlWindow, kAnimationTimer);
    }
    RenderAndRecover();
}

void App::OnTimer(UINT_PTR id) {
    switch (id) {
        case kParentTimer:
            if (WaitForSingleObject(parentProcess, 0) == WAIT_OBJECT_0) {
                log.Write("parent exited");
                DestroyWindow(controlWindow);
            }
            break;
        case kAnimationTimer:
            if (HasRainbowCursor(scene)) RenderAndRecover();
            break;
        case kRebuildTimer:
            if (controlWindow != nullptr) KillTimer(controlWindow, kRebuildTimer);
            OnRebuild();
            break;
        default:
            break;
    }
}

void App::OnRebuild() {
    rebuildQueued = false;
    Rebuild();
}

void App::RenderAndRecover() {
    const HRESULT result = Render();
    if (FAILED(result)) {
        log.Write(HResult("render", result));
        RetryAfterFailedPass();
    }
}

void App::RetryAfterFailedPass() {
    if (!rebuildQueued) ++failedPasses;
    QueueRebuild();
}

void App::QueueRebuild() {
    if (rebuildQueued || controlWindow == nullptr) return;
    rebuildQueued = true;
    if (failedPasses <= 1) {
        if (!PostMessageW(controlWindow, kRebuildMessage, 0, 0)) rebuildQueued = false;
        return;
    }
    const unsigned doublings = failedPasses - 2 < 5 ? failedPasses - 2 : 5;
    UINT delay = kFirstRetryDelayMs << doublings;
    if (delay > kMaxRetryDelayMs) delay = kMaxRetryDelayMs;
    if (SetTimer(controlWindow, kRebuildTimer, delay, nullptr) == 0) rebuildQueued = false;
}

bool App::Rebuild() {
    DestroySurfaces();
    ReleaseStack();

    if (!CreateDeviceStack(D3D_DRIVER_TYPE_HARDWARE)) {
        log.Write("hardware graphics unavailable; falling back to WARP");
        ReleaseStack();
        if (!CreateDeviceStack(D3D_DRIVER_TYPE_WARP)) {
            log.Write("could not create WARP graphics devices");
            return false;
        }
    }

    IDXGIAdapter* adapter = nullptr;
    IDXGIFactory2* factory = nullptr;
    if (FAILED(dxgiDevice->GetAdapter(&adapter)) || FAILED(adapter->GetParent(IID_PPV_ARGS(&factory)))) {
        ReleaseAndNull(factory);
        ReleaseAndNull(adapter);
        return false;
    }
    dxgiFactory = factory;
    ReleaseAndNull(adapter);

    EnumDisplayMonitors(nullptr, nullptr, &App::MonitorCallback, reinterpret_cast<LPARAM>(this));
    if (surfaces.empty()) {
        log.Write("no monitors found");
        return false;
    }

    const HRESULT committed = dcompDevice->Commit();
    if (FAILED(committed)) {
        log.Write(HResult("DirectComposition commit", committed));
        return false;
    }

    log.Write("created " + std::to_string(surfaces.size()) + " monitor surface(s)");

    const HRESULT rendered = Render();
    if (SUCCEEDED(rendered)) {
        failedPasses = 0;
        return true;
    }
    if (!scene.commands.empty()) log.Write(HResult("render", rendered));
    RetryAfterFailedPass();
    return true;
}

bool App::CreateDeviceStack(D3D_DRIVER_TYPE driverType) {
    static const D3D_FEATURE_LEVEL kLevels[] = {D3D_FEATURE_LEVEL_11_1, D3D_FEATURE_LEVEL_11_0};
    static const D3D_FEATURE_LEVEL* const kRetryLevels = kLevels + 1;
    D3D_FEATURE_LEVEL level{};

    HRESULT result = D3D11CreateDevice(nullptr, driverType, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT, kLevels, 2,
                                       D3D11_SDK_VERSION, &d3dDevice, &level, &d3dContext);
    if (result == E_INVALIDARG) {
        // Runtimes that predate 11.1 refuse a list that names it.
        result = D3D11CreateDevice(nullptr, driverType, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT, kRetryLevels, 1,
                                   D3D11_SDK_VERSION, &d3dDevice, &level, &d3dContext);
    }
    if (FAILED(result)) return false;
    if (FAILED(d3dDevice->QueryInterface(IID_PPV_ARGS(&dxgiDevice)))) return false;
    if (FAILED(D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory1), nullptr,
                                 reinterpret_cast<void**>(&d2dFactory))))
        return false;
    if (FAILED(d2dFactory->CreateDevice(dxgiDevice, &d2dDevice))) return false;
    if (FAILED(d2dDevice->CreateDeviceContext(D2D1_DEVICE_CONTEXT_OPTIONS_NONE, &d2dContext))) return false;
    if (!BuildCursorGeometry()) return false;
    if (FAILED(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                                   reinterpret_cast<IUnknown**>(&dwriteFactory))))
        return false;
    if (FAILED(DCompositionCreateDevice(dxgiDevice, __uuidof(IDCompositionDevice),
                                        reinterpret_cast<void**>(&dcompDevice))))
        return false;
    return true;
}

// The arrow of the rainbow cursor: tip at the origin pointing up, 30 wide and
// 30 high, its base notched up to 22.5 on the centre line.
bool App::BuildCursorGeometry() {
    ID2D1Factory* factory = d2dFactory;
    if (FAILED(factory->CreatePathGeometry(&cursorGeometry))) return false;

    ID2D1GeometrySink* sink = nullptr;
    if (FAILED(cursorGeometry->Open(&sink))) {
        ReleaseAndNull(sink);
        return false;
    }
    static const D2D1_POINT_2F kOutline[] = {{15.0f, 30.0f}, {0.0f, 22.5f}, {-15.0f, 30.0f}};
    sink->BeginFigure(D2D1_POINT_2F{0.0f, 0.0f}, D2D1_FIGURE_BEGIN_FILLED);
    sink->AddLines(kOutline, 3);
    sink->EndFigure(D2D1_FIGURE_END_CLOSED);
    const HRESULT closed = sink->Close();
    ReleaseAndNull(sink);
    return SUCCEEDED(closed);
}

void App::DestroySurfaces() {
    for (auto& surface : surfaces) surface.reset();
    surfaces.clear();
}

void App::ReleaseStack() {
    ReleaseAndNull(cursorGeometry);
    ReleaseAndNull(dcompDevice);
    ReleaseAndNull(dwriteFactory);
    ReleaseAndNull(d2dContext);
    ReleaseAndNull(d2dDevice);
    ReleaseAndNull(d2dFactory);
    ReleaseAndNull(dxgiFactory);
    ReleaseAndNull(dxgiDevice);
    ReleaseAndNull(d3dContext);
    ReleaseAndNull(d3dDevice);
}

BOOL CALLBACK App::MonitorCallback(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
    App* app = reinterpret_cast<App*>(data);

    MONITORINFO info{};
    info.cbSize = sizeof(MONITORINFO);
    if (!GetMonitorInfoW(monitor, &info)) return TRUE;

    auto surface = std::make_unique<MonitorSurface>();
    surface->monitor = monitor;
    surface->bounds = info.rcMonitor;
    surface->primary = (info.dwFlags & MONITORINFOF_PRIMARY) != 0;

    constexpr DWORD kOverlayExStyle = WS_EX_TOPMOST | WS_EX_TRANSPARENT | WS_EX_TOOLWINDOW | WS_EX_LAYERED |
                                      WS_EX_NOREDIRECTIONBITMAP | WS_EX_NOACTIVATE;
    surface->window = CreateWindowExW(kOverlayExStyle, kOverlayClass, L"", WS_POPUP, surface->bounds.left,
                                      surface->bounds.top, surface->Width(), surface->Height(), nullptr, nullptr,
                                      GetModuleHandleW(nullptr), nullptr);
    if (surface->window == nullptr) return TRUE;

    const UINT dpi = GetDpiForWindow(surface->window);
    if (dpi != 0) surface->dpi = dpi;

    const DXGI_SWAP_CHAIN_DESC1 description{
        .Width = static_cast<UINT>(surface->Width()),
        .Height = static_cast<UINT>(surface->Height()),
        .Format = DXGI_FORMAT_B8G8R8A8_UNORM,
        .Stereo = FALSE,
        .SampleDesc = {.Count = 1, .Quality = 0},
        .BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT,
        .BufferCount = 2,
        .Scaling = DXGI_SCALING_STRETCH,
        .SwapEffect = DXGI_SWAP_EFFECT_FLIP_SEQUENTIAL,
        .AlphaMode = DXGI_ALPHA_MODE_PREMULTIPLIED,
        .Flags = 0,
    };
    HRESULT result =
        app->dxgiFactory->CreateSwapChainForComposition(app->d3dDevice, &description, nullptr, &surface->swapChain);
    if (SUCCEEDED(result))
        result = app->dcompDevice->CreateTargetForHwnd(surface->window, TRUE, &surface->compositionTarget);
    if (SUCCEEDED(result)) result = app->dcompDevice->CreateVisual(&surface->visual);
    if (SUCCEEDED(result)) result = surface->visual->SetContent(surface->swapChain);
    if (SUCCEEDED(result)) result = surface->compositionTarget->SetRoot(surface->visual);
    if (FAILED(result)) {
        app->log.Write(HResult("create monitor surface", result));
        return TRUE;
    }

    // Shown only now, with its composition content attached, so it never
    // flashes an empty window.
    SetWindowPos(surface->window, HWND_TOPMOST, surface->bounds.left, surface->bounds.top, surface->Width(),
                 surface->Height(), SWP_SHOWWINDOW | SWP_NOACTIVATE);
    app->surfaces.push_back(std::move(surface));
    return TRUE;
}

HRESULT App::Render() {
    // After a failed rebuild the stack may be partly absent and no surface
    // exists: there is nothing to draw on or commit until the next rebuild.
    if (d2dContext == nullptr || dcompDevice == nullptr) return S_OK;

    HRESULT result = S_OK;
    for (const auto& surface : surfaces) {
        const bool drawAll = scene.target == MonitorTarget::All || surface->primary;

        IDXGISurface* buffer = nullptr;
        HRESULT step = surface->swapChain->GetBuffer(0, IID_PPV_ARGS(&buffer));
        if (FAILED(step)) {
            result = step;
            continue;
        }

        const float dpi = static_cast<float>(surface->dpi);
        const D2D1_BITMAP_PROPERTIES1 properties{
            .pixelFormat = {.format = DXGI_FORMAT_B8G8R8A8_UNORM, .alphaMode = D2D1_ALPHA_MODE_PREMULTIPLIED},
            .dpiX = dpi,
            .dpiY = dpi,
            .bitmapOptions = D2D1_BITMAP_OPTIONS_TARGET | D2D1_BITMAP_OPTIONS_CANNOT_DRAW,
            .colorContext = nullptr,
        };
        ID2D1Bitmap1* target = nullptr;
        step = d2dContext->CreateBitmapFromDxgiSurface(buffer, &properties, &target);
        ReleaseAndNull(buffer);
        if (FAILED(step)) {
            result = step;
            continue;
        }

        d2dContext->SetTarget(target);
        d2dContext->BeginDraw();
        const D2D1_COLOR_F transparent{0.0f, 0.0f, 0.0f, 0.0f};
        d2dContext->Clear(&transparent);
        for (const Command& command : scene.commands)
            if (drawAll || command.kind == CommandKind::RainbowCursor) DrawCommand(command, *surface);
        step = d2dContext->EndDraw(nullptr, nullptr);
        d2dContext->SetTarget(nullptr);
        ReleaseAndNull(target);
        if (FAILED(step)) {
            result = step;
            continue;
        }

        step = surface->swapChain->Present(1, 0);
        if (FAILED(step)) result = step;
    }

    if (result != S_OK) return result;
    return dcompDevice->Commit();
}

void App::DrawCommand(const Command& command, const MonitorSurface& surface) {
    if (command.kind == CommandKind::RainbowCursor)
        DrawRainbowCursor(surface);
    else
        DrawShape(command, surface);
}

void App::DrawShape(const Command& command, const MonitorSurface& surface) {
    const auto& color = command.color;
    const D2D1_COLOR_F brushColor{color.r / 255.0f, color.g / 255.0f, color.b / 255.0f, color.a / 255.0f};
    ID2D1SolidColorBrush* brush = nullptr;
    if (FAILED(d2dContext->CreateSolidColorBrush(&brushColor, nullptr, &brush))) return;

    // Normalized X coordinates are fractions of this monitor's width, turned
    // into device-independent pixels at this monitor's DPI.
    const bool normalized = (command.flags & NormalizedX) != 0;
    const float width = static_cast<float>(surface.bounds.right - surface.bounds.left);
    const float dpi = static_cast<float>(surface.dpi);
    auto x = [&](float value) { return normalized ? ((value * width) * 96.0f) / dpi : value; };

    const D2D1_RECT_F rect{x(command.rect.left), command.rect.top, x(command.rect.right), command.rect.bottom};
    switch (command.kind) {
        case CommandKind::FillRect:
            d2dContext->FillRectangle(&rect, brush);
            break;
        case CommandKind::StrokeRect:
            d2dContext->DrawRectangle(&rect, brush, command.strokeWidth, nullptr);
            break;
        case CommandKind::Line:
            d2dContext->DrawLine(D2D1_POINT_2F{x(command.line.x1), command.line.y1},
                                 D2D1_POINT_2F{x(command.line.x2), command.line.y2}, brush, command.strokeWidth,
                                 nullptr);
            break;
        case CommandKind::Text:
            DrawTextCommand(command, rect, brush);
            break;
        default:
            break;
    }
    ReleaseAndNull(brush);
}

void App::DrawTextCommand(const Command& command, const D2D1_RECT_F& box, ID2D1Brush* brush) {
    std::wstring text;
    const int bytes = static_cast<int>(command.text.size());
    const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, command.text.data(), bytes, nullptr, 0);
    if (units > 0) {
        text.assign(static_cast<std::size_t>(units), L'\0');
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, command.text.data(), bytes, text.data(), units);
    }

    IDWriteTextFormat* format = nullptr;
    if (FAILED(dwriteFactory->CreateTextFormat(L"Segoe UI", nullptr, static_cast<DWRITE_FONT_WEIGHT>(command.fontWeight),
                                               DWRITE_FONT_STYLE_NORMAL, DWRITE_FONT_STRETCH_NORMAL, command.fontSize,
                                               L"", &format)))
        return;

    DWRITE_TEXT_ALIGNMENT alignment = DWRITE_TEXT_ALIGNMENT_LEADING;
    if (command.alignment == 1) alignment = DWRITE_TEXT_ALIGNMENT_CENTER;
    if (command.alignment == 2) alignment = DWRITE_TEXT_ALIGNMENT_TRAILING;
    format->SetTextAlignment(alignment);
    format->SetParagraphAlignment(DWRITE_PARAGRAPH_ALIGNMENT_CENTER);

    d2dContext->DrawText(text.c_str(), static_cast<UINT32>(text.size()), format, &box, brush,
                         D2D1_DRAW_TEXT_OPTIONS_CLIP, DWRITE_MEASURING_MODE_NATURAL);
    ReleaseAndNull(format);
}

// The arrow follows the cursor only while it is over the game's client area,
// and only on the surface whose window the cursor is in.
void App::DrawRainbowCursor(const MonitorSurface& surface) {
    if (cursorGeometry == nullptr) return;

    const HWND game = FindWindowW(kGameWindow, kGameWindow);
    if (game == nullptr) return;

    POINT screen{};
    if (!GetCursorPos(&screen)) return;

    POINT inGame = screen;
    RECT gameClient{};
    if (!ScreenToClient(game, &inGame) || !GetClientRect(game, &gameClient) || !Inside(inGame, gameClient)) return;

    POINT inSurface = screen;
    RECT surfaceClient{};
    if (!ScreenToClient(surface.window, &inSurface) || !GetClientRect(surface.window, &surfaceClient) ||
        !Inside(inSurface, surfaceClient))
        return;

    const auto elapsed =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - startTime);
    const float seconds = static_cast<float>(static_cast<std::int64_t>(elapsed.count())) / 1e9f;
    const D2D1_COLOR_F color = RainbowColor(seconds);

    ID2D1SolidColorBrush* brush = nullptr;
    if (FAILED(d2dContext->CreateSolidColorBrush(&color, nullptr, &brush))) return;

    D2D1_MATRIX_3X2_F saved{};
    d2dContext->GetTransform(&saved);

    const float scale = 96.0f / static_cast<float>(surface.dpi);
    D2D1_MATRIX_3X2_F translation{};
    translation._11 = 1.0f;
    translation._22 = 1.0f;
    translation._31 = static_cast<float>(inSurface.x) * scale;
    translation._32 = static_cast<float>(inSurface.y) * scale;
    d2dContext->SetTransform(&translation);
    d2dContext->FillGeometry(cursorGeometry, brush, nullptr);
    d2dContext->SetTransform(&saved);
    ReleaseAndNull(brush);
}

int Run(HINSTANCE instance, const wchar_t* commandLine) {
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);

    const DWORD parentPid = ReadParentPid(commandLine);
    if (parentPid == 0) return 1;

    App app(parentPid);
    app.log.Write("renderer starting");

    app.parentProcess = OpenProcess(SYNCHRONIZE, FALSE, app.parentPid);
    if (app.parentProcess == nullptr) {
        app.log.Write("could not open parent process");
        return 2;
    }

    for (const wchar_t* className : {kControlClass, kOverlayClass}) {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof(WNDCLASSEXW);
        windowClass.lpfnWndProc = &App::WindowProc;
        windowClass.hInstance = instance;
        if (className == kOverlayClass) windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.lpszClassName = className;
        if (RegisterClassExW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return 3;
    }

    app.controlWindow = CreateWindowExW(WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW, kControlClass, L"", WS_POPUP, 0, 0, 0, 0,
                                        nullptr, nullptr, instance, nullptr);
    if (app.controlWindow == nullptr) {
        app.log.Write("could not create control window");
        return 4;
    }

    SetTimer(app.controlWindow, kParentTimer, kParentTimerPeriodMs, nullptr);

    if (!app.Rebuild()) {
        // Leave no window behind for the process's end to clean up: the
        // parent may look for this window while the process is going away.
        DestroyWindow(app.controlWindow);
        return 5;
    }

    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    app.log.Write("renderer exiting");
    return static_cast<int>(static_cast<std::uint32_t>(message.wParam));
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) { return Run(instance, commandLine); }
