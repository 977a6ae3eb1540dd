// Direct3D 11 and DXGI of the simulated desktop: device creation, the DXGI
// view of the device, adapter and factory, swap chains for composition and
// their buffers.
#include <algorithm>

#include "sim/gfx_internal.h"
#include "sim/graphics.h"

namespace sim::gfx {

// ---- Adapter and factory ----

class Factory final : public IDXGIFactory2, public Object {
public:
    explicit Factory(std::optional<int> driverType) : Object("IDXGIFactory2", driverType, std::nullopt) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ComAddRef("IDXGIFactory2"); }
    ULONG STDMETHODCALLTYPE Release() override { return ComRelease("IDXGIFactory2"); }
    HRESULT STDMETHODCALLTYPE GetParent(REFIID riid, void** parent) override;
    HRESULT STDMETHODCALLTYPE CreateSwapChainForComposition(IUnknown* device, const DXGI_SWAP_CHAIN_DESC1* desc,
                                                            IDXGIOutput* restrictToOutput,
                                                            IDXGISwapChain1** swapChain) override;

    // Hands out this object as `riid` with one more reference, or fails.
    HRESULT Give(REFIID riid, void** object);
};

// The adapter holds its factory, as GetParent shows.
class Adapter final : public IDXGIAdapter, public Object {
public:
    explicit Adapter(std::optional<int> driverType)
        : Object("IDXGIAdapter", driverType, std::nullopt), factory_(Make<Factory>(driverType)) {
        factory_->Drop();  // Make's count moves to the hold above
    }
    Factory* GetFactory() const { return factory_.get(); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ComAddRef("IDXGIAdapter"); }
    ULONG STDMETHODCALLTYPE Release() override { return ComRelease("IDXGIAdapter"); }
    HRESULT STDMETHODCALLTYPE GetParent(REFIID riid, void** parent) override;

protected:
    void OnFinalRelease() override { factory_.Reset(); }

private:
    Ref<Factory> factory_;
};

// Direct3D's immediate context keeps its device alive.
class ImmediateContext final : public ID3D11DeviceContext, public Object {
public:
    explicit ImmediateContext(Device* device)
        : Object("ID3D11DeviceContext", device->DriverType(), std::nullopt), device_(device) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        return QueryAs<ID3D11DeviceContext, ID3D11DeviceChild>(*this, this, riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ComAddRef("ID3D11DeviceContext"); }
    ULONG STDMETHODCALLTYPE Release() override { return ComRelease("ID3D11DeviceContext"); }

protected:
    void OnFinalRelease() override { device_.Reset(); }

private:
    Ref<Device> device_;
};

// ---- Device ----

Device::Device(D3D_DRIVER_TYPE driverType, UINT flags, D3D_FEATURE_LEVEL level)
    : Object("ID3D11Device", static_cast<int>(driverType), std::nullopt), flags_(flags), level_(level) {
    adapter_.Reset(Make<Adapter>(DriverType()));
    adapter_->Drop();
}

void Device::OnFinalRelease() { adapter_.Reset(); }

Adapter* Device::GetAdapterImpl() const { return static_cast<Adapter*>(adapter_.get()); }

HRESULT Device::Query(const char* iface, REFIID riid, void** object) {
    const std::string call = std::string(iface) + "::QueryInterface";
    if (object) *object = nullptr;
    if (!Usable(*this, call)) return E_UNEXPECTED;
    const std::string args = std::string("iid=") + InterfaceName(riid);
    if (auto fault = FaultFor(call, this)) return Finish(call, args, fault->result);
    if (!object) return Finish(call, args, E_POINTER);
    if (riid == __uuidof(ID3D11Device) || riid == __uuidof(IUnknown)) {
        *object = static_cast<ID3D11Device*>(this);
    } else if (riid == __uuidof(IDXGIDevice) || riid == __uuidof(IDXGIObject)) {
        *object = static_cast<IDXGIDevice*>(this);
    } else {
        return Finish(call, args, E_NOINTERFACE);
    }
    Hold();
    return Finish(call, args, S_OK);
}

HRESULT D3DDeviceFace::QueryInterface(REFIID riid, void** object) {
    return static_cast<Device*>(this)->Query("ID3D11Device", riid, object);
}
ULONG D3DDeviceFace::AddRef() { return static_cast<Device*>(this)->ComAddRef("ID3D11Device"); }
ULONG D3DDeviceFace::Release() { return static_cast<Device*>(this)->ComRelease("ID3D11Device"); }

HRESULT DxgiDeviceFace::QueryInterface(REFIID riid, void** object) {
    return static_cast<Device*>(this)->Query("IDXGIDevice", riid, object);
}
ULONG DxgiDeviceFace::AddRef() { return static_cast<Device*>(this)->ComAddRef("IDXGIDevice"); }
ULONG DxgiDeviceFace::Release() { return static_cast<Device*>(this)->ComRelease("IDXGIDevice"); }

HRESULT DxgiDeviceFace::GetParent(REFIID riid, void** parent) {
    Device* device = static_cast<Device*>(this);
    const std::string call = "IDXGIDevice::GetParent";
    if (parent) *parent = nullptr;
    if (!Usable(*device, call)) return E_UNEXPECTED;
    const std::string args = std::string("iid=") + InterfaceName(riid);
    if (auto fault = FaultFor(call, device)) return Finish(call, args, fault->result);
    if (!parent) return Finish(call, args, DXGI_ERROR_INVALID_CALL);
    if (riid != __uuidof(IDXGIAdapter) && riid != __uuidof(IDXGIObject) && riid != __uuidof(IUnknown))
        return Finish(call, args, E_NOINTERFACE);
    Adapter* adapter = device->GetAdapterImpl();
    adapter->Hold();
    *parent = static_cast<IDXGIAdapter*>(adapter);
    return Finish(call, args, S_OK);
}

HRESULT DxgiDeviceFace::GetAdapter(IDXGIAdapter** out) {
    Device* device = static_cast<Device*>(this);
    const std::string call = "IDXGIDevice::GetAdapter";
    if (out) *out = nullptr;
    if (!Usable(*device, call)) return E_UNEXPECTED;
    if (auto fault = FaultFor(call, device)) return Finish(call, "", fault->result);
    if (!out) return Finish(call, "", DXGI_ERROR_INVALID_CALL);
    Adapter* adapter = device->GetAdapterImpl();
    adapter->Hold();
    *out = adapter;
    return Finish(call, "", S_OK);
}

Device* DeviceOf(IUnknown* unknown) { return Impl<Device>(unknown); }

// ---- Adapter and factory methods ----

HRESULT Adapter::QueryInterface(REFIID riid, void** object) {
    return QueryAs<IDXGIAdapter, IDXGIObject>(*this, this, riid, object);
}

HRESULT Adapter::GetParent(REFIID riid, void** parent) {
    const std::string call = "IDXGIAdapter::GetParent";
    if (parent) *parent = nullptr;
    if (!Usable(*this, call)) return E_UNEXPECTED;
    const std::string args = std::string("iid=") + InterfaceName(riid);
    if (auto fault = FaultFor(call, this)) return Finish(call, args, fault->result);
    if (!parent) return Finish(call, args, DXGI_ERROR_INVALID_CALL);
    return Finish(call, args, factory_->Give(riid, parent));
}

HRESULT Factory::Give(REFIID riid, void** object) {
    if (riid == __uuidof(IDXGIFactory2) || riid == __uuidof(IDXGIFactory1) || riid == __uuidof(IDXGIFactory) ||
        riid == __uuidof(IDXGIObject) || riid == __uuidof(IUnknown)) {
        Hold();
        *object = static_cast<IDXGIFactory2*>(this);
        return S_OK;
    }
    return E_NOINTERFACE;
}

HRESULT Factory::QueryInterface(REFIID riid, void** object) {
    const std::string call = "IDXGIFactory2::QueryInterface";
    if (object) *object = nullptr;
    if (!Usable(*this, call)) return E_UNEXPECTED;
    const std::string args = std::string("iid=") + InterfaceName(riid);
    if (auto fault = FaultFor(call, this)) return Finish(call, args, fault->result);
    if (!object) return Finish(call, args, E_POINTER);
    return Finish(call, args, Give(riid, object));
}

HRESULT Factory::GetParent(REFIID riid, void** parent) {
    const std::string call = "IDXGIFactory2::GetParent";
    if (parent) *parent = nullptr;
    if (!Usable(*this, call)) return E_UNEXPECTED;
    return Finish(call, std::string("iid=") + InterfaceName(riid), E_NOINTERFACE);
}

namespace {

// Why DXGI would refuse this description for a composition swap chain, or
// null when it is acceptable.
const char* RefusalOf(const DXGI_SWAP_CHAIN_DESC1& desc) {
    constexpr UINT kMaxDimension = 16384;  // Direct3D 11's largest texture
    constexpr UINT kMaxBuffers = 16;
    if (desc.Width == 0 || desc.Height == 0) return "a zero width or height";
    if (desc.Width > kMaxDimension || desc.Height > kMaxDimension) return "a size above 16384";
    if (desc.SwapEffect != DXGI_SWAP_EFFECT_FLIP_SEQUENTIAL && desc.SwapEffect != DXGI_SWAP_EFFECT_FLIP_DISCARD)
        return "a swap effect other than a flip model";
    if (desc.Format != DXGI_FORMAT_B8G8R8A8_UNORM && desc.Format != DXGI_FORMAT_R8G8B8A8_UNORM &&
        desc.Format != DXGI_FORMAT_R16G16B16A16_FLOAT)
        return "a format a flip-model swap chain cannot have";
    if (desc.BufferCount < 2) return "fewer than 2 buffers with a flip model";
    if (desc.BufferCount > kMaxBuffers) return "more than 16 buffers";
    if (desc.SampleDesc.Count != 1 || desc.SampleDesc.Quality != 0) return "multisampling with a flip model";
    if (desc.Scaling != DXGI_SCALING_STRETCH) return "a scaling other than STRETCH for composition";
    if (desc.Stereo) return "stereo, which this desktop does not have";
    if (desc.AlphaMode == DXGI_ALPHA_MODE_STRAIGHT || desc.AlphaMode > DXGI_ALPHA_MODE_IGNORE)
        return "an alpha mode composition does not take";
    return nullptr;
}

std::string DescText(const DXGI_SWAP_CHAIN_DESC1& d) {
    return "width=" + std::to_string(d.Width) + " height=" + std::to_string(d.Height) +
           " format=" + std::to_string(d.Format) + " stereo=" + std::to_string(d.Stereo) +
           " samples=" + std::to_string(d.SampleDesc.Count) + "," + std::to_string(d.SampleDesc.Quality) +
           " usage=" + Hex(d.BufferUsage) + " buffers=" + std::to_string(d.BufferCount) +
           " scaling=" + std::to_string(d.Scaling) + " effect=" + std::to_string(d.SwapEffect) +
           " alpha=" + std::to_string(d.AlphaMode) + " flags=" + Hex(d.Flags);
}

}  // namespace

HRESULT Factory::CreateSwapChainForComposition(IUnknown* deviceUnknown, const DXGI_SWAP_CHAIN_DESC1* desc,
                                               IDXGIOutput* restrictToOutput, IDXGISwapChain1** swapChain) {
    const std::string call = "IDXGIFactory2::CreateSwapChainForComposition";
    if (swapChain) *swapChain = nullptr;
    if (!Usable(*this, call)) return E_UNEXPECTED;
    const int current = CurrentMonitor();
    const std::optional<int> monitor = current >= 0 ? std::optional<int>(current) : std::nullopt;
    std::string args = desc ? DescText(*desc) : "desc=null";
    if (desc) NoteSwapChainDesc(monitor, *desc);

    Device* device = DeviceOf(deviceUnknown);
    const std::optional<int> driverType = device ? device->DriverType() : DriverType();
    if (auto fault = ShouldFail(call, FaultContext{driverType, monitor})) return Finish(call, args, fault->result);
    if (!deviceUnknown || !desc || !swapChain || restrictToOutput) return Finish(call, args, DXGI_ERROR_INVALID_CALL);
    if (!device) {
        ReportMisuse(call + " with a device that is not a Direct3D device of this desktop");
        return Finish(call, args, DXGI_ERROR_INVALID_CALL);
    }
    if (!Usable(*device, call + " (device)")) return Finish(call, args, DXGI_ERROR_INVALID_CALL);
    if (const char* refusal = RefusalOf(*desc)) {
        ReportMisuse(call + " with " + refusal);
        return Finish(call, args, DXGI_ERROR_INVALID_CALL);
    }
    *swapChain = Make<SwapChain>(device, this, *desc, monitor);
    return Finish(call, args, S_OK);
}

// ---- Swap chain ----

std::uint8_t* PixelBuffer::Data() {
    if (bgra.empty()) bgra.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4, 0);
    return bgra.data();
}

SwapChain::SwapChain(Device* device, Factory* factory, const DXGI_SWAP_CHAIN_DESC1& desc, std::optional<int> monitor)
    : Object("IDXGISwapChain1", device->DriverType(), monitor), desc_(desc), device_(device), factory_(factory) {
    for (UINT i = 0; i < desc.BufferCount; ++i) {
        auto buffer = std::make_shared<PixelBuffer>();
        buffer->width = static_cast<int>(desc.Width);
        buffer->height = static_cast<int>(desc.Height);
        buffers_.push_back(std::move(buffer));
    }
    Track(this);
}

void SwapChain::OnFinalRelease() {
    device_.Reset();
    factory_.Reset();
    buffers_.clear();
}

PixelBuffer* SwapChain::BackBuffer() { return buffers_.empty() ? nullptr : buffers_[back_].get(); }

PixelBuffer* SwapChain::FrontBuffer() {
    if (!front_ || buffers_.empty()) return nullptr;
    return buffers_[*front_].get();
}

HRESULT SwapChain::QueryInterface(REFIID riid, void** object) {
    return QueryAs<IDXGISwapChain1, IDXGISwapChain, IDXGIDeviceSubObject, IDXGIObject>(*this, this, riid, object);
}

HRESULT SwapChain::GetParent(REFIID riid, void** parent) {
    const std::string call = "IDXGISwapChain1::GetParent";
    if (parent) *parent = nullptr;
    if (!Usable(*this, call)) return E_UNEXPECTED;
    const std::string args = std::string("iid=") + InterfaceName(riid);
    if (auto fault = FaultFor(call, this)) return Finish(call, args, fault->result);
    if (!parent) return Finish(call, args, DXGI_ERROR_INVALID_CALL);
    return Finish(call, args, static_cast<Factory*>(factory_.get())->Give(riid, parent));
}

HRESULT SwapChain::Present(UINT syncInterval, UINT flags) {
    const std::string call = "IDXGISwapChain1::Present";
    if (!Usable(*this, call)) return E_UNEXPECTED;
    const std::string args = "sync=" + std::to_string(syncInterval) + " flags=" + Hex(flags);
    // A fault, positive status included, means nothing reached the screen.
    if (auto fault = FaultFor(call, this)) return Finish(call, args, fault->result);
    if (syncInterval > 4) return Finish(call, args, DXGI_ERROR_INVALID_CALL);
    if (flags & DXGI_PRESENT_TEST) return Finish(call, args, S_OK);
    if (ChainBeingDrawn(this)) ReportMisuse(call + " while a Direct2D context is drawing into its back buffer");
    front_ = back_;
    back_ = (back_ + 1) % static_cast<unsigned>(buffers_.size());
    ++presents_;
    return Finish(call, args, S_OK);
}

HRESULT SwapChain::GetBuffer(UINT buffer, REFIID riid, void** surface) {
    const std::string call = "IDXGISwapChain1::GetBuffer";
    if (surface) *surface = nullptr;
    if (!Usable(*this, call)) return E_UNEXPECTED;
    const std::string args = "buffer=" + std::to_string(buffer) + " iid=" + InterfaceName(riid);
    if (auto fault = FaultFor(call, this)) return Finish(call, args, fault->result);
    if (!surface) return Finish(call, args, DXGI_ERROR_INVALID_CALL);
    if (buffer != 0 && desc_.SwapEffect == DXGI_SWAP_EFFECT_FLIP_SEQUENTIAL) {
        ReportMisuse(call + " for buffer " + std::to_string(buffer) +
                     ": a flip-sequential chain only lets its back buffer (0) be drawn");
        return Finish(call, args, DXGI_ERROR_INVALID_CALL);
    }
    if (buffer >= desc_.BufferCount) return Finish(call, args, DXGI_ERROR_INVALID_CALL);
    if (riid != __uuidof(IDXGISurface) && riid != __uuidof(IDXGIDeviceSubObject) && riid != __uuidof(IDXGIObject) &&
        riid != __uuidof(IUnknown))
        return Finish(call, args, E_NOINTERFACE);
    *surface = static_cast<IDXGISurface*>(Make<Surface>(this));
    return Finish(call, args, S_OK);
}

// ---- Surface ----

Surface::Surface(SwapChain* chain) : Object("IDXGISurface", chain->DriverType(), chain->Monitor()), chain_(chain) {}

HRESULT Surface::QueryInterface(REFIID riid, void** object) {
    return QueryAs<IDXGISurface, IDXGIDeviceSubObject, IDXGIObject>(*this, this, riid, object);
}

HRESULT Surface::GetParent(REFIID riid, void** parent) {
    const std::string call = "IDXGISurface::GetParent";
    if (parent) *parent = nullptr;
    if (!Usable(*this, call)) return E_UNEXPECTED;
    return Finish(call, std::string("iid=") + InterfaceName(riid), E_NOINTERFACE);
}

}  // namespace sim::gfx

// ---- D3D11CreateDevice ----

namespace {

bool KnownLevel(D3D_FEATURE_LEVEL level) {
    switch (level) {
        case D3D_FEATURE_LEVEL_9_1:
        case D3D_FEATURE_LEVEL_9_2:
        case D3D_FEATURE_LEVEL_9_3:
        case D3D_FEATURE_LEVEL_10_0:
        case D3D_FEATURE_LEVEL_10_1:
        case D3D_FEATURE_LEVEL_11_0:
        case D3D_FEATURE_LEVEL_11_1:
        case D3D_FEATURE_LEVEL_12_0:
        case D3D_FEATURE_LEVEL_12_1:
            return true;
    }
    return false;
}

}  // namespace

extern "C" HRESULT WINAPI D3D11CreateDevice(IDXGIAdapter* adapter, D3D_DRIVER_TYPE driverType, HMODULE software,
                                            UINT flags, const D3D_FEATURE_LEVEL* featureLevels, UINT featureLevelCount,
                                            UINT sdkVersion, ID3D11Device** device, D3D_FEATURE_LEVEL* featureLevel,
                                            ID3D11DeviceContext** immediateContext) {
    using namespace sim::gfx;
    const std::string call = "D3D11CreateDevice";
    if (device) *device = nullptr;
    if (immediateContext) *immediateContext = nullptr;

    // With no list the runtime's default applies, which stops at 11_0.
    static const D3D_FEATURE_LEVEL kDefaultLevels[] = {D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_10_1,
                                                       D3D_FEATURE_LEVEL_10_0, D3D_FEATURE_LEVEL_9_3,
                                                       D3D_FEATURE_LEVEL_9_2, D3D_FEATURE_LEVEL_9_1};
    std::vector<D3D_FEATURE_LEVEL> levels;
    if (featureLevels)
        levels.assign(featureLevels, featureLevels + featureLevelCount);
    else if (featureLevelCount == 0)
        levels.assign(std::begin(kDefaultLevels), std::end(kDefaultLevels));

    std::string args = "driverType=" + std::to_string(driverType) + " flags=" + Hex(flags) + " levels=";
    for (std::size_t i = 0; i < levels.size(); ++i) args += (i ? "," : "") + Hex(levels[i]);
    args += " count=" + std::to_string(featureLevelCount) + " sdk=" + std::to_string(sdkVersion);

    if (auto fault = sim::ShouldFail(call, sim::FaultContext{static_cast<int>(driverType), AmbientMonitor()}))
        return Finish(call, args, fault->result);
    if (sdkVersion != D3D11_SDK_VERSION || adapter || software) return Finish(call, args, E_INVALIDARG);
    if (driverType != D3D_DRIVER_TYPE_HARDWARE && driverType != D3D_DRIVER_TYPE_WARP)
        return Finish(call, args, E_INVALIDARG);
    if (!featureLevels && featureLevelCount != 0) return Finish(call, args, E_INVALIDARG);
    for (D3D_FEATURE_LEVEL level : levels)
        if (!KnownLevel(level)) return Finish(call, args, E_INVALIDARG);
    const bool rejecting = FeatureLevel11_1Rejected();
    if (rejecting && std::find(levels.begin(), levels.end(), D3D_FEATURE_LEVEL_11_1) != levels.end())
        return Finish(call, args, E_INVALIDARG);

    const D3D_FEATURE_LEVEL highest = rejecting ? D3D_FEATURE_LEVEL_11_0 : D3D_FEATURE_LEVEL_11_1;
    auto chosen = std::find_if(levels.begin(), levels.end(), [&](D3D_FEATURE_LEVEL l) { return l <= highest; });
    if (chosen == levels.end()) return Finish(call, args, DXGI_ERROR_UNSUPPORTED);
    if (featureLevel) *featureLevel = *chosen;
    args += " level=" + Hex(*chosen);
    // Asking for no objects only tests whether the device could be made.
    if (!device && !immediateContext) return Finish(call, args, S_FALSE);

    SetAmbientDriverType(driverType);
    Device* made = Make<Device>(driverType, flags, *chosen);
    if (immediateContext) *immediateContext = Make<ImmediateContext>(made);
    if (device)
        *device = made;
    else
        made->Drop();  // only the context keeps it
    return Finish(call, args, S_OK);
}
