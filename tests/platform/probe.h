// A window class whose procedure records every message it gets, with an
// optional hook deciding the answer, so platform tests can act as the program.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "sim/desktop.h"

namespace probe {

struct Delivery {
    HWND window;
    UINT message;
    WPARAM wParam;
    std::uint64_t timeMs;
};

inline std::vector<Delivery>& Trace() {
    static std::vector<Delivery> trace;
    return trace;
}

// Returns the answer, or nothing to fall back to DefWindowProcW.
using Hook = std::function<std::optional<LRESULT>(HWND, UINT, WPARAM, LPARAM)>;
inline Hook& CurrentHook() {
    static Hook hook;
    return hook;
}

inline LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Trace().push_back(Delivery{window, message, wParam, sim::NowMs()});
    if (CurrentHook())
        if (auto answer = CurrentHook()(window, message, wParam, lParam)) return *answer;
    return DefWindowProcW(window, message, wParam, lParam);
}

inline constexpr wchar_t kClass[] = L"probeWindow";

// Names of the messages delivered so far, leaving out the placement messages
// that window creation and SetWindowPos interleave.
inline std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const Delivery& d : Trace())
        if (d.message != WM_WINDOWPOSCHANGING && d.message != WM_WINDOWPOSCHANGED) names.push_back(sim::MessageName(d.message));
    return names;
}

// A fresh desktop with the probe class registered and no hook.
class DesktopTest : public ::testing::Test {
protected:
    void SetUp() override { Fresh(sim::DesktopConfig{}); }
    void TearDown() override {
        CurrentHook() = nullptr;
        sim::Reset();
    }

    void Fresh(const sim::DesktopConfig& config) {
        sim::Reset();
        sim::Configure(config);
        Trace().clear();
        CurrentHook() = nullptr;
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &Procedure;
        wc.hInstance = sim::RendererInstance();
        wc.lpszClassName = kClass;
        ASSERT_NE(RegisterClassExW(&wc), 0);
    }

    HWND Make(RECT r = RECT{0, 0, 0, 0}, DWORD exStyle = 0) {
        return CreateWindowExW(exStyle, kClass, L"", WS_POPUP, r.left, r.top, r.right - r.left, r.bottom - r.top,
                               nullptr, nullptr, sim::RendererInstance(), nullptr);
    }

    // Runs the program's message loop until GetMessageW returns 0 or -1 and
    // returns that result; every retrieved message is dispatched.
    BOOL Pump(MSG* last = nullptr) {
        MSG msg{};
        BOOL got;
        while ((got = GetMessageW(&msg, nullptr, 0, 0)) > 0) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (last) *last = msg;
        return got;
    }
};

}  // namespace probe
