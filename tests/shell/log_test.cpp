// The log file as a run leaves it on disk: where it is, the form of its lines,
// an oversized log from an earlier run, and a log that cannot be opened.
#include <fstream>

#include "support/harness.h"

namespace {

using simtest::Harness;
using simtest::RendererRun;
using Strings = std::vector<std::string>;

void WriteFile(const std::filesystem::path& path, std::size_t size, char fill) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    const std::string block(64 * 1024, fill);
    for (std::size_t left = size; left > 0;) {
        const std::size_t n = std::min(left, block.size());
        file.write(block.data(), static_cast<std::streamsize>(n));
        left -= n;
    }
}

// A run that writes two lines and ends at once: the parent id names no process.
RendererRun ShortRun(Harness& harness) { return harness.Run(L"--parent-pid 4242"); }

TEST(LogFile, LinesHaveUnpaddedLocalTimeAndCrLf) {
    struct Row {
        const char* why;
        SYSTEMTIME start;
        std::string firstLine;
    };
    const Row rows[] = {
        {"midnight on New Year's Day: every field unpadded", {2026, 1, 0, 1, 0, 0, 0, 0},
         "2026-1-1 0:0:0 renderer starting\r\n"},
        {"single-digit fields are not padded either", {2025, 3, 0, 7, 9, 5, 2, 0}, "2025-3-7 9:5:2 renderer starting\r\n"},
        {"two-digit fields as they are", {2025, 12, 0, 31, 23, 59, 58, 999}, "2025-12-31 23:59:58 renderer starting\r\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        Harness harness;
        sim::DesktopConfig config = harness.DefaultConfig();
        config.startLocalTime = row.start;
        harness.Prepare(config);
        const RendererRun run = ShortRun(harness);
        ASSERT_TRUE(run.logFileExists);
        EXPECT_EQ(run.logBytes.substr(0, row.firstLine.size()), row.firstLine);
        EXPECT_EQ(run.Messages(), (Strings{"renderer starting", "could not open parent process"}));
    }
}

TEST(LogFile, EveryLineEndsWithCrLfOnDisk) {
    Harness harness;
    harness.Prepare();
    harness.EndParentAt(2400);
    const RendererRun run = harness.Run();
    ASSERT_EQ(run.lines.size(), 4u);
    EXPECT_EQ(run.logBytes.substr(run.logBytes.size() - 2), "\r\n");
    std::size_t bareLineFeeds = 0;
    for (std::size_t i = 0; i < run.logBytes.size(); ++i)
        if (run.logBytes[i] == '\n' && (i == 0 || run.logBytes[i - 1] != '\r')) ++bareLineFeeds;
    EXPECT_EQ(bareLineFeeds, 0u);
    // Local time moves with virtual time: the parent's end is seen at 2.5 s.
    EXPECT_EQ(run.lines[2].stamp, "2026-1-1 0:0:2");
}

TEST(LogFile, RunsAppendToTheSameFile) {
    Harness harness;
    ShortRun(harness);
    const RendererRun second = ShortRun(harness);
    EXPECT_EQ(second.Messages(), (Strings{"renderer starting", "could not open parent process", "renderer starting",
                                          "could not open parent process"}));
}

TEST(LogFile, OversizedLogOfAnEarlierRunBecomesTheOldGeneration) {
    Harness harness;
    harness.Prepare();
    WriteFile(harness.LogPath(), 5242881, 'x');
    WriteFile(harness.OldLogPath(), 10, 'o');
    const RendererRun run = ShortRun(harness);
    EXPECT_EQ(std::filesystem::file_size(harness.OldLogPath()), 5242881u) << "the older .old is replaced";
    EXPECT_EQ(run.Messages(), (Strings{"renderer starting", "could not open parent process"}));
}

TEST(LogFile, LogThatCannotBeOpenedLosesItsLinesButNotTheRun) {
    Harness harness;
    harness.Prepare();
    // The log's own path is taken by a directory.
    std::filesystem::create_directories(harness.LogPath());
    harness.EndParentAt(600);
    const RendererRun run = harness.Run();
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_FALSE(run.logFileExists);
    EXPECT_TRUE(std::filesystem::is_empty(harness.LogPath()));
    EXPECT_FALSE(std::filesystem::exists(harness.OldLogPath()));
    EXPECT_LEFT_NOTHING(run);
}

TEST(LogFile, LongExecutablePathKeepsTheLogBesideTheExecutable) {
    Harness harness;
    sim::DesktopConfig config = harness.DefaultConfig();
    // Well over MAX_PATH, and a path cut at 260 units would end inside the
    // second long directory name and so point somewhere else.
    config.modulePath = harness.Directory() / std::string(200, 'a') / std::string(100, 'b') / "vorlune-overlay.exe";
    ASSERT_GT(config.modulePath.native().size(), 300u);
    harness.Prepare(config);
    const RendererRun run = ShortRun(harness);
    EXPECT_TRUE(run.logFileExists) << harness.LogPath();
    EXPECT_EQ(run.Messages(), (Strings{"renderer starting", "could not open parent process"}));
    EXPECT_FALSE(std::filesystem::exists(harness.Directory() / std::string(200, 'a') / "logs"));
}

}  // namespace
