// Reference counts, the references objects hold on each other, the registry of
// live objects, QueryInterface and the journal names of the graphics side.
#include "gfx_test.h"

namespace {

using gfxtest::GraphicsTest;
using gfxtest::ReleaseAndNull;
using gfxtest::Stack;

using GraphicsObjects = GraphicsTest;

TEST_F(GraphicsObjects, WholeRendererStackReleasedLeavesNothingLive) {
    Stack stack;
    ASSERT_EQ(stack.Build(), S_OK);
    const DXGI_SWAP_CHAIN_DESC1 desc = gfxtest::ChainDesc(64, 32);
    IDXGISwapChain1* chain = nullptr;
    ASSERT_EQ(stack.factory->CreateSwapChainForComposition(stack.d3d, &desc, nullptr, &chain), S_OK);
    IDCompositionVisual* visual = nullptr;
    ASSERT_EQ(stack.dcomp->CreateVisual(&visual), S_OK);
    ASSERT_EQ(visual->SetContent(chain), S_OK);
    ID2D1PathGeometry* geometry = nullptr;
    ASSERT_EQ(stack.d2dFactory->CreatePathGeometry(&geometry), S_OK);
    IDWriteTextFormat* format = nullptr;
    ASSERT_EQ(stack.dwrite->CreateTextFormat(L"Segoe UI", nullptr, DWRITE_FONT_WEIGHT_NORMAL, DWRITE_FONT_STYLE_NORMAL,
                                             DWRITE_FONT_STRETCH_NORMAL, 12.0f, L"", &format),
              S_OK);
    ASSERT_EQ(gfxtest::DrawOn(stack, chain, 96.0f, [](ID2D1DeviceContext*) {}), S_OK);
    EXPECT_GT(sim::LiveGraphicsObjects().size(), 10u);

    format->Release();
    geometry->Release();
    visual->Release();
    chain->Release();
    stack.Release();
    EXPECT_TRUE(sim::LiveGraphicsObjects().empty());
}

TEST_F(GraphicsObjects, CountsFollowAddRefAndRelease) {
    Stack stack;
    ASSERT_EQ(stack.Build(), S_OK);
    ID2D1SolidColorBrush* brush = gfxtest::Brush(stack.dc, D2D1_COLOR_F{1, 1, 1, 1});
    EXPECT_EQ(brush->AddRef(), 2u);
    EXPECT_EQ(sim::LiveCount("ID2D1SolidColorBrush"), 1u);
    EXPECT_EQ(brush->Release(), 1u);
    EXPECT_EQ(brush->Release(), 0u);
    EXPECT_EQ(sim::LiveCount("ID2D1SolidColorBrush"), 0u);
    const std::vector<sim::Call> releases = sim::CallsNamed("ID2D1SolidColorBrush::Release");
    ASSERT_EQ(releases.size(), 2u);
    EXPECT_EQ(releases[1].result, 0);
    stack.Release();
}

// Each row makes an object that must keep another alive: dropping the
// program's own reference to the held object leaves it live until the
// holder dies.
TEST_F(GraphicsObjects, ObjectsHoldWhatThePlatformHolds) {
    struct Row {
        const char* why;
        const char* heldType;
        // Returns the holder, having released the program's own references
        // to the held object (the chain is handed in with one).
        std::function<IUnknown*(Stack&, IDXGISwapChain1* chain)> makeHolder;
    };
    const Row rows[] = {
        {"a swap chain holds its device", "ID3D11Device",
         [](Stack& s, IDXGISwapChain1* chain) -> IUnknown* {
             s.Release();  // the Direct2D and composition devices hold it too
             return chain;
         }},
        {"a buffer holds its swap chain", "IDXGISwapChain1",
         [](Stack&, IDXGISwapChain1* chain) -> IUnknown* {
             IDXGISurface* surface = nullptr;
             EXPECT_EQ(chain->GetBuffer(0, IID_PPV_ARGS(&surface)), S_OK);
             chain->Release();
             return surface;
         }},
        {"a bitmap holds its surface (and so the chain)", "IDXGISwapChain1",
         [](Stack& s, IDXGISwapChain1* chain) -> IUnknown* {
             ID2D1Bitmap1* bitmap = gfxtest::BackBufferBitmap(s, chain, 96.0f);
             chain->Release();
             return bitmap;
         }},
        {"a device context holds its target", "ID2D1Bitmap1",
         [](Stack& s, IDXGISwapChain1* chain) -> IUnknown* {
             ID2D1Bitmap1* bitmap = gfxtest::BackBufferBitmap(s, chain, 96.0f);
             s.dc->SetTarget(bitmap);
             bitmap->Release();
             chain->Release();
             ID2D1DeviceContext* dc = s.dc;
             s.dc = nullptr;
             return dc;
         }},
        {"a visual holds its content", "IDXGISwapChain1",
         [](Stack& s, IDXGISwapChain1* chain) -> IUnknown* {
             IDCompositionVisual* visual = nullptr;
             EXPECT_EQ(s.dcomp->CreateVisual(&visual), S_OK);
             EXPECT_EQ(visual->SetContent(chain), S_OK);
             chain->Release();
             return visual;
         }},
        {"a device context holds its Direct2D device", "ID2D1Device",
         [](Stack& s, IDXGISwapChain1* chain) -> IUnknown* {
             chain->Release();
             ReleaseAndNull(s.d2dDevice);
             ID2D1DeviceContext* dc = s.dc;
             s.dc = nullptr;
             return dc;
         }},
        {"a Direct2D device holds its factory", "ID2D1Factory1",
         [](Stack& s, IDXGISwapChain1* chain) -> IUnknown* {
             chain->Release();
             ReleaseAndNull(s.d2dFactory);
             ID2D1Device* device = s.d2dDevice;
             s.d2dDevice = nullptr;
             ReleaseAndNull(s.dc);
             return device;
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        ResetDesktop();
        Stack stack;
        ASSERT_EQ(stack.Build(), S_OK);
        const DXGI_SWAP_CHAIN_DESC1 desc = gfxtest::ChainDesc(16, 16);
        IDXGISwapChain1* chain = nullptr;
        ASSERT_EQ(stack.factory->CreateSwapChainForComposition(stack.d3d, &desc, nullptr, &chain), S_OK);
        IUnknown* holder = row.makeHolder(stack, chain);
        ASSERT_NE(holder, nullptr);
        EXPECT_EQ(sim::LiveCount(row.heldType), 1u);
        holder->Release();
        stack.Release();
        EXPECT_TRUE(sim::LiveGraphicsObjects().empty());
        EXPECT_EQ(TakeMisuses(), std::vector<std::string>{});
    }
}

TEST_F(GraphicsObjects, CompositionTargetHoldsItsRootVisual) {
    sim::DesktopConfig config;
    sim::Configure(config);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcW;
    wc.lpszClassName = L"gfxHolder";
    ASSERT_NE(RegisterClassExW(&wc), 0);
    HWND window = CreateWindowExW(0, L"gfxHolder", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    Stack stack;
    ASSERT_EQ(stack.Build(), S_OK);
    IDCompositionTarget* target = nullptr;
    ASSERT_EQ(stack.dcomp->CreateTargetForHwnd(window, TRUE, &target), S_OK);
    IDCompositionVisual* visual = nullptr;
    ASSERT_EQ(stack.dcomp->CreateVisual(&visual), S_OK);
    ASSERT_EQ(target->SetRoot(visual), S_OK);
    visual->Release();
    EXPECT_EQ(sim::LiveCount("IDCompositionVisual"), 1u);
    target->Release();
    EXPECT_EQ(sim::LiveCount("IDCompositionVisual"), 0u);
    stack.Release();
    EXPECT_TRUE(sim::LiveGraphicsObjects().empty());
    DestroyWindow(window);
}

TEST_F(GraphicsObjects, DeviceFacesShareOneCountAndAnswerUnderTheirOwnNames) {
    Stack stack;
    ASSERT_EQ(stack.Build(), S_OK);
    // The Direct3D device and its DXGI view are one object on the platform.
    EXPECT_EQ(sim::LiveCount("ID3D11Device"), 1u);
    ID3D11Device* back = nullptr;
    ASSERT_EQ(stack.dxgi->QueryInterface(IID_PPV_ARGS(&back)), S_OK);
    EXPECT_EQ(back, stack.d3d);
    back->Release();

    IDCompositionDevice* wrong = reinterpret_cast<IDCompositionDevice*>(0x1);
    EXPECT_EQ(stack.d3d->QueryInterface(IID_PPV_ARGS(&wrong)), E_NOINTERFACE);
    EXPECT_EQ(wrong, nullptr);

    stack.Release();
    EXPECT_EQ(sim::CountCalls("IDXGIDevice::Release"), 1u);
    EXPECT_EQ(sim::CountCalls("ID3D11Device::Release"), 2u);  // the QueryInterface result and the stack's
    const std::vector<sim::Call> queries = sim::CallsNamed("ID3D11Device::QueryInterface");
    ASSERT_FALSE(queries.empty());
    EXPECT_EQ(queries[0].args, "iid=IDXGIDevice");
}

TEST_F(GraphicsObjects, ResetDropsEverythingIncludingLeaks) {
    Stack stack;
    ASSERT_EQ(stack.Build(), S_OK);
    sim::RejectFeatureLevel11_1(true);
    ASSERT_FALSE(sim::LiveGraphicsObjects().empty());
    sim::Reset();
    EXPECT_TRUE(sim::LiveGraphicsObjects().empty());
    EXPECT_TRUE(sim::LiveSwapChains().empty());
    // The option is back to its default too.
    Stack fresh;
    EXPECT_EQ(fresh.Build(), S_OK);
    fresh.Release();
}

}  // namespace
