// DirectWrite of the simulated desktop: the factory and text formats. The
// layout and painting of the text itself is in gfx_text.cpp.
#include <cmath>
#include <cwchar>

#include "sim/gfx_internal.h"

namespace sim::gfx {
namespace {

class DWriteFactory final : public IDWriteFactory, public Object {
public:
    explicit DWriteFactory(std::optional<int> driverType) : Object("IDWriteFactory", driverType, std::nullopt) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        return QueryAs<IDWriteFactory>(*this, this, riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ComAddRef("IDWriteFactory"); }
    ULONG STDMETHODCALLTYPE Release() override { return ComRelease("IDWriteFactory"); }

    HRESULT STDMETHODCALLTYPE CreateTextFormat(const WCHAR* family, IDWriteFontCollection* fontCollection,
                                               DWRITE_FONT_WEIGHT weight, DWRITE_FONT_STYLE style,
                                               DWRITE_FONT_STRETCH stretch, FLOAT size, const WCHAR* locale,
                                               IDWriteTextFormat** textFormat) override {
        const std::string call = "IDWriteFactory::CreateTextFormat";
        if (textFormat) *textFormat = nullptr;
        if (!Usable(*this, call)) return E_UNEXPECTED;
        const std::string familyUtf8 = family ? Utf16ToUtf8(family, std::wcslen(family)) : std::string();
        const std::string localeUtf8 = locale ? Utf16ToUtf8(locale, std::wcslen(locale)) : std::string();
        const std::string args = "family=" + familyUtf8 + " weight=" + std::to_string(weight) +
                                 " style=" + std::to_string(style) + " stretch=" + std::to_string(stretch) +
                                 " size=" + Num(size) + " locale=" + (locale ? localeUtf8 : "null") +
                                 (fontCollection ? " collection=custom" : "");
        if (auto fault = FaultFor(call, this)) return Finish(call, args, fault->result);
        if (!textFormat) return Finish(call, args, E_POINTER);
        // The platform's limits: weights 1 to 999, the three styles, stretches
        // 1 to 9, a positive finite size, and a locale string (empty is fine).
        const int w = static_cast<int>(weight);
        const int st = static_cast<int>(style);
        const int sr = static_cast<int>(stretch);
        const bool valid = family && locale && !fontCollection && w >= 1 && w <= 999 && st >= 0 && st <= 2 &&
                           sr >= 1 && sr <= 9 && size > 0.0f && std::isfinite(size);
        if (!valid) return Finish(call, args, E_INVALIDARG);
        *textFormat = Make<TextFormat>(this, familyUtf8, weight, style, stretch, size);
        return Finish(call, args, S_OK);
    }
};

}  // namespace

TextFormat::TextFormat(Object* factory, std::string familyUtf8, DWRITE_FONT_WEIGHT weight, DWRITE_FONT_STYLE style,
                       DWRITE_FONT_STRETCH stretch, FLOAT size)
    : Object("IDWriteTextFormat", factory->DriverType(), std::nullopt),
      familyUtf8(std::move(familyUtf8)),
      weight(weight),
      style(style),
      stretch(stretch),
      size(size),
      factory_(factory) {}

HRESULT TextFormat::SetTextAlignment(DWRITE_TEXT_ALIGNMENT alignment) {
    const std::string call = "IDWriteTextFormat::SetTextAlignment";
    if (!Usable(*this, call)) return E_UNEXPECTED;
    const std::string args = "alignment=" + std::to_string(alignment);
    if (auto fault = FaultFor(call, this)) return Finish(call, args, fault->result);
    if (static_cast<int>(alignment) < 0 || static_cast<int>(alignment) > DWRITE_TEXT_ALIGNMENT_JUSTIFIED)
        return Finish(call, args, E_INVALIDARG);
    textAlignment = alignment;
    return Finish(call, args, S_OK);
}

HRESULT TextFormat::SetParagraphAlignment(DWRITE_PARAGRAPH_ALIGNMENT alignment) {
    const std::string call = "IDWriteTextFormat::SetParagraphAlignment";
    if (!Usable(*this, call)) return E_UNEXPECTED;
    const std::string args = "alignment=" + std::to_string(alignment);
    if (auto fault = FaultFor(call, this)) return Finish(call, args, fault->result);
    if (static_cast<int>(alignment) < 0 || static_cast<int>(alignment) > DWRITE_PARAGRAPH_ALIGNMENT_CENTER)
        return Finish(call, args, E_INVALIDARG);
    paragraphAlignment = alignment;
    return Finish(call, args, S_OK);
}

std::string Utf16ToUtf8(const WCHAR* units, std::size_t count) {
    std::string out;
    auto put = [&out](std::uint32_t cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    };
    constexpr std::uint32_t kReplacement = 0xFFFD;
    for (std::size_t i = 0; i < count; ++i) {
        const auto unit = static_cast<std::uint32_t>(units[i]);
        if (unit > 0xFFFF) {
            put(kReplacement);  // not a UTF-16 code unit at all
        } else if (unit >= 0xD800 && unit <= 0xDBFF) {
            const auto next = i + 1 < count ? static_cast<std::uint32_t>(units[i + 1]) : 0u;
            if (next >= 0xDC00 && next <= 0xDFFF) {
                put(0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
                ++i;
            } else {
                put(kReplacement);
            }
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            put(kReplacement);
        } else {
            put(unit);
        }
    }
    return out;
}

}  // namespace sim::gfx

extern "C" HRESULT WINAPI DWriteCreateFactory(DWRITE_FACTORY_TYPE factoryType, REFIID iid, IUnknown** factory) {
    using namespace sim::gfx;
    const std::string call = "DWriteCreateFactory";
    if (factory) *factory = nullptr;
    const std::string args = "type=" + std::to_string(factoryType) + " iid=" + InterfaceName(iid);
    if (auto fault = FaultFor(call, AmbientDriverType())) return Finish(call, args, fault->result);
    if (!factory) return Finish(call, args, E_INVALIDARG);
    if (factoryType != DWRITE_FACTORY_TYPE_SHARED && factoryType != DWRITE_FACTORY_TYPE_ISOLATED)
        return Finish(call, args, E_INVALIDARG);
    if (iid != __uuidof(IDWriteFactory) && iid != __uuidof(IUnknown)) return Finish(call, args, E_NOINTERFACE);
    // Each call makes its own factory, so that a run that releases everything
    // leaves nothing alive, even though the platform shares one per process.
    *factory = Make<DWriteFactory>(AmbientDriverType());
    return Finish(call, args, S_OK);
}
