// The message queue of the program's one thread, timers, the script of the
// outside world and the guards that stop a runaway message loop.
//
// GetMessageW retrieves in the platform's order: first the messages that other
// processes send (scripted events that are due run here, and their sends are
// delivered synchronously), then posted messages in FIFO order, then the quit
// message once no posted message is left, and WM_TIMER only when none of
// these is waiting. Only when nothing at all is waiting does virtual time
// advance, to the next due timer or scripted event.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "sim/desktop.h"
#include "sim/user_state.h"

namespace sim {
namespace detail {
namespace {

// The platform refuses further posts once a thread's queue holds this many.
constexpr std::size_t kPostedQuota = 10000;

bool PassesFilter(const MSG& msg, HWND window, UINT low, UINT high) {
    if (window && msg.hwnd != window) return false;
    if (low == 0 && high == 0) return true;
    return msg.message >= low && msg.message <= high;
}

MSG MakeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG msg{};
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = static_cast<DWORD>(NowMs());
    msg.pt = D().cursor;
    return msg;
}

// Runs every scripted event that is due, earliest first; an event may add
// further events, which run in this pass too when they are due.
void RunDueEvents() {
    for (;;) {
        auto& script = D().script;
        auto due = script.end();
        for (auto it = script.begin(); it != script.end(); ++it) {
            if (it->at > NowMs()) continue;
            if (due == script.end() || it->at < due->at || (it->at == due->at && it->seq < due->seq)) due = it;
        }
        if (due == script.end()) return;
        std::function<void()> run = std::move(due->run);
        script.erase(due);
        run();
    }
}

std::string MessageText(const MSG& msg) {
    return "msg=" + MessageName(msg.message) + " hwnd=" + Ptr(msg.hwnd) + " wParam=" + Hex(msg.wParam) +
           " lParam=" + Hex(static_cast<std::uint64_t>(msg.lParam));
}

BOOL StopLoop(LPMSG, const std::string& why) {
    D().loopStopped = true;
    ReportMisuse(why);
    Record("GetMessageW", "stopped: " + why, -1);
    return -1;
}

}  // namespace

void DropTimersOf(HWND window) {
    auto& timers = D().timers;
    timers.erase(std::remove_if(timers.begin(), timers.end(), [window](const Timer& t) { return t.window == window; }),
                 timers.end());
}

void DropPostedFor(HWND window) {
    auto& posted = D().posted;
    posted.erase(std::remove_if(posted.begin(), posted.end(), [window](const MSG& m) { return m.hwnd == window; }),
                 posted.end());
}

}  // namespace detail

using namespace detail;

void At(std::uint64_t ms, std::function<void()> event) {
    Desktop& desktop = D();
    desktop.script.push_back(ScriptEvent{ms, desktop.nextEventSeq++, std::move(event)});
}

std::size_t PendingEvents() { return D().script.size(); }

const std::vector<SentMessage>& SentMessages() { return D().sent; }

LRESULT SendFromOtherProcess(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const std::uint64_t seq = Record("script:SendMessage", "hwnd=" + Ptr(window) + " msg=" + MessageName(message) +
                                                               " wParam=" + Hex(wParam) + " lParam=" +
                                                               Hex(static_cast<std::uint64_t>(lParam)));
    const std::uint64_t when = NowMs();
    const bool exists = FindWindowRecord(window) != nullptr;
    const LRESULT result = exists ? DeliverMessage(window, message, wParam, lParam) : 0;
    SetResult(seq, static_cast<long>(result));
    D().sent.push_back(SentMessage{when, window, message, result, exists});
    return result;
}

LRESULT SendCopyData(HWND window, ULONG_PTR dwData, const void* data, DWORD cbData) {
    // The receiver gets its own copy, as the platform marshals WM_COPYDATA
    // into the receiving process; it is valid only during the send.
    std::unique_ptr<std::uint8_t[]> copy;
    if (data) {
        copy = std::make_unique<std::uint8_t[]>(std::max<std::size_t>(cbData, 1));
        std::memcpy(copy.get(), data, cbData);
    }
    COPYDATASTRUCT cds{dwData, cbData, copy.get()};
    const LRESULT result = SendFromOtherProcess(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds));
    if (copy) std::memset(copy.get(), 0xDD, std::max<std::size_t>(cbData, 1));
    cds = COPYDATASTRUCT{0xDDDDDDDD, 0xDDDDDDDD, nullptr};
    return result;
}

LRESULT SendNullCopyData(HWND window) { return SendFromOtherProcess(window, WM_COPYDATA, 0, 0); }

BOOL PostFromOtherProcess(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Desktop& desktop = D();
    const Window* record = FindWindowRecord(window);
    if (!record || !OwnedByRenderer(*record) || desktop.posted.size() >= kPostedQuota) return FALSE;
    desktop.posted.push_back(MakeMessage(window, message, wParam, lParam));
    return TRUE;
}

LRESULT SendClose(HWND window) { return SendFromOtherProcess(window, WM_CLOSE, 0, 0); }

std::string MessageName(UINT message) {
    switch (message) {
    case WM_CREATE: return "WM_CREATE";
    case WM_DESTROY: return "WM_DESTROY";
    case WM_CLOSE: return "WM_CLOSE";
    case WM_QUIT: return "WM_QUIT";
    case WM_SHOWWINDOW: return "WM_SHOWWINDOW";
    case WM_MOUSEACTIVATE: return "WM_MOUSEACTIVATE";
    case WM_WINDOWPOSCHANGING: return "WM_WINDOWPOSCHANGING";
    case WM_WINDOWPOSCHANGED: return "WM_WINDOWPOSCHANGED";
    case WM_COPYDATA: return "WM_COPYDATA";
    case WM_DISPLAYCHANGE: return "WM_DISPLAYCHANGE";
    case WM_NCCREATE: return "WM_NCCREATE";
    case WM_NCDESTROY: return "WM_NCDESTROY";
    case WM_NCHITTEST: return "WM_NCHITTEST";
    case WM_TIMER: return "WM_TIMER";
    case WM_DPICHANGED: return "WM_DPICHANGED";
    default: break;
    }
    if (message >= WM_APP && message < 0xC000) return "WM_APP+" + std::to_string(message - WM_APP);
    return Hex(message);
}

std::string HandleText(const void* handle) { return Ptr(handle); }

}  // namespace sim

using namespace sim;
using namespace sim::detail;

BOOL WINAPI PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    Desktop& desktop = D();
    BOOL result = FALSE;
    const Window* record = FindWindowRecord(hWnd);
    if (auto fault = FaultFor("PostMessageW")) {
        desktop.lastError = FaultError(*fault, kErrorNotEnoughQuota);
    } else if (hWnd && !record) {
        desktop.lastError = kErrorInvalidWindowHandle;
    } else if (desktop.posted.size() >= kPostedQuota) {
        desktop.lastError = kErrorNotEnoughQuota;
    } else {
        // A post to another process's window lands in that process's queue,
        // which the desktop does not model; it is accepted and goes no further.
        if (!record || OwnedByRenderer(*record)) desktop.posted.push_back(MakeMessage(hWnd, Msg, wParam, lParam));
        result = TRUE;
    }
    Record("PostMessageW", "hwnd=" + Ptr(hWnd) + " msg=" + MessageName(Msg) + " wParam=" + Hex(wParam) + " lParam=" +
                               Hex(static_cast<std::uint64_t>(lParam)),
           result);
    return result;
}

VOID WINAPI PostQuitMessage(int nExitCode) {
    D().quitPending = true;
    D().quitCode = nExitCode;
    Record("PostQuitMessage", "code=" + std::to_string(nExitCode));
}

BOOL WINAPI GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
    Desktop& desktop = D();
    const std::string filter = "filter=" + Ptr(hWnd) + "," + std::to_string(wMsgFilterMin) + "," + std::to_string(wMsgFilterMax);
    auto fail = [&](DWORD error) -> BOOL {
        desktop.lastError = error;
        Record("GetMessageW", filter, -1);
        return -1;
    };
    if (auto fault = FaultFor("GetMessageW")) return fail(FaultError(*fault, ERROR_INVALID_PARAMETER));
    if (!lpMsg) return fail(ERROR_INVALID_PARAMETER);
    if (hWnd && !FindWindowRecord(hWnd)) return fail(kErrorInvalidWindowHandle);
    if (desktop.loopStopped) return fail(ERROR_INVALID_PARAMETER);

    for (;;) {
        RunDueEvents();
        Desktop& d = D();
        auto retrieved = [&](const MSG& msg) -> BOOL {
            if (++d.messagesWithoutWait > d.config.maxMessagesWithoutWait)
                return StopLoop(lpMsg, "message loop retrieved " + std::to_string(d.config.maxMessagesWithoutWait) +
                                           " messages without ever waiting");
            *lpMsg = msg;
            Record("GetMessageW", MessageText(msg), 1);
            return TRUE;
        };

        auto posted = std::find_if(d.posted.begin(), d.posted.end(),
                                   [&](const MSG& m) { return PassesFilter(m, hWnd, wMsgFilterMin, wMsgFilterMax); });
        if (posted != d.posted.end()) {
            const MSG msg = *posted;
            d.posted.erase(posted);
            return retrieved(msg);
        }
        if (d.quitPending) {
            d.quitPending = false;
            *lpMsg = MakeMessage(nullptr, WM_QUIT, static_cast<WPARAM>(static_cast<unsigned>(d.quitCode)), 0);
            Record("GetMessageW", MessageText(*lpMsg), 0);
            return 0;
        }
        Timer* due = nullptr;
        for (Timer& timer : d.timers) {
            if (timer.due > NowMs()) continue;
            const MSG probe = MakeMessage(timer.window, WM_TIMER, timer.id, 0);
            if (!PassesFilter(probe, hWnd, wMsgFilterMin, wMsgFilterMax)) continue;
            if (!due || timer.due < due->due) due = &timer;
        }
        if (due) {
            // The period starts again when the timer message is generated, so a
            // starved timer yields one message, not one per missed period.
            due->due = NowMs() + due->period;
            return retrieved(MakeMessage(due->window, WM_TIMER, due->id,
                                         reinterpret_cast<LPARAM>(due->procedure)));
        }

        std::optional<std::uint64_t> next;
        for (const Timer& timer : d.timers) next = next ? std::min(*next, timer.due) : timer.due;
        for (const ScriptEvent& event : d.script) next = next ? std::min(*next, event.at) : event.at;
        if (!next) return StopLoop(lpMsg, "message loop would wait forever: no message, timer or scripted event is pending");
        if (*next > d.config.virtualTimeLimitMs)
            return StopLoop(lpMsg, "message loop ran past the virtual time limit of " +
                                       std::to_string(d.config.virtualTimeLimitMs) + " ms");
        AdvanceTo(*next);
        d.messagesWithoutWait = 0;
    }
}

BOOL WINAPI TranslateMessage(const MSG* lpMsg) {
    // Only keyboard messages are translated, and the desktop has no keyboard.
    Record("TranslateMessage", lpMsg ? "msg=" + MessageName(lpMsg->message) : std::string("null"), FALSE);
    return FALSE;
}

LRESULT WINAPI DispatchMessageW(const MSG* lpMsg) {
    Desktop& desktop = D();
    const std::uint64_t seq = Record("DispatchMessageW", lpMsg ? MessageText(*lpMsg) : std::string("null"));
    LRESULT result = 0;
    if (!lpMsg) {
        desktop.lastError = ERROR_INVALID_PARAMETER;
    } else if (lpMsg->message == WM_TIMER && lpMsg->lParam != 0) {
        // A timer with its own callback: only a callback that a live timer
        // names is called, as the platform guards against forged messages.
        const auto procedure = reinterpret_cast<TIMERPROC>(lpMsg->lParam);
        const bool known = std::any_of(desktop.timers.begin(), desktop.timers.end(), [&](const Timer& t) {
            return t.window == lpMsg->hwnd && t.id == lpMsg->wParam && t.procedure == procedure;
        });
        if (known) procedure(lpMsg->hwnd, WM_TIMER, lpMsg->wParam, static_cast<DWORD>(NowMs()));
    } else if (!lpMsg->hwnd) {
        // A thread message has no window procedure to go to.
    } else if (!FindWindowRecord(lpMsg->hwnd)) {
        desktop.lastError = kErrorInvalidWindowHandle;
    } else {
        result = DeliverMessage(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
    }
    SetResult(seq, static_cast<long>(result));
    return result;
}

LRESULT WINAPI SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    Desktop& desktop = D();
    const std::uint64_t seq = Record("SendMessageW", "hwnd=" + Ptr(hWnd) + " msg=" + MessageName(Msg) + " wParam=" +
                                                         Hex(wParam) + " lParam=" + Hex(static_cast<std::uint64_t>(lParam)));
    LRESULT result = 0;
    const Window* record = FindWindowRecord(hWnd);
    if (!record) {
        desktop.lastError = kErrorInvalidWindowHandle;
    } else if (OwnedByRenderer(*record)) {
        result = DeliverMessage(hWnd, Msg, wParam, lParam);
    } else {
        // Another program's window answers as the default procedure would.
        result = DefaultAnswer(hWnd, Msg, wParam, lParam);
    }
    SetResult(seq, static_cast<long>(result));
    return result;
}

UINT_PTR WINAPI SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) {
    Desktop& desktop = D();
    UINT_PTR result = 0;
    const Window* record = FindWindowRecord(hWnd);
    if (auto fault = FaultFor("SetTimer")) {
        desktop.lastError = FaultError(*fault, kErrorNotEnoughMemory);
    } else if (hWnd && !record) {
        desktop.lastError = kErrorInvalidWindowHandle;
    } else if (record && !OwnedByRenderer(*record)) {
        desktop.lastError = kErrorAccessDenied;
    } else {
        const UINT period = std::clamp<UINT>(uElapse, kMinTimerPeriod, 0x7FFFFFFF);
        UINT_PTR id = nIDEvent;
        auto existing = std::find_if(desktop.timers.begin(), desktop.timers.end(),
                                     [&](const Timer& t) { return t.window == hWnd && t.id == id; });
        if (!hWnd && existing == desktop.timers.end()) id = desktop.nextThreadTimerId++;
        if (existing != desktop.timers.end()) {
            // Setting an existing timer again restarts its period.
            existing->period = period;
            existing->procedure = lpTimerFunc;
            existing->due = NowMs() + period;
        } else {
            desktop.timers.push_back(Timer{hWnd, id, period, lpTimerFunc, NowMs() + period});
        }
        result = hWnd ? (id != 0 ? id : 1) : id;
    }
    Record("SetTimer", "hwnd=" + Ptr(hWnd) + " id=" + std::to_string(nIDEvent) + " elapse=" + std::to_string(uElapse) +
                           " proc=" + Ptr(reinterpret_cast<const void*>(lpTimerFunc)),
           static_cast<long>(result));
    return result;
}

BOOL WINAPI KillTimer(HWND hWnd, UINT_PTR uIDEvent) {
    Desktop& desktop = D();
    BOOL result = FALSE;
    auto it = std::find_if(desktop.timers.begin(), desktop.timers.end(),
                           [&](const Timer& t) { return t.window == hWnd && t.id == uIDEvent; });
    if (auto fault = FaultFor("KillTimer")) {
        desktop.lastError = FaultError(*fault, ERROR_INVALID_PARAMETER);
    } else if (hWnd && !FindWindowRecord(hWnd)) {
        desktop.lastError = kErrorInvalidWindowHandle;
    } else if (it == desktop.timers.end()) {
        desktop.lastError = ERROR_INVALID_PARAMETER;
    } else {
        desktop.timers.erase(it);
        result = TRUE;
    }
    Record("KillTimer", "hwnd=" + Ptr(hWnd) + " id=" + std::to_string(uIDEvent), result);
    return result;
}
