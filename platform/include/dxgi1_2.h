// Our stand-in for DXGI 1.2: swap chains for composition.
#pragma once

#include <dxgi.h>

enum DXGI_SCALING {
    DXGI_SCALING_STRETCH = 0,
    DXGI_SCALING_NONE = 1,
    DXGI_SCALING_ASPECT_RATIO_STRETCH = 2,
};

enum DXGI_ALPHA_MODE {
    DXGI_ALPHA_MODE_UNSPECIFIED = 0,
    DXGI_ALPHA_MODE_PREMULTIPLIED = 1,
    DXGI_ALPHA_MODE_STRAIGHT = 2,
    DXGI_ALPHA_MODE_IGNORE = 3,
};

struct DXGI_SWAP_CHAIN_DESC1 {
    UINT Width;
    UINT Height;
    DXGI_FORMAT Format;
    BOOL Stereo;
    DXGI_SAMPLE_DESC SampleDesc;
    DXGI_USAGE BufferUsage;
    UINT BufferCount;
    DXGI_SCALING Scaling;
    DXGI_SWAP_EFFECT SwapEffect;
    DXGI_ALPHA_MODE AlphaMode;
    UINT Flags;
};

struct IDXGISwapChain1 : IDXGISwapChain {};

struct IDXGIFactory2 : IDXGIFactory1 {
    virtual HRESULT STDMETHODCALLTYPE CreateSwapChainForComposition(IUnknown* device, const DXGI_SWAP_CHAIN_DESC1* desc,
                                                                    IDXGIOutput* restrictToOutput,
                                                                    IDXGISwapChain1** swapChain) = 0;
};

SIM_INTERFACE_ID(IDXGISwapChain1, 0x5a1d0009, 0x0001, 0x4d47, 0x80, 0x44, 0x58, 0x47, 0x49, 0x00, 0x00, 0x09);
SIM_INTERFACE_ID(IDXGIFactory2, 0x5a1d000a, 0x0001, 0x4d47, 0x80, 0x44, 0x58, 0x47, 0x49, 0x00, 0x00, 0x0a);
