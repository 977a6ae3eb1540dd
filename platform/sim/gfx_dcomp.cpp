// DirectComposition of the simulated desktop, and what it decides: which
// swap chain each window shows, and the screenshots made from that.
#include <cairo.h>

#include <algorithm>

#include "sim/gfx_internal.h"
#include "sim/graphics.h"

namespace sim::gfx {
namespace {

class CompositionDevice;

// A visual shows a swap chain. What the screen shows is the content at the
// last Commit, kept as a plain pointer: zombies stay readable until reset,
// and a released swap chain simply shows nothing.
class Visual final : public IDCompositionVisual, public Object {
public:
    Visual(Object* device, std::optional<int> monitor)
        : Object("IDCompositionVisual", device->DriverType(), monitor), device_(device) {
        Track(this);
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        return QueryAs<IDCompositionVisual>(*this, this, riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ComAddRef("IDCompositionVisual"); }
    ULONG STDMETHODCALLTYPE Release() override { return ComRelease("IDCompositionVisual"); }

    HRESULT STDMETHODCALLTYPE SetContent(IUnknown* content) override {
        const std::string call = "IDCompositionVisual::SetContent";
        if (!Usable(*this, call)) return E_UNEXPECTED;
        SwapChain* chain = Impl<SwapChain>(content);
        const std::string args = content ? (chain ? "content=swapchain" : "content=foreign") : "content=null";
        if (auto fault = FaultFor(call, this)) return Finish(call, args, fault->result);
        if (content && !chain) {
            ReportMisuse(call + " with content that is not a swap chain of this desktop");
            return Finish(call, args, E_INVALIDARG);
        }
        if (chain && !ArgUsable(*chain, call)) return Finish(call, args, E_INVALIDARG);
        content_.Reset(chain);
        return Finish(call, args, S_OK);
    }

    Object* DeviceObject() const { return device_.get(); }
    SwapChain* Content() const { return content_.get(); }
    SwapChain* committedContent = nullptr;

protected:
    void OnFinalRelease() override {
        content_.Reset();
        device_.Reset();
    }

private:
    Ref<Object> device_;
    Ref<SwapChain> content_;
};

class Target final : public IDCompositionTarget, public Object {
public:
    Target(Object* device, HWND window, BOOL topmost, std::optional<int> monitor)
        : Object("IDCompositionTarget", device->DriverType(), monitor),
          window(window),
          topmost(topmost),
          device_(device) {
        Track(this);
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        return QueryAs<IDCompositionTarget>(*this, this, riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ComAddRef("IDCompositionTarget"); }
    ULONG STDMETHODCALLTYPE Release() override { return ComRelease("IDCompositionTarget"); }

    HRESULT STDMETHODCALLTYPE SetRoot(IDCompositionVisual* visual) override {
        const std::string call = "IDCompositionTarget::SetRoot";
        if (!Usable(*this, call)) return E_UNEXPECTED;
        Visual* root = Impl<Visual>(visual);
        const std::string args = visual ? (root ? "visual=ours" : "visual=foreign") : "visual=null";
        if (auto fault = FaultFor(call, this)) return Finish(call, args, fault->result);
        if (visual && !root) {
            ReportMisuse(call + " with a visual that is not one of this desktop");
            return Finish(call, args, E_INVALIDARG);
        }
        if (root && !ArgUsable(*root, call)) return Finish(call, args, E_INVALIDARG);
        if (root && root->DeviceObject() != device_.get()) return Finish(call, args, E_INVALIDARG);
        root_.Reset(root);
        return Finish(call, args, S_OK);
    }

    const HWND window;
    const BOOL topmost;
    Object* DeviceObject() const { return device_.get(); }
    Visual* Root() const { return root_.get(); }
    bool committed = false;
    Visual* committedRoot = nullptr;

protected:
    void OnFinalRelease() override {
        root_.Reset();
        device_.Reset();
    }

private:
    Ref<Object> device_;
    Ref<Visual> root_;
};

class CompositionDevice final : public IDCompositionDevice, public Object {
public:
    CompositionDevice(Device* device, std::optional<int> driverType)
        : Object("IDCompositionDevice", driverType, std::nullopt), device_(device) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        return QueryAs<IDCompositionDevice>(*this, this, riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ComAddRef("IDCompositionDevice"); }
    ULONG STDMETHODCALLTYPE Release() override { return ComRelease("IDCompositionDevice"); }

    HRESULT STDMETHODCALLTYPE Commit() override {
        const std::string call = "IDCompositionDevice::Commit";
        if (!Usable(*this, call)) return E_UNEXPECTED;
        if (auto fault = FaultFor(call, this)) return Finish(call, "", fault->result);
        int targets = 0;
        for (Target* target : ObjectsOf<Target>()) {
            if (!target->Alive() || target->DeviceObject() != this) continue;
            target->committed = true;
            target->committedRoot = target->Root();
            ++targets;
        }
        for (Visual* visual : ObjectsOf<Visual>())
            if (visual->Alive() && visual->DeviceObject() == this) visual->committedContent = visual->Content();
        return Finish(call, "targets=" + std::to_string(targets), S_OK);
    }

    HRESULT STDMETHODCALLTYPE CreateTargetForHwnd(HWND hwnd, BOOL topmost, IDCompositionTarget** target) override {
        const std::string call = "IDCompositionDevice::CreateTargetForHwnd";
        if (target) *target = nullptr;
        if (!Usable(*this, call)) return E_UNEXPECTED;
        const std::string args = "hwnd=" + std::to_string(reinterpret_cast<std::uintptr_t>(hwnd)) +
                                 " topmost=" + std::to_string(topmost);
        if (auto fault = FaultFor(call, this)) return Finish(call, args, fault->result);
        if (!target) return Finish(call, args, E_POINTER);
        constexpr HRESULT kInvalidWindowHandle = static_cast<HRESULT>(0x80070578);
        WindowView view;
        if (!hwnd || !ViewWindow(hwnd, view)) return Finish(call, args, kInvalidWindowHandle);
        // A window takes one composition target at a time.
        for (Target* other : ObjectsOf<Target>())
            if (other->Alive() && other->window == hwnd)
                return Finish(call, args, DCOMPOSITION_ERROR_WINDOW_ALREADY_COMPOSED);
        const int current = CurrentMonitor();
        *target = Make<Target>(this, hwnd, topmost, current >= 0 ? std::optional<int>(current) : std::nullopt);
        return Finish(call, args, S_OK);
    }

    HRESULT STDMETHODCALLTYPE CreateVisual(IDCompositionVisual** visual) override {
        const std::string call = "IDCompositionDevice::CreateVisual";
        if (visual) *visual = nullptr;
        if (!Usable(*this, call)) return E_UNEXPECTED;
        if (auto fault = FaultFor(call, this)) return Finish(call, "", fault->result);
        if (!visual) return Finish(call, "", E_POINTER);
        const int current = CurrentMonitor();
        *visual = Make<Visual>(this, current >= 0 ? std::optional<int>(current) : std::nullopt);
        return Finish(call, "", S_OK);
    }

protected:
    void OnFinalRelease() override { device_.Reset(); }

private:
    Ref<Device> device_;
};

SwapChain* ContentOf(HWND window) {
    for (Target* target : ObjectsOf<Target>()) {
        if (!target->Alive() || target->window != window || !target->committed) continue;
        Visual* root = target->committedRoot;
        if (!root || !root->Alive()) return nullptr;
        SwapChain* chain = root->committedContent;
        if (!chain || !chain->Alive()) return nullptr;
        return chain;
    }
    return nullptr;
}

Image Copy(PixelBuffer* buffer) {
    Image image;
    if (!buffer) return image;
    image.width = buffer->width;
    image.height = buffer->height;
    const std::uint8_t* data = buffer->Data();
    image.bgra.assign(data, data + buffer->bgra.size());
    return image;
}

// Premultiplied "over": dst = src + dst × (1 − srcAlpha), per channel.
void Over(std::uint8_t* dst, const std::uint8_t* src) {
    const unsigned inverse = 255u - src[3];
    for (int c = 0; c < 4; ++c) dst[c] = static_cast<std::uint8_t>(src[c] + (dst[c] * inverse + 127u) / 255u);
}

}  // namespace
}  // namespace sim::gfx

extern "C" HRESULT WINAPI DCompositionCreateDevice(IDXGIDevice* dxgiDevice, REFIID iid, void** dcompositionDevice) {
    using namespace sim::gfx;
    const std::string call = "DCompositionCreateDevice";
    if (dcompositionDevice) *dcompositionDevice = nullptr;
    Device* device = DeviceOf(dxgiDevice);
    const std::optional<int> driverType = device ? device->DriverType() : AmbientDriverType();
    const std::string args = std::string("iid=") + InterfaceName(iid) + (dxgiDevice ? "" : " device=null");
    if (auto fault = FaultFor(call, driverType)) return Finish(call, args, fault->result);
    if (!dcompositionDevice) return Finish(call, args, E_POINTER);
    if (dxgiDevice && !device) {
        sim::ReportMisuse(call + " with a device that is not a DXGI device of this desktop");
        return Finish(call, args, E_INVALIDARG);
    }
    if (device && !ArgUsable(*device, call)) return Finish(call, args, E_INVALIDARG);
    if (iid != __uuidof(IDCompositionDevice) && iid != __uuidof(IUnknown)) return Finish(call, args, E_NOINTERFACE);
    *dcompositionDevice = static_cast<IDCompositionDevice*>(Make<CompositionDevice>(device, driverType));
    return Finish(call, args, S_OK);
}

namespace sim {

std::array<std::uint8_t, 4> Image::Bgra(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return {0, 0, 0, 0};
    const std::size_t at = (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 4;
    return {bgra[at], bgra[at + 1], bgra[at + 2], bgra[at + 3]};
}

Rgba Image::Pixel(int x, int y) const {
    const auto p = Bgra(x, y);
    if (p[3] == 0) return Rgba{};
    auto straight = [a = p[3]](std::uint8_t c) {
        return static_cast<std::uint8_t>(std::min(255u, (c * 255u + a / 2u) / a));
    };
    return Rgba{straight(p[2]), straight(p[1]), straight(p[0]), p[3]};
}

Image Screenshot(int monitorIndex) {
    const std::vector<MonitorView> monitors = MonitorsView();
    if (monitorIndex < 0 || static_cast<std::size_t>(monitorIndex) >= monitors.size()) return Image{};
    const RECT area = monitors[static_cast<std::size_t>(monitorIndex)].rect;
    Image shot;
    shot.width = area.right - area.left;
    shot.height = area.bottom - area.top;
    shot.bgra.assign(static_cast<std::size_t>(shot.width) * static_cast<std::size_t>(shot.height) * 4, 0);

    std::vector<HWND> windows = WindowsTopToBottom();
    std::reverse(windows.begin(), windows.end());
    for (HWND window : windows) {
        WindowView view;
        if (!ViewWindow(window, view) || !view.visible) continue;
        gfx::SwapChain* chain = gfx::ContentOf(window);
        gfx::PixelBuffer* front = chain ? chain->FrontBuffer() : nullptr;
        if (!front) continue;
        // The visual sits at the window's top-left corner at its own pixel
        // size, cut to the window and to this monitor.
        const LONG left = std::max(view.rect.left, area.left);
        const LONG top = std::max(view.rect.top, area.top);
        const LONG right = std::min({view.rect.right, view.rect.left + front->width, area.right});
        const LONG bottom = std::min({view.rect.bottom, view.rect.top + front->height, area.bottom});
        const std::uint8_t* pixels = front->Data();
        for (LONG y = top; y < bottom; ++y) {
            for (LONG x = left; x < right; ++x) {
                const std::size_t from = (static_cast<std::size_t>(y - view.rect.top) * front->width +
                                          static_cast<std::size_t>(x - view.rect.left)) * 4;
                const std::size_t to = (static_cast<std::size_t>(y - area.top) * shot.width +
                                        static_cast<std::size_t>(x - area.left)) * 4;
                gfx::Over(&shot.bgra[to], pixels + from);
            }
        }
    }
    return shot;
}

bool SavePng(const Image& image, const std::string& path) {
    if (image.Empty()) return false;
    const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, image.width);
    std::vector<std::uint8_t> data(static_cast<std::size_t>(stride) * static_cast<std::size_t>(image.height));
    for (int y = 0; y < image.height; ++y)
        std::copy_n(image.bgra.data() + static_cast<std::size_t>(y) * image.width * 4, image.width * 4,
                    data.data() + static_cast<std::size_t>(y) * stride);
    cairo_surface_t* surface =
        cairo_image_surface_create_for_data(data.data(), CAIRO_FORMAT_ARGB32, image.width, image.height, stride);
    const cairo_status_t status = cairo_surface_write_to_png(surface, path.c_str());
    cairo_surface_destroy(surface);
    return status == CAIRO_STATUS_SUCCESS;
}

IDXGISwapChain1* WindowContent(HWND window) { return gfx::ContentOf(window); }

Image BackBuffer(IDXGISwapChain1* swapChain) {
    auto* chain = gfx::Impl<gfx::SwapChain>(swapChain);
    return chain && chain->Alive() ? gfx::Copy(chain->BackBuffer()) : Image{};
}

Image FrontBuffer(IDXGISwapChain1* swapChain) {
    auto* chain = gfx::Impl<gfx::SwapChain>(swapChain);
    return chain && chain->Alive() ? gfx::Copy(chain->FrontBuffer()) : Image{};
}

}  // namespace sim
