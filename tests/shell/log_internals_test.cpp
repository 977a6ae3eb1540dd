// Log and HResult from inside: the size limits of the start-up rotation and of
// the rotation before each line, which a whole run cannot tell apart, and the
// texts of failed platform calls. The renderer's source is included to reach
// its unnamed namespace, so this program does not link renderer_sim.
#include "renderer/main.cpp"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>

#include "sim/desktop.h"

namespace {

// A fresh desktop whose executable lives in a directory of this test's own.
class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device random;
        directory_ = std::filesystem::temp_directory_path() /
                     ("vorlune-log-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                      std::to_string(random()));
        std::filesystem::create_directories(directory_ / "app");
        sim::Reset();
        sim::DesktopConfig config;
        config.modulePath = directory_ / "app" / "vorlune-overlay.exe";
        sim::Configure(config);
    }
    void TearDown() override {
        sim::Reset();
        std::error_code error;
        std::filesystem::remove_all(directory_, error);
    }

    std::filesystem::path LogPath() const { return directory_ / "app" / "logs" / "vorlune-overlay.log"; }
    std::filesystem::path OldPath() const { return directory_ / "app" / "logs" / "vorlune-overlay.log.old"; }

    static void Fill(const std::filesystem::path& path, std::size_t size) {
        std::filesystem::create_directories(path.parent_path());
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        const std::string block(64 * 1024, 'x');
        for (std::size_t left = size; left > 0;) {
            const std::size_t n = std::min(left, block.size());
            file.write(block.data(), static_cast<std::streamsize>(n));
            left -= n;
        }
    }
    static std::string Read(const std::filesystem::path& path) {
        std::ifstream file(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    static std::uintmax_t Size(const std::filesystem::path& path) {
        std::error_code error;
        const std::uintmax_t size = std::filesystem::file_size(path, error);
        return error ? 0 : size;
    }

    std::filesystem::path directory_;
};

TEST_F(LogTest, StartupRotationAboveMaxLogSize) {
    struct Row {
        const char* why;
        std::size_t size;
        bool rotated;
    };
    const Row rows[] = {
        {"exactly the limit stays", 5242880, false},
        {"one byte over the limit moves to .old", 5242881, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        Fill(LogPath(), row.size);
        Fill(OldPath(), 7);
        {
            Log log;
            EXPECT_EQ(Size(LogPath()), row.rotated ? 0u : row.size);
            EXPECT_EQ(Size(OldPath()), row.rotated ? row.size : 7u) << "a rotation replaces the older .old";
        }
        std::filesystem::remove(LogPath());
        std::filesystem::remove(OldPath());
    }
}

TEST_F(LogTest, LineRotationCountsMessageBytesPlusAllowance) {
    constexpr char kStamp[] = "2026-1-1 0:0:0 ";
    struct Row {
        const char* why;
        std::string message;
        bool rotated;
    };
    const Row rows[] = {
        {"5,242,848 + 0 + 32 is the limit itself: appended", "", false},
        {"5,242,848 + 1 + 32 is over it: written to a fresh file", "x", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        Fill(LogPath(), 5242848);
        {
            Log log;
            log.Write(row.message);
        }
        const std::string line = kStamp + row.message + "\r\n";
        if (row.rotated) {
            EXPECT_EQ(Read(LogPath()), line);
            EXPECT_EQ(Size(OldPath()), 5242848u);
        } else {
            EXPECT_EQ(Size(LogPath()), 5242848u + line.size());
            EXPECT_EQ(Read(LogPath()).substr(5242848), line);
            EXPECT_FALSE(std::filesystem::exists(OldPath()));
        }
        std::filesystem::remove(LogPath());
        std::filesystem::remove(OldPath());
    }
}

TEST_F(LogTest, SizeCheckCountsBothBytesOfEachLineEnd) {
    // One line of 15 + 1 + 2 bytes brings 5,242,830 to 5,242,848 on disk, so
    // the next one-byte message needs 5,242,848 + 1 + 32, one over the limit.
    // Counting a line end as one byte would have stayed at the limit.
    Fill(LogPath(), 5242830);
    Log log;
    log.Write("y");
    EXPECT_EQ(Size(LogPath()), 5242848u);
    EXPECT_FALSE(std::filesystem::exists(OldPath()));
    log.Write("z");
    EXPECT_EQ(Read(LogPath()), "2026-1-1 0:0:0 z\r\n");
    EXPECT_EQ(Size(OldPath()), 5242848u);
}

TEST_F(LogTest, LineFeedInsideAMessageIsStoredAsCrLf) {
    // The file is a text-mode file: every line feed, also one inside a
    // message, is stored as CR LF, so the rest shows as a line of its own.
    {
        Log log;
        log.Write("first\nsecond");
    }
    EXPECT_EQ(Read(LogPath()), "2026-1-1 0:0:0 first\r\nsecond\r\n");
}

TEST_F(LogTest, LogThatFailedToOpenStaysClosedAfterARotation) {
    std::filesystem::create_directories(LogPath());  // the log's path is a directory
    Log log;
    log.Write(std::string(100, 'm'));
    EXPECT_TRUE(std::filesystem::is_directory(LogPath()));
    EXPECT_FALSE(std::filesystem::exists(OldPath()));
}

TEST(HResultText, WhatTextThenTheCodeInLowercaseHex) {
    struct Row {
        const char* what;
        HRESULT code;
        const char* text;
    };
    const Row rows[] = {
        {"render", static_cast<HRESULT>(0x887A0005), "render failed (0x887a0005)"},
        {"DirectComposition commit", E_FAIL, "DirectComposition commit failed (0x80004005)"},
        {"create monitor surface", E_INVALIDARG, "create monitor surface failed (0x80070057)"},
        // Not a failing code in practice, but the digits carry no leading zeros.
        {"x", 0x1, "x failed (0x1)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(HResult(row.what, row.code), row.text);
    }
}

}  // namespace
