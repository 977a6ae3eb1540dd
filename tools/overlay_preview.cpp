// overlay-preview: runs the real renderer on the simulated desktop, sends it
// scene files as a parent would, and writes what each monitor shows as PNG.
//
// The whole run happens in virtual time. The renderer starts at 0 ms; the
// scenes are sent 20 ms apart so that the last one arrives at --time; the
// screenshots are taken 1 ms later, after that frame's render pass and before
// the animation timer's next tick; then the parent ends and the renderer
// notices it at its next 500 ms parent check and exits.
#include <windows.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "protocol/protocol.h"
#include "sim/core.h"
#include "sim/desktop.h"
#include "sim/graphics.h"
#include "tools/scene_file.h"

namespace {

namespace fs = std::filesystem;
namespace overlay = vorlune::overlay;
using vorlune::scenefile::PathFromUtf8;
using vorlune::scenefile::PathToUtf8;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // a scene refused or invalid, the renderer failed, a file not written
constexpr int kExitUsage = 2;

constexpr std::uint64_t kFrameGapMs = 20;
constexpr std::uint64_t kDefaultTimeMs = 1000;
constexpr std::uint64_t kLatestTimeMs = 5 * 60 * 1000;
constexpr LONG kTaskbarHeight = 40;

constexpr char kUsage[] =
    "usage: overlay-preview [options] SCENE...\n"
    "\n"
    "Runs the real renderer on a simulated Windows desktop, sends each SCENE in\n"
    "order as a parent program would (files ending in .json are scene files,\n"
    "any other file is sent as binary frame bytes), and writes what each monitor\n"
    "shows then as monitor-1.png, monitor-2.png ... and the renderer's log as\n"
    "vorlune-overlay.log into the output folder.\n"
    "\n"
    "  --monitor WxH+X+Y[@DPI][,primary]\n"
    "                     a monitor: size and position in physical pixels of the\n"
    "                     virtual screen (X and Y may be negative: 1920x1080-1920+0),\n"
    "                     DPI (default 96); give one --monitor per monitor. Without\n"
    "                     any: 2560x1440+0+0@144,primary and 1920x1080+2560+0@96\n"
    "  --cursor X,Y       the mouse cursor, in screen pixels (default: centre of the\n"
    "                     primary monitor)\n"
    "  --game-window L,T,R,B\n"
    "                     a window of class and title \"Mabinogi\" of another process,\n"
    "                     its client area at these screen pixels; the rainbow arrow\n"
    "                     shows only while the cursor is over it\n"
    "  --time SECONDS     virtual time of the last scene and of the pictures, which\n"
    "                     sets the arrow's colour (default 1)\n"
    "  --background #rrggbb\n"
    "                     paint the desktop behind the overlay in this colour, and\n"
    "                     the game window's client area a little lighter (default:\n"
    "                     transparent, only the overlay's own pixels)\n"
    "  --out FOLDER       where to write (default out/preview)\n"
    "\n"
    "Exit status: 0 when every scene was accepted and the pictures were written,\n"
    "1 when a scene was refused or invalid or the renderer failed, 2 when the\n"
    "command line is wrong.\n";

struct Options {
    std::vector<sim::MonitorConfig> monitors;
    std::optional<POINT> cursor;
    std::optional<RECT> gameWindow;
    std::uint64_t timeMs = kDefaultTimeMs;
    std::optional<std::uint32_t> background;  // 0xRRGGBB
    fs::path out = "out/preview";
    std::vector<std::string> scenes;
};

int UsageError(const std::string& problem) {
    std::cerr << "overlay-preview: " << problem << "\nTry 'overlay-preview --help'.\n";
    return kExitUsage;
}

// ---- Command line ----

// A signed decimal number at `at`, moving past it.
bool ReadNumber(const std::string& text, std::size_t& at, long long& value, bool signRequired) {
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    } else if (signRequired) {
        return false;
    }
    const std::size_t start = at;
    value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < 7) {
        value = value * 10 + (text[at] - '0');
        ++at;
    }
    if (at == start || (at < text.size() && text[at] >= '0' && text[at] <= '9')) {
        return false;
    }
    value = negative ? -value : value;
    return true;
}

bool ParseMonitor(const std::string& text, sim::MonitorConfig& monitor, bool& primary) {
    std::size_t at = 0;
    long long width = 0, height = 0, x = 0, y = 0, dpi = 96;
    if (!ReadNumber(text, at, width, false) || at >= text.size() || text[at++] != 'x' ||
        !ReadNumber(text, at, height, false) || !ReadNumber(text, at, x, true) || !ReadNumber(text, at, y, true)) {
        return false;
    }
    if (at < text.size() && text[at] == '@') {
        ++at;
        if (!ReadNumber(text, at, dpi, false)) return false;
    }
    primary = false;
    if (text.compare(at, std::string::npos, ",primary") == 0) {
        primary = true;
        at = text.size();
    }
    if (at != text.size() || width < 1 || height < 1 || width > 16384 || height > 16384 || dpi < 48 || dpi > 960) {
        return false;
    }
    monitor.rect = RECT{static_cast<LONG>(x), static_cast<LONG>(y), static_cast<LONG>(x + width),
                        static_cast<LONG>(y + height)};
    monitor.work = monitor.rect;
    monitor.work.bottom -= std::min<LONG>(kTaskbarHeight, static_cast<LONG>(height) / 2);
    monitor.primary = primary;
    monitor.dpi = static_cast<UINT>(dpi);
    return true;
}

// "A,B" or "A,B,C,D": signed whole numbers separated by commas.
bool ParseNumbers(const std::string& text, std::size_t count, std::vector<long long>& values) {
    values.clear();
    std::size_t at = 0;
    while (values.size() < count) {
        long long value = 0;
        if (!ReadNumber(text, at, value, false)) return false;
        values.push_back(value);
        if (values.size() < count && (at >= text.size() || text[at++] != ',')) return false;
    }
    return at == text.size();
}

std::optional<int> ParseOptions(int argc, char** argv, Options& options) {
    bool anyPrimary = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return kExitOk;
        }
        const bool takesValue = arg == "--monitor" || arg == "--cursor" || arg == "--game-window" ||
                                arg == "--time" || arg == "--background" || arg == "--out";
        if (!takesValue) {
            if (arg.size() > 1 && arg[0] == '-') return UsageError("unknown option '" + arg + "'");
            options.scenes.push_back(arg);
            continue;
        }
        if (i + 1 == argc) return UsageError(arg + " needs a value");
        const std::string value = argv[++i];
        std::vector<long long> numbers;
        if (arg == "--monitor") {
            sim::MonitorConfig monitor;
            bool primary = false;
            if (!ParseMonitor(value, monitor, primary)) {
                return UsageError("--monitor '" + value + "': expected WxH+X+Y[@DPI][,primary], for example " +
                                  "1920x1080+0+0@96,primary (sizes 1 to 16384, DPI 48 to 960)");
            }
            if (primary && anyPrimary) return UsageError("only one monitor can be the primary one");
            anyPrimary = anyPrimary || primary;
            options.monitors.push_back(monitor);
        } else if (arg == "--cursor") {
            if (!ParseNumbers(value, 2, numbers)) return UsageError("--cursor '" + value + "': expected X,Y");
            options.cursor = POINT{static_cast<LONG>(numbers[0]), static_cast<LONG>(numbers[1])};
        } else if (arg == "--game-window") {
            if (!ParseNumbers(value, 4, numbers) || numbers[2] <= numbers[0] || numbers[3] <= numbers[1]) {
                return UsageError("--game-window '" + value + "': expected LEFT,TOP,RIGHT,BOTTOM with RIGHT > LEFT " +
                                  "and BOTTOM > TOP");
            }
            options.gameWindow = RECT{static_cast<LONG>(numbers[0]), static_cast<LONG>(numbers[1]),
                                      static_cast<LONG>(numbers[2]), static_cast<LONG>(numbers[3])};
        } else if (arg == "--time") {
            char* end = nullptr;
            const double seconds = std::strtod(value.c_str(), &end);
            if (value.empty() || *end != '\0' || !(seconds >= 0.0) || seconds * 1000.0 > kLatestTimeMs) {
                return UsageError("--time '" + value + "': expected seconds from 0 to 300");
            }
            options.timeMs = static_cast<std::uint64_t>(std::llround(seconds * 1000.0));
        } else if (arg == "--background") {
            const bool hex = value.size() == 7 && value[0] == '#' &&
                             std::all_of(value.begin() + 1, value.end(),
                                         [](unsigned char c) { return std::isxdigit(c) != 0; });
            if (!hex) return UsageError("--background '" + value + "': expected #rrggbb");
            options.background = static_cast<std::uint32_t>(std::stoul(value.substr(1), nullptr, 16));
        } else {
            options.out = PathFromUtf8(value);
        }
    }
    if (options.scenes.empty()) return UsageError("no scene file given");
    if (options.monitors.empty()) {
        bool primary = false;
        ParseMonitor("2560x1440+0+0@144,primary", options.monitors.emplace_back(), primary);
        ParseMonitor("1920x1080+2560+0@96", options.monitors.emplace_back(), primary);
    } else if (!anyPrimary) {
        options.monitors.front().primary = true;  // as Windows always has one
    }
    const std::uint64_t firstAt = (options.scenes.size() - 1) * kFrameGapMs;
    if (options.timeMs < firstAt) {
        std::ostringstream problem;
        problem << options.scenes.size() << " scenes are sent " << kFrameGapMs << " ms apart, so --time must be at least "
                << static_cast<double>(firstAt) / 1000.0 << " s";
        return UsageError(problem.str());
    }
    return std::nullopt;
}

// ---- The run ----

struct Sent {
    std::string name;
    std::vector<std::uint8_t> frame;
    std::uint64_t atMs = 0;
    std::optional<LRESULT> answer;  // empty when it was never sent
};

struct Outcome {
    int exitCode = -1;
    std::vector<sim::Image> screenshots;  // empty when the run ended before they were due
    std::string log;
};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Outcome RunRenderer(const Options& options, std::vector<Sent>& sent, const fs::path& appDir) {
    sim::Reset();
    sim::DesktopConfig config;
    config.monitors = options.monitors;
    config.modulePath = appDir / "vorlune-overlay.exe";
    config.cursor = options.cursor;
    sim::Configure(config);

    const DWORD parent = sim::SpawnProcess();
    if (options.gameWindow) {
        sim::CreateForeignWindow(sim::SpawnProcess(), L"Mabinogi", L"Mabinogi", *options.gameWindow,
                                 *options.gameWindow);
    }
    for (Sent& scene : sent) {
        sim::At(scene.atMs, [&scene] {
            const HWND control = sim::FindWindowOf(L"vorluneOverlayControl");
            if (control != nullptr) {
                scene.answer = sim::SendCopyData(control, overlay::kFrameMagic, scene.frame.data(),
                                                 static_cast<DWORD>(scene.frame.size()));
            }
        });
    }
    Outcome outcome;
    sim::At(options.timeMs + 1, [&outcome, &options] {
        for (std::size_t i = 0; i < options.monitors.size(); ++i) {
            outcome.screenshots.push_back(sim::Screenshot(static_cast<int>(i)));
        }
    });
    sim::At(options.timeMs + 2, [parent] { sim::EndProcess(parent); });

    std::wstring commandLine = L"--parent-pid " + std::to_wstring(parent);
    outcome.exitCode = wWinMain(sim::RendererInstance(), nullptr, commandLine.data(), SW_SHOWDEFAULT);
    sim::EndRendererProcess(static_cast<DWORD>(outcome.exitCode));
    outcome.log = ReadFile(appDir / "logs" / "vorlune-overlay.log");
    sim::Reset();
    return outcome;
}

// The log's lines without their CR LF.
std::vector<std::string> LogLines(const std::string& log) {
    std::vector<std::string> lines;
    std::size_t begin = 0;
    while (begin < log.size()) {
        std::size_t end = log.find('\n', begin);
        if (end == std::string::npos) end = log.size();
        std::string line = log.substr(begin, end - begin);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        begin = end + 1;
    }
    return lines;
}

// Each refusal that reached the decoder left one "rejected scene: " line, in
// the order of the sends; the others were refused before it.
void ReportAnswers(const std::vector<Sent>& sent, const std::vector<std::string>& logLines, bool& allAccepted) {
    const std::string marker = "rejected scene: ";
    std::size_t nextLine = 0;
    auto nextReason = [&]() -> std::string {
        for (; nextLine < logLines.size(); ++nextLine) {
            const std::size_t found = logLines[nextLine].find(marker);
            if (found != std::string::npos) return logLines[nextLine++].substr(found + marker.size());
        }
        return "no reason in the log";
    };
    for (const Sent& scene : sent) {
        std::cout << scene.name << " (at " << scene.atMs << " ms): ";
        if (!scene.answer) {
            std::cout << "not sent: the renderer had no control window\n";
            allAccepted = false;
        } else if (*scene.answer == 1) {
            std::cout << "accepted\n";
        } else {
            allAccepted = false;
            std::cout << "refused: "
                      << (scene.frame.size() > overlay::kMaxFrameSize ? "larger than 1048576 bytes, so never decoded"
                                                                      : nextReason())
                      << "\n";
        }
    }
}

// Over an opaque background the picture looks like a desktop; straight from
// the overlay it keeps its transparency. The game window, which the
// simulation has no pixels for, is shown as a lighter area so that the
// arrow's place makes sense.
sim::Image OverBackground(const sim::Image& image, std::uint32_t rgb, const RECT& monitor,
                          const std::optional<RECT>& game) {
    auto channels = [](std::uint32_t colour, int lighten) {
        std::array<int, 3> bgr{};
        for (int c = 0; c < 3; ++c) bgr[c] = std::min(255, static_cast<int>((colour >> (8 * c)) & 0xFF) + lighten);
        return bgr;
    };
    const std::array<int, 3> desktop = channels(rgb, 0);
    const std::array<int, 3> gameArea = channels(rgb, 24);
    sim::Image out = image;
    for (int y = 0; y < out.height; ++y) {
        for (int x = 0; x < out.width; ++x) {
            const LONG sx = monitor.left + x;
            const LONG sy = monitor.top + y;
            const bool inGame = game && sx >= game->left && sx < game->right && sy >= game->top && sy < game->bottom;
            const std::array<int, 3>& under = inGame ? gameArea : desktop;
            std::uint8_t* pixel = &out.bgra[(static_cast<std::size_t>(y) * out.width + x) * 4];
            const int alpha = pixel[3];
            for (int c = 0; c < 3; ++c) {
                pixel[c] = static_cast<std::uint8_t>(pixel[c] + (under[c] * (255 - alpha) + 127) / 255);
            }
            pixel[3] = 255;
        }
    }
    return out;
}

std::string DescribeMonitor(const sim::MonitorConfig& monitor) {
    return std::to_string(monitor.rect.right - monitor.rect.left) + "x" +
           std::to_string(monitor.rect.bottom - monitor.rect.top) + " at (" + std::to_string(monitor.rect.left) +
           ", " + std::to_string(monitor.rect.top) + "), " + std::to_string(monitor.dpi) + " DPI" +
           (monitor.primary ? ", primary" : "");
}

fs::path FreshAppDir() {
    std::random_device random;
    const fs::path dir = fs::temp_directory_path() / ("vorlune-preview-" + std::to_string(random()));
    fs::create_directories(dir);
    return dir;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (const std::optional<int> status = ParseOptions(argc, argv, options)) {
        return *status;
    }

    std::vector<Sent> sent;
    bool allAccepted = true;
    for (std::size_t i = 0; i < options.scenes.size(); ++i) {
        Sent scene;
        scene.name = options.scenes[i];
        scene.atMs = options.timeMs - (options.scenes.size() - 1 - i) * kFrameGapMs;
        std::vector<std::string> errors;
        if (!vorlune::scenefile::LoadFrame(PathFromUtf8(scene.name), scene.frame, errors)) {
            for (const std::string& error : errors) std::cerr << "overlay-preview: " << scene.name << ": " << error << "\n";
            allAccepted = false;
        }
        sent.push_back(std::move(scene));
    }
    if (!allAccepted) {
        return kExitFailed;
    }

    std::error_code ec;
    fs::create_directories(options.out, ec);
    if (!fs::is_directory(options.out, ec)) {
        std::cerr << "overlay-preview: " << PathToUtf8(options.out) << ": cannot create the folder\n";
        return kExitFailed;
    }
    // Pictures of an earlier run with more monitors would mislead.
    for (const auto& entry : fs::directory_iterator(options.out, ec)) {
        const std::string name = PathToUtf8(entry.path().filename());
        if (name.rfind("monitor-", 0) == 0 && entry.path().extension() == ".png") fs::remove(entry.path(), ec);
    }

    std::cout << "monitors:\n";
    for (std::size_t i = 0; i < options.monitors.size(); ++i) {
        std::cout << "  " << i + 1 << ": " << DescribeMonitor(options.monitors[i]) << "\n";
    }
    const fs::path appDir = FreshAppDir();
    const Outcome outcome = RunRenderer(options, sent, appDir);
    fs::remove_all(appDir, ec);

    const std::vector<std::string> logLines = LogLines(outcome.log);
    ReportAnswers(sent, logLines, allAccepted);
    std::cout << "renderer log:\n";
    for (const std::string& line : logLines) std::cout << "  " << line << "\n";
    std::cout << "renderer exit code: " << outcome.exitCode << "\n";

    bool written = true;
    const fs::path logPath = options.out / "vorlune-overlay.log";
    {
        std::ofstream log(logPath, std::ios::binary | std::ios::trunc);
        log << outcome.log;
        written = static_cast<bool>(log);
    }
    std::cout << (written ? "wrote " : "could not write ") << PathToUtf8(logPath) << "\n";
    if (outcome.screenshots.empty()) {
        std::cout << "no pictures: the renderer ended before they were due\n";
        return kExitFailed;
    }
    for (std::size_t i = 0; i < outcome.screenshots.size(); ++i) {
        const fs::path png = options.out / ("monitor-" + std::to_string(i + 1) + ".png");
        const sim::Image image =
            options.background ? OverBackground(outcome.screenshots[i], *options.background, options.monitors[i].rect,
                                                options.gameWindow)
                               : outcome.screenshots[i];
        const bool saved = sim::SavePng(image, PathToUtf8(png));
        written = written && saved;
        std::cout << (saved ? "wrote " : "could not write ") << PathToUtf8(png) << " (" << image.width << "x"
                  << image.height << ")\n";
    }
    return allAccepted && written && outcome.exitCode == 0 ? kExitOk : kExitFailed;
}
