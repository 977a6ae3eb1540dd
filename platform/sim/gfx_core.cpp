// The object model and call bookkeeping of the graphics side, its reset, and
// the state-reading part of sim/graphics.h.
#include <cstdio>
#include <map>

#include "sim/gfx_internal.h"
#include "sim/graphics.h"

namespace sim::gfx {
namespace {

struct GraphicsState {
    std::vector<std::unique_ptr<Object>> objects;  // every object ever made, zombies included
    std::vector<Object*> tracked;
    std::vector<Object*> drawing;
    bool tearingDown = false;
    bool rejectLevel11_1 = false;
    std::optional<int> drawingMonitor;
    std::optional<int> ambientDriverType;
    std::map<int, DXGI_SWAP_CHAIN_DESC1> lastDescs;
    std::vector<D2D1_MATRIX_3X2_F> fillGeometryTransforms;
};

void Clear(GraphicsState& state) {
    state.tearingDown = true;
    state.tracked.clear();
    state.drawing.clear();
    state.objects.clear();
    state.tearingDown = false;
    state.rejectLevel11_1 = false;
    state.drawingMonitor.reset();
    state.ambientDriverType.reset();
    state.lastDescs.clear();
    state.fillGeometryTransforms.clear();
}

GraphicsState& State() {
    static GraphicsState* state = [] {
        auto* created = new GraphicsState;
        OnReset([created] { Clear(*created); });
        return created;
    }();
    return *state;
}

std::string CallName(const char* iface, const char* method) { return std::string(iface) + "::" + method; }

}  // namespace

// ---- Objects ----

Object::Object(const char* type, std::optional<int> driverType, std::optional<int> monitor)
    : type_(type), driverType_(driverType), monitor_(monitor) {
    registryId_ = RegisterObject(type_);
}

ULONG Object::ComAddRef(const char* iface) {
    const std::string call = CallName(iface, "AddRef");
    if (!Usable(*this, call)) return 0;
    ++refs_;
    UpdateObjectRefs(registryId_, refs_);
    Record(call, "refs=" + std::to_string(refs_), static_cast<long>(refs_));
    return refs_;
}

ULONG Object::ComRelease(const char* iface) {
    const std::string call = CallName(iface, "Release");
    if (refs_ == 0) {
        ReportMisuse(call + " below zero (the object was already released)");
        Record(call, "refs=0", 0);
        return 0;
    }
    --refs_;
    Record(call, "refs=" + std::to_string(refs_), static_cast<long>(refs_));
    if (refs_ == 0)
        Die();
    else
        UpdateObjectRefs(registryId_, refs_);
    return refs_;
}

void Object::Hold() {
    if (refs_ == 0) {
        ReportMisuse(std::string(type_) + " taken by another object after it was released");
        return;
    }
    ++refs_;
    UpdateObjectRefs(registryId_, refs_);
}

void Object::Drop() {
    if (refs_ == 0) {
        ReportMisuse(std::string(type_) + " released below zero by an object that held it");
        return;
    }
    if (--refs_ == 0)
        Die();
    else
        UpdateObjectRefs(registryId_, refs_);
}

void Object::Die() {
    UnregisterObject(registryId_);
    // Lookups only ever want live objects; dropping the dead keeps them cheap
    // however many rebuilds a run goes through.
    std::erase(State().tracked, this);
    OnFinalRelease();
}

std::optional<int> Object::CallMonitor() const { return monitor_ ? monitor_ : AmbientMonitor(); }

void Adopt(std::unique_ptr<Object> object) { State().objects.push_back(std::move(object)); }

bool TearingDown() { return State().tearingDown; }

void Track(Object* object) { State().tracked.push_back(object); }

const std::vector<Object*>& TrackedObjects() { return State().tracked; }

void SetDrawing(Object* context, bool drawing) {
    auto& list = State().drawing;
    std::erase(list, context);
    if (drawing) list.push_back(context);
}

const std::vector<Object*>& DrawingContexts() { return State().drawing; }

// ---- Calls ----

bool Usable(const Object& object, const std::string& call) {
    if (object.Alive()) return true;
    ReportMisuse(call + " on a released object");
    Record(call, "released object", E_UNEXPECTED);
    return false;
}

bool ArgUsable(const Object& object, const std::string& call) {
    if (object.Alive()) return true;
    ReportMisuse(call + " with a released " + object.Type());
    return false;
}

std::optional<Fault> FaultFor(const std::string& call, const Object* object) {
    FaultContext context;
    if (object) {
        context.driverType = object->DriverType();
        context.monitor = object->CallMonitor();
    } else {
        context.driverType = AmbientDriverType();
        context.monitor = AmbientMonitor();
    }
    return ShouldFail(call, context);
}

std::optional<Fault> FaultFor(const std::string& call, std::optional<int> driverType) {
    return ShouldFail(call, FaultContext{driverType, AmbientMonitor()});
}

HRESULT Finish(const std::string& call, const std::string& args, HRESULT result) {
    Record(call, args, result);
    return result;
}

std::optional<int> AmbientMonitor() {
    if (State().drawingMonitor) return State().drawingMonitor;
    const int current = CurrentMonitor();
    if (current >= 0) return current;
    return std::nullopt;
}

void SetDrawingMonitor(std::optional<int> monitor) { State().drawingMonitor = monitor; }

std::optional<int> AmbientDriverType() { return State().ambientDriverType; }

void SetAmbientDriverType(int driverType) { State().ambientDriverType = driverType; }

namespace {
template <class... T>
const char* NameIn(REFIID riid) {
    const char* name = nullptr;
    (void)((riid == InterfaceId<T>::value && (name = InterfaceId<T>::name) != nullptr) || ...);
    return name;
}
}  // namespace

const char* InterfaceName(REFIID riid) {
    const char* name =
        NameIn<IUnknown, IDXGIObject, IDXGIDeviceSubObject, IDXGISurface, IDXGIAdapter, IDXGIDevice, IDXGIFactory,
               IDXGIFactory1, IDXGIFactory2, IDXGISwapChain, IDXGISwapChain1, ID3D11Device, ID3D11DeviceChild,
               ID3D11DeviceContext, ID2D1Resource, ID2D1Image, ID2D1Bitmap, ID2D1Bitmap1, ID2D1Brush,
               ID2D1SolidColorBrush, ID2D1Geometry, ID2D1PathGeometry, ID2D1SimplifiedGeometrySink, ID2D1GeometrySink,
               ID2D1RenderTarget, ID2D1DeviceContext, ID2D1Device, ID2D1Factory, ID2D1Factory1, IDWriteFactory,
               IDWriteTextFormat, IDCompositionDevice, IDCompositionTarget, IDCompositionVisual>(riid);
    return name ? name : "unknown";
}

std::string Hex(long value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(value) & 0xffffffffUL);
    return text;
}

std::string Num(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string RectText(const D2D1_RECT_F& rect) {
    return Num(rect.left) + "," + Num(rect.top) + "," + Num(rect.right) + "," + Num(rect.bottom);
}

std::string ColorText(const D2D1_COLOR_F& color) {
    return Num(color.r) + "," + Num(color.g) + "," + Num(color.b) + "," + Num(color.a);
}

std::string MatrixText(const D2D1_MATRIX_3X2_F& m) {
    return Num(m._11) + "," + Num(m._12) + "," + Num(m._21) + "," + Num(m._22) + "," + Num(m._31) + "," + Num(m._32);
}

// ---- Bookkeeping ----

void NoteSwapChainDesc(std::optional<int> monitor, const DXGI_SWAP_CHAIN_DESC1& desc) {
    State().lastDescs[monitor.value_or(-1)] = desc;
}

void NoteFillGeometryTransform(const D2D1_MATRIX_3X2_F& transform) {
    State().fillGeometryTransforms.push_back(transform);
}

bool FeatureLevel11_1Rejected() { return State().rejectLevel11_1; }

}  // namespace sim::gfx

namespace sim {

void RejectFeatureLevel11_1(bool reject) { gfx::State().rejectLevel11_1 = reject; }

std::vector<SwapChainInfo> LiveSwapChains() {
    std::vector<SwapChainInfo> live;
    for (gfx::SwapChain* chain : gfx::ObjectsOf<gfx::SwapChain>()) {
        if (!chain->Alive()) continue;
        live.push_back(SwapChainInfo{chain, chain->Desc(), chain->Monitor(), chain->DriverType(), chain->Refs(),
                                     chain->Presents()});
    }
    return live;
}

std::optional<DXGI_SWAP_CHAIN_DESC1> LastSwapChainDesc(int monitor) {
    const auto& descs = gfx::State().lastDescs;
    auto it = descs.find(monitor);
    if (it == descs.end()) return std::nullopt;
    return it->second;
}

std::vector<ObjectInfo> LiveGraphicsObjects() { return LiveObjects(); }

std::size_t LiveCount(const std::string& type) {
    std::size_t count = 0;
    for (const ObjectInfo& info : LiveObjects())
        if (info.type == type) ++count;
    return count;
}

std::vector<D2D1_MATRIX_3X2_F> FillGeometryTransforms() { return gfx::State().fillGeometryTransforms; }

}  // namespace sim
