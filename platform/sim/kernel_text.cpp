// UTF-8 to UTF-16 conversion. wchar_t is 32 bits on Linux, but the output is
// still UTF-16 code units, one per wchar_t, with characters outside the Basic
// Multilingual Plane as surrogate pairs, so lengths agree with Windows.
#include <windows.h>

#include <cstring>
#include <vector>

#include "sim/desktop.h"
#include "sim/user_state.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes UTF-8 strictly: no overlong forms, no surrogates, nothing above
// U+10FFFF. Each maximal ill-formed subpart becomes one U+FFFD and sets `bad`.
std::vector<char16_t> DecodeUtf8(const unsigned char* bytes, std::size_t size, bool& bad) {
    std::vector<char16_t> units;
    std::size_t i = 0;
    while (i < size) {
        const unsigned char b0 = bytes[i];
        int need = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        char32_t c = 0;
        if (b0 < 0x80) {
            units.push_back(b0);
            ++i;
            continue;
        } else if (b0 >= 0xC2 && b0 <= 0xDF) {
            need = 1;
            c = b0 & 0x1F;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            need = 2;
            c = b0 & 0x0F;
            if (b0 == 0xE0) low = 0xA0;   // overlong below U+0800
            if (b0 == 0xED) high = 0x9F;  // surrogates
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            need = 3;
            c = b0 & 0x07;
            if (b0 == 0xF0) low = 0x90;   // overlong below U+10000
            if (b0 == 0xF4) high = 0x8F;  // above U+10FFFF
        } else {
            bad = true;
            units.push_back(static_cast<char16_t>(kReplacement));
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        bool ok = true;
        for (int k = 0; k < need; ++k, ++j) {
            const unsigned char lo = k == 0 ? low : 0x80;
            const unsigned char hi = k == 0 ? high : 0xBF;
            if (j >= size || bytes[j] < lo || bytes[j] > hi) {
                ok = false;
                break;
            }
            c = (c << 6) | (bytes[j] & 0x3F);
        }
        if (!ok) {
            bad = true;
            units.push_back(static_cast<char16_t>(kReplacement));
            i = j;  // the maximal subpart ends before the byte that broke it
            continue;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            units.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            units.push_back(static_cast<char16_t>(c));
        }
        i = j;
    }
    return units;
}

}  // namespace

using namespace sim;
using namespace sim::detail;

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCCH lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar) {
    Desktop& desktop = D();
    int result = 0;
    auto fail = [&](DWORD error) {
        desktop.lastError = error;
        return 0;
    };
    [&] {
        if (auto fault = FaultFor("MultiByteToWideChar")) return void(fail(FaultError(*fault, ERROR_NO_UNICODE_TRANSLATION)));
        if (!lpMultiByteStr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
            (cchWideChar > 0 && !lpWideCharStr))
            return void(fail(ERROR_INVALID_PARAMETER));
        if (CodePage != CP_UTF8) {
            ReportMisuse("MultiByteToWideChar: only CP_UTF8 is modelled, got code page " + std::to_string(CodePage));
            return void(fail(ERROR_INVALID_PARAMETER));
        }
        if (dwFlags & ~static_cast<DWORD>(MB_ERR_INVALID_CHARS)) return void(fail(kErrorInvalidFlags));
        // -1: the string is NUL-terminated and the NUL is converted too.
        const std::size_t size = cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<std::size_t>(cbMultiByte);
        bool bad = false;
        const std::vector<char16_t> units =
            DecodeUtf8(reinterpret_cast<const unsigned char*>(lpMultiByteStr), size, bad);
        if (bad && (dwFlags & MB_ERR_INVALID_CHARS)) return void(fail(ERROR_NO_UNICODE_TRANSLATION));
        if (cchWideChar == 0) {
            result = static_cast<int>(units.size());
            return;
        }
        if (units.size() > static_cast<std::size_t>(cchWideChar)) return void(fail(ERROR_INSUFFICIENT_BUFFER));
        for (std::size_t k = 0; k < units.size(); ++k) lpWideCharStr[k] = static_cast<wchar_t>(units[k]);
        result = static_cast<int>(units.size());
    }();
    Record("MultiByteToWideChar", "cp=" + std::to_string(CodePage) + " flags=" + Hex(dwFlags) + " bytes=" +
                                      std::to_string(cbMultiByte) + " out=" + Ptr(lpWideCharStr) + " cch=" +
                                      std::to_string(cchWideChar),
           result);
    return result;
}
