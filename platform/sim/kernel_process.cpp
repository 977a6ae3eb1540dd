// Kernel services: processes and their handles, waits, the last-error value,
// the executable's module and path, and local time.
#include <windows.h>

#include <algorithm>
#include <chrono>

#include "sim/desktop.h"
#include "sim/user_state.h"

namespace sim {
namespace detail {
namespace {

const HINSTANCE kRendererInstance = reinterpret_cast<HINSTANCE>(std::uintptr_t{0x140000000});

bool HandleOpenTo(DWORD pid) {
    const auto& handles = D().handles;
    return std::any_of(handles.begin(), handles.end(), [pid](const auto& entry) { return entry.second.pid == pid; });
}

std::string HandleDescription(const KernelHandle& handle) {
    return "pid=" + std::to_string(handle.pid) + " access=" + Hex(handle.access);
}

}  // namespace
}  // namespace detail

using namespace detail;

DWORD RendererPid() { return D().config.rendererPid; }

HINSTANCE RendererInstance() { return kRendererInstance; }

DWORD SpawnProcess() {
    Desktop& desktop = D();
    DWORD pid = desktop.nextPid;
    while (desktop.processes.count(pid) || pid == desktop.config.rendererPid) pid += 4;
    desktop.nextPid = pid + 4;
    desktop.processes[pid] = Process{};
    return pid;
}

void EndProcess(DWORD pid, DWORD exitCode) {
    Desktop& desktop = D();
    auto it = desktop.processes.find(pid);
    if (it == desktop.processes.end() || pid == desktop.config.rendererPid) {
        ReportMisuse("EndProcess: " + std::to_string(pid) + " is not a process of another program");
        return;
    }
    it->second.alive = false;
    it->second.exitCode = exitCode;
    // Its windows go with it, without messages: nothing of that process runs any more.
    std::vector<HWND> gone;
    for (const auto& [value, window] : desktop.windows)
        if (window.pid == pid) gone.push_back(window.handle);
    for (HWND window : gone) DestroyWindowSilently(window);
}

bool ProcessAlive(DWORD pid) {
    auto it = D().processes.find(pid);
    return it != D().processes.end() && it->second.alive;
}

std::vector<std::string> OpenHandles() {
    std::vector<std::string> open;
    for (const auto& [value, handle] : D().handles) open.push_back(HandleDescription(handle));
    return open;
}

ProcessEndReport EndRendererProcess(DWORD exitCode) {
    Desktop& desktop = D();
    ProcessEndReport report;
    const std::vector<HWND> windows = RendererWindows();
    for (HWND window : windows) {
        WindowView view;
        if (ViewWindow(window, view)) report.windowsLeft.push_back(view);
    }
    // The thread is gone: its windows are destroyed without any message.
    for (HWND window : windows) DestroyWindowSilently(window);
    report.handlesLeft = OpenHandles();
    desktop.handles.clear();
    desktop.classes.clear();
    desktop.timers.clear();
    desktop.posted.clear();
    desktop.quitPending = false;
    desktop.loopStopped = false;
    desktop.messagesWithoutWait = 0;
    desktop.processes[desktop.config.rendererPid] = Process{false, exitCode};
    return report;
}

}  // namespace sim

using namespace sim;
using namespace sim::detail;

HANDLE WINAPI OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId) {
    Desktop& desktop = D();
    HANDLE result = nullptr;
    auto process = desktop.processes.find(dwProcessId);
    if (auto fault = FaultFor("OpenProcess")) {
        desktop.lastError = FaultError(*fault, kErrorAccessDenied);
    } else if (process == desktop.processes.end() ||
               (!process->second.alive && !HandleOpenTo(dwProcessId))) {
        // An id that names no process (0 included), or a process that ended
        // and whose object nobody holds any more.
        desktop.lastError = ERROR_INVALID_PARAMETER;
    } else {
        result = reinterpret_cast<HANDLE>(desktop.nextHandle);
        desktop.nextHandle += 4;
        desktop.handles[reinterpret_cast<std::uintptr_t>(result)] = KernelHandle{dwProcessId, dwDesiredAccess};
    }
    Record("OpenProcess", "access=" + Hex(dwDesiredAccess) + " inherit=" + std::to_string(bInheritHandle) +
                              " pid=" + std::to_string(dwProcessId),
           static_cast<long>(reinterpret_cast<std::uintptr_t>(result)));
    return result;
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
    Desktop& desktop = D();
    BOOL result = FALSE;
    auto it = desktop.handles.find(reinterpret_cast<std::uintptr_t>(hObject));
    if (auto fault = FaultFor("CloseHandle")) {
        desktop.lastError = FaultError(*fault, ERROR_INVALID_HANDLE);
    } else if (it == desktop.handles.end()) {
        desktop.lastError = ERROR_INVALID_HANDLE;
        ReportMisuse("CloseHandle on a handle that is not open: " + Ptr(hObject));
    } else {
        desktop.handles.erase(it);
        result = TRUE;
    }
    Record("CloseHandle", "handle=" + Ptr(hObject), result);
    return result;
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    Desktop& desktop = D();
    DWORD result = WAIT_FAILED;
    auto it = desktop.handles.find(reinterpret_cast<std::uintptr_t>(hHandle));
    if (auto fault = FaultFor("WaitForSingleObject")) {
        result = fault->result != 0 ? static_cast<DWORD>(fault->result) : WAIT_FAILED;
        if (result == WAIT_FAILED) desktop.lastError = FaultError(*fault, ERROR_INVALID_HANDLE);
    } else if (it == desktop.handles.end()) {
        desktop.lastError = ERROR_INVALID_HANDLE;
    } else if (!(it->second.access & SYNCHRONIZE)) {
        desktop.lastError = kErrorAccessDenied;
    } else if (!ProcessAlive(it->second.pid)) {
        result = WAIT_OBJECT_0;
    } else {
        if (dwMilliseconds != 0)
            ReportMisuse("WaitForSingleObject with a timeout on the message thread: nothing could end the wait");
        result = WAIT_TIMEOUT;
    }
    Record("WaitForSingleObject", "handle=" + Ptr(hHandle) + " timeout=" + std::to_string(dwMilliseconds),
           static_cast<long>(result));
    return result;
}

DWORD WINAPI GetLastError() {
    const DWORD error = D().lastError;
    Record("GetLastError", "", static_cast<long>(error));
    return error;
}

VOID WINAPI SetLastError(DWORD dwErrCode) {
    D().lastError = dwErrCode;
    Record("SetLastError", "error=" + std::to_string(dwErrCode));
}

DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
    Desktop& desktop = D();
    DWORD result = 0;
    if (auto fault = FaultFor("GetModuleFileNameW")) {
        desktop.lastError = FaultError(*fault, kErrorModNotFound);
    } else if (hModule && hModule != kRendererInstance) {
        desktop.lastError = kErrorModNotFound;
    } else if (nSize == 0 || !lpFilename) {
        desktop.lastError = ERROR_INSUFFICIENT_BUFFER;
    } else {
        const std::wstring name = ToUnits(desktop.config.modulePath);
        if (name.size() < nSize) {
            std::copy(name.begin(), name.end(), lpFilename);
            lpFilename[name.size()] = 0;
            result = static_cast<DWORD>(name.size());
        } else {
            // Too small: cut to the buffer, still terminated, and say so.
            std::copy(name.begin(), name.begin() + (nSize - 1), lpFilename);
            lpFilename[nSize - 1] = 0;
            result = nSize;
            desktop.lastError = ERROR_INSUFFICIENT_BUFFER;
        }
    }
    Record("GetModuleFileNameW", "module=" + Ptr(hModule) + " size=" + std::to_string(nSize), static_cast<long>(result));
    return result;
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName) {
    Desktop& desktop = D();
    HMODULE result = nullptr;
    if (auto fault = FaultFor("GetModuleHandleW")) {
        desktop.lastError = FaultError(*fault, kErrorModNotFound);
    } else if (!lpModuleName) {
        result = kRendererInstance;
    } else {
        const std::wstring name = ToUnits(desktop.config.modulePath.filename());
        const std::wstring stem = ToUnits(desktop.config.modulePath.stem());
        if (SameClassName(lpModuleName, name) || SameClassName(lpModuleName, ToUnits(desktop.config.modulePath)) ||
            (desktop.config.modulePath.extension() == ".exe" && SameClassName(lpModuleName, stem + L".exe")))
            result = kRendererInstance;
        else
            desktop.lastError = kErrorModNotFound;
    }
    Record("GetModuleHandleW", "name=" + WideArg(lpModuleName), static_cast<long>(reinterpret_cast<std::uintptr_t>(result)));
    return result;
}

VOID WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime) {
    using namespace std::chrono;
    const SYSTEMTIME& start = D().config.startLocalTime;
    const sys_days startDay{year{start.wYear} / month{start.wMonth} / day{start.wDay}};
    const milliseconds now = startDay.time_since_epoch() + hours{start.wHour} + minutes{start.wMinute} +
                             seconds{start.wSecond} + milliseconds{start.wMilliseconds} +
                             milliseconds{static_cast<std::int64_t>(NowMs())};
    const sys_days today = floor<days>(sys_time<milliseconds>{now});
    const year_month_day date{today};
    const hh_mm_ss<milliseconds> clock{now - today.time_since_epoch()};
    SYSTEMTIME local{};
    local.wYear = static_cast<WORD>(static_cast<int>(date.year()));
    local.wMonth = static_cast<WORD>(static_cast<unsigned>(date.month()));
    local.wDay = static_cast<WORD>(static_cast<unsigned>(date.day()));
    local.wDayOfWeek = static_cast<WORD>(weekday{today}.c_encoding());
    local.wHour = static_cast<WORD>(clock.hours().count());
    local.wMinute = static_cast<WORD>(clock.minutes().count());
    local.wSecond = static_cast<WORD>(clock.seconds().count());
    local.wMilliseconds = static_cast<WORD>(clock.subseconds().count());
    if (lpSystemTime) *lpSystemTime = local;
    Record("GetLocalTime", "-> " + std::to_string(local.wYear) + "-" + std::to_string(local.wMonth) + "-" +
                               std::to_string(local.wDay) + " " + std::to_string(local.wHour) + ":" +
                               std::to_string(local.wMinute) + ":" + std::to_string(local.wSecond) + "." +
                               std::to_string(local.wMilliseconds));
}
