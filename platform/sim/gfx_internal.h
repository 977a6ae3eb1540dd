// Shared inside the graphics side of the simulated desktop: the object model
// (reference counts, zombies, internal holds), call bookkeeping (journal,
// misuse, faults) and the concrete objects that other graphics files reach
// into (swap chains for Direct2D and composition, bitmaps for drawing).
#pragma once

#include <d2d1_1.h>
#include <d3d11.h>
#include <dcomp.h>
#include <dwrite.h>
#include <dxgi1_2.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/core.h"

namespace sim::gfx {

// ---- Objects ----

// Base of every graphics object. The count covers the program's references
// and the references other objects hold internally; the object is registered
// with the core while the count is above 0. At 0 it drops what it holds and
// stays behind as a zombie until the desktop is reset, so a late call on it is
// reported as misuse instead of touching freed memory.
class Object {
public:
    Object(const char* type, std::optional<int> driverType, std::optional<int> monitor);
    virtual ~Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    const char* Type() const { return type_; }
    ULONG Refs() const { return refs_; }
    bool Alive() const { return refs_ > 0; }
    std::optional<int> DriverType() const { return driverType_; }
    std::optional<int> Monitor() const { return monitor_; }

    // The program's AddRef and Release, journaled under the interface it used.
    ULONG ComAddRef(const char* iface);
    ULONG ComRelease(const char* iface);
    // References one object holds on another: not calls of the program.
    void Hold();
    void Drop();

    // Monitor a fault rule sees for a call on this object.
    virtual std::optional<int> CallMonitor() const;

protected:
    // Releases what this object holds; runs once, when the count reaches 0.
    virtual void OnFinalRelease() {}

private:
    void Die();

    const char* type_;
    ULONG refs_ = 1;
    std::uint64_t registryId_ = 0;
    std::optional<int> driverType_;
    std::optional<int> monitor_;
};

// Creates an object with count 1; the graphics side owns its memory until reset.
template <class T, class... Args>
T* Make(Args&&... args);
void Adopt(std::unique_ptr<Object> object);

template <class T, class... Args>
T* Make(Args&&... args) {
    auto object = std::make_unique<T>(std::forward<Args>(args)...);
    T* raw = object.get();
    Adopt(std::move(object));
    return raw;
}

// A reference one object holds on another.
template <class T>
class Ref {
public:
    Ref() = default;
    explicit Ref(T* object) : object_(object) {
        if (object_) object_->Hold();
    }
    Ref(const Ref& other) : Ref(other.object_) {}
    Ref& operator=(const Ref& other) {
        Reset(other.object_);
        return *this;
    }
    ~Ref();
    void Reset(T* object = nullptr) {
        if (object) object->Hold();
        T* old = object_;
        object_ = object;
        if (old) DropHeld(old);
    }
    T* get() const { return object_; }
    T* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

private:
    static void DropHeld(T* object);
    T* object_ = nullptr;
};

// True while Reset deletes every object: holds are then simply forgotten.
bool TearingDown();

template <class T>
Ref<T>::~Ref() {
    if (object_ && !TearingDown()) object_->Drop();
}
template <class T>
void Ref<T>::DropHeld(T* object) {
    if (!TearingDown()) object->Drop();
}

// The implementation object behind an interface pointer the program passed
// in, or null when it is not one of ours.
template <class T>
T* Impl(IUnknown* unknown) {
    return unknown ? dynamic_cast<T*>(unknown) : nullptr;
}

// ---- Calls ----

// The QueryInterface every object answers: `face` when riid names Main, one
// of Also or IUnknown, with one more reference.
template <class Main, class... Also>
HRESULT QueryAs(Object& self, Main* face, REFIID riid, void** object);

// Checks that the object is alive; a call on a released object is misuse.
bool Usable(const Object& object, const std::string& call);
// Checks an object the program passed in: a released one is misuse.
bool ArgUsable(const Object& object, const std::string& call);
// Asks the fault rules about this use of `call`, with the object's context.
std::optional<Fault> FaultFor(const std::string& call, const Object* object);
// Context for calls that belong to no object yet (factories, free functions).
std::optional<Fault> FaultFor(const std::string& call, std::optional<int> driverType);
HRESULT Finish(const std::string& call, const std::string& args, HRESULT result);

// Monitor whose target is being drawn (between BeginDraw and EndDraw), else
// the monitor being enumerated, else none.
std::optional<int> AmbientMonitor();
void SetDrawingMonitor(std::optional<int> monitor);
// Driver type of the most recently created Direct3D device: the factories
// that take no device belong to the chain being built.
std::optional<int> AmbientDriverType();
void SetAmbientDriverType(int driverType);

const char* InterfaceName(REFIID riid);
std::string Hex(long value);
std::string Num(double value);
std::string RectText(const D2D1_RECT_F& rect);
std::string ColorText(const D2D1_COLOR_F& color);
std::string MatrixText(const D2D1_MATRIX_3X2_F& matrix);

template <class Main, class... Also>
HRESULT QueryAs(Object& self, Main* face, REFIID riid, void** object) {
    const std::string call = std::string(self.Type()) + "::QueryInterface";
    if (object) *object = nullptr;
    if (!Usable(self, call)) return E_UNEXPECTED;
    const std::string args = std::string("iid=") + InterfaceName(riid);
    if (auto fault = FaultFor(call, &self)) return Finish(call, args, fault->result);
    if (!object) return Finish(call, args, E_POINTER);
    const bool known = riid == __uuidof(Main) || ((riid == __uuidof(Also)) || ...) || riid == __uuidof(IUnknown);
    if (!known) return Finish(call, args, E_NOINTERFACE);
    self.Hold();
    *object = face;
    return Finish(call, args, S_OK);
}

// ---- Direct3D / DXGI objects that others reach into ----

class Factory;
class Adapter;

class Device;
class D3DDeviceFace : public ID3D11Device {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
};
class DxgiDeviceFace : public IDXGIDevice {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetParent(REFIID riid, void** parent) override;
    HRESULT STDMETHODCALLTYPE GetAdapter(IDXGIAdapter** adapter) override;
};

// One Direct3D device; ID3D11Device and IDXGIDevice are two faces of it with
// one count, as QueryInterface between them shows on the platform.
class Device final : public D3DDeviceFace, public DxgiDeviceFace, public Object {
public:
    Device(D3D_DRIVER_TYPE driverType, UINT flags, D3D_FEATURE_LEVEL level);
    HRESULT Query(const char* iface, REFIID riid, void** object);
    bool BgraSupport() const { return (flags_ & D3D11_CREATE_DEVICE_BGRA_SUPPORT) != 0; }
    Adapter* GetAdapterImpl() const;

protected:
    void OnFinalRelease() override;

private:
    UINT flags_;
    D3D_FEATURE_LEVEL level_;
    Ref<Object> adapter_;
};
// Finds our device behind any of its faces.
Device* DeviceOf(IUnknown* unknown);

// Premultiplied BGRA pixels, allocated on first use so a huge but never
// drawn swap chain costs nothing.
struct PixelBuffer {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bgra;
    std::uint8_t* Data();
    int Stride() const { return width * 4; }
};

class SwapChain final : public IDXGISwapChain1, public Object {
public:
    SwapChain(Device* device, Factory* factory, const DXGI_SWAP_CHAIN_DESC1& desc, std::optional<int> monitor);
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ComAddRef("IDXGISwapChain1"); }
    ULONG STDMETHODCALLTYPE Release() override { return ComRelease("IDXGISwapChain1"); }
    HRESULT STDMETHODCALLTYPE GetParent(REFIID riid, void** parent) override;
    HRESULT STDMETHODCALLTYPE Present(UINT syncInterval, UINT flags) override;
    HRESULT STDMETHODCALLTYPE GetBuffer(UINT buffer, REFIID riid, void** surface) override;

    const DXGI_SWAP_CHAIN_DESC1& Desc() const { return desc_; }
    Device* OwnerDevice() const { return device_.get(); }
    PixelBuffer* BackBuffer();
    // The last presented buffer, or null before the first Present.
    PixelBuffer* FrontBuffer();
    unsigned Presents() const { return presents_; }

protected:
    void OnFinalRelease() override;

private:
    DXGI_SWAP_CHAIN_DESC1 desc_;
    Ref<Device> device_;
    Ref<Object> factory_;
    std::vector<std::shared_ptr<PixelBuffer>> buffers_;
    unsigned back_ = 0;
    std::optional<unsigned> front_;
    unsigned presents_ = 0;
};

// A swap-chain buffer handed out by GetBuffer. Like the platform's, buffer 0
// always means the chain's current back buffer, also after a Present.
class Surface final : public IDXGISurface, public Object {
public:
    explicit Surface(SwapChain* chain);
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ComAddRef("IDXGISurface"); }
    ULONG STDMETHODCALLTYPE Release() override { return ComRelease("IDXGISurface"); }
    HRESULT STDMETHODCALLTYPE GetParent(REFIID riid, void** parent) override;

    SwapChain* Chain() const { return chain_.get(); }

protected:
    void OnFinalRelease() override { chain_.Reset(); }

private:
    Ref<SwapChain> chain_;
};

// Whether a Direct2D context is drawing into this chain's back buffer.
bool ChainBeingDrawn(const SwapChain* chain);

// ---- DirectWrite text formats, read by Direct2D's DrawText ----

class TextFormat final : public IDWriteTextFormat, public Object {
public:
    TextFormat(Object* factory, std::string familyUtf8, DWRITE_FONT_WEIGHT weight, DWRITE_FONT_STYLE style,
               DWRITE_FONT_STRETCH stretch, FLOAT size);
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        return QueryAs<IDWriteTextFormat>(*this, this, riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ComAddRef("IDWriteTextFormat"); }
    ULONG STDMETHODCALLTYPE Release() override { return ComRelease("IDWriteTextFormat"); }
    HRESULT STDMETHODCALLTYPE SetTextAlignment(DWRITE_TEXT_ALIGNMENT textAlignment) override;
    HRESULT STDMETHODCALLTYPE SetParagraphAlignment(DWRITE_PARAGRAPH_ALIGNMENT paragraphAlignment) override;

    const std::string familyUtf8;
    const DWRITE_FONT_WEIGHT weight;
    const DWRITE_FONT_STYLE style;
    const DWRITE_FONT_STRETCH stretch;
    const FLOAT size;
    DWRITE_TEXT_ALIGNMENT textAlignment = DWRITE_TEXT_ALIGNMENT_LEADING;
    DWRITE_PARAGRAPH_ALIGNMENT paragraphAlignment = DWRITE_PARAGRAPH_ALIGNMENT_NEAR;

protected:
    void OnFinalRelease() override { factory_.Reset(); }

private:
    Ref<Object> factory_;
};

// UTF-16 code units (one per WCHAR) to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(const WCHAR* units, std::size_t count);

// Lays out and paints text as DrawText does, in the user space of `cr` (device-
// independent pixels) with its current source colour.
void PaintText(struct _cairo* cr, const std::string& utf8, const TextFormat& format, const D2D1_RECT_F& box,
               bool clip);

// ---- Graphics-wide bookkeeping that tests read ----

void NoteSwapChainDesc(std::optional<int> monitor, const DXGI_SWAP_CHAIN_DESC1& desc);
void NoteFillGeometryTransform(const D2D1_MATRIX_3X2_F& transform);
bool FeatureLevel11_1Rejected();

// Direct2D contexts between BeginDraw and EndDraw.
void SetDrawing(Object* context, bool drawing);
const std::vector<Object*>& DrawingContexts();

// Swap chains, composition targets and visuals are tracked while they live,
// so that commits, tests and screenshots find them without walking every
// zombie of every pass.
void Track(Object* object);
// Every live tracked object of a kind.
template <class T>
std::vector<T*> ObjectsOf();
const std::vector<Object*>& TrackedObjects();

template <class T>
std::vector<T*> ObjectsOf() {
    std::vector<T*> found;
    for (Object* object : TrackedObjects())
        if (T* typed = dynamic_cast<T*>(object)) found.push_back(typed);
    return found;
}

}  // namespace sim::gfx
