// How fast DecodeScene gets through the frames that cost it most, against the
// cheapest thing that could be done with the same bytes: copying them.
//
// Each case reports bytes per second, and the counter ratio_to_memcpy: the
// processor time of one decode divided by that of one memcpy of the same
// frame, both measured in the same run on the same buffers (memcpy just
// before the decode loop). Processor time rather than wall time, so that a
// busy machine does not stretch one side of the ratio more than the other.
// Commands per second are reported as items per second.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "protocol/protocol.h"

namespace {

using vorlune::overlay::Command;
using vorlune::overlay::CommandKind;
using vorlune::overlay::DecodeScene;
using vorlune::overlay::EncodeScene;
using vorlune::overlay::MonitorTarget;
using vorlune::overlay::Scene;
using Bytes = std::vector<std::uint8_t>;

Bytes Encode(const Scene& scene) {
    Bytes frame;
    std::string error;
    if (!EncodeScene(scene, frame, error)) {
        throw std::runtime_error("benchmark scene refused: " + error);
    }
    return frame;
}

Command TextCommand(std::string text) {
    Command command;
    command.kind = CommandKind::Text;
    command.rect = {0, 0, 1920, 1080};
    command.fontSize = 14;
    command.fontWeight = 400;
    command.color = {255, 255, 255, 255};
    command.text = std::move(text);
    return command;
}

// Texts of the largest size, filling the frame as far as whole texts go.
Bytes TextFrame(std::string (*makeText)(std::uint32_t seed)) {
    Scene scene{.target = MonitorTarget::All, .frameTag = 1, .commands = {}};
    std::size_t size = vorlune::overlay::kFrameHeaderSize;
    for (std::uint32_t i = 0; size + 40 + vorlune::overlay::kMaxTextBytes <= vorlune::overlay::kMaxFrameSize; ++i) {
        scene.commands.push_back(TextCommand(makeText(i)));
        size += 40 + vorlune::overlay::kMaxTextBytes;
    }
    return Encode(scene);
}

std::string AsciiText(std::uint32_t seed) {
    std::string text(vorlune::overlay::kMaxTextBytes, ' ');
    for (std::size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<char>(' ' + (i * 7 + seed) % 95);
    }
    return text;
}

void AppendUtf8(std::string& out, std::uint32_t codePoint) {
    if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    }
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
}

// 2-, 3- and 4-byte sequences in a pseudo-random order, so that no branch
// predictor can learn the pattern; no ASCII except a final byte of padding.
std::string MultiByteText(std::uint32_t seed) {
    std::string text;
    std::uint32_t state = 0x9E3779B9u ^ seed;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    while (text.size() + 4 <= vorlune::overlay::kMaxTextBytes) {
        const std::uint32_t r = next();
        switch (r % 3) {
        case 0:
            AppendUtf8(text, 0x80 + (r >> 8) % (0x800 - 0x80));
            break;
        case 1: {
            std::uint32_t cp = 0x800 + (r >> 8) % (0x10000 - 0x800 - 0x800);
            if (cp >= 0xD800) {
                cp += 0x800;  // step over the surrogates
            }
            AppendUtf8(text, cp);
            break;
        }
        default:
            AppendUtf8(text, 0x10000 + (r >> 8) % (0x110000 - 0x10000));
            break;
        }
    }
    while (text.size() < vorlune::overlay::kMaxTextBytes) {
        text += 'x';
    }
    return text;
}

Bytes FillRectFrame() {
    Command fill;
    fill.kind = CommandKind::FillRect;
    fill.rect = {10, 20, 110, 70};
    fill.color = {255, 0, 0, 128};
    return Encode(Scene{.target = MonitorTarget::All,
                        .frameTag = 1,
                        .commands = std::vector<Command>(vorlune::overlay::kMaxCommands, fill)});
}

// Commands from a newer sender, the size of a FillRect: the encoder will not
// write them, so the bytes are laid out here.
Bytes UnknownKindFrame() {
    const Bytes header = Encode(Scene{.target = MonitorTarget::All, .frameTag = 1, .commands = {}});
    Bytes frame(header);
    constexpr std::uint32_t kLength = 28;
    const std::uint32_t count = vorlune::overlay::kMaxCommands;
    const std::uint32_t payload = count * kLength;
    for (int i = 0; i < 4; ++i) {
        frame[16 + i] = static_cast<std::uint8_t>(payload >> (8 * i));
        frame[20 + i] = static_cast<std::uint8_t>(count >> (8 * i));
    }
    for (std::uint32_t c = 0; c < count; ++c) {
        const std::uint8_t command[8] = {0x09, 0x00, 0xFF, 0xFF, kLength, 0, 0, 0};
        frame.insert(frame.end(), command, command + 8);
        frame.insert(frame.end(), kLength - 8, 0xAB);
    }
    return frame;
}

double CpuNanoseconds() {
    return static_cast<double>(std::clock()) * (1e9 / CLOCKS_PER_SEC);
}

// Processor nanoseconds for one memcpy of `frame`: a batch long enough for
// the clock's resolution, the best of several so that one interruption does
// not skew it.
double MemcpyNanoseconds(const Bytes& frame) {
    Bytes target(frame.size());
    const int batch = static_cast<int>(std::max<std::size_t>(64, (64u << 20) / frame.size()));
    double best = 1e300;
    for (int round = 0; round < 5; ++round) {
        const double start = CpuNanoseconds();
        for (int i = 0; i < batch; ++i) {
            std::memcpy(target.data(), frame.data(), frame.size());
            benchmark::DoNotOptimize(target.data());
            benchmark::ClobberMemory();
        }
        best = std::min(best, (CpuNanoseconds() - start) / batch);
    }
    return best;
}

void RunDecode(benchmark::State& state, const Bytes& frame, std::size_t commands) {
    const double memcpyNs = MemcpyNanoseconds(frame);
    Scene scene;
    std::string error;
    if (!DecodeScene(frame.data(), frame.size(), scene, error)) {
        state.SkipWithError(("frame refused: " + error).c_str());
        return;
    }

    const double start = CpuNanoseconds();
    for (auto _ : state) {
        const bool ok = DecodeScene(frame.data(), frame.size(), scene, error);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(scene.commands.data());
    }
    const double elapsed = CpuNanoseconds() - start;

    const auto iterations = static_cast<std::int64_t>(state.iterations());
    state.SetBytesProcessed(iterations * static_cast<std::int64_t>(frame.size()));
    state.SetItemsProcessed(iterations * static_cast<std::int64_t>(commands));
    state.counters["frame_bytes"] = static_cast<double>(frame.size());
    state.counters["ratio_to_memcpy"] = elapsed / static_cast<double>(iterations) / memcpyNs;
    state.counters["memcpy_GB/s"] = static_cast<double>(frame.size()) / memcpyNs;
}

void BM_Decode4096FillRect(benchmark::State& state) {
    static const Bytes frame = FillRectFrame();
    RunDecode(state, frame, vorlune::overlay::kMaxCommands);
}

void BM_DecodeAsciiText(benchmark::State& state) {
    static const Bytes frame = TextFrame(AsciiText);
    RunDecode(state, frame, 15);
}

void BM_DecodeMultiByteText(benchmark::State& state) {
    static const Bytes frame = TextFrame(MultiByteText);
    RunDecode(state, frame, 15);
}

void BM_Decode4096UnknownKind(benchmark::State& state) {
    static const Bytes frame = UnknownKindFrame();
    RunDecode(state, frame, vorlune::overlay::kMaxCommands);
}

BENCHMARK(BM_Decode4096FillRect);
BENCHMARK(BM_DecodeAsciiText);
BENCHMARK(BM_DecodeMultiByteText);
BENCHMARK(BM_Decode4096UnknownKind);

}  // namespace

BENCHMARK_MAIN();
