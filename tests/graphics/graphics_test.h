// Small helpers shared by the renderer's graphics suites.
#pragma once

#include <d3d11.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sim/graphics.h"
#include "support/harness.h"

namespace gfxtest {

using Strings = std::vector<std::string>;
using Frame = std::vector<std::uint8_t>;

inline constexpr char kStarting[] = "renderer starting";
inline constexpr char kFallback[] = "hardware graphics unavailable; falling back to WARP";
inline constexpr char kNoWarp[] = "could not create WARP graphics devices";
inline constexpr char kNoMonitors[] = "no monitors found";
inline constexpr char kParentExited[] = "parent exited";
inline constexpr char kExiting[] = "renderer exiting";

inline std::string Created(int surfaces) { return "created " + std::to_string(surfaces) + " monitor surface(s)"; }

inline sim::MonitorConfig Monitor(LONG left, LONG top, LONG width, LONG height, UINT dpi, bool primary) {
    sim::MonitorConfig monitor;
    monitor.rect = RECT{left, top, left + width, top + height};
    monitor.work = RECT{left, top, left + width, top + height - 40};
    monitor.dpi = dpi;
    monitor.primary = primary;
    return monitor;
}

// Sends `frame` to the control window at virtual time `ms`; the answer lands in `answer`.
inline void SendFrameAt(std::uint64_t ms, Frame frame, LRESULT* answer = nullptr) {
    sim::At(ms, [frame = std::move(frame), answer] {
        const LRESULT result = simtest::SendFrame(frame);
        if (answer) *answer = result;
    });
}

// The journal's calls made while the program handled the first posted
// `message` (e.g. "WM_APP+1") dispatched at or after `fromMs`: from that
// DispatchMessageW to the next GetMessageW.
inline std::vector<sim::Call> CallsWhileHandling(const std::string& message, std::uint64_t fromMs) {
    std::vector<sim::Call> calls;
    bool inside = false;
    for (const sim::Call& call : sim::Journal()) {
        if (inside && call.name == "GetMessageW") break;
        if (inside) calls.push_back(call);
        if (!inside && call.name == "DispatchMessageW" && call.timeMs >= fromMs &&
            call.args.find("msg=" + message + " ") != std::string::npos)
            inside = true;
    }
    return calls;
}

inline std::size_t CountNamed(const std::vector<sim::Call>& calls, const std::string& name) {
    std::size_t count = 0;
    for (const sim::Call& call : calls)
        if (call.name == name) ++count;
    return count;
}

}  // namespace gfxtest
