// The core of the simulated desktop, shared by its user/kernel side and its
// graphics side, and the part of it that tests talk to about cross-cutting
// things: the call journal, fault rules, misuse reports, virtual time, the
// registry of live graphics objects, and a read-only view of windows and monitors.
#pragma once

#include <windef.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// ---- Journal: every platform call the program makes, in order. ----
struct Call {
    std::uint64_t seq = 0;
    std::uint64_t timeMs = 0;  // virtual time of the call
    std::string name;          // e.g. "CreateWindowExW", "IDXGISwapChain1::Present"
    std::string args;          // readable arguments, "key=value" separated by blanks
    long result = 0;           // HRESULT, BOOL or other result as the call returns it
};
// Returns the call's sequence number. A call that nests other calls (window
// creation sends messages, a dispatch runs a window procedure) is recorded when
// it starts, so the journal keeps the order of entry, and gets its result later.
std::uint64_t Record(std::string name, std::string args, long result = 0);
void SetResult(std::uint64_t seq, long result);
const std::vector<Call>& Journal();
// Calls with that name, in order.
std::vector<Call> CallsNamed(const std::string& name);
std::size_t CountCalls(const std::string& name);

// ---- Fault injection. Defaults: no faults. ----
struct Fault {
    std::string call;              // journal name of the call to fail
    long result = 0;               // HRESULT to return (negative), or a positive status
    DWORD lastError = 0;           // for calls that fail with a last-error value
    // Which matching uses fail: nth 0 with times -1 is every use; nth 0 with
    // times k the first k uses; nth n with times -1 the n-th use alone; nth n
    // with times k the k uses from the n-th on.
    int nth = 0;
    int times = -1;
    std::optional<int> driverType; // only for objects of this D3D driver type
    std::optional<int> monitor;    // only while building or drawing this monitor (enumeration index)

    // Builds a rule in one expression:
    //     sim::AddFault(sim::Fault::On("IDXGISwapChain1::Present", E_FAIL).Nth(2).ForMonitor(1));
    static Fault On(std::string call, long result = 0) {
        Fault fault;
        fault.call = std::move(call);
        fault.result = result;
        return fault;
    }
    Fault& Nth(int n) { return nth = n, *this; }
    Fault& Times(int n) { return times = n, *this; }
    Fault& LastError(DWORD error) { return lastError = error, *this; }
    Fault& ForDriver(int type) { return driverType = type, *this; }
    Fault& ForMonitor(int index) { return monitor = index, *this; }
};
void AddFault(Fault fault);
void ClearFaults();
// Context a call passes when it asks whether to fail.
struct FaultContext {
    std::optional<int> driverType;
    std::optional<int> monitor;
};
// Returns the fault to apply to this use of `call`, if a rule matches. Every
// call counts as a use of its name whether or not it then fails.
std::optional<Fault> ShouldFail(const std::string& call, const FaultContext& context = {});

// ---- Misuse: the program used the platform in a way real Windows would
// punish (a call on a released object, drawing outside BeginDraw ...). ----
void ReportMisuse(std::string what);
const std::vector<std::string>& Misuses();

// ---- Virtual time in milliseconds since Reset; also what the program's
// steady clock reads (in nanoseconds), so animations are deterministic. ----
std::uint64_t NowMs();
std::uint64_t NowNs();
void AdvanceTo(std::uint64_t ms);  // never moves time backwards

// ---- Registry of live graphics objects. ----
struct ObjectInfo {
    std::uint64_t id = 0;
    std::string type;
    ULONG refs = 0;
};
std::uint64_t RegisterObject(std::string type);
void UpdateObjectRefs(std::uint64_t id, ULONG refs);
void UnregisterObject(std::uint64_t id);
std::vector<ObjectInfo> LiveObjects();

// ---- Reset: a fresh desktop for the next run in the same test process. ----
// Each side registers what it must clear; Reset() runs them all, then clears
// the journal, faults, misuse reports, clock and object registry.
void OnReset(std::function<void()> hook);
void Reset();

// ---- Read-only view of the desktop, for the graphics side. ----
struct MonitorView {
    RECT rect{};
    RECT work{};
    bool primary = false;
    UINT dpi = 96;
};
std::vector<MonitorView> MonitorsView();  // in enumeration order
// Index (in enumeration order) of the monitor whose EnumDisplayMonitors
// callback is running, or -1. Graphics calls use it as their fault context.
int CurrentMonitor();

struct WindowView {
    bool visible = false;
    RECT rect{};  // screen rectangle, physical pixels
    DWORD style = 0;
    DWORD exStyle = 0;
    std::wstring className;
    std::wstring title;
    DWORD processId = 0;
};
bool ViewWindow(HWND window, WindowView& view);  // false when not a live window
std::vector<HWND> WindowsTopToBottom();          // live top-level windows, front first

}  // namespace sim
