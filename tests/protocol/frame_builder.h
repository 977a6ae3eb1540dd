// Builds version-2 frames field by field so that a test states only what it
// changes: a valid command from one call, then a patch at a named offset.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "protocol/protocol.h"

namespace frametest {

using Bytes = std::vector<std::uint8_t>;
using vorlune::overlay::Color;
using vorlune::overlay::LinePoints;
using vorlune::overlay::Rect;

// Frame header offsets.
inline constexpr std::size_t kMagicAt = 0;
inline constexpr std::size_t kVersionAt = 4;
inline constexpr std::size_t kTargetAt = 6;
inline constexpr std::size_t kTagAt = 8;
inline constexpr std::size_t kPayloadLengthAt = 16;
inline constexpr std::size_t kCommandCountAt = 20;

// Command offsets, from the command's first byte.
inline constexpr std::size_t kKindAt = 0;
inline constexpr std::size_t kFlagsAt = 2;
inline constexpr std::size_t kLengthAt = 4;
inline constexpr std::size_t kRectAt = 8;         // FillRect, StrokeRect, Text
inline constexpr std::size_t kStrokeWidthAt = 24;  // StrokeRect, Line
inline constexpr std::size_t kFontSizeAt = 24;
inline constexpr std::size_t kFontWeightAt = 28;
inline constexpr std::size_t kAlignmentAt = 30;
inline constexpr std::size_t kReservedAt = 31;
inline constexpr std::size_t kTextLengthAt = 36;
inline constexpr std::size_t kTextAt = 40;

inline void PutLittleEndian(Bytes& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}
inline void PutU16(Bytes& out, std::uint16_t value) { PutLittleEndian(out, value, 2); }
inline void PutU32(Bytes& out, std::uint32_t value) { PutLittleEndian(out, value, 4); }
inline void PutU64(Bytes& out, std::uint64_t value) { PutLittleEndian(out, value, 8); }
inline void PutF32(Bytes& out, float value) { PutU32(out, std::bit_cast<std::uint32_t>(value)); }
inline void PutColor(Bytes& out, Color c) { out.insert(out.end(), {c.r, c.g, c.b, c.a}); }
inline void PutRect(Bytes& out, Rect r) {
    PutF32(out, r.left);
    PutF32(out, r.top);
    PutF32(out, r.right);
    PutF32(out, r.bottom);
}

// Patches return a changed copy so that table rows can nest them.
inline Bytes Patched(Bytes bytes, std::size_t at, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i) {
        bytes.at(at + static_cast<std::size_t>(i)) = static_cast<std::uint8_t>(value >> (8 * i));
    }
    return bytes;
}
inline Bytes Patched8(Bytes b, std::size_t at, std::uint8_t v) { return Patched(std::move(b), at, v, 1); }
inline Bytes Patched16(Bytes b, std::size_t at, std::uint16_t v) { return Patched(std::move(b), at, v, 2); }
inline Bytes Patched32(Bytes b, std::size_t at, std::uint32_t v) { return Patched(std::move(b), at, v, 4); }
inline Bytes PatchedF32(Bytes b, std::size_t at, float v) {
    return Patched(std::move(b), at, std::bit_cast<std::uint32_t>(v), 4);
}

// A command's bytes grown or cut to `length`, with its length field to match.
inline Bytes Resized(Bytes command, std::uint32_t length) {
    command.resize(length, 0);
    return Patched32(std::move(command), kLengthAt, length);
}

inline Bytes CommandHeader(std::uint16_t kind, std::uint16_t flags, std::uint32_t length) {
    Bytes out;
    PutU16(out, kind);
    PutU16(out, flags);
    PutU32(out, length);
    return out;
}

inline Bytes FillRectCmd(Rect rect, Color color = {1, 2, 3, 4}, std::uint16_t flags = 0) {
    Bytes out = CommandHeader(1, flags, 28);
    PutRect(out, rect);
    PutColor(out, color);
    return out;
}

inline Bytes StrokeRectCmd(Rect rect, float strokeWidth, Color color = {5, 6, 7, 8}, std::uint16_t flags = 0) {
    Bytes out = CommandHeader(2, flags, 32);
    PutRect(out, rect);
    PutF32(out, strokeWidth);
    PutColor(out, color);
    return out;
}

inline Bytes LineCmd(LinePoints line, float strokeWidth, Color color = {9, 10, 11, 12}, std::uint16_t flags = 0) {
    Bytes out = CommandHeader(3, flags, 32);
    PutF32(out, line.x1);
    PutF32(out, line.y1);
    PutF32(out, line.x2);
    PutF32(out, line.y2);
    PutF32(out, strokeWidth);
    PutColor(out, color);
    return out;
}

struct TextFields {
    Rect rect{10.0f, 20.0f, 300.0f, 60.0f};
    float fontSize = 16.0f;
    std::uint16_t fontWeight = 400;
    std::uint8_t alignment = 0;
    Color color{255, 255, 255, 255};
    std::string text = "hello";
    std::uint16_t flags = 0;
};

inline Bytes TextCmd(const TextFields& fields = {}) {
    Bytes out = CommandHeader(4, fields.flags, static_cast<std::uint32_t>(40 + fields.text.size()));
    PutRect(out, fields.rect);
    PutF32(out, fields.fontSize);
    PutU16(out, fields.fontWeight);
    out.push_back(fields.alignment);
    out.push_back(0);  // reserved
    PutColor(out, fields.color);
    PutU32(out, static_cast<std::uint32_t>(fields.text.size()));
    out.insert(out.end(), fields.text.begin(), fields.text.end());
    return out;
}

inline Bytes TextCmd(std::string_view text) {
    TextFields fields;
    fields.text = std::string(text);
    return TextCmd(fields);
}

inline Bytes CursorCmd(std::uint16_t flags = 0) { return CommandHeader(5, flags, 8); }

// A command of any kind whose payload is `length` - 8 bytes of filler.
inline Bytes RawCmd(std::uint16_t kind, std::uint16_t flags, std::uint32_t length) {
    Bytes out = CommandHeader(kind, flags, length);
    out.resize(length, 0xAB);
    return out;
}

// A header whose payload length and command count match the commands given.
inline Bytes Frame(const std::vector<Bytes>& commands, std::uint16_t target = 2, std::uint64_t frameTag = 0) {
    Bytes out;
    std::size_t payload = 0;
    for (const Bytes& command : commands) {
        payload += command.size();
    }
    PutU32(out, vorlune::overlay::kFrameMagic);
    PutU16(out, 2);
    PutU16(out, target);
    PutU64(out, frameTag);
    PutU32(out, static_cast<std::uint32_t>(payload));
    PutU32(out, static_cast<std::uint32_t>(commands.size()));
    for (const Bytes& command : commands) {
        out.insert(out.end(), command.begin(), command.end());
    }
    return out;
}

// Frame bytes with extra bytes after the commands, the payload length kept honest.
inline Bytes WithTrailing(Bytes frame, std::size_t extra) {
    frame.resize(frame.size() + extra, 0);
    const auto payload = static_cast<std::uint32_t>(frame.size() - 24);
    return Patched32(std::move(frame), kPayloadLengthAt, payload);
}

struct Decoded {
    bool ok = false;
    vorlune::overlay::Scene scene;
    std::string error;
};

// Decodes from a buffer of exactly the frame's size, so that a read past the
// end lands outside the allocation where AddressSanitizer sees it.
inline Decoded Decode(const Bytes& frame) {
    Decoded result;
    if (frame.empty()) {
        result.ok = vorlune::overlay::DecodeScene(nullptr, 0, result.scene, result.error);
        return result;
    }
    const std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[frame.size()]);
    std::copy(frame.begin(), frame.end(), exact.get());
    result.ok = vorlune::overlay::DecodeScene(exact.get(), frame.size(), result.scene, result.error);
    return result;
}

}  // namespace frametest
