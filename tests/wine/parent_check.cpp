// A minimal parent for checking the real executable under Wine: starts the
// renderer with this process's own id, as a parent does, waits for it to end
// and exits with the renderer's exit code (90 and up when the check itself
// could not run). Wine has no DirectComposition, so the renderer cannot get
// past its first rebuild there; what is checked is that it says so and ends.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: parent_check RENDERER.exe\n");
        return 90;
    }
    std::wstring commandLine =
        L"\"" + std::wstring(argv[1]) + L"\" --parent-pid " + std::to_wstring(GetCurrentProcessId());
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(argv[1], commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        std::fprintf(stderr, "could not start the renderer (error %lu)\n", GetLastError());
        return 91;
    }
    CloseHandle(process.hThread);

    if (WaitForSingleObject(process.hProcess, 20000) != WAIT_OBJECT_0) {
        std::fprintf(stderr, "renderer still running after 20 s\n");
        TerminateProcess(process.hProcess, 99);
        CloseHandle(process.hProcess);
        return 92;
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    std::printf("renderer exit code: %lu\n", exitCode);
    return static_cast<int>(exitCode);
}
