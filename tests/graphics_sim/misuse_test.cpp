// Misuse the platform would punish is reported loudly and does no harm:
// drawing outside BeginDraw/EndDraw, calls on released objects, releases below
// zero, swap-chain descriptions DXGI refuses, and the limits of text formats.
#include "gfx_test.h"

namespace {

using gfxtest::GraphicsTest;
using gfxtest::Stack;

using GraphicsMisuse = GraphicsTest;

// Each row misuses a fresh stack with one 32x32 swap chain; the row's action
// returns the call's result (S_OK for void calls).
TEST_F(GraphicsMisuse, IsReportedAndAnswered) {
    struct Row {
        const char* why;
        std::function<HRESULT(Stack&, IDXGISwapChain1*)> act;
        const char* report;  // part of the misuse report
        HRESULT result;
    };
    const D2D1_RECT_F rect{0, 0, 8, 8};
    const Row rows[] = {
        {"drawing before BeginDraw",
         [&](Stack& s, IDXGISwapChain1* chain) {
             ID2D1Bitmap1* bitmap = gfxtest::BackBufferBitmap(s, chain, 96.0f);
             ID2D1SolidColorBrush* brush = gfxtest::Brush(s.dc, D2D1_COLOR_F{1, 0, 0, 1});
             s.dc->SetTarget(bitmap);
             s.dc->FillRectangle(&rect, brush);
             s.dc->SetTarget(nullptr);
             brush->Release();
             bitmap->Release();
             return S_OK;
         },
         "ID2D1DeviceContext::FillRectangle outside BeginDraw/EndDraw", S_OK},
        {"drawing after EndDraw",
         [&](Stack& s, IDXGISwapChain1* chain) {
             ID2D1SolidColorBrush* brush = gfxtest::Brush(s.dc, D2D1_COLOR_F{1, 0, 0, 1});
             gfxtest::DrawOn(s, chain, 96.0f, [](ID2D1DeviceContext*) {});
             s.dc->DrawLine(D2D1_POINT_2F{0, 0}, D2D1_POINT_2F{4, 4}, brush, 1.0f, nullptr);
             brush->Release();
             return S_OK;
         },
         "ID2D1DeviceContext::DrawLine outside BeginDraw/EndDraw", S_OK},
        {"BeginDraw with no target set",
         [](Stack& s, IDXGISwapChain1*) {
             s.dc->BeginDraw();
             return s.dc->EndDraw(nullptr, nullptr);
         },
         "ID2D1DeviceContext::BeginDraw without a target", D2DERR_WRONG_STATE},
        {"EndDraw without BeginDraw",
         [](Stack& s, IDXGISwapChain1*) { return s.dc->EndDraw(nullptr, nullptr); },
         "ID2D1DeviceContext::EndDraw without BeginDraw", D2DERR_WRONG_STATE},
        {"BeginDraw twice",
         [](Stack& s, IDXGISwapChain1* chain) {
             return gfxtest::DrawOn(s, chain, 96.0f, [](ID2D1DeviceContext* dc) { dc->BeginDraw(); });
         },
         "ID2D1DeviceContext::BeginDraw again before EndDraw", D2DERR_WRONG_STATE},
        {"a call on a released swap chain",
         [](Stack& s, IDXGISwapChain1*) {
             const DXGI_SWAP_CHAIN_DESC1 desc = gfxtest::ChainDesc(8, 8);
             IDXGISwapChain1* other = nullptr;
             EXPECT_EQ(s.factory->CreateSwapChainForComposition(s.d3d, &desc, nullptr, &other), S_OK);
             other->Release();
             return other->Present(1, 0);
         },
         "IDXGISwapChain1::Present on a released object", E_UNEXPECTED},
        {"a release below zero",
         [](Stack& s, IDXGISwapChain1*) {
             ID2D1SolidColorBrush* brush = gfxtest::Brush(s.dc, D2D1_COLOR_F{0, 0, 0, 1});
             brush->Release();
             return static_cast<HRESULT>(brush->Release());
         },
         "ID2D1SolidColorBrush::Release below zero", 0},
        {"a released brush passed to a drawing call",
         [&](Stack& s, IDXGISwapChain1* chain) {
             ID2D1SolidColorBrush* brush = gfxtest::Brush(s.dc, D2D1_COLOR_F{0, 0, 0, 1});
             brush->Release();
             return gfxtest::DrawOn(s, chain, 96.0f, [&](ID2D1DeviceContext* dc) { dc->FillRectangle(&rect, brush); });
         },
         "FillRectangle with a released ID2D1SolidColorBrush", E_INVALIDARG},
        {"buffer 1 of a flip-sequential chain",
         [](Stack&, IDXGISwapChain1* chain) {
             IDXGISurface* surface = nullptr;
             return chain->GetBuffer(1, IID_PPV_ARGS(&surface));
         },
         "IDXGISwapChain1::GetBuffer for buffer 1", DXGI_ERROR_INVALID_CALL},
        {"Present while drawing into the back buffer",
         [](Stack& s, IDXGISwapChain1* chain) {
             HRESULT present = E_FAIL;
             gfxtest::DrawOn(s, chain, 96.0f, [&](ID2D1DeviceContext*) { present = chain->Present(1, 0); });
             return present;
         },
         "Present while a Direct2D context is drawing", S_OK},
        {"a target bitmap made without the TARGET option",
         [](Stack& s, IDXGISwapChain1* chain) {
             IDXGISurface* surface = nullptr;
             EXPECT_EQ(chain->GetBuffer(0, IID_PPV_ARGS(&surface)), S_OK);
             D2D1_BITMAP_PROPERTIES1 properties = gfxtest::TargetProperties(96.0f);
             properties.bitmapOptions = D2D1_BITMAP_OPTIONS_CANNOT_DRAW;
             ID2D1Bitmap1* bitmap = nullptr;
             EXPECT_EQ(s.dc->CreateBitmapFromDxgiSurface(surface, &properties, &bitmap), S_OK);
             surface->Release();
             s.dc->SetTarget(bitmap);
             bitmap->Release();
             // The refusal surfaces at the next EndDraw, as drawing errors do.
             return gfxtest::DrawOn(s, chain, 96.0f, [](ID2D1DeviceContext*) {});
         },
         "made without D2D1_BITMAP_OPTIONS_TARGET", E_INVALIDARG},
        {"filling a path geometry that was never closed",
         [](Stack& s, IDXGISwapChain1* chain) {
             ID2D1PathGeometry* geometry = nullptr;
             EXPECT_EQ(s.d2dFactory->CreatePathGeometry(&geometry), S_OK);
             ID2D1SolidColorBrush* brush = gfxtest::Brush(s.dc, D2D1_COLOR_F{0, 0, 0, 1});
             const HRESULT result = gfxtest::DrawOn(
                 s, chain, 96.0f, [&](ID2D1DeviceContext* dc) { dc->FillGeometry(geometry, brush, nullptr); });
             brush->Release();
             geometry->Release();
             return result;
         },
         "path geometry that was not closed", D2DERR_WRONG_STATE},
        {"lines added outside a figure",
         [](Stack& s, IDXGISwapChain1*) {
             ID2D1PathGeometry* geometry = nullptr;
             EXPECT_EQ(s.d2dFactory->CreatePathGeometry(&geometry), S_OK);
             ID2D1GeometrySink* sink = nullptr;
             EXPECT_EQ(geometry->Open(&sink), S_OK);
             const D2D1_POINT_2F points[] = {{1, 1}};
             sink->AddLines(points, 1);
             const HRESULT closed = sink->Close();
             sink->Release();
             geometry->Release();
             return closed;
         },
         "ID2D1GeometrySink::AddLines outside a figure", D2DERR_WRONG_STATE},
        {"a sink closed with its figure open",
         [](Stack& s, IDXGISwapChain1*) {
             ID2D1PathGeometry* geometry = nullptr;
             EXPECT_EQ(s.d2dFactory->CreatePathGeometry(&geometry), S_OK);
             ID2D1GeometrySink* sink = nullptr;
             EXPECT_EQ(geometry->Open(&sink), S_OK);
             sink->BeginFigure(D2D1_POINT_2F{0, 0}, D2D1_FIGURE_BEGIN_FILLED);
             const HRESULT closed = sink->Close();
             sink->Release();
             geometry->Release();
             return closed;
         },
         "ID2D1GeometrySink::Close with a figure still open", D2DERR_WRONG_STATE},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        ResetDesktop();
        Stack stack;
        ASSERT_EQ(stack.Build(), S_OK);
        const DXGI_SWAP_CHAIN_DESC1 desc = gfxtest::ChainDesc(32, 32);
        IDXGISwapChain1* chain = nullptr;
        ASSERT_EQ(stack.factory->CreateSwapChainForComposition(stack.d3d, &desc, nullptr, &chain), S_OK);
        EXPECT_EQ(row.act(stack, chain), row.result);
        const std::vector<std::string> reports = TakeMisuses();
        EXPECT_EQ(reports.size(), 1u) << testing::PrintToString(reports);
        EXPECT_TRUE(gfxtest::Contains(reports, row.report)) << testing::PrintToString(reports);
        // Whatever was misused, nothing was drawn by the misuse.
        EXPECT_EQ(gfxtest::InkPixels(sim::BackBuffer(chain), RECT{0, 0, 32, 32}, true), 0);
        chain->Release();
    }
}

TEST_F(GraphicsMisuse, LateCallOnAZombieIsJournaledAndHarmless) {
    Stack stack;
    ASSERT_EQ(stack.Build(), S_OK);
    ID2D1DeviceContext* dc = stack.dc;
    stack.dc = nullptr;
    dc->Release();
    dc->BeginDraw();
    EXPECT_TRUE(gfxtest::Contains(TakeMisuses(), "ID2D1DeviceContext::BeginDraw on a released object"));
    const std::vector<sim::Call> calls = sim::CallsNamed("ID2D1DeviceContext::BeginDraw");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].result, E_UNEXPECTED);
    stack.Release();
}

// DXGI refuses these descriptions for a composition swap chain. Each row
// changes one field of the renderer's description.
TEST_F(GraphicsMisuse, SwapChainDescriptionRules) {
    struct Row {
        const char* why;
        std::function<void(DXGI_SWAP_CHAIN_DESC1&)> change;
        bool accepted;
    };
    const Row rows[] = {
        {"the renderer's own description", [](DXGI_SWAP_CHAIN_DESC1&) {}, true},
        {"zero width", [](DXGI_SWAP_CHAIN_DESC1& d) { d.Width = 0; }, false},
        {"zero height", [](DXGI_SWAP_CHAIN_DESC1& d) { d.Height = 0; }, false},
        {"width at the 16384 limit", [](DXGI_SWAP_CHAIN_DESC1& d) { d.Width = 16384; }, true},
        {"width above the 16384 limit", [](DXGI_SWAP_CHAIN_DESC1& d) { d.Width = 16385; }, false},
        {"R8G8B8A8 is a flip-model format", [](DXGI_SWAP_CHAIN_DESC1& d) { d.Format = DXGI_FORMAT_R8G8B8A8_UNORM; },
         true},
        {"R16G16B16A16_FLOAT is a flip-model format",
         [](DXGI_SWAP_CHAIN_DESC1& d) { d.Format = DXGI_FORMAT_R16G16B16A16_FLOAT; }, true},
        {"no format", [](DXGI_SWAP_CHAIN_DESC1& d) { d.Format = DXGI_FORMAT_UNKNOWN; }, false},
        {"a flip model needs 2 buffers", [](DXGI_SWAP_CHAIN_DESC1& d) { d.BufferCount = 1; }, false},
        {"buffer count at the 16 limit", [](DXGI_SWAP_CHAIN_DESC1& d) { d.BufferCount = 16; }, true},
        {"buffer count above the 16 limit", [](DXGI_SWAP_CHAIN_DESC1& d) { d.BufferCount = 17; }, false},
        {"multisampling", [](DXGI_SWAP_CHAIN_DESC1& d) { d.SampleDesc.Count = 4; }, false},
        {"a sample quality", [](DXGI_SWAP_CHAIN_DESC1& d) { d.SampleDesc.Quality = 1; }, false},
        {"composition only stretches", [](DXGI_SWAP_CHAIN_DESC1& d) { d.Scaling = DXGI_SCALING_NONE; }, false},
        {"composition needs a flip model", [](DXGI_SWAP_CHAIN_DESC1& d) { d.SwapEffect = DXGI_SWAP_EFFECT_DISCARD; },
         false},
        {"flip-discard is a flip model", [](DXGI_SWAP_CHAIN_DESC1& d) { d.SwapEffect = DXGI_SWAP_EFFECT_FLIP_DISCARD; },
         true},
        {"straight alpha", [](DXGI_SWAP_CHAIN_DESC1& d) { d.AlphaMode = DXGI_ALPHA_MODE_STRAIGHT; }, false},
    };
    Stack stack;
    ASSERT_EQ(stack.Build(), S_OK);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        DXGI_SWAP_CHAIN_DESC1 desc = gfxtest::ChainDesc(1920, 1080);
        row.change(desc);
        IDXGISwapChain1* chain = nullptr;
        const HRESULT result = stack.factory->CreateSwapChainForComposition(stack.d3d, &desc, nullptr, &chain);
        EXPECT_EQ(result, row.accepted ? S_OK : DXGI_ERROR_INVALID_CALL);
        EXPECT_EQ(chain != nullptr, row.accepted);
        EXPECT_EQ(TakeMisuses().size(), row.accepted ? 0u : 1u);
        // What was asked is kept whatever the answer (-1: outside any enumeration).
        const auto last = sim::LastSwapChainDesc(-1);
        ASSERT_TRUE(last.has_value());
        EXPECT_EQ(last->Width, desc.Width);
        EXPECT_EQ(last->BufferCount, desc.BufferCount);
        if (chain) chain->Release();
    }
    stack.Release();
}

TEST_F(GraphicsMisuse, TextFormatLimits) {
    struct Row {
        const char* why;
        int weight;
        float size;
        const WCHAR* locale;
        HRESULT result;
    };
    const Row rows[] = {
        {"weight at the lower limit 1", 1, 12.0f, L"", S_OK},
        {"weight 0 is below it", 0, 12.0f, L"", E_INVALIDARG},
        {"weight at the upper limit 999", 999, 12.0f, L"", S_OK},
        {"weight 1000 is above it", 1000, 12.0f, L"", E_INVALIDARG},
        {"a size of zero", 400, 0.0f, L"", E_INVALIDARG},
        {"a negative size", 400, -1.0f, L"", E_INVALIDARG},
        {"no locale string", 400, 12.0f, nullptr, E_INVALIDARG},
        {"a named locale", 400, 12.0f, L"en-us", S_OK},
    };
    Stack stack;
    ASSERT_EQ(stack.Build(), S_OK);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        IDWriteTextFormat* format = nullptr;
        EXPECT_EQ(stack.dwrite->CreateTextFormat(L"Segoe UI", nullptr, static_cast<DWRITE_FONT_WEIGHT>(row.weight),
                                                 DWRITE_FONT_STYLE_NORMAL, DWRITE_FONT_STRETCH_NORMAL, row.size,
                                                 row.locale, &format),
                  row.result);
        EXPECT_EQ(format != nullptr, SUCCEEDED(row.result));
        if (format) format->Release();
    }
    stack.Release();
}

}  // namespace
