// Our stand-in for DXGI 1.1: the objects between a Direct3D device and the
// screen (device, adapter, factory, surfaces, swap chains) and DXGI's codes.
#pragma once

#include <windef.h>
#include <unknwn.h>
#include <dxgiformat.h>

#ifndef DXGI_ERROR_INVALID_CALL
#define DXGI_ERROR_INVALID_CALL ((HRESULT)0x887A0001)
#endif
#ifndef DXGI_ERROR_NOT_FOUND
#define DXGI_ERROR_NOT_FOUND ((HRESULT)0x887A0002)
#endif
#ifndef DXGI_ERROR_UNSUPPORTED
#define DXGI_ERROR_UNSUPPORTED ((HRESULT)0x887A0004)
#endif
#ifndef DXGI_ERROR_DEVICE_REMOVED
#define DXGI_ERROR_DEVICE_REMOVED ((HRESULT)0x887A0005)
#endif
#ifndef DXGI_ERROR_DEVICE_RESET
#define DXGI_ERROR_DEVICE_RESET ((HRESULT)0x887A0007)
#endif
#ifndef DXGI_STATUS_OCCLUDED
#define DXGI_STATUS_OCCLUDED ((HRESULT)0x087A0001)
#endif

typedef UINT DXGI_USAGE;
#define DXGI_USAGE_SHADER_INPUT 0x00000010u
#define DXGI_USAGE_RENDER_TARGET_OUTPUT 0x00000020u

#define DXGI_PRESENT_TEST 0x00000001u

struct DXGI_SAMPLE_DESC {
    UINT Count;
    UINT Quality;
};

enum DXGI_SWAP_EFFECT {
    DXGI_SWAP_EFFECT_DISCARD = 0,
    DXGI_SWAP_EFFECT_SEQUENTIAL = 1,
    DXGI_SWAP_EFFECT_FLIP_SEQUENTIAL = 3,
    DXGI_SWAP_EFFECT_FLIP_DISCARD = 4,
};

struct IDXGIOutput;  // only ever passed as "no restriction" (null)

struct IDXGIObject : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetParent(REFIID riid, void** parent) = 0;
};

struct IDXGIDeviceSubObject : IDXGIObject {};

struct IDXGISurface : IDXGIDeviceSubObject {};

struct IDXGIAdapter : IDXGIObject {};

struct IDXGIDevice : IDXGIObject {
    virtual HRESULT STDMETHODCALLTYPE GetAdapter(IDXGIAdapter** adapter) = 0;
};

struct IDXGIFactory : IDXGIObject {};

struct IDXGIFactory1 : IDXGIFactory {};

struct IDXGISwapChain : IDXGIDeviceSubObject {
    virtual HRESULT STDMETHODCALLTYPE Present(UINT syncInterval, UINT flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBuffer(UINT buffer, REFIID riid, void** surface) = 0;
};

SIM_INTERFACE_ID(IDXGIObject, 0x5a1d0001, 0x0001, 0x4d47, 0x80, 0x44, 0x58, 0x47, 0x49, 0x00, 0x00, 0x01);
SIM_INTERFACE_ID(IDXGIDeviceSubObject, 0x5a1d0002, 0x0001, 0x4d47, 0x80, 0x44, 0x58, 0x47, 0x49, 0x00, 0x00, 0x02);
SIM_INTERFACE_ID(IDXGISurface, 0x5a1d0003, 0x0001, 0x4d47, 0x80, 0x44, 0x58, 0x47, 0x49, 0x00, 0x00, 0x03);
SIM_INTERFACE_ID(IDXGIAdapter, 0x5a1d0004, 0x0001, 0x4d47, 0x80, 0x44, 0x58, 0x47, 0x49, 0x00, 0x00, 0x04);
SIM_INTERFACE_ID(IDXGIDevice, 0x5a1d0005, 0x0001, 0x4d47, 0x80, 0x44, 0x58, 0x47, 0x49, 0x00, 0x00, 0x05);
SIM_INTERFACE_ID(IDXGIFactory, 0x5a1d0006, 0x0001, 0x4d47, 0x80, 0x44, 0x58, 0x47, 0x49, 0x00, 0x00, 0x06);
SIM_INTERFACE_ID(IDXGIFactory1, 0x5a1d0007, 0x0001, 0x4d47, 0x80, 0x44, 0x58, 0x47, 0x49, 0x00, 0x00, 0x07);
SIM_INTERFACE_ID(IDXGISwapChain, 0x5a1d0008, 0x0001, 0x4d47, 0x80, 0x44, 0x58, 0x47, 0x49, 0x00, 0x00, 0x08);
