// What the graphics tests share: a fixture with a fresh desktop that checks
// no unexpected misuse was reported, the device stack built the way the
// renderer builds it, and small helpers to draw into a swap chain and look
// at the pixels.
#pragma once

#include <windows.h>

#include <d2d1_1.h>
#include <d3d11.h>
#include <dcomp.h>
#include <dwrite.h>
#include <dxgi1_2.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "sim/core.h"
#include "sim/desktop.h"
#include "sim/graphics.h"

namespace gfxtest {

template <class T>
void ReleaseAndNull(T*& object) {
    if (object) {
        object->Release();
        object = nullptr;
    }
}

// The renderer's device stack, made in its order and released in reverse.
struct Stack {
    ID3D11Device* d3d = nullptr;
    ID3D11DeviceContext* immediate = nullptr;
    IDXGIDevice* dxgi = nullptr;
    IDXGIFactory2* factory = nullptr;
    ID2D1Factory1* d2dFactory = nullptr;
    ID2D1Device* d2dDevice = nullptr;
    ID2D1DeviceContext* dc = nullptr;
    IDWriteFactory* dwrite = nullptr;
    IDCompositionDevice* dcomp = nullptr;

    // Stops at the first failing call and returns its result.
    HRESULT Build(D3D_DRIVER_TYPE driverType = D3D_DRIVER_TYPE_HARDWARE) {
        const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_1, D3D_FEATURE_LEVEL_11_0};
        D3D_FEATURE_LEVEL level{};
        HRESULT hr = D3D11CreateDevice(nullptr, driverType, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT, levels, 2,
                                       D3D11_SDK_VERSION, &d3d, &level, &immediate);
        if (FAILED(hr)) return hr;
        if (FAILED(hr = d3d->QueryInterface(IID_PPV_ARGS(&dxgi)))) return hr;
        IDXGIAdapter* adapter = nullptr;
        if (FAILED(hr = dxgi->GetAdapter(&adapter))) return hr;
        hr = adapter->GetParent(IID_PPV_ARGS(&factory));
        adapter->Release();
        if (FAILED(hr)) return hr;
        if (FAILED(hr = D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory1), nullptr,
                                          reinterpret_cast<void**>(&d2dFactory))))
            return hr;
        if (FAILED(hr = d2dFactory->CreateDevice(dxgi, &d2dDevice))) return hr;
        if (FAILED(hr = d2dDevice->CreateDeviceContext(D2D1_DEVICE_CONTEXT_OPTIONS_NONE, &dc))) return hr;
        if (FAILED(hr = DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                                            reinterpret_cast<IUnknown**>(&dwrite))))
            return hr;
        return DCompositionCreateDevice(dxgi, __uuidof(IDCompositionDevice), reinterpret_cast<void**>(&dcomp));
    }

    void Release() {
        ReleaseAndNull(dcomp);
        ReleaseAndNull(dwrite);
        ReleaseAndNull(dc);
        ReleaseAndNull(d2dDevice);
        ReleaseAndNull(d2dFactory);
        ReleaseAndNull(factory);
        ReleaseAndNull(dxgi);
        ReleaseAndNull(immediate);
        ReleaseAndNull(d3d);
    }
};

inline DXGI_SWAP_CHAIN_DESC1 ChainDesc(UINT width, UINT height) {
    return DXGI_SWAP_CHAIN_DESC1{
        .Width = width,
        .Height = height,
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
}

inline D2D1_BITMAP_PROPERTIES1 TargetProperties(float dpi) {
    return D2D1_BITMAP_PROPERTIES1{
        .pixelFormat = {.format = DXGI_FORMAT_B8G8R8A8_UNORM, .alphaMode = D2D1_ALPHA_MODE_PREMULTIPLIED},
        .dpiX = dpi,
        .dpiY = dpi,
        .bitmapOptions = D2D1_BITMAP_OPTIONS_TARGET | D2D1_BITMAP_OPTIONS_CANNOT_DRAW,
        .colorContext = nullptr,
    };
}

// The bitmap on the chain's back buffer, made as the render pass makes it.
inline ID2D1Bitmap1* BackBufferBitmap(Stack& stack, IDXGISwapChain1* chain, float dpi) {
    IDXGISurface* surface = nullptr;
    EXPECT_EQ(chain->GetBuffer(0, IID_PPV_ARGS(&surface)), S_OK);
    if (!surface) return nullptr;
    const D2D1_BITMAP_PROPERTIES1 properties = TargetProperties(dpi);
    ID2D1Bitmap1* bitmap = nullptr;
    EXPECT_EQ(stack.dc->CreateBitmapFromDxgiSurface(surface, &properties, &bitmap), S_OK);
    surface->Release();
    return bitmap;
}

// One drawing turn on the chain's back buffer at `dpi`, as the render pass
// does it (no Clear of its own); returns EndDraw's result.
inline HRESULT DrawOn(Stack& stack, IDXGISwapChain1* chain, float dpi,
                      const std::function<void(ID2D1DeviceContext*)>& draw) {
    ID2D1Bitmap1* bitmap = BackBufferBitmap(stack, chain, dpi);
    if (!bitmap) return E_FAIL;
    stack.dc->SetTarget(bitmap);
    stack.dc->BeginDraw();
    draw(stack.dc);
    const HRESULT result = stack.dc->EndDraw(nullptr, nullptr);
    stack.dc->SetTarget(nullptr);
    bitmap->Release();
    return result;
}

inline ID2D1SolidColorBrush* Brush(ID2D1DeviceContext* dc, D2D1_COLOR_F color) {
    ID2D1SolidColorBrush* brush = nullptr;
    EXPECT_EQ(dc->CreateSolidColorBrush(&color, nullptr, &brush), S_OK);
    return brush;
}

// Pixels with any coverage (alpha above 0) inside, or outside, a rectangle
// of pixel coordinates (right and bottom exclusive).
inline int InkPixels(const sim::Image& image, RECT area, bool inside) {
    int count = 0;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const bool in = x >= area.left && x < area.right && y >= area.top && y < area.bottom;
            if (in == inside && image.Bgra(x, y)[3] != 0) ++count;
        }
    return count;
}

// The ink's bounding box in pixels, or an empty rectangle without ink.
inline RECT InkBounds(const sim::Image& image) {
    RECT box{image.width, image.height, 0, 0};
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            if (image.Bgra(x, y)[3] != 0) {
                box.left = std::min<LONG>(box.left, x);
                box.top = std::min<LONG>(box.top, y);
                box.right = std::max<LONG>(box.right, x + 1);
                box.bottom = std::max<LONG>(box.bottom, y + 1);
            }
    if (box.right == 0) return RECT{};
    return box;
}

// A fresh desktop for each test. Misuse is the stand-in's loudest signal, so
// a test must take every report it provokes; anything left fails the test.
class GraphicsTest : public ::testing::Test {
protected:
    void SetUp() override { sim::Reset(); }
    void TearDown() override {
        EXPECT_EQ(TakeMisuses(), std::vector<std::string>{}) << "misuse nobody expected";
        sim::Reset();
    }
    // A fresh desktop inside a test (for tables whose rows each need one).
    void ResetDesktop() {
        sim::Reset();
        seen_ = 0;
    }
    // Reports made since the last call.
    std::vector<std::string> TakeMisuses() {
        const auto& all = sim::Misuses();
        std::vector<std::string> fresh(all.begin() + static_cast<std::ptrdiff_t>(seen_), all.end());
        seen_ = all.size();
        return fresh;
    }

private:
    std::size_t seen_ = 0;
};

inline bool Contains(const std::vector<std::string>& reports, const std::string& part) {
    for (const std::string& report : reports)
        if (report.find(part) != std::string::npos) return true;
    return false;
}

}  // namespace gfxtest
