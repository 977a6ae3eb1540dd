#include "support/harness.h"

#include <unistd.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

namespace simtest {
namespace {

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

std::string SafeName(std::string name) {
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.') c = '_';
    return name.substr(0, 80);
}

std::string CurrentTestName() {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    if (!info) return "no-test";
    return std::string(info->test_suite_name()) + "." + info->name();
}

bool Digits(const std::string& text, std::size_t& at, char end) {
    const std::size_t start = at;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) ++at;
    if (at == start || at >= text.size() || text[at] != end) return false;
    ++at;
    return true;
}

}  // namespace

std::vector<LogLine> ParseLog(const std::string& bytes) {
    std::vector<LogLine> lines;
    std::size_t begin = 0;
    while (begin < bytes.size()) {
        std::size_t end = bytes.find("\r\n", begin);
        const bool terminated = end != std::string::npos;
        if (!terminated) end = bytes.size();
        const std::string line = bytes.substr(begin, end - begin);
        // year-month-day hour:minute:second and a blank
        std::size_t at = 0;
        const bool stamped = Digits(line, at, '-') && Digits(line, at, '-') && Digits(line, at, ' ') &&
                             Digits(line, at, ':') && Digits(line, at, ':') && Digits(line, at, ' ');
        if (stamped)
            lines.push_back(LogLine{line.substr(0, at - 1), line.substr(at)});
        else
            lines.push_back(LogLine{"", line});
        begin = terminated ? end + 2 : end;
    }
    return lines;
}

std::vector<std::string> RendererRun::Messages() const {
    std::vector<std::string> messages;
    for (const LogLine& line : lines) messages.push_back(line.message);
    return messages;
}

Harness::Harness() : Harness(CurrentTestName()) {}

Harness::Harness(const std::string& name) {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    directory_ = std::filesystem::temp_directory_path() /
                 ("vorlune-" + SafeName(name) + "-" + std::to_string(::getpid()) + "-" +
                  std::to_string(counter++) + "-" + std::to_string(random() % 100000));
    std::filesystem::create_directories(directory_);
    config_ = DefaultConfig();
}

Harness::~Harness() {
    sim::Reset();
    std::error_code error;
    std::filesystem::remove_all(directory_, error);
}

sim::DesktopConfig Harness::DefaultConfig() const {
    sim::DesktopConfig config;
    config.modulePath = directory_ / "app" / "vorlune-overlay.exe";
    config.startLocalTime = SYSTEMTIME{2026, 1, 0, 1, 0, 0, 0, 0};
    return config;
}

void Harness::Prepare() { Prepare(DefaultConfig()); }

void Harness::Prepare(const sim::DesktopConfig& config) {
    sim::Reset();
    sim::Configure(config);
    config_ = config;
    std::error_code error;
    std::filesystem::create_directories(config.modulePath.parent_path(), error);
    parent_ = sim::SpawnProcess();
    prepared_ = true;
}

std::wstring Harness::ParentSwitch() const { return L"--parent-pid " + std::to_wstring(parent_); }

std::filesystem::path Harness::LogDirectory() const { return config_.modulePath.parent_path() / "logs"; }
std::filesystem::path Harness::LogPath() const { return LogDirectory() / "vorlune-overlay.log"; }
std::filesystem::path Harness::OldLogPath() const { return LogDirectory() / "vorlune-overlay.log.old"; }

void Harness::EndParentAt(std::uint64_t ms) {
    const DWORD parent = parent_;
    sim::At(ms, [parent] { sim::EndProcess(parent); });
}

void Harness::CloseControlWindowAt(std::uint64_t ms) {
    sim::At(ms, [] { sim::SendClose(ControlWindow()); });
}

RendererRun Harness::Run() {
    if (!prepared_) Prepare(config_);
    return Run(ParentSwitch());
}

RendererRun Harness::Run(const std::wstring& commandLine) {
    if (!prepared_) Prepare(config_);
    prepared_ = false;
    std::vector<wchar_t> tail(commandLine.begin(), commandLine.end());
    tail.push_back(L'\0');

    RendererRun run;
    run.exitCode = wWinMain(sim::RendererInstance(), nullptr, tail.data(), SW_SHOWDEFAULT);
    run.objectsLeft = sim::LiveObjects();
    run.eventsNotRun = sim::PendingEvents();
    const sim::ProcessEndReport report = sim::EndRendererProcess(static_cast<DWORD>(run.exitCode));
    for (const sim::WindowView& window : report.windowsLeft) run.windowsLeft.push_back(Narrow(window.className));
    run.handlesLeft = report.handlesLeft;
    run.misuses = sim::Misuses();

    std::error_code error;
    run.logDirectoryExists = std::filesystem::is_directory(LogDirectory(), error);
    run.logFileExists = std::filesystem::is_regular_file(LogPath(), error);
    if (run.logFileExists) {
        std::ifstream file(LogPath(), std::ios::binary);
        run.logBytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        run.lines = ParseLog(run.logBytes);
    }
    return run;
}

namespace frames {

Command FillRect(Rect rect, Color color, std::uint16_t flags) {
    Command command;
    command.kind = vorlune::overlay::CommandKind::FillRect;
    command.flags = flags;
    command.rect = rect;
    command.color = color;
    return command;
}

Command RainbowCursor() {
    Command command;
    command.kind = vorlune::overlay::CommandKind::RainbowCursor;
    return command;
}

Scene SceneOf(std::vector<Command> commands, MonitorTarget target, std::uint64_t tag) {
    Scene scene;
    scene.target = target;
    scene.frameTag = tag;
    scene.commands = std::move(commands);
    return scene;
}

std::vector<std::uint8_t> Encode(const Scene& scene) {
    std::vector<std::uint8_t> frame;
    std::string error;
    EXPECT_TRUE(vorlune::overlay::EncodeScene(scene, frame, error)) << error;
    return frame;
}

}  // namespace frames

HWND ControlWindow() { return sim::FindWindowOf(kControlClass); }

std::vector<HWND> OverlayWindows() { return sim::WindowsOfClass(kOverlayClass); }

LRESULT SendFrame(const std::vector<std::uint8_t>& frame, HWND to) {
    return sim::SendCopyData(to, vorlune::overlay::kFrameMagic, frame.data(), static_cast<DWORD>(frame.size()));
}

::testing::AssertionResult LeftNothing(const RendererRun& run) {
    std::ostringstream problems;
    for (const std::string& window : run.windowsLeft) problems << "\n  window left: " << window;
    for (const sim::ObjectInfo& object : run.objectsLeft)
        problems << "\n  object left: " << object.type << " #" << object.id << " refs=" << object.refs;
    for (const std::string& handle : run.handlesLeft) problems << "\n  handle left: " << handle;
    for (const std::string& misuse : run.misuses) problems << "\n  misuse: " << misuse;
    if (problems.str().empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the run left something behind:" << problems.str();
}

std::vector<std::string> ArgsOf(const std::string& name) {
    std::vector<std::string> args;
    for (const sim::Call& call : sim::CallsNamed(name)) args.push_back(call.args);
    return args;
}

std::vector<std::uint64_t> TimesOf(const std::string& name) {
    std::vector<std::uint64_t> times;
    for (const sim::Call& call : sim::CallsNamed(name)) times.push_back(call.timeMs);
    return times;
}

std::string JournalTail(std::size_t count) {
    const std::vector<sim::Call>& journal = sim::Journal();
    std::ostringstream text;
    const std::size_t from = journal.size() > count ? journal.size() - count : 0;
    for (std::size_t i = from; i < journal.size(); ++i)
        text << journal[i].seq << " @" << journal[i].timeMs << " " << journal[i].name << " " << journal[i].args
             << " -> " << journal[i].result << "\n";
    return text.str();
}

}  // namespace simtest
