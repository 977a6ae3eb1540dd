// Scene records and the version-2 frame format shared by the renderer and the
// programs that send it scenes. Portable C++: nothing here knows about windows
// or graphics, so parent programs and tools can use it on any platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vorlune::overlay {

enum class CommandKind : std::uint16_t {
    FillRect = 1,
    StrokeRect = 2,
    Line = 3,
    Text = 4,
    RainbowCursor = 5,
};

enum class MonitorTarget : std::uint16_t {
    Primary = 1,
    All = 2,
};

// Bit 0 of Command::flags: X coordinates are fractions of the monitor's width.
inline constexpr std::uint16_t NormalizedX = 1;

inline constexpr std::uint32_t kFrameMagic = 0x564F5256;  // "VROV" on the wire
inline constexpr std::uint16_t kProtocolVersion = 2;
inline constexpr std::size_t kFrameHeaderSize = 24;
inline constexpr std::size_t kCommandHeaderSize = 8;
inline constexpr std::size_t kMaxFrameSize = 1048576;
inline constexpr std::uint32_t kMaxCommands = 4096;
inline constexpr std::uint32_t kMaxTextBytes = 65536;

struct Rect {
    float left = 0.0f;
    float top = 0.0f;
    float right = 0.0f;
    float bottom = 0.0f;

    friend bool operator==(const Rect&, const Rect&) = default;
};

struct LinePoints {
    float x1 = 0.0f;
    float y1 = 0.0f;
    float x2 = 0.0f;
    float y2 = 0.0f;

    friend bool operator==(const LinePoints&, const LinePoints&) = default;
};

struct Color {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    std::uint8_t a = 0;

    friend bool operator==(const Color&, const Color&) = default;
};

struct Command {
    CommandKind kind = static_cast<CommandKind>(0);
    std::uint16_t flags = 0;
    Rect rect;
    LinePoints line;
    float strokeWidth = 0.0f;
    float fontSize = 0.0f;
    std::uint16_t fontWeight = 0;
    std::uint8_t alignment = 0;
    Color color;
    std::string text;  // UTF-8 bytes exactly as in the frame; may hold NUL bytes

    friend bool operator==(const Command&, const Command&) = default;
};

struct Scene {
    MonitorTarget target = static_cast<MonitorTarget>(0);
    std::uint64_t frameTag = 0;
    std::vector<Command> commands;

    friend bool operator==(const Scene&, const Scene&) = default;
};

// Validates one frame completely. On success fills `scene` and empties `error`;
// on failure leaves exactly one fixed reason in `error`. `scene` is reset on
// entry whatever the outcome. Never reads outside [data, data + size).
bool DecodeScene(const std::uint8_t* data, std::uint64_t size, Scene& scene, std::string& error);

// Builds the bytes of a version-2 frame for `scene`. Refuses a scene that
// DecodeScene would reject, leaving the decoder's reason in `error` and
// `frame` empty; whatever it accepts decodes back to an equal scene. Only the
// fields a kind carries are written, so two more refusals exist that no frame
// can cause: "unknown command kind" for a kind outside 1 to 5 (a frame would
// skip it), and "command sets a field its kind does not carry" (a frame would
// drop it), each named only when the frame itself is valid.
bool EncodeScene(const Scene& scene, std::vector<std::uint8_t>& frame, std::string& error);

// Bytes of the frame EncodeScene writes for `scene`, header included, whether
// or not the frame would be accepted: lets a sender say how far over
// kMaxFrameSize a scene is.
std::uint64_t EncodedFrameSize(const Scene& scene);

}  // namespace vorlune::overlay
