// Our stand-in for Direct2D 1.0: the factory, render-target drawing, solid
// brushes and path geometry.
#pragma once

#include <windef.h>
#include <unknwn.h>
#include <dcommon.h>
#include <dxgiformat.h>

#ifndef D2DERR_WRONG_STATE
#define D2DERR_WRONG_STATE ((HRESULT)0x88990001)
#endif
#ifndef D2DERR_RECREATE_TARGET
#define D2DERR_RECREATE_TARGET ((HRESULT)0x8899000C)
#endif
#ifndef D2DERR_WRONG_FACTORY
#define D2DERR_WRONG_FACTORY ((HRESULT)0x88990012)
#endif
#ifndef D2DERR_WRONG_RESOURCE_DOMAIN
#define D2DERR_WRONG_RESOURCE_DOMAIN ((HRESULT)0x88990015)
#endif
#ifndef D2DERR_UNSUPPORTED_PIXEL_FORMAT
#define D2DERR_UNSUPPORTED_PIXEL_FORMAT ((HRESULT)0x88982F80)
#endif

typedef D2D_POINT_2F D2D1_POINT_2F;
typedef D2D_RECT_F D2D1_RECT_F;
typedef D2D_COLOR_F D2D1_COLOR_F;
typedef D2D_MATRIX_3X2_F D2D1_MATRIX_3X2_F;
typedef UINT64 D2D1_TAG;

enum D2D1_FACTORY_TYPE {
    D2D1_FACTORY_TYPE_SINGLE_THREADED = 0,
    D2D1_FACTORY_TYPE_MULTI_THREADED = 1,
    D2D1_FACTORY_TYPE_FORCE_DWORD = 0xffffffff,
};

enum D2D1_DEBUG_LEVEL {
    D2D1_DEBUG_LEVEL_NONE = 0,
    D2D1_DEBUG_LEVEL_ERROR = 1,
    D2D1_DEBUG_LEVEL_WARNING = 2,
    D2D1_DEBUG_LEVEL_INFORMATION = 3,
    D2D1_DEBUG_LEVEL_FORCE_DWORD = 0xffffffff,
};

struct D2D1_FACTORY_OPTIONS {
    D2D1_DEBUG_LEVEL debugLevel;
};

enum D2D1_FIGURE_BEGIN {
    D2D1_FIGURE_BEGIN_FILLED = 0,
    D2D1_FIGURE_BEGIN_HOLLOW = 1,
    D2D1_FIGURE_BEGIN_FORCE_DWORD = 0xffffffff,
};

enum D2D1_FIGURE_END {
    D2D1_FIGURE_END_OPEN = 0,
    D2D1_FIGURE_END_CLOSED = 1,
    D2D1_FIGURE_END_FORCE_DWORD = 0xffffffff,
};

enum D2D1_DRAW_TEXT_OPTIONS {
    D2D1_DRAW_TEXT_OPTIONS_NONE = 0x0,
    D2D1_DRAW_TEXT_OPTIONS_NO_SNAP = 0x1,
    D2D1_DRAW_TEXT_OPTIONS_CLIP = 0x2,
    D2D1_DRAW_TEXT_OPTIONS_ENABLE_COLOR_FONT = 0x4,
    D2D1_DRAW_TEXT_OPTIONS_FORCE_DWORD = 0xffffffff,
};
SIM_ENUM_FLAG_OPERATORS(D2D1_DRAW_TEXT_OPTIONS)

struct D2D1_BRUSH_PROPERTIES {
    FLOAT opacity;
    D2D1_MATRIX_3X2_F transform;
};

struct IDWriteTextFormat;
struct ID2D1StrokeStyle;  // only ever passed as "solid" (null)

struct ID2D1Resource : IUnknown {};

struct ID2D1Image : ID2D1Resource {};

struct ID2D1Bitmap : ID2D1Image {};

struct ID2D1Brush : ID2D1Resource {};

struct ID2D1SolidColorBrush : ID2D1Brush {};

struct ID2D1Geometry : ID2D1Resource {};

struct ID2D1SimplifiedGeometrySink : IUnknown {
    virtual void STDMETHODCALLTYPE BeginFigure(D2D1_POINT_2F startPoint, D2D1_FIGURE_BEGIN figureBegin) = 0;
    virtual void STDMETHODCALLTYPE AddLines(const D2D1_POINT_2F* points, UINT32 pointsCount) = 0;
    virtual void STDMETHODCALLTYPE EndFigure(D2D1_FIGURE_END figureEnd) = 0;
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;
};

struct ID2D1GeometrySink : ID2D1SimplifiedGeometrySink {};

struct ID2D1PathGeometry : ID2D1Geometry {
    virtual HRESULT STDMETHODCALLTYPE Open(ID2D1GeometrySink** geometrySink) = 0;
};

struct ID2D1RenderTarget : ID2D1Resource {
    virtual HRESULT STDMETHODCALLTYPE CreateSolidColorBrush(const D2D1_COLOR_F* color,
                                                            const D2D1_BRUSH_PROPERTIES* brushProperties,
                                                            ID2D1SolidColorBrush** solidColorBrush) = 0;
    virtual void STDMETHODCALLTYPE DrawLine(D2D1_POINT_2F point0, D2D1_POINT_2F point1, ID2D1Brush* brush,
                                            FLOAT strokeWidth = 1.0f, ID2D1StrokeStyle* strokeStyle = nullptr) = 0;
    virtual void STDMETHODCALLTYPE DrawRectangle(const D2D1_RECT_F* rect, ID2D1Brush* brush, FLOAT strokeWidth = 1.0f,
                                                 ID2D1StrokeStyle* strokeStyle = nullptr) = 0;
    virtual void STDMETHODCALLTYPE FillRectangle(const D2D1_RECT_F* rect, ID2D1Brush* brush) = 0;
    virtual void STDMETHODCALLTYPE FillGeometry(ID2D1Geometry* geometry, ID2D1Brush* brush,
                                                ID2D1Brush* opacityBrush = nullptr) = 0;
    virtual void STDMETHODCALLTYPE DrawText(const WCHAR* string, UINT32 stringLength, IDWriteTextFormat* textFormat,
                                            const D2D1_RECT_F* layoutRect, ID2D1Brush* defaultFillBrush,
                                            D2D1_DRAW_TEXT_OPTIONS options = D2D1_DRAW_TEXT_OPTIONS_NONE,
                                            DWRITE_MEASURING_MODE measuringMode = DWRITE_MEASURING_MODE_NATURAL) = 0;
    virtual void STDMETHODCALLTYPE SetTransform(const D2D1_MATRIX_3X2_F* transform) = 0;
    virtual void STDMETHODCALLTYPE GetTransform(D2D1_MATRIX_3X2_F* transform) const = 0;
    virtual void STDMETHODCALLTYPE Clear(const D2D1_COLOR_F* clearColor = nullptr) = 0;
    virtual void STDMETHODCALLTYPE BeginDraw() = 0;
    virtual HRESULT STDMETHODCALLTYPE EndDraw(D2D1_TAG* tag1 = nullptr, D2D1_TAG* tag2 = nullptr) = 0;
};

struct ID2D1Factory : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreatePathGeometry(ID2D1PathGeometry** pathGeometry) = 0;
};

SIM_INTERFACE_ID(ID2D1Resource, 0x5a1d0201, 0x0001, 0x4d47, 0x80, 0x44, 0x32, 0x44, 0x31, 0x00, 0x00, 0x01);
SIM_INTERFACE_ID(ID2D1Image, 0x5a1d0202, 0x0001, 0x4d47, 0x80, 0x44, 0x32, 0x44, 0x31, 0x00, 0x00, 0x02);
SIM_INTERFACE_ID(ID2D1Bitmap, 0x5a1d0203, 0x0001, 0x4d47, 0x80, 0x44, 0x32, 0x44, 0x31, 0x00, 0x00, 0x03);
SIM_INTERFACE_ID(ID2D1Brush, 0x5a1d0204, 0x0001, 0x4d47, 0x80, 0x44, 0x32, 0x44, 0x31, 0x00, 0x00, 0x04);
SIM_INTERFACE_ID(ID2D1SolidColorBrush, 0x5a1d0205, 0x0001, 0x4d47, 0x80, 0x44, 0x32, 0x44, 0x31, 0x00, 0x00, 0x05);
SIM_INTERFACE_ID(ID2D1Geometry, 0x5a1d0206, 0x0001, 0x4d47, 0x80, 0x44, 0x32, 0x44, 0x31, 0x00, 0x00, 0x06);
SIM_INTERFACE_ID(ID2D1SimplifiedGeometrySink, 0x5a1d0207, 0x0001, 0x4d47, 0x80, 0x44, 0x32, 0x44, 0x31, 0x00, 0x00, 0x07);
SIM_INTERFACE_ID(ID2D1GeometrySink, 0x5a1d0208, 0x0001, 0x4d47, 0x80, 0x44, 0x32, 0x44, 0x31, 0x00, 0x00, 0x08);
SIM_INTERFACE_ID(ID2D1PathGeometry, 0x5a1d0209, 0x0001, 0x4d47, 0x80, 0x44, 0x32, 0x44, 0x31, 0x00, 0x00, 0x09);
SIM_INTERFACE_ID(ID2D1RenderTarget, 0x5a1d020a, 0x0001, 0x4d47, 0x80, 0x44, 0x32, 0x44, 0x31, 0x00, 0x00, 0x0a);
SIM_INTERFACE_ID(ID2D1Factory, 0x5a1d020b, 0x0001, 0x4d47, 0x80, 0x44, 0x32, 0x44, 0x31, 0x00, 0x00, 0x0b);

extern "C" HRESULT WINAPI D2D1CreateFactory(D2D1_FACTORY_TYPE factoryType, REFIID riid,
                                            const D2D1_FACTORY_OPTIONS* factoryOptions, void** factory);
