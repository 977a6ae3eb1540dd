// Our stand-in for DirectComposition: a device, one target per window, visuals
// whose content is a swap chain, and the commit that makes changes visible.
#pragma once

#include <windef.h>
#include <unknwn.h>
#include <dxgi.h>

#ifndef DCOMPOSITION_ERROR_WINDOW_ALREADY_COMPOSED
#define DCOMPOSITION_ERROR_WINDOW_ALREADY_COMPOSED ((HRESULT)0x88980800)
#endif

struct IDCompositionVisual : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetContent(IUnknown* content) = 0;
};

struct IDCompositionTarget : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetRoot(IDCompositionVisual* visual) = 0;
};

struct IDCompositionDevice : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Commit() = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateTargetForHwnd(HWND hwnd, BOOL topmost, IDCompositionTarget** target) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateVisual(IDCompositionVisual** visual) = 0;
};

SIM_INTERFACE_ID(IDCompositionVisual, 0x5a1d0401, 0x0001, 0x4d47, 0x80, 0x44, 0x43, 0x4f, 0x4d, 0x50, 0x00, 0x01);
SIM_INTERFACE_ID(IDCompositionTarget, 0x5a1d0402, 0x0001, 0x4d47, 0x80, 0x44, 0x43, 0x4f, 0x4d, 0x50, 0x00, 0x02);
SIM_INTERFACE_ID(IDCompositionDevice, 0x5a1d0403, 0x0001, 0x4d47, 0x80, 0x44, 0x43, 0x4f, 0x4d, 0x50, 0x00, 0x03);

extern "C" HRESULT WINAPI DCompositionCreateDevice(IDXGIDevice* dxgiDevice, REFIID iid, void** dcompositionDevice);
