// Direct2D 1.1 of the simulated desktop: factory, device, device context,
// bitmaps on swap-chain buffers, solid brushes and path geometry. Drawing is
// rasterized with Cairo into the target's premultiplied BGRA pixels, at the
// target's DPI.
#include <cairo.h>

#include <cmath>

#include "sim/gfx_internal.h"

namespace sim::gfx {
namespace {

constexpr D2D1_MATRIX_3X2_F kIdentity{1.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f};

std::string PointText(D2D1_POINT_2F p) { return Num(p.x) + "," + Num(p.y); }

}  // namespace

class D2DFactory;
class D2DDevice;

// ---- Path geometry ----

struct Figure {
    D2D1_POINT_2F start{};
    std::vector<D2D1_POINT_2F> points;
    bool filled = true;
    bool closed = false;
};

class PathGeometry final : public ID2D1PathGeometry, public Object {
public:
    PathGeometry(Object* factory) : Object("ID2D1PathGeometry", factory->DriverType(), std::nullopt), factory_(factory) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        return QueryAs<ID2D1PathGeometry, ID2D1Geometry, ID2D1Resource>(*this, this, riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ComAddRef("ID2D1PathGeometry"); }
    ULONG STDMETHODCALLTYPE Release() override { return ComRelease("ID2D1PathGeometry"); }
    HRESULT STDMETHODCALLTYPE Open(ID2D1GeometrySink** geometrySink) override;

    // Empty until opened; Open while the sink is filling it; Closed when the
    // sink's Close succeeded; Failed when it did not.
    enum class Phase { Empty, Open, Closed, Failed };
    Phase phase = Phase::Empty;
    std::vector<Figure> figures;
    Object* FactoryObject() const { return factory_.get(); }

protected:
    void OnFinalRelease() override { factory_.Reset(); }

private:
    Ref<Object> factory_;
};

// Collects figures and hands them to its geometry on Close. Errors of the
// void methods are kept and reported by Close, as on the platform.
class GeometrySink final : public ID2D1GeometrySink, public Object {
public:
    explicit GeometrySink(PathGeometry* geometry)
        : Object("ID2D1GeometrySink", geometry->DriverType(), std::nullopt), geometry_(geometry) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        return QueryAs<ID2D1GeometrySink, ID2D1SimplifiedGeometrySink>(*this, this, riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ComAddRef("ID2D1GeometrySink"); }
    ULONG STDMETHODCALLTYPE Release() override { return ComRelease("ID2D1GeometrySink"); }

    void STDMETHODCALLTYPE BeginFigure(D2D1_POINT_2F startPoint, D2D1_FIGURE_BEGIN figureBegin) override {
        const std::string call = "ID2D1GeometrySink::BeginFigure";
        const std::string args = "start=" + PointText(startPoint) + " begin=" + std::to_string(figureBegin);
        if (!Enter(call, args)) return;
        if (current_) return Fail(call, args, "while a figure is open");
        current_ = Figure{startPoint, {}, figureBegin == D2D1_FIGURE_BEGIN_FILLED, false};
        Record(call, args, S_OK);
    }

    void STDMETHODCALLTYPE AddLines(const D2D1_POINT_2F* points, UINT32 count) override {
        const std::string call = "ID2D1GeometrySink::AddLines";
        std::string args = "points=";
        for (UINT32 i = 0; points && i < count; ++i) args += (i ? ";" : "") + PointText(points[i]);
        if (!Enter(call, args)) return;
        if (!current_) return Fail(call, args, "outside a figure");
        if (!points && count > 0) return Fail(call, args, "with no points");
        current_->points.insert(current_->points.end(), points, points + count);
        Record(call, args, S_OK);
    }

    void STDMETHODCALLTYPE EndFigure(D2D1_FIGURE_END figureEnd) override {
        const std::string call = "ID2D1GeometrySink::EndFigure";
        const std::string args = "end=" + std::to_string(figureEnd);
        if (!Enter(call, args)) return;
        if (!current_) return Fail(call, args, "outside a figure");
        current_->closed = figureEnd == D2D1_FIGURE_END_CLOSED;
        figures_.push_back(std::move(*current_));
        current_.reset();
        Record(call, args, S_OK);
    }

    HRESULT STDMETHODCALLTYPE Close() override {
        const std::string call = "ID2D1GeometrySink::Close";
        if (!Usable(*this, call)) return E_UNEXPECTED;
        if (closed_) {
            ReportMisuse(call + " twice");
            return Finish(call, "", D2DERR_WRONG_STATE);
        }
        if (auto fault = FaultFor(call, this)) Keep(fault->result);
        if (current_ && SUCCEEDED(error_)) {
            ReportMisuse(call + " with a figure still open");
            Keep(D2DERR_WRONG_STATE);
        }
        closed_ = true;
        PathGeometry* geometry = geometry_.get();
        if (SUCCEEDED(error_)) {
            geometry->figures = std::move(figures_);
            geometry->phase = PathGeometry::Phase::Closed;
        } else {
            geometry->phase = PathGeometry::Phase::Failed;
        }
        return Finish(call, "figures=" + std::to_string(geometry->figures.size()), error_);
    }

protected:
    void OnFinalRelease() override {
        // A sink released without Close leaves its geometry unusable.
        if (!closed_ && geometry_) geometry_->phase = PathGeometry::Phase::Failed;
        geometry_.Reset();
    }

private:
    bool Enter(const std::string& call, const std::string& args) {
        if (!Usable(*this, call)) return false;
        if (closed_) {
            ReportMisuse(call + " after Close");
            Record(call, args, D2DERR_WRONG_STATE);
            return false;
        }
        if (auto fault = FaultFor(call, this)) {
            Keep(fault->result);
            Record(call, args, fault->result);
            return false;
        }
        // After a failure the sink ignores the rest, and Close reports it.
        if (FAILED(error_)) {
            Record(call, args, error_);
            return false;
        }
        return true;
    }
    void Fail(const std::string& call, const std::string& args, const char* why) {
        ReportMisuse(call + " " + why);
        Keep(D2DERR_WRONG_STATE);
        Record(call, args, D2DERR_WRONG_STATE);
    }
    void Keep(HRESULT error) {
        if (SUCCEEDED(error_)) error_ = error;
    }

    Ref<PathGeometry> geometry_;
    std::vector<Figure> figures_;
    std::optional<Figure> current_;
    HRESULT error_ = S_OK;
    bool closed_ = false;
};

HRESULT PathGeometry::Open(ID2D1GeometrySink** geometrySink) {
    const std::string call = "ID2D1PathGeometry::Open";
    if (geometrySink) *geometrySink = nullptr;
    if (!Usable(*this, call)) return E_UNEXPECTED;
    if (auto fault = FaultFor(call, this)) return Finish(call, "", fault->result);
    if (!geometrySink) return Finish(call, "", E_POINTER);
    // A path geometry is written once.
    if (phase != Phase::Empty) return Finish(call, "", D2DERR_WRONG_STATE);
    phase = Phase::Open;
    *geometrySink = Make<GeometrySink>(this);
    return Finish(call, "", S_OK);
}

// ---- Factory and device ----

class D2DFactory final : public ID2D1Factory1, public Object {
public:
    explicit D2DFactory(std::optional<int> driverType) : Object("ID2D1Factory1", driverType, std::nullopt) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        return QueryAs<ID2D1Factory1, ID2D1Factory>(*this, this, riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ComAddRef("ID2D1Factory1"); }
    ULONG STDMETHODCALLTYPE Release() override { return ComRelease("ID2D1Factory1"); }

    HRESULT STDMETHODCALLTYPE CreatePathGeometry(ID2D1PathGeometry** pathGeometry) override {
        const std::string call = "ID2D1Factory1::CreatePathGeometry";
        if (pathGeometry) *pathGeometry = nullptr;
        if (!Usable(*this, call)) return E_UNEXPECTED;
        if (auto fault = FaultFor(call, this)) return Finish(call, "", fault->result);
        if (!pathGeometry) return Finish(call, "", E_POINTER);
        *pathGeometry = Make<PathGeometry>(this);
        return Finish(call, "", S_OK);
    }

    HRESULT STDMETHODCALLTYPE CreateDevice(IDXGIDevice* dxgiDevice, ID2D1Device** d2dDevice) override;
};

class D2DDevice final : public ID2D1Device, public Object {
public:
    D2DDevice(D2DFactory* factory, Device* device)
        : Object("ID2D1Device", device->DriverType(), std::nullopt), factory_(factory), device_(device) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        return QueryAs<ID2D1Device, ID2D1Resource>(*this, this, riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ComAddRef("ID2D1Device"); }
    ULONG STDMETHODCALLTYPE Release() override { return ComRelease("ID2D1Device"); }
    HRESULT STDMETHODCALLTYPE CreateDeviceContext(D2D1_DEVICE_CONTEXT_OPTIONS options,
                                                  ID2D1DeviceContext** deviceContext) override;

    Object* FactoryObject() const { return factory_.get(); }
    Device* D3D() const { return device_.get(); }

protected:
    void OnFinalRelease() override {
        device_.Reset();
        factory_.Reset();
    }

private:
    Ref<D2DFactory> factory_;
    Ref<Device> device_;
};

HRESULT D2DFactory::CreateDevice(IDXGIDevice* dxgiDevice, ID2D1Device** d2dDevice) {
    const std::string call = "ID2D1Factory1::CreateDevice";
    if (d2dDevice) *d2dDevice = nullptr;
    if (!Usable(*this, call)) return E_UNEXPECTED;
    Device* device = DeviceOf(dxgiDevice);
    if (auto fault = ShouldFail(call, FaultContext{device ? device->DriverType() : DriverType(), AmbientMonitor()}))
        return Finish(call, "", fault->result);
    if (!dxgiDevice || !d2dDevice) return Finish(call, "", E_INVALIDARG);
    if (!device) {
        ReportMisuse(call + " with a device that is not a DXGI device of this desktop");
        return Finish(call, "", E_INVALIDARG);
    }
    if (!ArgUsable(*device, call)) return Finish(call, "", E_INVALIDARG);
    // Direct2D draws only on devices made with BGRA support.
    if (!device->BgraSupport()) return Finish(call, "bgra=0", E_INVALIDARG);
    *d2dDevice = Make<D2DDevice>(this, device);
    return Finish(call, "", S_OK);
}

// ---- Resources made by a device context ----

class Bitmap final : public ID2D1Bitmap1, public Object {
public:
    Bitmap(Surface* surface, D2DDevice* owner, FLOAT dpiX, FLOAT dpiY, D2D1_BITMAP_OPTIONS options)
        : Object("ID2D1Bitmap1", surface->DriverType(), surface->Monitor()),
          dpiX(dpiX),
          dpiY(dpiY),
          options(options),
          surface_(surface),
          owner_(owner) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        return QueryAs<ID2D1Bitmap1, ID2D1Bitmap, ID2D1Image, ID2D1Resource>(*this, this, riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ComAddRef("ID2D1Bitmap1"); }
    ULONG STDMETHODCALLTYPE Release() override { return ComRelease("ID2D1Bitmap1"); }

    const FLOAT dpiX;
    const FLOAT dpiY;
    const D2D1_BITMAP_OPTIONS options;
    D2DDevice* Owner() const { return owner_.get(); }
    SwapChain* Chain() const { return surface_ ? surface_->Chain() : nullptr; }
    PixelBuffer* Pixels() const { return Chain() ? Chain()->BackBuffer() : nullptr; }

protected:
    void OnFinalRelease() override {
        surface_.Reset();
        owner_.Reset();
    }

private:
    Ref<Surface> surface_;
    Ref<D2DDevice> owner_;
};

class SolidBrush final : public ID2D1SolidColorBrush, public Object {
public:
    SolidBrush(D2DDevice* owner, D2D1_COLOR_F color, FLOAT opacity)
        : Object("ID2D1SolidColorBrush", owner->DriverType(), AmbientMonitor()),
          color(color),
          opacity(opacity),
          owner_(owner) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        return QueryAs<ID2D1SolidColorBrush, ID2D1Brush, ID2D1Resource>(*this, this, riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ComAddRef("ID2D1SolidColorBrush"); }
    ULONG STDMETHODCALLTYPE Release() override { return ComRelease("ID2D1SolidColorBrush"); }

    const D2D1_COLOR_F color;  // straight alpha
    const FLOAT opacity;
    D2DDevice* Owner() const { return owner_.get(); }

protected:
    void OnFinalRelease() override { owner_.Reset(); }

private:
    Ref<D2DDevice> owner_;
};

// ---- Device context ----

class DeviceContext final : public ID2D1DeviceContext, public Object {
public:
    explicit DeviceContext(D2DDevice* device)
        : Object("ID2D1DeviceContext", device->DriverType(), std::nullopt), device_(device) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        return QueryAs<ID2D1DeviceContext, ID2D1RenderTarget, ID2D1Resource>(*this, this, riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ComAddRef("ID2D1DeviceContext"); }
    ULONG STDMETHODCALLTYPE Release() override { return ComRelease("ID2D1DeviceContext"); }

    std::optional<int> CallMonitor() const override {
        if (target_) return target_->Monitor();
        return AmbientMonitor();
    }
    const Bitmap* Target() const { return drawing_ ? target_.get() : nullptr; }

    HRESULT STDMETHODCALLTYPE CreateBitmapFromDxgiSurface(IDXGISurface* surface,
                                                          const D2D1_BITMAP_PROPERTIES1* properties,
                                                          ID2D1Bitmap1** bitmap) override;
    HRESULT STDMETHODCALLTYPE CreateSolidColorBrush(const D2D1_COLOR_F* color, const D2D1_BRUSH_PROPERTIES* properties,
                                                    ID2D1SolidColorBrush** brush) override;
    void STDMETHODCALLTYPE SetTarget(ID2D1Image* image) override;
    void STDMETHODCALLTYPE BeginDraw() override;
    HRESULT STDMETHODCALLTYPE EndDraw(D2D1_TAG* tag1, D2D1_TAG* tag2) override;
    void STDMETHODCALLTYPE Clear(const D2D1_COLOR_F* clearColor) override;
    void STDMETHODCALLTYPE FillRectangle(const D2D1_RECT_F* rect, ID2D1Brush* brush) override;
    void STDMETHODCALLTYPE DrawRectangle(const D2D1_RECT_F* rect, ID2D1Brush* brush, FLOAT strokeWidth,
                                         ID2D1StrokeStyle* strokeStyle) override;
    void STDMETHODCALLTYPE DrawLine(D2D1_POINT_2F point0, D2D1_POINT_2F point1, ID2D1Brush* brush, FLOAT strokeWidth,
                                    ID2D1StrokeStyle* strokeStyle) override;
    void STDMETHODCALLTYPE FillGeometry(ID2D1Geometry* geometry, ID2D1Brush* brush, ID2D1Brush* opacityBrush) override;
    void STDMETHODCALLTYPE DrawText(const WCHAR* string, UINT32 length, IDWriteTextFormat* textFormat,
                                    const D2D1_RECT_F* layoutRect, ID2D1Brush* brush, D2D1_DRAW_TEXT_OPTIONS options,
                                    DWRITE_MEASURING_MODE measuringMode) override;
    void STDMETHODCALLTYPE SetTransform(const D2D1_MATRIX_3X2_F* transform) override;
    void STDMETHODCALLTYPE GetTransform(D2D1_MATRIX_3X2_F* transform) const override;

protected:
    void OnFinalRelease() override {
        if (drawing_) StopDrawing();
        target_.Reset();
        device_.Reset();
    }

private:
    // The common start of a drawing call: alive, not faulted, inside
    // BeginDraw/EndDraw with a target. A fault is kept for EndDraw.
    bool EnterDraw(const std::string& call, const std::string& args);
    SolidBrush* BrushFor(ID2D1Brush* brush, const std::string& call, const std::string& args);
    void Keep(HRESULT error) const {
        if (SUCCEEDED(pending_)) pending_ = error;
    }
    void StopDrawing() {
        drawing_ = false;
        SetDrawing(this, false);
        SetDrawingMonitor(std::nullopt);
    }
    // Runs `draw` on a Cairo context over the target's pixels, in device-
    // independent pixels under the current transform (or in raw pixels).
    template <class Draw>
    void Paint(bool inPixels, Draw&& draw);

    Ref<D2DDevice> device_;
    Ref<Bitmap> target_;
    bool drawing_ = false;
    mutable HRESULT pending_ = S_OK;
    D2D1_MATRIX_3X2_F transform_ = kIdentity;
};

HRESULT D2DDevice::CreateDeviceContext(D2D1_DEVICE_CONTEXT_OPTIONS options, ID2D1DeviceContext** deviceContext) {
    const std::string call = "ID2D1Device::CreateDeviceContext";
    if (deviceContext) *deviceContext = nullptr;
    if (!Usable(*this, call)) return E_UNEXPECTED;
    const std::string args = "options=" + Hex(options);
    if (auto fault = FaultFor(call, this)) return Finish(call, args, fault->result);
    if (!deviceContext) return Finish(call, args, E_POINTER);
    if (static_cast<unsigned>(options) & ~static_cast<unsigned>(D2D1_DEVICE_CONTEXT_OPTIONS_ENABLE_MULTITHREADED_OPTIMIZATIONS))
        return Finish(call, args, E_INVALIDARG);
    *deviceContext = Make<DeviceContext>(this);
    return Finish(call, args, S_OK);
}

HRESULT DeviceContext::CreateBitmapFromDxgiSurface(IDXGISurface* dxgiSurface, const D2D1_BITMAP_PROPERTIES1* properties,
                                                   ID2D1Bitmap1** bitmap) {
    const std::string call = "ID2D1DeviceContext::CreateBitmapFromDxgiSurface";
    if (bitmap) *bitmap = nullptr;
    if (!Usable(*this, call)) return E_UNEXPECTED;
    Surface* surface = Impl<Surface>(dxgiSurface);
    SwapChain* chain = surface ? surface->Chain() : nullptr;

    // Without properties the bitmap takes the surface's format at 96 DPI.
    D2D1_BITMAP_PROPERTIES1 props{};
    if (properties) {
        props = *properties;
    } else {
        props.pixelFormat = {chain ? chain->Desc().Format : DXGI_FORMAT_UNKNOWN, D2D1_ALPHA_MODE_PREMULTIPLIED};
        props.bitmapOptions = D2D1_BITMAP_OPTIONS_TARGET | D2D1_BITMAP_OPTIONS_CANNOT_DRAW;
    }
    const std::string args = "format=" + std::to_string(props.pixelFormat.format) +
                             " alpha=" + std::to_string(props.pixelFormat.alphaMode) + " dpi=" + Num(props.dpiX) +
                             "," + Num(props.dpiY) + " options=" + Hex(props.bitmapOptions);

    if (auto fault = FaultFor(call, surface ? static_cast<const Object*>(surface) : this))
        return Finish(call, args, fault->result);
    if (!dxgiSurface || !bitmap) return Finish(call, args, E_INVALIDARG);
    if (!surface || !chain) {
        ReportMisuse(call + " with a surface that is not a swap-chain buffer of this desktop");
        return Finish(call, args, E_INVALIDARG);
    }
    if (!ArgUsable(*surface, call)) return Finish(call, args, E_INVALIDARG);
    if (chain->OwnerDevice() != device_->D3D()) return Finish(call, args, E_INVALIDARG);

    const DXGI_FORMAT format =
        props.pixelFormat.format == DXGI_FORMAT_UNKNOWN ? chain->Desc().Format : props.pixelFormat.format;
    const D2D1_ALPHA_MODE alpha = props.pixelFormat.alphaMode;
    // This desktop rasterizes into BGRA only; the platform also takes RGBA.
    if (format != chain->Desc().Format || format != DXGI_FORMAT_B8G8R8A8_UNORM)
        return Finish(call, args, D2DERR_UNSUPPORTED_PIXEL_FORMAT);
    if (alpha == D2D1_ALPHA_MODE_STRAIGHT || alpha > D2D1_ALPHA_MODE_IGNORE)
        return Finish(call, args, D2DERR_UNSUPPORTED_PIXEL_FORMAT);

    const D2D1_BITMAP_OPTIONS options = props.bitmapOptions;
    const bool target = (options & D2D1_BITMAP_OPTIONS_TARGET) != 0;
    const bool cannotDraw = (options & D2D1_BITMAP_OPTIONS_CANNOT_DRAW) != 0;
    const bool cpuRead = (options & D2D1_BITMAP_OPTIONS_CPU_READ) != 0;
    // A buffer that shaders cannot read can only become a bitmap that is never
    // drawn from; CPU-readable bitmaps are never targets.
    if (!cannotDraw && !(chain->Desc().BufferUsage & DXGI_USAGE_SHADER_INPUT)) return Finish(call, args, E_INVALIDARG);
    if (cpuRead && (target || !cannotDraw)) return Finish(call, args, E_INVALIDARG);

    FLOAT dpiX = props.dpiX;
    FLOAT dpiY = props.dpiY;
    if (dpiX == 0.0f && dpiY == 0.0f) dpiX = dpiY = 96.0f;  // zero means the default DPI
    if (!(dpiX > 0.0f) || !(dpiY > 0.0f) || !std::isfinite(dpiX) || !std::isfinite(dpiY))
        return Finish(call, args, E_INVALIDARG);

    *bitmap = Make<Bitmap>(surface, device_.get(), dpiX, dpiY, options);
    return Finish(call, args, S_OK);
}

HRESULT DeviceContext::CreateSolidColorBrush(const D2D1_COLOR_F* color, const D2D1_BRUSH_PROPERTIES* properties,
                                             ID2D1SolidColorBrush** brush) {
    const std::string call = "ID2D1DeviceContext::CreateSolidColorBrush";
    if (brush) *brush = nullptr;
    if (!Usable(*this, call)) return E_UNEXPECTED;
    const FLOAT opacity = properties ? properties->opacity : 1.0f;
    const std::string args = (color ? "color=" + ColorText(*color) : std::string("color=null")) +
                             " opacity=" + Num(opacity);
    if (auto fault = FaultFor(call, this)) return Finish(call, args, fault->result);
    if (!brush) return Finish(call, args, E_POINTER);
    if (!color) {
        ReportMisuse(call + " without a colour");
        return Finish(call, args, E_INVALIDARG);
    }
    *brush = Make<SolidBrush>(device_.get(), *color, opacity);
    return Finish(call, args, S_OK);
}

void DeviceContext::SetTarget(ID2D1Image* image) {
    const std::string call = "ID2D1DeviceContext::SetTarget";
    if (!Usable(*this, call)) return;
    Bitmap* bitmap = Impl<Bitmap>(image);
    const std::string args = image ? "image=" + std::string(bitmap ? "bitmap" : "foreign") : "image=null";
    // A fault is reported by the next EndDraw; the target is still taken, so
    // the fault alone never turns into misuse further on.
    HRESULT result = S_OK;
    if (auto fault = FaultFor(call, this)) {
        Keep(fault->result);
        result = fault->result;
    }
    HRESULT refusal = S_OK;
    if (image && !bitmap) {
        ReportMisuse(call + " with an image that is not a bitmap of this desktop");
        refusal = E_INVALIDARG;
    } else if (bitmap && !ArgUsable(*bitmap, call)) {
        refusal = E_INVALIDARG;
    } else if (bitmap && bitmap->Owner() != device_.get()) {
        ReportMisuse(call + " with a bitmap of another Direct2D device");
        refusal = D2DERR_WRONG_RESOURCE_DOMAIN;
    } else if (bitmap && !(bitmap->options & D2D1_BITMAP_OPTIONS_TARGET)) {
        ReportMisuse(call + " with a bitmap made without D2D1_BITMAP_OPTIONS_TARGET");
        refusal = E_INVALIDARG;
    }
    if (FAILED(refusal)) {
        Keep(refusal);
        Record(call, args, refusal);
        return;
    }
    target_.Reset(bitmap);
    if (drawing_) SetDrawingMonitor(bitmap ? bitmap->Monitor() : std::nullopt);
    Record(call, args, result);
}

void DeviceContext::BeginDraw() {
    const std::string call = "ID2D1DeviceContext::BeginDraw";
    if (!Usable(*this, call)) return;
    HRESULT result = S_OK;
    if (auto fault = FaultFor(call, this)) {
        Keep(fault->result);
        result = fault->result;
    }
    if (drawing_) {
        ReportMisuse(call + " again before EndDraw");
        Keep(D2DERR_WRONG_STATE);
        Record(call, "", D2DERR_WRONG_STATE);
        return;
    }
    if (!target_) {
        ReportMisuse(call + " without a target");
        Keep(D2DERR_WRONG_STATE);
        result = D2DERR_WRONG_STATE;
    }
    drawing_ = true;
    SetDrawing(this, true);
    SetDrawingMonitor(target_ ? target_->Monitor() : std::nullopt);
    Record(call, "", result);
}

HRESULT DeviceContext::EndDraw(D2D1_TAG* tag1, D2D1_TAG* tag2) {
    const std::string call = "ID2D1DeviceContext::EndDraw";
    if (tag1) *tag1 = 0;
    if (tag2) *tag2 = 0;
    if (!Usable(*this, call)) return E_UNEXPECTED;
    auto fault = FaultFor(call, this);
    if (!drawing_) {
        ReportMisuse(call + " without BeginDraw");
        return Finish(call, "", fault ? fault->result : D2DERR_WRONG_STATE);
    }
    StopDrawing();
    const HRESULT result = fault ? fault->result : pending_;
    pending_ = S_OK;
    return Finish(call, "", result);
}

bool DeviceContext::EnterDraw(const std::string& call, const std::string& args) {
    if (!Usable(*this, call)) return false;
    if (auto fault = FaultFor(call, this)) {
        Keep(fault->result);
        Record(call, args, fault->result);
        return false;
    }
    if (!drawing_) {
        ReportMisuse(call + " outside BeginDraw/EndDraw");
        Record(call, args, D2DERR_WRONG_STATE);
        return false;
    }
    if (!target_) {  // BeginDraw already reported it
        Record(call, args, D2DERR_WRONG_STATE);
        return false;
    }
    return true;
}

SolidBrush* DeviceContext::BrushFor(ID2D1Brush* brush, const std::string& call, const std::string& args) {
    SolidBrush* solid = Impl<SolidBrush>(brush);
    HRESULT refusal = S_OK;
    if (!solid) {
        ReportMisuse(call + " without a brush of this desktop");
        refusal = E_INVALIDARG;
    } else if (!ArgUsable(*solid, call)) {
        refusal = E_INVALIDARG;
    } else if (solid->Owner() != device_.get()) {
        ReportMisuse(call + " with a brush of another Direct2D device");
        refusal = D2DERR_WRONG_RESOURCE_DOMAIN;
    }
    if (FAILED(refusal)) {
        Keep(refusal);
        Record(call, args, refusal);
        return nullptr;
    }
    return solid;
}

template <class Draw>
void DeviceContext::Paint(bool inPixels, Draw&& draw) {
    PixelBuffer* pixels = target_ ? target_->Pixels() : nullptr;
    if (!pixels) return;
    cairo_surface_t* surface = cairo_image_surface_create_for_data(pixels->Data(), CAIRO_FORMAT_ARGB32, pixels->width,
                                                                   pixels->height, pixels->Stride());
    cairo_t* cr = cairo_create(surface);
    if (!inPixels) {
        // Device-independent pixels under the world transform, then the DPI scale.
        cairo_matrix_t world;
        cairo_matrix_init(&world, transform_._11, transform_._12, transform_._21, transform_._22, transform_._31,
                          transform_._32);
        cairo_matrix_t dpi;
        cairo_matrix_init_scale(&dpi, target_->dpiX / 96.0, target_->dpiY / 96.0);
        cairo_matrix_t total;
        cairo_matrix_multiply(&total, &world, &dpi);
        cairo_set_matrix(cr, &total);
    }
    draw(cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    cairo_surface_destroy(surface);
}

namespace {

void SetSource(cairo_t* cr, const SolidBrush& brush) {
    cairo_set_source_rgba(cr, brush.color.r, brush.color.g, brush.color.b, brush.color.a * brush.opacity);
}

bool Drawable(FLOAT strokeWidth) { return strokeWidth > 0.0f && std::isfinite(strokeWidth); }

}  // namespace

void DeviceContext::Clear(const D2D1_COLOR_F* clearColor) {
    const std::string call = "ID2D1DeviceContext::Clear";
    // No colour clears to transparent black.
    const D2D1_COLOR_F color = clearColor ? *clearColor : D2D1_COLOR_F{0.0f, 0.0f, 0.0f, 0.0f};
    const std::string args = "color=" + ColorText(color);
    if (!EnterDraw(call, args)) return;
    Paint(true, [&](cairo_t* cr) {
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        cairo_set_source_rgba(cr, color.r, color.g, color.b, color.a);
        cairo_paint(cr);
    });
    Record(call, args, S_OK);
}

void DeviceContext::FillRectangle(const D2D1_RECT_F* rect, ID2D1Brush* brush) {
    const std::string call = "ID2D1DeviceContext::FillRectangle";
    const std::string args = rect ? "rect=" + RectText(*rect) : std::string("rect=null");
    if (!EnterDraw(call, args)) return;
    SolidBrush* solid = BrushFor(brush, call, args);
    if (!solid) return;
    if (!rect) {
        ReportMisuse(call + " without a rectangle");
        Record(call, args, E_INVALIDARG);
        return;
    }
    Paint(false, [&](cairo_t* cr) {
        SetSource(cr, *solid);
        cairo_rectangle(cr, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top);
        cairo_fill(cr);
    });
    Record(call, args + " brush=" + ColorText(solid->color), S_OK);
}

void DeviceContext::DrawRectangle(const D2D1_RECT_F* rect, ID2D1Brush* brush, FLOAT strokeWidth,
                                  ID2D1StrokeStyle* strokeStyle) {
    const std::string call = "ID2D1DeviceContext::DrawRectangle";
    const std::string args = (rect ? "rect=" + RectText(*rect) : std::string("rect=null")) +
                             " width=" + Num(strokeWidth) + (strokeStyle ? " style=custom" : "");
    if (!EnterDraw(call, args)) return;
    SolidBrush* solid = BrushFor(brush, call, args);
    if (!solid) return;
    if (!rect) {
        ReportMisuse(call + " without a rectangle");
        Record(call, args, E_INVALIDARG);
        return;
    }
    if (Drawable(strokeWidth)) {
        Paint(false, [&](cairo_t* cr) {
            SetSource(cr, *solid);
            cairo_set_line_width(cr, strokeWidth);
            cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
            cairo_set_miter_limit(cr, 10.0);
            cairo_rectangle(cr, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top);
            cairo_stroke(cr);
        });
    }
    Record(call, args + " brush=" + ColorText(solid->color), S_OK);
}

void DeviceContext::DrawLine(D2D1_POINT_2F point0, D2D1_POINT_2F point1, ID2D1Brush* brush, FLOAT strokeWidth,
                             ID2D1StrokeStyle* strokeStyle) {
    const std::string call = "ID2D1DeviceContext::DrawLine";
    const std::string args = "from=" + PointText(point0) + " to=" + PointText(point1) + " width=" + Num(strokeWidth) +
                             (strokeStyle ? " style=custom" : "");
    if (!EnterDraw(call, args)) return;
    SolidBrush* solid = BrushFor(brush, call, args);
    if (!solid) return;
    if (Drawable(strokeWidth)) {
        Paint(false, [&](cairo_t* cr) {
            SetSource(cr, *solid);
            cairo_set_line_width(cr, strokeWidth);
            cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
            cairo_move_to(cr, point0.x, point0.y);
            cairo_line_to(cr, point1.x, point1.y);
            cairo_stroke(cr);
        });
    }
    Record(call, args + " brush=" + ColorText(solid->color), S_OK);
}

void DeviceContext::FillGeometry(ID2D1Geometry* geometry, ID2D1Brush* brush, ID2D1Brush* opacityBrush) {
    const std::string call = "ID2D1DeviceContext::FillGeometry";
    const std::string args = "transform=" + MatrixText(transform_) + (opacityBrush ? " opacityBrush=set" : "");
    if (!EnterDraw(call, args)) return;
    SolidBrush* solid = BrushFor(brush, call, args);
    if (!solid) return;
    PathGeometry* path = Impl<PathGeometry>(geometry);
    HRESULT refusal = S_OK;
    if (!path) {
        ReportMisuse(call + " without a path geometry of this desktop");
        refusal = E_INVALIDARG;
    } else if (!ArgUsable(*path, call)) {
        refusal = E_INVALIDARG;
    } else if (path->FactoryObject() != device_->FactoryObject()) {
        ReportMisuse(call + " with a geometry of another Direct2D factory");
        refusal = D2DERR_WRONG_FACTORY;
    } else if (path->phase != PathGeometry::Phase::Closed) {
        ReportMisuse(call + " with a path geometry that was not closed successfully");
        refusal = D2DERR_WRONG_STATE;
    }
    if (FAILED(refusal)) {
        Keep(refusal);
        Record(call, args, refusal);
        return;
    }
    NoteFillGeometryTransform(transform_);
    Paint(false, [&](cairo_t* cr) {
        SetSource(cr, *solid);
        // The default fill mode, alternate, is Cairo's even-odd rule; a fill
        // closes open figures and leaves hollow ones out.
        cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
        for (const Figure& figure : path->figures) {
            if (!figure.filled) continue;
            cairo_move_to(cr, figure.start.x, figure.start.y);
            for (const D2D1_POINT_2F& point : figure.points) cairo_line_to(cr, point.x, point.y);
            cairo_close_path(cr);
        }
        cairo_fill(cr);
    });
    Record(call, args + " brush=" + ColorText(solid->color), S_OK);
}

void DeviceContext::DrawText(const WCHAR* string, UINT32 length, IDWriteTextFormat* textFormat,
                             const D2D1_RECT_F* layoutRect, ID2D1Brush* brush, D2D1_DRAW_TEXT_OPTIONS options,
                             DWRITE_MEASURING_MODE measuringMode) {
    const std::string call = "ID2D1DeviceContext::DrawText";
    const std::string text = string ? Utf16ToUtf8(string, length) : std::string();
    TextFormat* format = Impl<TextFormat>(textFormat);
    std::string args = "text=\"" + text + "\" length=" + std::to_string(length) +
                       (layoutRect ? " rect=" + RectText(*layoutRect) : std::string(" rect=null")) +
                       " options=" + Hex(options) + " measuring=" + std::to_string(measuringMode);
    if (format)
        args += " family=" + format->familyUtf8 + " size=" + Num(format->size) +
                " weight=" + std::to_string(format->weight) + " align=" + std::to_string(format->textAlignment) +
                " paragraph=" + std::to_string(format->paragraphAlignment);
    if (!EnterDraw(call, args)) return;
    SolidBrush* solid = BrushFor(brush, call, args);
    if (!solid) return;
    const char* missing = nullptr;
    if (!format) missing = "without a text format of this desktop";
    else if (!layoutRect) missing = "without a layout rectangle";
    else if (!string && length > 0) missing = "without a string";
    if (missing) {
        ReportMisuse(call + " " + missing);
        Keep(E_INVALIDARG);
        Record(call, args, E_INVALIDARG);
        return;
    }
    if (!ArgUsable(*format, call)) {
        Keep(E_INVALIDARG);
        Record(call, args, E_INVALIDARG);
        return;
    }
    if (!text.empty()) {
        Paint(false, [&](cairo_t* cr) {
            SetSource(cr, *solid);
            PaintText(cr, text, *format, *layoutRect, (options & D2D1_DRAW_TEXT_OPTIONS_CLIP) != 0);
        });
    }
    Record(call, args + " brush=" + ColorText(solid->color), S_OK);
}

void DeviceContext::SetTransform(const D2D1_MATRIX_3X2_F* transform) {
    const std::string call = "ID2D1DeviceContext::SetTransform";
    if (!Usable(*this, call)) return;
    const std::string args = transform ? "transform=" + MatrixText(*transform) : std::string("transform=null");
    if (auto fault = FaultFor(call, this)) {
        Keep(fault->result);
        Record(call, args, fault->result);
        return;
    }
    if (!transform) {
        ReportMisuse(call + " without a matrix");
        Record(call, args, E_INVALIDARG);
        return;
    }
    transform_ = *transform;
    Record(call, args, S_OK);
}

void DeviceContext::GetTransform(D2D1_MATRIX_3X2_F* transform) const {
    const std::string call = "ID2D1DeviceContext::GetTransform";
    if (!Usable(*this, call)) return;
    if (auto fault = FaultFor(call, this)) {
        Keep(fault->result);
        Record(call, "", fault->result);
        return;
    }
    if (!transform) {
        ReportMisuse(call + " without a matrix to fill");
        Record(call, "", E_INVALIDARG);
        return;
    }
    *transform = transform_;
    Record(call, "transform=" + MatrixText(transform_), S_OK);
}

bool ChainBeingDrawn(const SwapChain* chain) {
    for (Object* object : DrawingContexts()) {
        const Bitmap* target = static_cast<DeviceContext*>(object)->Target();
        if (target && target->Chain() == chain) return true;
    }
    return false;
}

}  // namespace sim::gfx

extern "C" HRESULT WINAPI D2D1CreateFactory(D2D1_FACTORY_TYPE factoryType, REFIID riid,
                                            const D2D1_FACTORY_OPTIONS* factoryOptions, void** factory) {
    using namespace sim::gfx;
    const std::string call = "D2D1CreateFactory";
    if (factory) *factory = nullptr;
    const std::string args = "type=" + std::to_string(factoryType) + " iid=" + InterfaceName(riid) +
                             (factoryOptions ? " debug=" + std::to_string(factoryOptions->debugLevel) : "");
    if (auto fault = FaultFor(call, AmbientDriverType())) return Finish(call, args, fault->result);
    if (!factory) return Finish(call, args, E_POINTER);
    if (factoryType != D2D1_FACTORY_TYPE_SINGLE_THREADED && factoryType != D2D1_FACTORY_TYPE_MULTI_THREADED)
        return Finish(call, args, E_INVALIDARG);
    if (riid != __uuidof(ID2D1Factory1) && riid != __uuidof(ID2D1Factory) && riid != __uuidof(IUnknown))
        return Finish(call, args, E_NOINTERFACE);
    *factory = static_cast<ID2D1Factory1*>(Make<D2DFactory>(AmbientDriverType()));
    return Finish(call, args, S_OK);
}
