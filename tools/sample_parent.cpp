// sample-parent: the smallest complete parent of vorlune-overlay, to copy from.
//
//   sample-parent [--renderer PATH] [--hold SECONDS] [SCENE...]
//
// It starts the renderer with its own process id, waits for the renderer's
// control window, sends each scene file (JSON scene or binary frame) as one
// WM_COPYDATA message and prints the answer. Without files it plays a short
// animation instead. When it exits, the renderer sees that its parent is gone
// and ends within half a second: a parent never has to stop it explicitly.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "protocol/protocol.h"
#include "tools/scene_file.h"

namespace {

namespace overlay = vorlune::overlay;
namespace fs = std::filesystem;
using vorlune::scenefile::PathToUtf8;

constexpr DWORD kWindowWaitMs = 10000;
constexpr UINT kSendTimeoutMs = 5000;
// A send that got no answer may mean the renderer is just ending.
constexpr DWORD kEndingWaitMs = 2000;

struct Renderer {
    PROCESS_INFORMATION process{};
    HWND control = nullptr;
};

// Prints why the renderer is gone, if it is (or is within `waitMs`); it never
// ends while its parent lives unless something went wrong, and then its exit
// code and its log say what.
bool ReportIfEnded(const Renderer& renderer, DWORD waitMs = 0) {
    if (WaitForSingleObject(renderer.process.hProcess, waitMs) != WAIT_OBJECT_0) {
        return false;
    }
    DWORD code = 0;
    GetExitCodeProcess(renderer.process.hProcess, &code);
    std::printf("renderer ended with exit code %lu (its log is logs\\vorlune-overlay.log beside it)\n",
                static_cast<unsigned long>(code));
    return true;
}

bool StartRenderer(const fs::path& exe, Renderer& renderer) {
    std::wstring commandLine = L"\"" + exe.wstring() + L"\" --parent-pid " + std::to_wstring(GetCurrentProcessId());
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &renderer.process)) {
        std::printf("could not start %s (error %lu)\n", PathToUtf8(exe).c_str(), GetLastError());
        return false;
    }
    CloseHandle(renderer.process.hThread);
    return true;
}

// The control window is made early in the renderer's start-up. Other
// renderers may be running for other parents, so only the window that
// belongs to our own child counts.
bool WaitForControlWindow(Renderer& renderer) {
    for (DWORD waited = 0; waited < kWindowWaitMs; waited += 50) {
        for (HWND window = FindWindowExW(nullptr, nullptr, L"vorluneOverlayControl", nullptr); window != nullptr;
             window = FindWindowExW(nullptr, window, L"vorluneOverlayControl", nullptr)) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == renderer.process.dwProcessId) {
                renderer.control = window;
                return true;
            }
        }
        if (ReportIfEnded(renderer)) {
            return false;
        }
        Sleep(50);
    }
    std::printf("the renderer's control window did not appear within %lu ms\n", kWindowWaitMs);
    return false;
}

// One frame, one synchronous send. The renderer answers 1 once it has
// validated the frame (it draws it a moment later) and 0 when it refused it;
// the reason for a refusal is in its log.
bool SendFrame(const Renderer& renderer, const std::vector<std::uint8_t>& frame, const std::string& name) {
    COPYDATASTRUCT data{};
    data.dwData = overlay::kFrameMagic;
    data.cbData = static_cast<DWORD>(frame.size());
    data.lpData = const_cast<std::uint8_t*>(frame.data());
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(renderer.control, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG,
                             kSendTimeoutMs, &answer)) {
        std::printf("%s: no answer (error %lu)\n", name.c_str(), GetLastError());
        return false;
    }
    std::printf("%s: %s\n", name.c_str(), answer == 1 ? "accepted" : "refused (the renderer's log says why)");
    std::fflush(stdout);  // progress shows even when the output goes to a pipe
    return answer == 1;
}

// A box that slides across the top of every monitor for about four seconds.
bool PlayAnimation(const Renderer& renderer) {
    int refused = 0;
    for (int step = 0; step <= 120; ++step) {
        const float x = 0.05f + 0.7f * static_cast<float>(step) / 120.0f;  // fraction of each monitor's width
        overlay::Command box{};
        box.kind = overlay::CommandKind::FillRect;
        box.flags = overlay::NormalizedX;
        box.rect = {x, 40.0f, x + 0.2f, 120.0f};
        box.color = {40, 160, 255, 200};
        overlay::Command label{};
        label.kind = overlay::CommandKind::Text;
        label.flags = overlay::NormalizedX;
        label.rect = box.rect;
        label.fontSize = 24.0f;
        label.fontWeight = 700;
        label.alignment = 1;  // center
        label.color = {255, 255, 255, 255};
        label.text = "frame " + std::to_string(step);

        overlay::Scene scene{overlay::MonitorTarget::All, static_cast<std::uint64_t>(step), {box, label}};
        std::vector<std::uint8_t> frame;
        std::string error;
        if (!overlay::EncodeScene(scene, frame, error)) {
            std::printf("animation frame %d: %s\n", step, error.c_str());
            return false;
        }
        if (!SendFrame(renderer, frame, "animation frame " + std::to_string(step))) {
            ++refused;
            if (ReportIfEnded(renderer, kEndingWaitMs)) {
                return false;
            }
        }
        Sleep(33);
    }
    return refused == 0;
}

// Each file stays on screen for `holdMs` before the next replaces it.
bool SendFiles(const Renderer& renderer, const std::vector<fs::path>& files,
               const std::vector<std::vector<std::uint8_t>>& frames, DWORD holdMs) {
    bool allAccepted = true;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (!SendFrame(renderer, frames[i], PathToUtf8(files[i]))) {
            allAccepted = false;
            if (ReportIfEnded(renderer, kEndingWaitMs)) {
                return false;
            }
        }
        Sleep(holdMs);
    }
    return allAccepted;
}

int Usage() {
    std::printf("usage: sample-parent [--renderer PATH] [--hold SECONDS] [SCENE...]\n"
                "Starts vorlune-overlay.exe (by default the one beside this program), sends each\n"
                "scene file (.json scene or binary frame) and holds it SECONDS (default 3) on\n"
                "screen, or plays a short animation when no file is given; then exits, which\n"
                "ends the renderer.\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    fs::path rendererExe = fs::path(self).replace_filename(L"vorlune-overlay.exe");
    DWORD holdMs = 3000;
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--renderer" && i + 1 < argc) {
            rendererExe = argv[++i];
        } else if (arg == L"--hold" && i + 1 < argc) {
            const double seconds = std::wcstod(argv[++i], nullptr);
            if (!(seconds >= 0.0 && seconds <= 3600.0)) {
                return Usage();
            }
            holdMs = static_cast<DWORD>(seconds * 1000.0);
        } else if (arg.starts_with(L"-")) {
            return Usage();
        } else {
            files.emplace_back(arg);
        }
    }

    // Read every file first, so that a mistake is reported before anything starts.
    std::vector<std::vector<std::uint8_t>> frames(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::vector<std::string> errors;
        if (!vorlune::scenefile::LoadFrame(files[i], frames[i], errors)) {
            for (const std::string& error : errors) {
                std::printf("%s: %s\n", PathToUtf8(files[i]).c_str(), error.c_str());
            }
            return 1;
        }
    }

    Renderer renderer;
    if (!StartRenderer(rendererExe, renderer)) {
        return 1;
    }
    bool ok = WaitForControlWindow(renderer);
    if (ok) {
        ok = files.empty() ? PlayAnimation(renderer) : SendFiles(renderer, files, frames, holdMs);
    }
    // Exiting is how a parent ends the renderer.
    CloseHandle(renderer.process.hProcess);
    return ok ? 0 : 1;
}
