// Well-formed UTF-8 (RFC 3629) spelled out the slow way: build each code point
// and compare it with the bounds of its length. The decoder's fast check is
// compared against this in the unit tests and in the fuzz target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace frametest {

inline bool ReferenceWellFormedUtf8(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size()) {
        const auto lead = static_cast<std::uint8_t>(text[at]);
        std::size_t length = 0;
        std::uint32_t codePoint = 0;
        std::uint32_t smallest = 0;
        if (lead <= 0x7F) {
            ++at;
            continue;
        }
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, codePoint = lead & 0x1Fu, smallest = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, codePoint = lead & 0x0Fu, smallest = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, codePoint = lead & 0x07u, smallest = 0x10000;
        } else {
            return false;
        }
        if (text.size() - at < length) {
            return false;
        }
        for (std::size_t i = 1; i < length; ++i) {
            const auto next = static_cast<std::uint8_t>(text[at + i]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            codePoint = (codePoint << 6) | (next & 0x3Fu);
        }
        if (codePoint < smallest || (codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint > 0x10FFFF) {
            return false;
        }
        at += length;
    }
    return true;
}

}  // namespace frametest
