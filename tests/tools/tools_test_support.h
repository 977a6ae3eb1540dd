// Shared by the tools' tests: commands built in one line, files in a fresh
// folder per test, and the paths CMake hands over.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "protocol/protocol.h"

namespace tooltest {

using vorlune::overlay::Color;
using vorlune::overlay::Command;
using vorlune::overlay::CommandKind;
using vorlune::overlay::LinePoints;
using vorlune::overlay::Rect;

inline std::filesystem::path ExamplesDir() { return VORLUNE_EXAMPLES_DIR; }

inline Command FillRect(Rect rect, Color color, std::uint16_t flags = 0) {
    Command c;
    c.kind = CommandKind::FillRect;
    c.flags = flags;
    c.rect = rect;
    c.color = color;
    return c;
}

inline Command StrokeRect(Rect rect, float width, Color color, std::uint16_t flags = 0) {
    Command c = FillRect(rect, color, flags);
    c.kind = CommandKind::StrokeRect;
    c.strokeWidth = width;
    return c;
}

inline Command Line(LinePoints line, float width, Color color, std::uint16_t flags = 0) {
    Command c;
    c.kind = CommandKind::Line;
    c.flags = flags;
    c.line = line;
    c.strokeWidth = width;
    c.color = color;
    return c;
}

inline Command Text(Rect rect, float fontSize, std::uint16_t weight, std::uint8_t alignment, Color color,
                    std::string text, std::uint16_t flags = 0) {
    Command c = FillRect(rect, color, flags);
    c.kind = CommandKind::Text;
    c.fontSize = fontSize;
    c.fontWeight = weight;
    c.alignment = alignment;
    c.text = std::move(text);
    return c;
}

inline Command Cursor() {
    Command c;
    c.kind = CommandKind::RainbowCursor;
    return c;
}

inline std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
    const std::string text = ReadText(path);
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

inline void WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void WriteText(const std::filesystem::path& path, const std::string& text) {
    WriteBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

// A folder of its own for each test, removed afterwards.
class TempDirTest : public testing::Test {
protected:
    void SetUp() override {
        const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
        dir_ = std::filesystem::temp_directory_path() / "vorlune-tools-test" /
               (std::string(info->test_suite_name()) + "." + info->name() + "." + std::to_string(::getpid()));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override {
        if (!HasFailure()) {
            std::filesystem::remove_all(dir_);
        }
    }
    std::filesystem::path Path(const std::string& name) const { return dir_ / name; }
    // The file names in the folder, sorted: what a command left behind.
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    std::filesystem::path dir_;
};

}  // namespace tooltest
