// Real pixels: Direct2D drawing lands in the swap chain's premultiplied BGRA
// back buffer at the target's DPI, with the brush colour premultiplied; text is
// laid out in its box; Present flips buffers.
#include <cmath>

#include "gfx_test.h"

namespace {

using gfxtest::GraphicsTest;
using gfxtest::InkPixels;
using gfxtest::Stack;

class GraphicsPixels : public GraphicsTest {
protected:
    void SetUp() override {
        GraphicsTest::SetUp();
        ASSERT_EQ(stack.Build(), S_OK);
        const DXGI_SWAP_CHAIN_DESC1 desc = gfxtest::ChainDesc(kSize, kSize);
        ASSERT_EQ(stack.factory->CreateSwapChainForComposition(stack.d3d, &desc, nullptr, &chain), S_OK);
        brush = gfxtest::Brush(stack.dc, D2D1_COLOR_F{1.0f, 1.0f, 1.0f, 1.0f});
    }
    void TearDown() override {
        gfxtest::ReleaseAndNull(brush);
        gfxtest::ReleaseAndNull(chain);
        stack.Release();
        EXPECT_TRUE(sim::LiveGraphicsObjects().empty());
        GraphicsTest::TearDown();
    }
    // Clears the back buffer, draws, and returns what the back buffer holds.
    sim::Image Draw(float dpi, const std::function<void(ID2D1DeviceContext*)>& draw) {
        EXPECT_EQ(gfxtest::DrawOn(stack, chain, dpi,
                                  [&](ID2D1DeviceContext* dc) {
                                      const D2D1_COLOR_F clear{0, 0, 0, 0};
                                      dc->Clear(&clear);
                                      draw(dc);
                                  }),
                  S_OK);
        return sim::BackBuffer(chain);
    }
    IDWriteTextFormat* Format(float size, int weight, DWRITE_TEXT_ALIGNMENT alignment) {
        IDWriteTextFormat* format = nullptr;
        EXPECT_EQ(stack.dwrite->CreateTextFormat(L"Segoe UI", nullptr, static_cast<DWRITE_FONT_WEIGHT>(weight),
                                                 DWRITE_FONT_STYLE_NORMAL, DWRITE_FONT_STRETCH_NORMAL, size, L"",
                                                 &format),
                  S_OK);
        if (!format) return nullptr;
        format->SetTextAlignment(alignment);
        format->SetParagraphAlignment(DWRITE_PARAGRAPH_ALIGNMENT_CENTER);
        return format;
    }
    sim::Image Text(const std::wstring& text, D2D1_RECT_F box, float dpi, IDWriteTextFormat* format,
                    D2D1_DRAW_TEXT_OPTIONS options = D2D1_DRAW_TEXT_OPTIONS_CLIP) {
        return Draw(dpi, [&](ID2D1DeviceContext* dc) {
            dc->DrawText(text.c_str(), static_cast<UINT32>(text.size()), format, &box, brush, options,
                         DWRITE_MEASURING_MODE_NATURAL);
        });
    }

    static constexpr UINT kSize = 200;
    Stack stack;
    IDXGISwapChain1* chain = nullptr;
    ID2D1SolidColorBrush* brush = nullptr;
};

// Rows: the same rectangle in device-independent pixels at three DPIs.
TEST_F(GraphicsPixels, FillRectangleIsPremultipliedAndScaledByDpi) {
    struct Row {
        const char* why;
        float dpi;
        RECT pixels;  // where the rectangle must land
    };
    const Row rows[] = {
        {"96 DPI: one pixel per DIP", 96.0f, RECT{10, 20, 30, 40}},
        {"144 DPI: 1.5 pixels per DIP", 144.0f, RECT{15, 30, 45, 60}},
        {"192 DPI: 2 pixels per DIP", 192.0f, RECT{20, 40, 60, 80}},
    };
    // The renderer's brush for colour bytes (255, 0, 0, 128).
    ID2D1SolidColorBrush* red = gfxtest::Brush(stack.dc, D2D1_COLOR_F{1.0f, 0.0f, 0.0f, 128 / 255.0f});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        const D2D1_RECT_F rect{10, 20, 30, 40};
        const sim::Image image = Draw(row.dpi, [&](ID2D1DeviceContext* dc) { dc->FillRectangle(&rect, red); });
        const std::array<std::uint8_t, 4> expected{0, 0, 128, 128};
        EXPECT_EQ(image.Bgra(row.pixels.left, row.pixels.top), expected);
        EXPECT_EQ(image.Bgra(row.pixels.right - 1, row.pixels.bottom - 1), expected);
        EXPECT_EQ(image.Pixel(row.pixels.left, row.pixels.top), (sim::Rgba{255, 0, 0, 128}));
        const int area = (row.pixels.right - row.pixels.left) * (row.pixels.bottom - row.pixels.top);
        EXPECT_EQ(InkPixels(image, row.pixels, true), area);
        EXPECT_EQ(InkPixels(image, row.pixels, false), 0);
    }
    red->Release();
}

TEST_F(GraphicsPixels, ClearReplacesEveryPixel) {
    const D2D1_RECT_F all{0, 0, kSize, kSize};
    Draw(96.0f, [&](ID2D1DeviceContext* dc) { dc->FillRectangle(&all, brush); });
    // Not blended over the white: replaced.
    const sim::Image half = Draw(96.0f, [](ID2D1DeviceContext* dc) {
        const D2D1_COLOR_F blue{0.0f, 0.0f, 1.0f, 128 / 255.0f};
        dc->Clear(&blue);
    });
    EXPECT_EQ(half.Bgra(0, 0), (std::array<std::uint8_t, 4>{128, 0, 0, 128}));
    EXPECT_EQ(half.Bgra(kSize - 1, kSize - 1), (std::array<std::uint8_t, 4>{128, 0, 0, 128}));
    const sim::Image clear = Draw(96.0f, [](ID2D1DeviceContext*) {});
    EXPECT_EQ(InkPixels(clear, RECT{0, 0, 0, 0}, false), 0);
}

TEST_F(GraphicsPixels, BrushOpacityScalesAlpha) {
    const D2D1_COLOR_F green{0.0f, 1.0f, 0.0f, 1.0f};
    const D2D1_BRUSH_PROPERTIES properties{0.5f, D2D1_MATRIX_3X2_F{1, 0, 0, 1, 0, 0}};
    ID2D1SolidColorBrush* half = nullptr;
    ASSERT_EQ(stack.dc->CreateSolidColorBrush(&green, &properties, &half), S_OK);
    const D2D1_RECT_F rect{0, 0, 4, 4};
    const sim::Image image = Draw(96.0f, [&](ID2D1DeviceContext* dc) { dc->FillRectangle(&rect, half); });
    EXPECT_EQ(image.Bgra(1, 1), (std::array<std::uint8_t, 4>{0, 128, 0, 128}));
    half->Release();
}

TEST_F(GraphicsPixels, StrokesAreCentredOnTheOutlineWithTheirWidth) {
    const D2D1_RECT_F rect{10, 10, 50, 50};
    const sim::Image box = Draw(96.0f, [&](ID2D1DeviceContext* dc) { dc->DrawRectangle(&rect, brush, 4.0f, nullptr); });
    // The left edge at x = 10 covers x 8 to 12.
    EXPECT_EQ(box.Bgra(8, 30)[3], 255);
    EXPECT_EQ(box.Bgra(11, 30)[3], 255);
    EXPECT_EQ(box.Bgra(7, 30)[3], 0);
    EXPECT_EQ(box.Bgra(12, 30)[3], 0);
    EXPECT_EQ(box.Bgra(30, 30)[3], 0);  // the inside stays empty

    const sim::Image line = Draw(144.0f, [&](ID2D1DeviceContext* dc) {
        dc->DrawLine(D2D1_POINT_2F{10, 20}, D2D1_POINT_2F{50, 20}, brush, 2.0f, nullptr);
    });
    // At 144 DPI: from x 15 to 75 (flat ends), y 28.5 to 31.5.
    EXPECT_EQ(line.Bgra(40, 29)[3], 255);
    EXPECT_EQ(line.Bgra(40, 30)[3], 255);
    EXPECT_GT(line.Bgra(40, 28)[3], 0);  // half covered
    EXPECT_LT(line.Bgra(40, 28)[3], 255);
    EXPECT_EQ(line.Bgra(40, 32)[3], 0);
    EXPECT_EQ(line.Bgra(14, 30)[3], 0);
    EXPECT_EQ(line.Bgra(75, 30)[3], 0);
}

// The renderer's cursor arrow, tip at the origin.
ID2D1PathGeometry* Arrow(ID2D1Factory1* factory) {
    ID2D1PathGeometry* geometry = nullptr;
    EXPECT_EQ(factory->CreatePathGeometry(&geometry), S_OK);
    ID2D1GeometrySink* sink = nullptr;
    EXPECT_EQ(geometry->Open(&sink), S_OK);
    const D2D1_POINT_2F outline[] = {{15.0f, 30.0f}, {0.0f, 22.5f}, {-15.0f, 30.0f}};
    sink->BeginFigure(D2D1_POINT_2F{0.0f, 0.0f}, D2D1_FIGURE_BEGIN_FILLED);
    sink->AddLines(outline, 3);
    sink->EndFigure(D2D1_FIGURE_END_CLOSED);
    EXPECT_EQ(sink->Close(), S_OK);
    sink->Release();
    return geometry;
}

TEST_F(GraphicsPixels, FillGeometryLandsUnderItsTransform) {
    ID2D1PathGeometry* arrow = Arrow(stack.d2dFactory);
    const D2D1_MATRIX_3X2_F translation{1, 0, 0, 1, 40, 20};
    struct Row {
        const char* why;
        float dpi;
        float scale;
    };
    const Row rows[] = {{"96 DPI", 96.0f, 1.0f}, {"144 DPI scales the translation too", 144.0f, 1.5f}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        D2D1_MATRIX_3X2_F saved{};
        const sim::Image image = Draw(row.dpi, [&](ID2D1DeviceContext* dc) {
            dc->GetTransform(&saved);
            dc->SetTransform(&translation);
            dc->FillGeometry(arrow, brush, nullptr);
            dc->SetTransform(&saved);
        });
        EXPECT_EQ(saved._11, 1.0f);  // the identity was in effect
        EXPECT_EQ(saved._31, 0.0f);
        // Arrow points in DIPs, relative to the tip: on the centre line up
        // to the notch at 22.5, and beside it inside the outline.
        auto at = [&](float dx, float dy) {
            return image.Bgra(static_cast<int>(std::floor((40 + dx) * row.scale)),
                              static_cast<int>(std::floor((20 + dy) * row.scale)))[3];
        };
        EXPECT_EQ(at(0, 12), 255);
        EXPECT_EQ(at(10, 24), 255);
        EXPECT_EQ(at(-10, 24), 255);
        EXPECT_EQ(at(0, 27), 0);   // inside the notch
        EXPECT_EQ(at(0, -3), 0);   // above the tip
        EXPECT_EQ(at(14, 10), 0);  // right of the edge
        const RECT bounds = gfxtest::InkBounds(image);
        EXPECT_NEAR(bounds.left, 25 * row.scale, 1.0);
        EXPECT_NEAR(bounds.right, 55 * row.scale, 1.0);
        EXPECT_NEAR(bounds.top, 20 * row.scale, 1.0);
        EXPECT_NEAR(bounds.bottom, 50 * row.scale, 1.0);
    }
    const std::vector<D2D1_MATRIX_3X2_F> transforms = sim::FillGeometryTransforms();
    ASSERT_EQ(transforms.size(), 2u);
    EXPECT_EQ(transforms[1]._31, 40.0f);
    EXPECT_EQ(transforms[1]._32, 20.0f);
    EXPECT_EQ(sim::CallsNamed("ID2D1DeviceContext::FillGeometry")[0].args,
              "transform=1,0,0,1,40,20 brush=1,1,1,1");
    arrow->Release();
}

TEST_F(GraphicsPixels, TextStaysInsideItsClippedBox) {
    IDWriteTextFormat* format = Format(40.0f, 400, DWRITE_TEXT_ALIGNMENT_LEADING);
    ASSERT_NE(format, nullptr);
    const D2D1_RECT_F box{20, 20, 80, 50};
    const RECT pixels{20, 20, 80, 50};
    const sim::Image clipped = Text(L"WWWWWWWW", box, 96.0f, format);
    EXPECT_GT(InkPixels(clipped, pixels, true), 200);
    EXPECT_EQ(InkPixels(clipped, pixels, false), 0);
    // The same text without the clip option spills out of the box.
    const sim::Image spilled = Text(L"WWWWWWWW", box, 96.0f, format, D2D1_DRAW_TEXT_OPTIONS_NONE);
    EXPECT_GT(InkPixels(spilled, pixels, false), 0);
    format->Release();
}

TEST_F(GraphicsPixels, TextAlignsInItsBox) {
    struct Row {
        const char* why;
        DWRITE_TEXT_ALIGNMENT alignment;
        float expectedCentreX;  // of the ink, in pixels
    };
    const D2D1_RECT_F box{10, 40, 190, 100};
    const Row rows[] = {
        {"leading starts at the left edge", DWRITE_TEXT_ALIGNMENT_LEADING, -1},
        {"centre puts the ink around the box's centre", DWRITE_TEXT_ALIGNMENT_CENTER, 100},
        {"trailing ends at the right edge", DWRITE_TEXT_ALIGNMENT_TRAILING, -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        IDWriteTextFormat* format = Format(20.0f, 400, row.alignment);
        ASSERT_NE(format, nullptr);
        const sim::Image image = Text(L"Hello", box, 96.0f, format);
        const RECT ink = gfxtest::InkBounds(image);
        ASSERT_GT(ink.right, ink.left);
        const int width = ink.right - ink.left;
        EXPECT_GT(width, 30);   // five letters at 20 DIPs
        EXPECT_LT(width, 100);
        if (row.alignment == DWRITE_TEXT_ALIGNMENT_LEADING) {
            EXPECT_NEAR(ink.left, 10, 3);
        }
        if (row.alignment == DWRITE_TEXT_ALIGNMENT_TRAILING) {
            EXPECT_NEAR(ink.right, 190, 3);
        }
        if (row.expectedCentreX > 0) {
            EXPECT_NEAR((ink.left + ink.right) / 2.0, row.expectedCentreX, 3);
        }
        // Paragraph alignment centre: the line sits in the middle of the box.
        EXPECT_NEAR((ink.top + ink.bottom) / 2.0, 70, 5);
        // Fully covered pixels have the brush's colour.
        bool sawSolid = false;
        for (int y = ink.top; y < ink.bottom; ++y)
            for (int x = ink.left; x < ink.right; ++x)
                if (image.Bgra(x, y)[3] == 255) {
                    sawSolid = true;
                    EXPECT_EQ(image.Pixel(x, y), (sim::Rgba{255, 255, 255, 255}));
                }
        EXPECT_TRUE(sawSolid);
        format->Release();
    }
}

TEST_F(GraphicsPixels, TextScalesWithDpiAndWeight) {
    IDWriteTextFormat* normal = Format(20.0f, 400, DWRITE_TEXT_ALIGNMENT_LEADING);
    IDWriteTextFormat* bold = Format(20.0f, 700, DWRITE_TEXT_ALIGNMENT_LEADING);
    ASSERT_NE(normal, nullptr);
    ASSERT_NE(bold, nullptr);
    const D2D1_RECT_F box{0, 0, 120, 40};
    const sim::Image at96 = Text(L"Hello", box, 96.0f, normal);
    const sim::Image at144 = Text(L"Hello", box, 144.0f, normal);
    const RECT small = gfxtest::InkBounds(at96);
    const RECT large = gfxtest::InkBounds(at144);
    EXPECT_NEAR(static_cast<double>(large.right - large.left) / (small.right - small.left), 1.5, 0.1);
    EXPECT_NEAR(static_cast<double>(large.bottom - large.top) / (small.bottom - small.top), 1.5, 0.15);
    const int normalInk = InkPixels(at96, RECT{0, 0, 0, 0}, false);
    const int boldInk = InkPixels(Text(L"Hello", box, 96.0f, bold), RECT{0, 0, 0, 0}, false);
    EXPECT_GT(boldInk, normalInk + normalInk / 10);
    // An empty string draws nothing.
    EXPECT_EQ(InkPixels(Text(L"", box, 96.0f, normal), RECT{0, 0, 0, 0}, false), 0);
    normal->Release();
    bold->Release();
}

TEST_F(GraphicsPixels, TextArrivesAsUtf16Units) {
    IDWriteTextFormat* format = Format(12.0f, 400, DWRITE_TEXT_ALIGNMENT_LEADING);
    ASSERT_NE(format, nullptr);
    // A surrogate pair (U+1F600), then an unpaired high surrogate.
    const WCHAR units[] = {L'A', static_cast<WCHAR>(0xD83D), static_cast<WCHAR>(0xDE00), static_cast<WCHAR>(0xD800),
                           L'B'};
    const D2D1_RECT_F box{0, 0, 100, 20};
    Draw(96.0f, [&](ID2D1DeviceContext* dc) {
        dc->DrawText(units, 5, format, &box, brush, D2D1_DRAW_TEXT_OPTIONS_CLIP, DWRITE_MEASURING_MODE_NATURAL);
    });
    const std::vector<sim::Call> calls = sim::CallsNamed("ID2D1DeviceContext::DrawText");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_NE(calls[0].args.find("text=\"A\xF0\x9F\x98\x80\xEF\xBF\xBD" "B\" length=5"), std::string::npos)
        << calls[0].args;
    format->Release();
}

TEST_F(GraphicsPixels, PresentShowsTheBackBufferAndFlips) {
    const D2D1_RECT_F all{0, 0, kSize, kSize};
    ID2D1SolidColorBrush* red = gfxtest::Brush(stack.dc, D2D1_COLOR_F{1, 0, 0, 1});
    ID2D1SolidColorBrush* blue = gfxtest::Brush(stack.dc, D2D1_COLOR_F{0, 0, 1, 1});
    EXPECT_TRUE(sim::FrontBuffer(chain).Empty());
    Draw(96.0f, [&](ID2D1DeviceContext* dc) { dc->FillRectangle(&all, red); });
    ASSERT_EQ(chain->Present(1, 0), S_OK);
    EXPECT_EQ(sim::FrontBuffer(chain).Pixel(5, 5), (sim::Rgba{255, 0, 0, 255}));
    // The new back buffer is the other one; drawing there leaves the screen alone.
    EXPECT_EQ(sim::BackBuffer(chain).Pixel(5, 5), (sim::Rgba{}));
    Draw(96.0f, [&](ID2D1DeviceContext* dc) { dc->FillRectangle(&all, blue); });
    EXPECT_EQ(sim::FrontBuffer(chain).Pixel(5, 5), (sim::Rgba{255, 0, 0, 255}));
    ASSERT_EQ(chain->Present(1, 0), S_OK);
    EXPECT_EQ(sim::FrontBuffer(chain).Pixel(5, 5), (sim::Rgba{0, 0, 255, 255}));
    red->Release();
    blue->Release();
}

}  // namespace
