// Text as DirectWrite lays it out for DrawText, done with Pango: the format's
// family (with DejaVu Sans behind it, since Debian has no Segoe UI), weight,
// style, stretch and size in device-independent pixels; word wrapping inside
// the layout box; leading, centred or trailing lines; the paragraph placed
// at the top, centre or bottom of the box; optional clipping to the box.
#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "sim/gfx_internal.h"

namespace sim::gfx {
namespace {

// DirectWrite draws control characters as nothing; Pango would draw boxes.
std::string Printable(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 && c != '\n' && c != '\r' && c != '\t') continue;
        out += c;
    }
    return out;
}

PangoStyle StyleOf(DWRITE_FONT_STYLE style) {
    switch (style) {
        case DWRITE_FONT_STYLE_OBLIQUE:
            return PANGO_STYLE_OBLIQUE;
        case DWRITE_FONT_STYLE_ITALIC:
            return PANGO_STYLE_ITALIC;
        default:
            return PANGO_STYLE_NORMAL;
    }
}

PangoAlignment AlignmentOf(DWRITE_TEXT_ALIGNMENT alignment) {
    switch (alignment) {
        case DWRITE_TEXT_ALIGNMENT_TRAILING:
            return PANGO_ALIGN_RIGHT;
        case DWRITE_TEXT_ALIGNMENT_CENTER:
            return PANGO_ALIGN_CENTER;
        default:
            return PANGO_ALIGN_LEFT;
    }
}

// Pango's font map keeps the fonts it has looked up for the life of the
// process; handing them back at exit keeps leak checkers quiet about them.
// Cairo's own caches stay: they are reachable from its globals, and
// clearing them (cairo_debug_reset_static_data) aborts whenever a font is
// still in use at exit, which depends on timing.
void ReleaseFontCachesAtExit() {
    static const bool registered = [] {
        std::atexit([] { pango_cairo_font_map_set_default(nullptr); });
        return true;
    }();
    (void)registered;
}

}  // namespace

void PaintText(cairo_t* cr, const std::string& utf8, const TextFormat& format, const D2D1_RECT_F& box, bool clip) {
    const double width = static_cast<double>(box.right) - box.left;
    const double height = static_cast<double>(box.bottom) - box.top;
    if (!(width >= 0.0) || !(height >= 0.0)) return;  // an inverted box lays out nothing
    const std::string text = Printable(utf8);
    ReleaseFontCachesAtExit();

    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoContext* context = pango_layout_get_context(layout);
    // Unhinted outlines with grey antialiasing: the same shapes at every DPI,
    // as DirectWrite's natural measuring mode gives.
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    pango_cairo_context_set_font_options(context, options);
    cairo_font_options_destroy(options);
    pango_context_set_round_glyph_positions(context, FALSE);
    pango_layout_context_changed(layout);

    PangoFontDescription* description = pango_font_description_new();
    const std::string families = format.familyUtf8 + ",DejaVu Sans";
    pango_font_description_set_family(description, families.c_str());
    pango_font_description_set_weight(description, static_cast<PangoWeight>(std::clamp(static_cast<int>(format.weight), 100, 1000)));
    pango_font_description_set_style(description, StyleOf(format.style));
    pango_font_description_set_stretch(description, static_cast<PangoStretch>(static_cast<int>(format.stretch) - 1));
    pango_font_description_set_absolute_size(description, static_cast<double>(format.size) * PANGO_SCALE);
    pango_layout_set_font_description(layout, description);
    pango_font_description_free(description);

    // The reading direction is left to right whatever the text, as DirectWrite's default.
    pango_layout_set_auto_dir(layout, FALSE);
    const double maxWidth = static_cast<double>(INT_MAX) / PANGO_SCALE - 1.0;
    pango_layout_set_width(layout, static_cast<int>(std::min(width, maxWidth) * PANGO_SCALE));
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    pango_layout_set_alignment(layout, AlignmentOf(format.textAlignment));
    pango_layout_set_justify(layout, format.textAlignment == DWRITE_TEXT_ALIGNMENT_JUSTIFIED);
    pango_layout_set_text(layout, text.data(), static_cast<int>(text.size()));

    PangoRectangle logical;
    pango_layout_get_extents(layout, nullptr, &logical);
    const double textHeight = static_cast<double>(logical.height) / PANGO_SCALE;
    double top = box.top;
    if (format.paragraphAlignment == DWRITE_PARAGRAPH_ALIGNMENT_CENTER) top += (height - textHeight) / 2.0;
    if (format.paragraphAlignment == DWRITE_PARAGRAPH_ALIGNMENT_FAR) top += height - textHeight;

    if (clip) {
        cairo_rectangle(cr, box.left, box.top, width, height);
        cairo_clip(cr);
    }
    cairo_move_to(cr, box.left, top);
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
}

}  // namespace sim::gfx

// Fontconfig, which Pango starts on a thread of its own, loses a few bytes
// while it parses its configuration, and never frees them. That is not ours
// to fix; without this every test binary that draws text would fail its leak
// check under AddressSanitizer. (Only consulted by LeakSanitizer builds.)
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
