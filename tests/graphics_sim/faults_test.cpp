// Fault rules reach every graphics call by name, n-th use, driver type and
// monitor; drawing faults surface where the platform reports them; the
// feature-level option answers like a runtime without Direct3D 11.1.
#include "gfx_test.h"

namespace {

using gfxtest::GraphicsTest;
using gfxtest::Stack;

using GraphicsFaults = GraphicsTest;

TEST_F(GraphicsFaults, NthUseFailsThatUseAlone) {
    Stack stack;
    ASSERT_EQ(stack.Build(), S_OK);
    const DXGI_SWAP_CHAIN_DESC1 desc = gfxtest::ChainDesc(8, 8);
    IDXGISwapChain1* chain = nullptr;
    ASSERT_EQ(stack.factory->CreateSwapChainForComposition(stack.d3d, &desc, nullptr, &chain), S_OK);
    sim::Fault fault = sim::Fault::On("IDXGISwapChain1::Present", DXGI_ERROR_DEVICE_REMOVED);
    fault.nth = 2;
    sim::AddFault(fault);
    EXPECT_EQ(chain->Present(1, 0), S_OK);
    EXPECT_EQ(chain->Present(1, 0), DXGI_ERROR_DEVICE_REMOVED);
    EXPECT_EQ(chain->Present(1, 0), S_OK);
    ASSERT_EQ(sim::LiveSwapChains().size(), 1u);
    EXPECT_EQ(sim::LiveSwapChains()[0].presents, 2u);  // the failed one did not flip
    chain->Release();
    stack.Release();
}

// A rule for the hardware driver fails each step of the renderer's creation
// chain on hardware only: every object made on the way carries the driver
// type of the device it belongs to, and the factories made between device
// and context carry the one of the chain being built.
TEST_F(GraphicsFaults, DriverTypeRuleReachesEveryStepOfTheChain) {
    const char* const calls[] = {
        "D3D11CreateDevice",          "ID3D11Device::QueryInterface", "IDXGIDevice::GetAdapter",
        "IDXGIAdapter::GetParent",    "D2D1CreateFactory",            "ID2D1Factory1::CreateDevice",
        "ID2D1Device::CreateDeviceContext", "DWriteCreateFactory",    "DCompositionCreateDevice",
    };
    for (const char* call : calls) {
        SCOPED_TRACE(call);
        ResetDesktop();
        sim::Fault fault = sim::Fault::On(call, E_FAIL);
        fault.driverType = D3D_DRIVER_TYPE_HARDWARE;
        sim::AddFault(fault);
        Stack hardware;
        EXPECT_EQ(hardware.Build(D3D_DRIVER_TYPE_HARDWARE), E_FAIL);
        hardware.Release();
        Stack warp;
        EXPECT_EQ(warp.Build(D3D_DRIVER_TYPE_WARP), S_OK);
        warp.Release();
        EXPECT_TRUE(sim::LiveGraphicsObjects().empty());
    }
}

// Each of two monitors gets a swap chain made while its enumeration callback
// runs; rules for monitor 1 then touch only that chain's calls.
class MonitorFaults : public GraphicsTest {
protected:
    void SetUp() override {
        GraphicsTest::SetUp();
        sim::DesktopConfig config;
        config.monitors = {sim::MonitorConfig{{0, 0, 64, 64}, {0, 0, 64, 64}, true, 96},
                           sim::MonitorConfig{{64, 0, 128, 64}, {64, 0, 128, 64}, false, 144}};
        sim::Configure(config);
        ASSERT_EQ(stack.Build(), S_OK);
    }
    void TearDown() override {
        for (IDXGISwapChain1*& chain : chains) gfxtest::ReleaseAndNull(chain);
        stack.Release();
        GraphicsTest::TearDown();
    }
    void MakeChains() {
        EnumDisplayMonitors(
            nullptr, nullptr,
            [](HMONITOR, HDC, LPRECT, LPARAM data) -> BOOL {
                auto* self = reinterpret_cast<MonitorFaults*>(data);
                const DXGI_SWAP_CHAIN_DESC1 desc = gfxtest::ChainDesc(64, 64);
                IDXGISwapChain1* chain = nullptr;
                self->results.push_back(
                    self->stack.factory->CreateSwapChainForComposition(self->stack.d3d, &desc, nullptr, &chain));
                self->chains.push_back(chain);
                return TRUE;
            },
            reinterpret_cast<LPARAM>(this));
    }

    Stack stack;
    std::vector<IDXGISwapChain1*> chains;
    std::vector<HRESULT> results;
};

TEST_F(MonitorFaults, CreationFailsOnlyWhileThatMonitorIsEnumerated) {
    sim::Fault fault = sim::Fault::On("IDXGIFactory2::CreateSwapChainForComposition", E_OUTOFMEMORY);
    fault.monitor = 1;
    sim::AddFault(fault);
    MakeChains();
    EXPECT_EQ(results, (std::vector<HRESULT>{S_OK, E_OUTOFMEMORY}));
    ASSERT_EQ(chains.size(), 2u);
    EXPECT_EQ(chains[1], nullptr);
    // The description asked for is kept per monitor.
    ASSERT_TRUE(sim::LastSwapChainDesc(1).has_value());
    EXPECT_EQ(sim::LastSwapChainDesc(1)->Width, 64u);
}

TEST_F(MonitorFaults, PresentGetBufferAndEndDrawFollowTheChainsMonitor) {
    MakeChains();
    ASSERT_EQ(results, (std::vector<HRESULT>{S_OK, S_OK}));
    // Outside the enumeration the monitor comes from the chain drawn on.
    sim::Fault getBuffer = sim::Fault::On("IDXGISwapChain1::GetBuffer", DXGI_ERROR_DEVICE_REMOVED);
    getBuffer.monitor = 1;
    sim::AddFault(getBuffer);
    for (std::size_t i = 0; i < chains.size(); ++i) {
        SCOPED_TRACE(i);
        IDXGISurface* surface = nullptr;
        EXPECT_EQ(chains[i]->GetBuffer(0, IID_PPV_ARGS(&surface)), i == 1 ? DXGI_ERROR_DEVICE_REMOVED : S_OK);
        gfxtest::ReleaseAndNull(surface);
    }

    sim::ClearFaults();
    for (const char* call : {"IDXGISwapChain1::Present", "ID2D1DeviceContext::EndDraw"}) {
        sim::Fault fault = sim::Fault::On(call, D2DERR_RECREATE_TARGET);
        fault.monitor = 1;
        sim::AddFault(fault);
    }
    for (std::size_t i = 0; i < chains.size(); ++i) {
        SCOPED_TRACE(i);
        const HRESULT expected = i == 1 ? D2DERR_RECREATE_TARGET : S_OK;
        EXPECT_EQ(gfxtest::DrawOn(stack, chains[i], 96.0f, [](ID2D1DeviceContext*) {}), expected);
        EXPECT_EQ(chains[i]->Present(1, 0), expected);
    }
}

TEST_F(GraphicsFaults, PositivePresentStatusIsReturnedAndShowsNothingNew) {
    Stack stack;
    ASSERT_EQ(stack.Build(), S_OK);
    const DXGI_SWAP_CHAIN_DESC1 desc = gfxtest::ChainDesc(8, 8);
    IDXGISwapChain1* chain = nullptr;
    ASSERT_EQ(stack.factory->CreateSwapChainForComposition(stack.d3d, &desc, nullptr, &chain), S_OK);
    sim::Fault fault = sim::Fault::On("IDXGISwapChain1::Present", DXGI_STATUS_OCCLUDED);
    fault.times = 1;
    sim::AddFault(fault);
    EXPECT_EQ(chain->Present(1, 0), DXGI_STATUS_OCCLUDED);
    EXPECT_TRUE(sim::FrontBuffer(chain).Empty());
    EXPECT_EQ(chain->Present(1, 0), S_OK);
    EXPECT_FALSE(sim::FrontBuffer(chain).Empty());
    chain->Release();
    stack.Release();
}

// Direct2D's drawing calls return nothing: a fault on one leaves the pixels
// alone and comes back from EndDraw; a sink's from Close.
TEST_F(GraphicsFaults, VoidCallFaultsSurfaceLater) {
    Stack stack;
    ASSERT_EQ(stack.Build(), S_OK);
    const DXGI_SWAP_CHAIN_DESC1 desc = gfxtest::ChainDesc(16, 16);
    IDXGISwapChain1* chain = nullptr;
    ASSERT_EQ(stack.factory->CreateSwapChainForComposition(stack.d3d, &desc, nullptr, &chain), S_OK);
    ID2D1SolidColorBrush* brush = gfxtest::Brush(stack.dc, D2D1_COLOR_F{1, 1, 1, 1});
    sim::AddFault(sim::Fault::On("ID2D1DeviceContext::FillRectangle", D2DERR_RECREATE_TARGET));
    const D2D1_RECT_F rect{0, 0, 16, 16};
    EXPECT_EQ(gfxtest::DrawOn(stack, chain, 96.0f, [&](ID2D1DeviceContext* dc) { dc->FillRectangle(&rect, brush); }),
              D2DERR_RECREATE_TARGET);
    EXPECT_EQ(gfxtest::InkPixels(sim::BackBuffer(chain), RECT{0, 0, 16, 16}, true), 0);
    // The error belonged to that draw only.
    EXPECT_EQ(gfxtest::DrawOn(stack, chain, 96.0f, [](ID2D1DeviceContext*) {}), S_OK);

    sim::AddFault(sim::Fault::On("ID2D1GeometrySink::EndFigure", E_OUTOFMEMORY));
    ID2D1PathGeometry* geometry = nullptr;
    ASSERT_EQ(stack.d2dFactory->CreatePathGeometry(&geometry), S_OK);
    ID2D1GeometrySink* sink = nullptr;
    ASSERT_EQ(geometry->Open(&sink), S_OK);
    const D2D1_POINT_2F points[] = {{4, 0}, {4, 4}};
    sink->BeginFigure(D2D1_POINT_2F{0, 0}, D2D1_FIGURE_BEGIN_FILLED);
    sink->EndFigure(D2D1_FIGURE_END_CLOSED);
    // A failed sink ignores the rest without complaint: the program could not know.
    sink->AddLines(points, 2);
    EXPECT_EQ(sink->Close(), E_OUTOFMEMORY);
    sink->Release();
    geometry->Release();
    brush->Release();
    chain->Release();
    stack.Release();
}

TEST_F(GraphicsFaults, FeatureLevel11_1Rejection) {
    struct Row {
        const char* why;
        bool reject;
        std::vector<D3D_FEATURE_LEVEL> levels;
        HRESULT result;
        D3D_FEATURE_LEVEL level;  // reported back on success
    };
    const Row rows[] = {
        {"a Direct3D 11.1 runtime takes the renderer's list", false,
         {D3D_FEATURE_LEVEL_11_1, D3D_FEATURE_LEVEL_11_0}, S_OK, D3D_FEATURE_LEVEL_11_1},
        {"an 11.0 runtime refuses any list naming 11_1", true, {D3D_FEATURE_LEVEL_11_1, D3D_FEATURE_LEVEL_11_0},
         E_INVALIDARG, D3D_FEATURE_LEVEL{}},
        {"and takes the retry list", true, {D3D_FEATURE_LEVEL_11_0}, S_OK, D3D_FEATURE_LEVEL_11_0},
        {"11_1 need not come first to be refused", true, {D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_11_1},
         E_INVALIDARG, D3D_FEATURE_LEVEL{}},
        {"levels above 11_1 are not supported", false, {D3D_FEATURE_LEVEL_12_0}, DXGI_ERROR_UNSUPPORTED,
         D3D_FEATURE_LEVEL{}},
        {"the first supported entry wins", false, {D3D_FEATURE_LEVEL_12_1, D3D_FEATURE_LEVEL_10_0},
         S_OK, D3D_FEATURE_LEVEL_10_0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        ResetDesktop();
        sim::RejectFeatureLevel11_1(row.reject);
        ID3D11Device* device = nullptr;
        ID3D11DeviceContext* context = nullptr;
        D3D_FEATURE_LEVEL level{};
        EXPECT_EQ(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT,
                                    row.levels.data(), static_cast<UINT>(row.levels.size()), D3D11_SDK_VERSION,
                                    &device, &level, &context),
                  row.result);
        EXPECT_EQ(device != nullptr, SUCCEEDED(row.result));
        if (SUCCEEDED(row.result)) {
            EXPECT_EQ(level, row.level);
        }
        gfxtest::ReleaseAndNull(context);
        gfxtest::ReleaseAndNull(device);
    }
}

TEST_F(GraphicsFaults, DeviceCreationIsJournaledWithDriverTypeAndLevels) {
    Stack stack;
    ASSERT_EQ(stack.Build(D3D_DRIVER_TYPE_WARP), S_OK);
    const std::vector<sim::Call> calls = sim::CallsNamed("D3D11CreateDevice");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args, "driverType=5 flags=0x20 levels=0xb100,0xb000 count=2 sdk=7 level=0xb100");
    EXPECT_EQ(calls[0].result, S_OK);
    stack.Release();
}

}  // namespace
