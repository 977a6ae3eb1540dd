// DirectComposition decides what windows show: a committed target's root
// visual with a swap chain as content shows that chain's last presented
// buffer; screenshots compose the visible windows back to front per monitor.
#include <cairo.h>

#include <unistd.h>

#include <deque>
#include <filesystem>

#include "gfx_test.h"

namespace {

using gfxtest::GraphicsTest;
using gfxtest::Stack;

constexpr UINT kSwpHideWindow = 0x0080;

// One window with its own swap chain, target and visual, wired as the
// renderer wires a monitor surface.
struct Surface {
    HWND window = nullptr;
    IDXGISwapChain1* chain = nullptr;
    IDCompositionTarget* target = nullptr;
    IDCompositionVisual* visual = nullptr;

    void Release() {
        gfxtest::ReleaseAndNull(visual);
        gfxtest::ReleaseAndNull(target);
        gfxtest::ReleaseAndNull(chain);
        if (window) DestroyWindow(window);
        window = nullptr;
    }
};

class GraphicsComposition : public GraphicsTest {
protected:
    void SetUp() override {
        GraphicsTest::SetUp();
        sim::DesktopConfig config;
        config.monitors = {sim::MonitorConfig{{-100, 0, 0, 100}, {-100, 0, 0, 100}, false, 96},
                           sim::MonitorConfig{{0, 0, 200, 100}, {0, 0, 200, 100}, true, 96}};
        sim::Configure(config);
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = DefWindowProcW;
        wc.lpszClassName = L"gfxComposition";
        ASSERT_NE(RegisterClassExW(&wc), 0);
        ASSERT_EQ(stack.Build(), S_OK);
    }
    void TearDown() override {
        for (Surface& surface : surfaces) surface.Release();
        stack.Release();
        EXPECT_TRUE(sim::LiveGraphicsObjects().empty());
        GraphicsTest::TearDown();
    }
    // A shown window at `rect` (screen pixels) whose swap chain is filled with
    // `color` and presented; nothing is committed yet.
    Surface& Make(RECT rect, D2D1_COLOR_F color) {
        Surface& surface = surfaces.emplace_back();
        const int width = rect.right - rect.left;
        const int height = rect.bottom - rect.top;
        surface.window = CreateWindowExW(0, L"gfxComposition", L"", WS_POPUP, rect.left, rect.top, width, height,
                                         nullptr, nullptr, nullptr, nullptr);
        EXPECT_NE(surface.window, nullptr);
        const DXGI_SWAP_CHAIN_DESC1 desc = gfxtest::ChainDesc(static_cast<UINT>(width), static_cast<UINT>(height));
        EXPECT_EQ(stack.factory->CreateSwapChainForComposition(stack.d3d, &desc, nullptr, &surface.chain), S_OK);
        EXPECT_EQ(stack.dcomp->CreateTargetForHwnd(surface.window, TRUE, &surface.target), S_OK);
        EXPECT_EQ(stack.dcomp->CreateVisual(&surface.visual), S_OK);
        EXPECT_EQ(surface.visual->SetContent(surface.chain), S_OK);
        EXPECT_EQ(surface.target->SetRoot(surface.visual), S_OK);
        Fill(surface.chain, color);
        SetWindowPos(surface.window, HWND_TOPMOST, rect.left, rect.top, width, height, SWP_SHOWWINDOW | SWP_NOACTIVATE);
        return surface;
    }
    void Fill(IDXGISwapChain1* chain, D2D1_COLOR_F color) {
        gfxtest::DrawOn(stack, chain, 96.0f, [&](ID2D1DeviceContext* dc) { dc->Clear(&color); });
        EXPECT_EQ(chain->Present(1, 0), S_OK);
    }

    Stack stack;
    std::deque<Surface> surfaces;  // references stay valid as surfaces are added
};

const sim::Rgba kRed{255, 0, 0, 255};
const sim::Rgba kNothing{};

TEST_F(GraphicsComposition, WindowShowsItsContentOnlyAfterCommit) {
    Surface& surface = Make(RECT{20, 10, 120, 60}, D2D1_COLOR_F{1, 0, 0, 1});
    EXPECT_EQ(sim::Screenshot(1).Pixel(50, 30), kNothing);
    EXPECT_EQ(sim::WindowContent(surface.window), nullptr);

    ASSERT_EQ(stack.dcomp->Commit(), S_OK);
    EXPECT_EQ(sim::WindowContent(surface.window), surface.chain);
    const sim::Image shot = sim::Screenshot(1);
    ASSERT_EQ(shot.width, 200);
    ASSERT_EQ(shot.height, 100);
    EXPECT_EQ(gfxtest::InkBounds(shot).left, 20);
    EXPECT_EQ(gfxtest::InkBounds(shot).top, 10);
    EXPECT_EQ(gfxtest::InkBounds(shot).right, 120);
    EXPECT_EQ(gfxtest::InkBounds(shot).bottom, 60);
    EXPECT_EQ(shot.Pixel(20, 10), kRed);

    // A new content is not seen until the next commit.
    const DXGI_SWAP_CHAIN_DESC1 desc = gfxtest::ChainDesc(100, 50);
    IDXGISwapChain1* blue = nullptr;
    ASSERT_EQ(stack.factory->CreateSwapChainForComposition(stack.d3d, &desc, nullptr, &blue), S_OK);
    Fill(blue, D2D1_COLOR_F{0, 0, 1, 1});
    ASSERT_EQ(surface.visual->SetContent(blue), S_OK);
    EXPECT_EQ(sim::Screenshot(1).Pixel(50, 30), kRed);
    ASSERT_EQ(stack.dcomp->Commit(), S_OK);
    EXPECT_EQ(sim::Screenshot(1).Pixel(50, 30), (sim::Rgba{0, 0, 255, 255}));
    blue->Release();
}

TEST_F(GraphicsComposition, HiddenWindowsAndReleasedTargetsShowNothing) {
    Surface& surface = Make(RECT{0, 0, 200, 100}, D2D1_COLOR_F{1, 0, 0, 1});
    ASSERT_EQ(stack.dcomp->Commit(), S_OK);
    EXPECT_EQ(sim::Screenshot(1).Pixel(5, 5), kRed);
    SetWindowPos(surface.window, nullptr, 0, 0, 200, 100, kSwpHideWindow | SWP_NOACTIVATE);
    EXPECT_EQ(sim::Screenshot(1).Pixel(5, 5), kNothing);
    SetWindowPos(surface.window, nullptr, 0, 0, 200, 100, SWP_SHOWWINDOW | SWP_NOACTIVATE);
    EXPECT_EQ(sim::Screenshot(1).Pixel(5, 5), kRed);
    gfxtest::ReleaseAndNull(surface.target);
    EXPECT_EQ(sim::Screenshot(1).Pixel(5, 5), kNothing);
    EXPECT_EQ(sim::WindowContent(surface.window), nullptr);
}

TEST_F(GraphicsComposition, WindowsComposeBackToFrontWithPremultipliedOver) {
    Make(RECT{0, 0, 200, 100}, D2D1_COLOR_F{0, 0, 1, 1});              // back: opaque blue
    Make(RECT{50, 0, 150, 100}, D2D1_COLOR_F{1, 0, 0, 128 / 255.0f});  // front: half red
    ASSERT_EQ(stack.dcomp->Commit(), S_OK);
    const sim::Image shot = sim::Screenshot(1);
    EXPECT_EQ(shot.Bgra(10, 10), (std::array<std::uint8_t, 4>{255, 0, 0, 255}));
    // 128 of red over 255 × (1 − 128/255) of blue.
    EXPECT_EQ(shot.Bgra(100, 10), (std::array<std::uint8_t, 4>{127, 0, 128, 255}));
}

TEST_F(GraphicsComposition, EachMonitorShowsItsPartOfAWindow) {
    // From x -50 to 150: half on the left monitor, the rest on the primary.
    Make(RECT{-50, 20, 150, 40}, D2D1_COLOR_F{1, 0, 0, 1});
    ASSERT_EQ(stack.dcomp->Commit(), S_OK);
    const sim::Image left = sim::Screenshot(0);
    const sim::Image primary = sim::Screenshot(1);
    EXPECT_EQ(left.width, 100);
    const RECT onLeft = gfxtest::InkBounds(left);
    EXPECT_EQ(onLeft.left, 50);
    EXPECT_EQ(onLeft.right, 100);
    const RECT onPrimary = gfxtest::InkBounds(primary);
    EXPECT_EQ(onPrimary.left, 0);
    EXPECT_EQ(onPrimary.right, 150);
    EXPECT_EQ(onPrimary.top, 20);
    EXPECT_EQ(onPrimary.bottom, 40);
    EXPECT_TRUE(sim::Screenshot(2).Empty());
    EXPECT_TRUE(sim::Screenshot(-1).Empty());
}

TEST_F(GraphicsComposition, TargetRules) {
    Surface& surface = Make(RECT{0, 0, 10, 10}, D2D1_COLOR_F{1, 0, 0, 1});
    constexpr HRESULT kInvalidWindowHandle = static_cast<HRESULT>(0x80070578);
    IDCompositionTarget* target = nullptr;
    EXPECT_EQ(stack.dcomp->CreateTargetForHwnd(nullptr, TRUE, &target), kInvalidWindowHandle);
    // One target per window.
    EXPECT_EQ(stack.dcomp->CreateTargetForHwnd(surface.window, TRUE, &target), DCOMPOSITION_ERROR_WINDOW_ALREADY_COMPOSED);
    EXPECT_EQ(target, nullptr);
    gfxtest::ReleaseAndNull(surface.target);
    EXPECT_EQ(stack.dcomp->CreateTargetForHwnd(surface.window, TRUE, &target), S_OK);
    gfxtest::ReleaseAndNull(target);
    // A destroyed window cannot take one.
    HWND gone = surface.window;
    DestroyWindow(gone);
    surface.window = nullptr;
    EXPECT_EQ(stack.dcomp->CreateTargetForHwnd(gone, TRUE, &target), kInvalidWindowHandle);
}

TEST_F(GraphicsComposition, SavePngWritesWhatTheScreenshotHolds) {
    Make(RECT{0, 0, 40, 30}, D2D1_COLOR_F{1, 0, 0, 128 / 255.0f});
    ASSERT_EQ(stack.dcomp->Commit(), S_OK);
    const sim::Image shot = sim::Screenshot(1);
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("gfx-screenshot-" + std::to_string(::getpid()) + ".png");
    ASSERT_TRUE(sim::SavePng(shot, path.string()));
    cairo_surface_t* png = cairo_image_surface_create_from_png(path.c_str());
    ASSERT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(cairo_image_surface_get_width(png), 200);
    EXPECT_EQ(cairo_image_surface_get_height(png), 100);
    const unsigned char* data = cairo_image_surface_get_data(png);
    const int stride = cairo_image_surface_get_stride(png);
    // Cairo reads PNGs back into premultiplied BGRA, like ours.
    EXPECT_EQ(data[10 * stride + 10 * 4 + 2], 128);
    EXPECT_EQ(data[10 * stride + 10 * 4 + 3], 128);
    EXPECT_EQ(data[10 * stride + 50 * 4 + 3], 0);
    cairo_surface_destroy(png);
    std::filesystem::remove(path);
    EXPECT_FALSE(sim::SavePng(sim::Image{}, path.string()));
}

}  // namespace
