// What tests see of the simulated desktop's graphics side: its options, the
// pixels of swap chains and of each monitor as the user would see it, and the
// state behind the calls (live objects, swap-chain descriptions, transforms).
// Calls, faults and misuse reports go through sim/core.h like everything else.
//
// Journal names are "Interface::Method" under the interface the object was
// made as ("IDXGISwapChain1::Present", "ID2D1DeviceContext::EndDraw",
// "IDCompositionDevice::Commit", "ID2D1Factory1::CreatePathGeometry" even
// when called through ID2D1Factory*), except that the Direct3D device
// answers as "ID3D11Device::..." or "IDXGIDevice::..." depending on the face
// used. Free functions use their own name ("D3D11CreateDevice").
//
// Fault rules (sim::AddFault) see every call under that name, except AddRef
// and Release. Their context:
// - driver type: that of the device the object belongs to; D3D11CreateDevice
//   its argument; D2D1CreateFactory and DWriteCreateFactory, which take no
//   device, that of the most recently created Direct3D device.
// - monitor: swap chains, their buffers and the bitmaps made from them,
//   composition targets and visuals keep the monitor being enumerated when
//   they were made; calls on a device context use the monitor of its target;
//   other calls use the monitor whose target is being drawn (between BeginDraw
//   and EndDraw), else the monitor being enumerated.
// A fault on a call that returns nothing (Direct2D drawing, SetTarget, the
// geometry sink's figure calls) is returned later by EndDraw or Close, as the
// platform reports such errors; a faulted drawing call draws nothing. A
// faulted Present, positive status included, does not flip.
//
// Objects are never freed before sim::Reset: one whose count reached 0 stays
// as a zombie, so a late call on it is reported as misuse, not a crash.
#pragma once

#include <d2d1_1.h>
#include <dxgi1_2.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/core.h"

namespace sim {

// ---- Options (all off after Reset) ----

// Makes D3D11CreateDevice answer E_INVALIDARG whenever its feature-level list
// holds D3D_FEATURE_LEVEL_11_1, as runtimes without Direct3D 11.1 do.
void RejectFeatureLevel11_1(bool reject);

// ---- Pixels ----

struct Rgba {
    std::uint8_t r = 0, g = 0, b = 0, a = 0;
    friend bool operator==(const Rgba&, const Rgba&) = default;
};

// Premultiplied BGRA, rows top to bottom, 4 bytes per pixel, no padding.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bgra;

    bool Empty() const { return width == 0 || height == 0; }
    // The stored bytes of one pixel: B, G, R, A (premultiplied).
    std::array<std::uint8_t, 4> Bgra(int x, int y) const;
    // One pixel with straight alpha (colour channels divided by alpha).
    Rgba Pixel(int x, int y) const;
};

// The monitor at this enumeration index as the user sees it: the visible
// windows from back to front over a fully transparent background, each
// showing the front buffer of the swap chain its committed composition tree
// holds. Empty for an index without a monitor.
Image Screenshot(int monitorIndex);
bool SavePng(const Image& image, const std::string& path);

// The swap chain whose front buffer a window shows, or null: the window's
// live composition target must have been committed with a root visual whose
// committed content is a live swap chain.
IDXGISwapChain1* WindowContent(HWND window);

// Copies of a swap chain's buffers. The front buffer is empty before the
// first Present. Only our own swap chains can be read.
Image BackBuffer(IDXGISwapChain1* swapChain);
Image FrontBuffer(IDXGISwapChain1* swapChain);

// ---- State ----

struct SwapChainInfo {
    IDXGISwapChain1* swapChain = nullptr;
    DXGI_SWAP_CHAIN_DESC1 desc{};
    std::optional<int> monitor;     // enumeration index while it was made
    std::optional<int> driverType;  // of the device it was made for
    ULONG refs = 0;
    unsigned presents = 0;          // Presents that flipped
};
std::vector<SwapChainInfo> LiveSwapChains();

// The last description the program asked CreateSwapChainForComposition for
// while this monitor was being enumerated (-1: outside any enumeration),
// whether or not the call succeeded.
std::optional<DXGI_SWAP_CHAIN_DESC1> LastSwapChainDesc(int monitor);

// Live graphics objects (the core's registry), and their number by type name
// ("ID2D1SolidColorBrush", "IDXGISwapChain1", "ID3D11Device" ...).
std::vector<ObjectInfo> LiveGraphicsObjects();
std::size_t LiveCount(const std::string& type);

// The transform in effect for each FillGeometry call since Reset, in order.
std::vector<D2D1_MATRIX_3X2_F> FillGeometryTransforms();

}  // namespace sim
