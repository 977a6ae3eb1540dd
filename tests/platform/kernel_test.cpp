// Kernel services of the simulated desktop: the module path, text conversion,
// processes and waits, and local time.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "probe.h"
#include "sim/desktop.h"

namespace {

using probe::DesktopTest;

std::wstring Units(const char16_t* text) {
    std::wstring out;
    for (; *text; ++text) out.push_back(static_cast<wchar_t>(*text));
    return out;
}

using ModuleFileName = DesktopTest;

TEST_F(ModuleFileName, TruncatesToTheBufferAsWindowsDoes) {
    sim::DesktopConfig config;
    config.modulePath = "/x/app.exe";  // 10 units
    Fresh(config);
    struct Row {
        const char* why;
        DWORD size;
        DWORD result;
        std::wstring text;
        bool insufficient;
    };
    const Row rows[] = {
        {"room for the name and its NUL", 11, 10, L"/x/app.exe", false},
        {"one unit short: cut, terminated, size returned", 10, 10, L"/x/app.ex", true},
        {"a buffer of one unit holds only the NUL", 1, 1, L"", true},
        {"no buffer at all", 0, 0, L"", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        std::vector<wchar_t> buffer(16, L'#');
        SetLastError(0);
        EXPECT_EQ(GetModuleFileNameW(nullptr, buffer.data(), row.size), row.result);
        if (row.size > 0) {
            EXPECT_EQ(std::wstring(buffer.data()), row.text);
        } else {
            EXPECT_EQ(buffer[0], L'#');
        }
        EXPECT_EQ(GetLastError(), row.insufficient ? DWORD{ERROR_INSUFFICIENT_BUFFER} : DWORD{0});
    }
}

TEST_F(ModuleFileName, PathLongerThanMaxPathIsCutAtMaxPath) {
    sim::DesktopConfig config;
    config.modulePath = "/" + std::string(290, 'd') + "/vorlune-overlay.exe";
    Fresh(config);
    std::vector<wchar_t> buffer(MAX_PATH, L'#');
    EXPECT_EQ(GetModuleFileNameW(nullptr, buffer.data(), MAX_PATH), DWORD{MAX_PATH});
    EXPECT_EQ(std::wstring(buffer.data()).size(), 259u);
    std::vector<wchar_t> big(400);
    EXPECT_EQ(GetModuleFileNameW(nullptr, big.data(), 400), 311u);
}

TEST_F(ModuleFileName, NamesUtf16UnitsOfThePath) {
    sim::DesktopConfig config;
    config.modulePath = std::filesystem::path(u8"/d\u00e9j\u00e0/app.exe");
    Fresh(config);
    wchar_t buffer[32]{};
    EXPECT_EQ(GetModuleFileNameW(nullptr, buffer, 32), 13u);
    EXPECT_EQ(std::wstring(buffer), Units(u"/d\u00e9j\u00e0/app.exe"));
}

using TextConversion = DesktopTest;

TEST_F(TextConversion, ConvertsUtf8ToUtf16Units) {
    struct Row {
        const char* why;
        std::string bytes;
        std::wstring units;
    };
    const Row rows[] = {
        {"ASCII maps one to one", "abc", L"abc"},
        {"two-byte sequence", "\xC3\xA9", Units(u"\u00e9")},
        {"three-byte sequence", "\xE2\x82\xAC", Units(u"\u20ac")},
        {"outside the BMP: a surrogate pair", "\xF0\x9F\x98\x80", std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}},
        {"largest code point", "\xF4\x8F\xBF\xBF", std::wstring{wchar_t(0xDBFF), wchar_t(0xDFFF)}},
        {"a NUL inside the count is converted like any character", std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        const int size = static_cast<int>(row.bytes.size());
        const int needed = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, row.bytes.data(), size, nullptr, 0);
        ASSERT_EQ(needed, static_cast<int>(row.units.size()));
        std::wstring out(static_cast<std::size_t>(needed), L'#');
        EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, row.bytes.data(), size, out.data(), needed), needed);
        EXPECT_EQ(out, row.units);
    }
}

TEST_F(TextConversion, RefusesInvalidUtf8WithTheStrictFlag) {
    struct Row {
        const char* why;
        std::string bytes;
        int replacements;  // U+FFFD units without the flag
    };
    const Row rows[] = {
        {"a lone continuation byte", "a\x80z", 1},
        {"overlong encoding of NUL", "\xC0\x80", 2},
        {"overlong three-byte form", "\xE0\x80\x80", 3},
        {"a UTF-16 surrogate encoded in UTF-8", "\xED\xA0\x80", 3},
        {"above U+10FFFF", "\xF4\x90\x80\x80", 4},
        {"sequence cut short at the end", "\xE2\x82", 1},
        {"lead byte followed by ASCII", "\xE2z", 1},
        {"byte that never appears in UTF-8", "\xFF", 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        const int size = static_cast<int>(row.bytes.size());
        SetLastError(0);
        EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, row.bytes.data(), size, nullptr, 0), 0);
        EXPECT_EQ(GetLastError(), DWORD{ERROR_NO_UNICODE_TRANSLATION});
        wchar_t out[8]{};
        const int lenient = MultiByteToWideChar(CP_UTF8, 0, row.bytes.data(), size, out, 8);
        EXPECT_EQ(std::count(out, out + lenient, wchar_t(0xFFFD)), row.replacements);
    }
}

TEST_F(TextConversion, RefusesBadArguments) {
    wchar_t out[4]{};
    struct Row {
        const char* why;
        const char* text;
        int bytes;
        wchar_t* buffer;
        int units;
        DWORD error;
    };
    const Row rows[] = {
        {"no input", nullptr, 3, nullptr, 0, ERROR_INVALID_PARAMETER},
        {"zero input bytes", "abc", 0, nullptr, 0, ERROR_INVALID_PARAMETER},
        {"negative output size", "abc", 3, out, -1, ERROR_INVALID_PARAMETER},
        {"output size without a buffer", "abc", 3, nullptr, 4, ERROR_INVALID_PARAMETER},
        {"buffer one unit short", "abcde", 5, out, 4, ERROR_INSUFFICIENT_BUFFER},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        SetLastError(0);
        EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, row.text, row.bytes, row.buffer, row.units), 0);
        EXPECT_EQ(GetLastError(), row.error);
    }
    // -1: up to and including the terminating NUL.
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "ab", -1, nullptr, 0), 3);
}

using Processes = DesktopTest;

TEST_F(Processes, OpenAndWaitFollowTheProcessState) {
    const DWORD parent = sim::SpawnProcess();
    HANDLE handle = OpenProcess(SYNCHRONIZE, FALSE, parent);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_TIMEOUT);
    sim::EndProcess(parent);
    EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_OBJECT_0);
    // The ended process's object lives while a handle to it is open.
    HANDLE second = OpenProcess(SYNCHRONIZE, FALSE, parent);
    EXPECT_NE(second, nullptr);
    EXPECT_TRUE(CloseHandle(second));
    EXPECT_TRUE(CloseHandle(handle));
    EXPECT_EQ(OpenProcess(SYNCHRONIZE, FALSE, parent), nullptr);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
    EXPECT_TRUE(sim::OpenHandles().empty());
    EXPECT_TRUE(sim::Misuses().empty());
}

TEST_F(Processes, OpenProcessFails) {
    const DWORD parent = sim::SpawnProcess();
    struct Row {
        const char* why;
        DWORD pid;
        bool fault;
        DWORD error;
    };
    const Row rows[] = {
        {"id of no process", 4294967295u, false, ERROR_INVALID_PARAMETER},
        {"id 0", 0, false, ERROR_INVALID_PARAMETER},
        {"a fault rule with its own error", parent, true, 5},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        sim::ClearFaults();
        if (row.fault) sim::AddFault(sim::Fault::On("OpenProcess").LastError(5));
        EXPECT_EQ(OpenProcess(SYNCHRONIZE, FALSE, row.pid), nullptr);
        EXPECT_EQ(GetLastError(), row.error);
        EXPECT_NE(sim::CallsNamed("OpenProcess").back().args.find("pid=" + std::to_string(row.pid)), std::string::npos);
    }
}

TEST_F(Processes, WaitFailsOnBadHandles) {
    const DWORD parent = sim::SpawnProcess();
    HANDLE closed = OpenProcess(SYNCHRONIZE, FALSE, parent);
    CloseHandle(closed);
    HANDLE noSync = OpenProcess(0x0400, FALSE, parent);  // PROCESS_QUERY_INFORMATION only
    HANDLE good = OpenProcess(SYNCHRONIZE, FALSE, parent);
    struct Row {
        const char* why;
        HANDLE handle;
        bool fault;
        DWORD error;
    };
    const Row rows[] = {
        {"never a handle", reinterpret_cast<HANDLE>(0x1234), false, ERROR_INVALID_HANDLE},
        {"null", nullptr, false, ERROR_INVALID_HANDLE},
        {"closed already", closed, false, ERROR_INVALID_HANDLE},
        {"opened without SYNCHRONIZE", noSync, false, 5},
        {"fault rule", good, true, ERROR_INVALID_HANDLE},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        sim::ClearFaults();
        if (row.fault) sim::AddFault(sim::Fault::On("WaitForSingleObject"));
        SetLastError(0);
        EXPECT_EQ(WaitForSingleObject(row.handle, 0), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), row.error);
    }
}

TEST_F(Processes, ClosingAHandleTwiceIsReported) {
    HANDLE handle = OpenProcess(SYNCHRONIZE, FALSE, sim::SpawnProcess());
    EXPECT_TRUE(CloseHandle(handle));
    EXPECT_FALSE(CloseHandle(handle));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
    ASSERT_EQ(sim::Misuses().size(), 1u);
}

TEST_F(Processes, EndOfTheRendererReportsAndRemovesWhatItLeft) {
    HWND window = Make(RECT{0, 0, 10, 10});
    OpenProcess(SYNCHRONIZE, FALSE, sim::SpawnProcess());
    SetTimer(window, 1, 100, nullptr);
    probe::Trace().clear();
    const sim::ProcessEndReport report = sim::EndRendererProcess(3);
    ASSERT_EQ(report.windowsLeft.size(), 1u);
    EXPECT_EQ(report.windowsLeft[0].className, probe::kClass);
    EXPECT_EQ(report.handlesLeft.size(), 1u);
    EXPECT_TRUE(probe::Trace().empty()) << "a dead thread's windows get no messages";
    EXPECT_TRUE(sim::RendererWindows().empty());
    EXPECT_FALSE(sim::ProcessAlive(sim::RendererPid()));
}

TEST_F(Processes, EndOfAnotherProcessTakesItsWindows) {
    const DWORD game = sim::SpawnProcess();
    HWND window = sim::CreateForeignWindow(game, L"Mabinogi", L"Mabinogi", RECT{0, 0, 100, 100}, RECT{8, 30, 92, 92});
    EXPECT_EQ(FindWindowW(L"Mabinogi", L"Mabinogi"), window);
    sim::EndProcess(game);
    EXPECT_EQ(FindWindowW(L"Mabinogi", L"Mabinogi"), nullptr);
}

using LocalTime = DesktopTest;

TEST_F(LocalTime, StartTimePlusVirtualTime) {
    struct Row {
        const char* why;
        SYSTEMTIME start;
        std::uint64_t elapsedMs;
        SYSTEMTIME expected;
    };
    const Row rows[] = {
        {"the start itself; 1 January 2026 is a Thursday", {2026, 1, 0, 1, 0, 0, 0, 0}, 0, {2026, 1, 4, 1, 0, 0, 0, 0}},
        {"milliseconds carry into seconds", {2026, 1, 0, 1, 0, 0, 0, 999}, 1, {2026, 1, 4, 1, 0, 0, 1, 0}},
        {"into a leap day", {2024, 2, 0, 28, 23, 59, 59, 500}, 1500, {2024, 2, 4, 29, 0, 0, 1, 0}},
        {"across the year end", {2025, 12, 0, 31, 23, 59, 59, 0}, 1000, {2026, 1, 4, 1, 0, 0, 0, 0}},
        {"no leap day in 2100", {2100, 2, 0, 28, 12, 0, 0, 0}, 12ull * 3600 * 1000, {2100, 3, 1, 1, 0, 0, 0, 0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        sim::DesktopConfig config;
        config.startLocalTime = row.start;
        Fresh(config);
        sim::AdvanceTo(row.elapsedMs);
        SYSTEMTIME now{};
        GetLocalTime(&now);
        EXPECT_EQ(now.wYear, row.expected.wYear);
        EXPECT_EQ(now.wMonth, row.expected.wMonth);
        EXPECT_EQ(now.wDayOfWeek, row.expected.wDayOfWeek);
        EXPECT_EQ(now.wDay, row.expected.wDay);
        EXPECT_EQ(now.wHour, row.expected.wHour);
        EXPECT_EQ(now.wMinute, row.expected.wMinute);
        EXPECT_EQ(now.wSecond, row.expected.wSecond);
        EXPECT_EQ(now.wMilliseconds, row.expected.wMilliseconds);
    }
}

}  // namespace
