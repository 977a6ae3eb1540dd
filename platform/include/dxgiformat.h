// Our stand-in for the DXGI pixel formats: only those a swap chain or a
// Direct2D target of this stand-in can have.
#pragma once

enum DXGI_FORMAT {
    DXGI_FORMAT_UNKNOWN = 0,
    DXGI_FORMAT_R16G16B16A16_FLOAT = 10,
    DXGI_FORMAT_R8G8B8A8_UNORM = 28,
    DXGI_FORMAT_B8G8R8A8_UNORM = 87,
    DXGI_FORMAT_FORCE_UINT = 0xffffffff,
};
