// Our stand-in for Direct2D 1.1: devices and device contexts that draw into
// bitmaps made from DXGI surfaces.
#pragma once

#include <d2d1.h>
#include <dxgi.h>

enum D2D1_BITMAP_OPTIONS {
    D2D1_BITMAP_OPTIONS_NONE = 0x0,
    D2D1_BITMAP_OPTIONS_TARGET = 0x1,
    D2D1_BITMAP_OPTIONS_CANNOT_DRAW = 0x2,
    D2D1_BITMAP_OPTIONS_CPU_READ = 0x4,
    D2D1_BITMAP_OPTIONS_GDI_COMPATIBLE = 0x8,
    D2D1_BITMAP_OPTIONS_FORCE_DWORD = 0xffffffff,
};
SIM_ENUM_FLAG_OPERATORS(D2D1_BITMAP_OPTIONS)

enum D2D1_DEVICE_CONTEXT_OPTIONS {
    D2D1_DEVICE_CONTEXT_OPTIONS_NONE = 0,
    D2D1_DEVICE_CONTEXT_OPTIONS_ENABLE_MULTITHREADED_OPTIMIZATIONS = 1,
    D2D1_DEVICE_CONTEXT_OPTIONS_FORCE_DWORD = 0xffffffff,
};
SIM_ENUM_FLAG_OPERATORS(D2D1_DEVICE_CONTEXT_OPTIONS)

struct ID2D1ColorContext;  // only ever passed as "none" (null)

struct D2D1_BITMAP_PROPERTIES1 {
    D2D1_PIXEL_FORMAT pixelFormat;
    FLOAT dpiX;
    FLOAT dpiY;
    D2D1_BITMAP_OPTIONS bitmapOptions;
    ID2D1ColorContext* colorContext;
};

struct ID2D1Bitmap1 : ID2D1Bitmap {};

struct ID2D1DeviceContext : ID2D1RenderTarget {
    virtual HRESULT STDMETHODCALLTYPE CreateBitmapFromDxgiSurface(IDXGISurface* surface,
                                                                  const D2D1_BITMAP_PROPERTIES1* bitmapProperties,
                                                                  ID2D1Bitmap1** bitmap) = 0;
    virtual void STDMETHODCALLTYPE SetTarget(ID2D1Image* image) = 0;
};

struct ID2D1Device : ID2D1Resource {
    virtual HRESULT STDMETHODCALLTYPE CreateDeviceContext(D2D1_DEVICE_CONTEXT_OPTIONS options,
                                                          ID2D1DeviceContext** deviceContext) = 0;
};

struct ID2D1Factory1 : ID2D1Factory {
    virtual HRESULT STDMETHODCALLTYPE CreateDevice(IDXGIDevice* dxgiDevice, ID2D1Device** d2dDevice) = 0;
};

SIM_INTERFACE_ID(ID2D1Bitmap1, 0x5a1d0211, 0x0001, 0x4d47, 0x80, 0x44, 0x32, 0x44, 0x31, 0x00, 0x01, 0x01);
SIM_INTERFACE_ID(ID2D1DeviceContext, 0x5a1d0212, 0x0001, 0x4d47, 0x80, 0x44, 0x32, 0x44, 0x31, 0x00, 0x01, 0x02);
SIM_INTERFACE_ID(ID2D1Device, 0x5a1d0213, 0x0001, 0x4d47, 0x80, 0x44, 0x32, 0x44, 0x31, 0x00, 0x01, 0x03);
SIM_INTERFACE_ID(ID2D1Factory1, 0x5a1d0214, 0x0001, 0x4d47, 0x80, 0x44, 0x32, 0x44, 0x31, 0x00, 0x01, 0x04);
