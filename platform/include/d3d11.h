// Our stand-in for Direct3D 11: device creation and the two objects it gives.
#pragma once

#include <windef.h>
#include <unknwn.h>
#include <d3dcommon.h>
#include <dxgi.h>

#define D3D11_SDK_VERSION 7

enum D3D11_CREATE_DEVICE_FLAG {
    D3D11_CREATE_DEVICE_SINGLETHREADED = 0x1,
    D3D11_CREATE_DEVICE_DEBUG = 0x2,
    D3D11_CREATE_DEVICE_BGRA_SUPPORT = 0x20,
};

struct ID3D11Device : IUnknown {};

struct ID3D11DeviceChild : IUnknown {};

struct ID3D11DeviceContext : ID3D11DeviceChild {};

SIM_INTERFACE_ID(ID3D11Device, 0x5a1d0101, 0x0001, 0x4d47, 0x80, 0x44, 0x33, 0x44, 0x31, 0x31, 0x00, 0x01);
SIM_INTERFACE_ID(ID3D11DeviceChild, 0x5a1d0102, 0x0001, 0x4d47, 0x80, 0x44, 0x33, 0x44, 0x31, 0x31, 0x00, 0x02);
SIM_INTERFACE_ID(ID3D11DeviceContext, 0x5a1d0103, 0x0001, 0x4d47, 0x80, 0x44, 0x33, 0x44, 0x31, 0x31, 0x00, 0x03);

extern "C" HRESULT WINAPI D3D11CreateDevice(IDXGIAdapter* adapter, D3D_DRIVER_TYPE driverType, HMODULE software,
                                            UINT flags, const D3D_FEATURE_LEVEL* featureLevels, UINT featureLevelCount,
                                            UINT sdkVersion, ID3D11Device** device, D3D_FEATURE_LEVEL* featureLevel,
                                            ID3D11DeviceContext** immediateContext);
