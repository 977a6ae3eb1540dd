// Our stand-in for the names Direct2D and DirectWrite share: the basic
// geometry and colour structs, pixel formats and the text measuring mode.
#pragma once

#include <windef.h>
#include <dxgiformat.h>

#include <cstdint>

// The platform's fixed-width name (a repeated typedef of the same type is fine
// if another header of this stand-in gives it too).
typedef std::uint32_t UINT32;

// Bitwise operators for flag enums, as the platform gives them to its own.
#define SIM_ENUM_FLAG_OPERATORS(T)                                                                           \
    inline constexpr T operator|(T a, T b) { return static_cast<T>(static_cast<unsigned>(a) | static_cast<unsigned>(b)); } \
    inline constexpr T operator&(T a, T b) { return static_cast<T>(static_cast<unsigned>(a) & static_cast<unsigned>(b)); } \
    inline constexpr T operator~(T a) { return static_cast<T>(~static_cast<unsigned>(a)); }                             \
    inline constexpr T& operator|=(T& a, T b) { return a = a | b; }                                                    \
    inline constexpr T& operator&=(T& a, T b) { return a = a & b; }

enum DWRITE_MEASURING_MODE {
    DWRITE_MEASURING_MODE_NATURAL = 0,
    DWRITE_MEASURING_MODE_GDI_CLASSIC = 1,
    DWRITE_MEASURING_MODE_GDI_NATURAL = 2,
};

enum D2D1_ALPHA_MODE {
    D2D1_ALPHA_MODE_UNKNOWN = 0,
    D2D1_ALPHA_MODE_PREMULTIPLIED = 1,
    D2D1_ALPHA_MODE_STRAIGHT = 2,
    D2D1_ALPHA_MODE_IGNORE = 3,
    D2D1_ALPHA_MODE_FORCE_DWORD = 0xffffffff,
};

struct D2D1_PIXEL_FORMAT {
    DXGI_FORMAT format;
    D2D1_ALPHA_MODE alphaMode;
};

struct D2D_POINT_2F {
    FLOAT x;
    FLOAT y;
};

struct D2D_RECT_F {
    FLOAT left;
    FLOAT top;
    FLOAT right;
    FLOAT bottom;
};

// Straight (not premultiplied) alpha, each channel 0 to 1.
struct D2D_COLOR_F {
    FLOAT r;
    FLOAT g;
    FLOAT b;
    FLOAT a;
};

// Row-vector convention: x' = x*_11 + y*_21 + _31, y' = x*_12 + y*_22 + _32.
struct D2D_MATRIX_3X2_F {
    FLOAT _11;
    FLOAT _12;
    FLOAT _21;
    FLOAT _22;
    FLOAT _31;
    FLOAT _32;
};
