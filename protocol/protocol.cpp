#include "protocol/protocol.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>

namespace vorlune::overlay {
namespace {

// Every way a frame can be refused. The decoder hands back one of these
// pointers and DecodeScene turns it into the caller's message in one place.
constexpr const char* kTruncatedFrameHeader = "truncated frame header";
constexpr const char* kFrameTooLarge = "frame exceeds maximum size";
constexpr const char* kBadMagic = "invalid frame magic";
constexpr const char* kBadVersion = "incompatible protocol version";
constexpr const char* kBadTarget = "invalid monitor target";
constexpr const char* kBadPayloadLength = "payload length does not match frame";
constexpr const char* kTooManyCommands = "command count exceeds maximum";
constexpr const char* kTruncatedCommandHeader = "truncated command header";
constexpr const char* kBadCommandLength = "invalid command length";
constexpr const char* kUnclaimedBytes = "unclaimed payload bytes";
constexpr const char* kFillRectFlags = "unsupported FillRect flags";
constexpr const char* kFillRectLength = "invalid FillRect length";
constexpr const char* kFillRectRectangle = "invalid FillRect rectangle";
constexpr const char* kStrokeRectFlags = "unsupported StrokeRect flags";
constexpr const char* kStrokeRectLength = "invalid StrokeRect length";
constexpr const char* kStrokeRectGeometry = "invalid StrokeRect geometry";
constexpr const char* kLineFlags = "unsupported Line flags";
constexpr const char* kLineLength = "invalid Line length";
constexpr const char* kLineGeometry = "invalid Line geometry";
constexpr const char* kLineNormalizedX = "invalid normalized Line X coordinates";
constexpr const char* kTextFlags = "unsupported Text flags";
constexpr const char* kTextLength = "invalid Text length";
constexpr const char* kTextValueLength = "invalid Text value length";
constexpr const char* kTextAttributes = "invalid Text attributes";
constexpr const char* kTextUtf8 = "invalid Text UTF-8";
constexpr const char* kCursorFlags = "unsupported RainbowCursor flags";
constexpr const char* kCursorLength = "invalid RainbowCursor length";

// Refusals that only the encoder can meet: a decoded scene never holds them.
constexpr const char* kUnknownKind = "unknown command kind";
constexpr const char* kUncarriedField = "command sets a field its kind does not carry";

constexpr std::size_t kFillRectSize = 28;
constexpr std::size_t kStrokeSize = 32;  // StrokeRect and Line
constexpr std::size_t kTextFixedSize = 40;
constexpr std::size_t kCursorSize = kCommandHeaderSize;
constexpr float kLargestFloat = std::numeric_limits<float>::max();
constexpr std::uint16_t kKnownFlags = NormalizedX;

const char* DecodeFrame(const std::uint8_t* data, std::uint64_t size, Scene& scene);
const char* DecodeCommand(const std::uint8_t* at, std::uint32_t length, Scene& scene);
const char* DecodeFillRect(const std::uint8_t* at, std::uint32_t length, std::uint16_t flags,
                           std::vector<Command>& commands);
const char* DecodeStrokeRect(const std::uint8_t* at, std::uint32_t length, std::uint16_t flags,
                             std::vector<Command>& commands);
const char* DecodeLine(const std::uint8_t* at, std::uint32_t length, std::uint16_t flags,
                       std::vector<Command>& commands);
const char* DecodeText(const std::uint8_t* at, std::uint32_t length, std::uint16_t flags,
                       std::vector<Command>& commands);
const char* DecodeRainbowCursor(std::uint32_t length, std::uint16_t flags, std::vector<Command>& commands);
bool IsOrderedRect(const Rect& rect, std::uint16_t flags);
bool IsFinite(float value);
bool IsUnit(float value);
bool IsWellFormedUtf8(const std::uint8_t* text, std::size_t length);
Rect ReadRect(const std::uint8_t* at);
Color ReadColor(const std::uint8_t* at);
float ReadF32(const std::uint8_t* at);
std::uint16_t ReadU16(const std::uint8_t* at);
std::uint32_t ReadU32(const std::uint8_t* at);
std::uint64_t ReadU64(const std::uint8_t* at);

std::uint64_t EncodedSize(const Command& command);
void PutCommand(std::vector<std::uint8_t>& out, const Command& command);
const char* RoundTripFault(const Scene& given);
void PutRect(std::vector<std::uint8_t>& out, const Rect& rect);
void PutColor(std::vector<std::uint8_t>& out, const Color& color);
void PutF32(std::vector<std::uint8_t>& out, float value);
void PutU16(std::vector<std::uint8_t>& out, std::uint16_t value);
void PutU32(std::vector<std::uint8_t>& out, std::uint32_t value);
void PutU64(std::vector<std::uint8_t>& out, std::uint64_t value);
bool IsKnownKind(CommandKind kind);

}  // namespace

bool DecodeScene(const std::uint8_t* data, std::uint64_t size, Scene& scene, std::string& error) {
    scene = Scene{};
    error.clear();
    if (const char* failure = DecodeFrame(data, size, scene)) {
        error.assign(failure);
        return false;
    }
    return true;
}

bool EncodeScene(const Scene& scene, std::vector<std::uint8_t>& frame, std::string& error) {
    frame.clear();
    error.clear();

    const std::uint64_t size = EncodedFrameSize(scene);
    if (size > kMaxFrameSize) {
        error.assign(kFrameTooLarge);
        return false;
    }

    frame.reserve(static_cast<std::size_t>(size));
    PutU32(frame, kFrameMagic);
    PutU16(frame, kProtocolVersion);
    PutU16(frame, static_cast<std::uint16_t>(scene.target));
    PutU64(frame, scene.frameTag);
    PutU32(frame, static_cast<std::uint32_t>(size - kFrameHeaderSize));
    // The size bound above keeps the count far below 2^32.
    PutU32(frame, static_cast<std::uint32_t>(scene.commands.size()));
    for (const Command& command : scene.commands) {
        PutCommand(frame, command);
    }

    // The decoder is the one judge of a frame: asking it gives its exact
    // message and its order of checks, and proves the round trip.
    Scene decoded;
    if (!DecodeScene(frame.data(), frame.size(), decoded, error)) {
        frame.clear();
        return false;
    }
    if (decoded != scene) {
        frame.clear();
        error.assign(RoundTripFault(scene));
        return false;
    }
    return true;
}

std::uint64_t EncodedFrameSize(const Scene& scene) {
    std::uint64_t size = kFrameHeaderSize;
    for (const Command& command : scene.commands) {
        size += EncodedSize(command);
    }
    return size;
}

namespace {

// ---- decoding ----

const char* DecodeFrame(const std::uint8_t* data, std::uint64_t size, Scene& scene) {
    if (data == nullptr || size < kFrameHeaderSize) {
        return kTruncatedFrameHeader;
    }
    if (size > kMaxFrameSize) {
        return kFrameTooLarge;
    }
    if (ReadU32(data) != kFrameMagic) {
        return kBadMagic;
    }
    if (ReadU16(data + 4) != kProtocolVersion) {
        return kBadVersion;
    }
    const std::uint16_t target = ReadU16(data + 6);
    if (target != static_cast<std::uint16_t>(MonitorTarget::Primary) &&
        target != static_cast<std::uint16_t>(MonitorTarget::All)) {
        return kBadTarget;
    }
    if (ReadU32(data + 16) != size - kFrameHeaderSize) {
        return kBadPayloadLength;
    }
    const std::uint32_t commandCount = ReadU32(data + 20);
    if (commandCount > kMaxCommands) {
        return kTooManyCommands;
    }

    scene.target = static_cast<MonitorTarget>(target);
    scene.frameTag = ReadU64(data + 8);
    // One allocation up front, bounded by kMaxCommands, so appending never moves commands.
    scene.commands.reserve(commandCount);

    std::uint64_t position = kFrameHeaderSize;
    for (std::uint32_t index = 0; index < commandCount; ++index) {
        const std::uint64_t remaining = size - position;
        if (remaining < kCommandHeaderSize) {
            return kTruncatedCommandHeader;
        }
        const std::uint8_t* at = data + position;
        const std::uint32_t length = ReadU32(at + 4);
        if (length < kCommandHeaderSize || length > remaining) {
            return kBadCommandLength;
        }
        if (const char* failure = DecodeCommand(at, length, scene)) {
            return failure;
        }
        position += length;
    }
    if (position != size) {
        return kUnclaimedBytes;
    }
    return nullptr;
}

const char* DecodeCommand(const std::uint8_t* at, std::uint32_t length, Scene& scene) {
    const std::uint16_t kind = ReadU16(at);
    const std::uint16_t flags = ReadU16(at + 2);
    switch (static_cast<CommandKind>(kind)) {
    case CommandKind::FillRect:
        return DecodeFillRect(at, length, flags, scene.commands);
    case CommandKind::StrokeRect:
        return DecodeStrokeRect(at, length, flags, scene.commands);
    case CommandKind::Line:
        return DecodeLine(at, length, flags, scene.commands);
    case CommandKind::Text:
        return DecodeText(at, length, flags, scene.commands);
    case CommandKind::RainbowCursor:
        return DecodeRainbowCursor(length, flags, scene.commands);
    }
    // Kinds from newer senders are counted and stepped over, never examined.
    return nullptr;
}

// Each command decoder sees the command's first byte and its length, already
// known to lie inside the frame. It appends the command when every check
// passes and otherwise returns the first failing check's message.
const char* DecodeFillRect(const std::uint8_t* at, std::uint32_t length, std::uint16_t flags,
                           std::vector<Command>& commands) {
    if (flags > kKnownFlags) {
        return kFillRectFlags;
    }
    if (length != kFillRectSize) {
        return kFillRectLength;
    }
    const Rect rect = ReadRect(at + 8);
    if (!IsOrderedRect(rect, flags)) {
        return kFillRectRectangle;
    }
    Command& command = commands.emplace_back();
    command.kind = CommandKind::FillRect;
    command.flags = flags;
    command.rect = rect;
    command.color = ReadColor(at + 24);
    return nullptr;
}

const char* DecodeStrokeRect(const std::uint8_t* at, std::uint32_t length, std::uint16_t flags,
                             std::vector<Command>& commands) {
    if (flags > kKnownFlags) {
        return kStrokeRectFlags;
    }
    if (length != kStrokeSize) {
        return kStrokeRectLength;
    }
    const Rect rect = ReadRect(at + 8);
    const float strokeWidth = ReadF32(at + 24);
    if (!IsOrderedRect(rect, flags) || !IsFinite(strokeWidth) || !(strokeWidth > 0.0f)) {
        return kStrokeRectGeometry;
    }
    Command& command = commands.emplace_back();
    command.kind = CommandKind::StrokeRect;
    command.flags = flags;
    command.rect = rect;
    command.strokeWidth = strokeWidth;
    command.color = ReadColor(at + 28);
    return nullptr;
}

const char* DecodeLine(const std::uint8_t* at, std::uint32_t length, std::uint16_t flags,
                       std::vector<Command>& commands) {
    if (flags > kKnownFlags) {
        return kLineFlags;
    }
    if (length != kStrokeSize) {
        return kLineLength;
    }
    const LinePoints line{.x1 = ReadF32(at + 8), .y1 = ReadF32(at + 12), .x2 = ReadF32(at + 16), .y2 = ReadF32(at + 20)};
    const float strokeWidth = ReadF32(at + 24);
    if (!IsFinite(line.x1) || !IsFinite(line.y1) || !IsFinite(line.x2) || !IsFinite(line.y2) ||
        !IsFinite(strokeWidth) || !(strokeWidth > 0.0f)) {
        return kLineGeometry;
    }
    if ((flags & NormalizedX) != 0 && !(IsUnit(line.x1) && IsUnit(line.x2))) {
        return kLineNormalizedX;
    }
    Command& command = commands.emplace_back();
    command.kind = CommandKind::Line;
    command.flags = flags;
    command.line = line;
    command.strokeWidth = strokeWidth;
    command.color = ReadColor(at + 28);
    return nullptr;
}

const char* DecodeText(const std::uint8_t* at, std::uint32_t length, std::uint16_t flags,
                       std::vector<Command>& commands) {
    if (flags > kKnownFlags) {
        return kTextFlags;
    }
    if (length < kTextFixedSize) {
        return kTextLength;
    }
    const Rect rect = ReadRect(at + 8);
    const float fontSize = ReadF32(at + 24);
    const std::uint16_t fontWeight = ReadU16(at + 28);
    const std::uint8_t alignment = at[30];
    const Color color = ReadColor(at + 32);
    const std::uint32_t textLength = ReadU32(at + 36);
    // Both checks keep the text inside this command, and so inside the frame.
    if (textLength > kMaxTextBytes || length - kTextFixedSize != textLength) {
        return kTextValueLength;
    }
    if (!IsOrderedRect(rect, flags) || !IsFinite(fontSize) || !(fontSize > 0.0f) || fontWeight < 1 ||
        fontWeight > 999 || alignment > 2) {
        return kTextAttributes;
    }
    const std::uint8_t* text = at + kTextFixedSize;
    if (!IsWellFormedUtf8(text, textLength)) {
        return kTextUtf8;
    }
    Command& command = commands.emplace_back();
    command.kind = CommandKind::Text;
    command.flags = flags;
    command.rect = rect;
    command.fontSize = fontSize;
    command.fontWeight = fontWeight;
    command.alignment = alignment;
    command.color = color;
    command.text.assign(reinterpret_cast<const char*>(text), textLength);
    return nullptr;
}

const char* DecodeRainbowCursor(std::uint32_t length, std::uint16_t flags, std::vector<Command>& commands) {
    if (flags != 0) {
        return kCursorFlags;
    }
    if (length != kCursorSize) {
        return kCursorLength;
    }
    commands.emplace_back().kind = CommandKind::RainbowCursor;
    return nullptr;
}

bool IsOrderedRect(const Rect& rect, std::uint16_t flags) {
    if (!IsFinite(rect.left) || !IsFinite(rect.top) || !IsFinite(rect.right) || !IsFinite(rect.bottom)) {
        return false;
    }
    if (rect.right < rect.left || rect.bottom < rect.top) {
        return false;
    }
    return (flags & NormalizedX) == 0 || (IsUnit(rect.left) && IsUnit(rect.right));
}

// NaN fails both comparisons, the infinities fail one.
bool IsFinite(float value) {
    return value >= -kLargestFloat && value <= kLargestFloat;
}

bool IsUnit(float value) {
    return value >= 0.0f && value <= 1.0f;
}

// UTF-8 is checked by a shift-based automaton: each byte has one 64-bit row
// that holds, at bit offset s, the state that follows state s. A step is then
// one shift with no branch, which keeps mixed 2-, 3- and 4-byte text fast.
// The error state is offset 0, so every transition left unset leads to it and
// it never leaves again.
enum Utf8State : std::uint32_t {
    kUtf8Error = 0,
    kUtf8Accept = 6,
    kUtf8Need1 = 12,     // one continuation byte 80..BF to go
    kUtf8Need2 = 18,     // two to go
    kUtf8Need3 = 24,     // three to go
    kUtf8AfterE0 = 30,   // next A0..BF (no overlong 3-byte form)
    kUtf8AfterED = 36,   // next 80..9F (no surrogates)
    kUtf8AfterF0 = 42,   // next 90..BF (no overlong 4-byte form)
    kUtf8AfterF4 = 48,   // next 80..8F (nothing above U+10FFFF)
};

constexpr std::array<std::uint64_t, 256> MakeUtf8Rows() {
    std::array<std::uint64_t, 256> rows{};
    auto on = [&rows](unsigned first, unsigned last, Utf8State from, Utf8State to) {
        for (unsigned byte = first; byte <= last; ++byte) {
            rows[byte] |= static_cast<std::uint64_t>(to) << from;
        }
    };
    on(0x00, 0x7F, kUtf8Accept, kUtf8Accept);
    on(0x80, 0xBF, kUtf8Need1, kUtf8Accept);
    on(0x80, 0xBF, kUtf8Need2, kUtf8Need1);
    on(0x80, 0xBF, kUtf8Need3, kUtf8Need2);
    on(0xA0, 0xBF, kUtf8AfterE0, kUtf8Need1);
    on(0x80, 0x9F, kUtf8AfterED, kUtf8Need1);
    on(0x90, 0xBF, kUtf8AfterF0, kUtf8Need2);
    on(0x80, 0x8F, kUtf8AfterF4, kUtf8Need2);
    on(0xC2, 0xDF, kUtf8Accept, kUtf8Need1);
    on(0xE0, 0xE0, kUtf8Accept, kUtf8AfterE0);
    on(0xE1, 0xEC, kUtf8Accept, kUtf8Need2);
    on(0xED, 0xED, kUtf8Accept, kUtf8AfterED);
    on(0xEE, 0xEF, kUtf8Accept, kUtf8Need2);
    on(0xF0, 0xF0, kUtf8Accept, kUtf8AfterF0);
    on(0xF1, 0xF3, kUtf8Accept, kUtf8Need3);
    on(0xF4, 0xF4, kUtf8Accept, kUtf8AfterF4);
    return rows;
}

constexpr std::array<std::uint64_t, 256> kUtf8Rows = MakeUtf8Rows();

constexpr std::uint64_t kHighBits = 0x8080808080808080u;

std::size_t AsciiPrefix(const std::uint8_t* text, std::size_t length);
bool Utf8Walk(std::uint64_t state, const std::uint8_t* text, std::size_t length);
std::uint64_t Utf8Word(std::uint64_t state, const std::uint8_t* bytes);
std::uint64_t Utf8Step(std::uint64_t state, std::uint8_t byte);
std::uint64_t LoadWord(const std::uint8_t* at);

bool IsWellFormedUtf8(const std::uint8_t* text, std::size_t length) {
    constexpr std::size_t kTwoWalksFrom = 256;
    const std::size_t ascii = AsciiPrefix(text, length);
    text += ascii;
    length -= ascii;

    // Each automaton step waits for the one before, so a long text is walked
    // as two halves side by side, which the processor can overlap. A cut just
    // before a byte that is not a continuation byte (10xxxxxx) is a sequence
    // boundary in every valid text, so the text is valid exactly when both
    // halves are. Valid text never has more than three continuation bytes in
    // a row; if no cut is found near the middle, one walk decides.
    if (length >= kTwoWalksFrom) {
        std::size_t middle = length / 2;
        for (int i = 0; i < 4 && (text[middle] & 0xC0) == 0x80; ++i) {
            ++middle;
        }
        if ((text[middle] & 0xC0) != 0x80) {
            const std::uint8_t* first = text;
            const std::uint8_t* second = text + middle;
            const std::size_t words = std::min(middle, length - middle) / 8;
            std::uint64_t a = kUtf8Accept;
            std::uint64_t b = kUtf8Accept;
            for (std::size_t i = 0; i < words; ++i, first += 8, second += 8) {
                if ((a & 63) == kUtf8Accept && (b & 63) == kUtf8Accept &&
                    ((LoadWord(first) | LoadWord(second)) & kHighBits) == 0) {
                    continue;
                }
                // Interleaved by hand so that the two chains overlap. ASCII
                // needs no branch of its own here: it leaves an accepting
                // walk accepting.
                a = Utf8Step(a, first[0]);
                b = Utf8Step(b, second[0]);
                a = Utf8Step(a, first[1]);
                b = Utf8Step(b, second[1]);
                a = Utf8Step(a, first[2]);
                b = Utf8Step(b, second[2]);
                a = Utf8Step(a, first[3]);
                b = Utf8Step(b, second[3]);
                a = Utf8Step(a, first[4]);
                b = Utf8Step(b, second[4]);
                a = Utf8Step(a, first[5]);
                b = Utf8Step(b, second[5]);
                a = Utf8Step(a, first[6]);
                b = Utf8Step(b, second[6]);
                a = Utf8Step(a, first[7]);
                b = Utf8Step(b, second[7]);
                if ((a & 63) == kUtf8Error || (b & 63) == kUtf8Error) {
                    return false;
                }
            }
            const std::size_t walked = words * 8;
            return Utf8Walk(a, first, middle - walked) && Utf8Walk(b, second, length - middle - walked);
        }
    }
    return Utf8Walk(kUtf8Accept, text, length);
}

// Bytes [0, returned) are ASCII; looks at whole words only.
std::size_t AsciiPrefix(const std::uint8_t* text, std::size_t length) {
    std::size_t at = 0;
    while (length - at >= 64) {
        const std::uint8_t* block = text + at;
        const std::uint64_t any = (LoadWord(block) | LoadWord(block + 8)) | (LoadWord(block + 16) | LoadWord(block + 24)) |
                                  (LoadWord(block + 32) | LoadWord(block + 40)) |
                                  (LoadWord(block + 48) | LoadWord(block + 56));
        if ((any & kHighBits) != 0) {
            break;
        }
        at += 64;
    }
    while (length - at >= 8) {
        if ((LoadWord(text + at) & kHighBits) != 0) {
            break;
        }
        at += 8;
    }
    return at;
}

// Walks a stretch of text from `state`; true when it ends between sequences.
bool Utf8Walk(std::uint64_t state, const std::uint8_t* text, std::size_t length) {
    for (; length >= 8; text += 8, length -= 8) {
        state = Utf8Word(state, text);
        if ((state & 63) == kUtf8Error) {
            return false;
        }
    }
    for (; length > 0; ++text, --length) {
        state = Utf8Step(state, *text);
    }
    return (state & 63) == kUtf8Accept;
}

// Walks eight bytes from `state`; ASCII after a complete sequence is
// stepped over as a whole word.
std::uint64_t Utf8Word(std::uint64_t state, const std::uint8_t* bytes) {
    if ((state & 63) == kUtf8Accept && (LoadWord(bytes) & kHighBits) == 0) {
        return state;
    }
    state = Utf8Step(state, bytes[0]);
    state = Utf8Step(state, bytes[1]);
    state = Utf8Step(state, bytes[2]);
    state = Utf8Step(state, bytes[3]);
    state = Utf8Step(state, bytes[4]);
    state = Utf8Step(state, bytes[5]);
    state = Utf8Step(state, bytes[6]);
    return Utf8Step(state, bytes[7]);
}

// Only the low six bits of the state matter; the hardware shift ignores the
// others, so the mask costs nothing.
std::uint64_t Utf8Step(std::uint64_t state, std::uint8_t byte) {
    return kUtf8Rows[byte] >> (state & 63);
}

// Eight bytes in host order: only used to test high bits, where order does not matter.
std::uint64_t LoadWord(const std::uint8_t* at) {
    std::uint64_t word;
    std::memcpy(&word, at, sizeof word);
    return word;
}

Rect ReadRect(const std::uint8_t* at) {
    return Rect{.left = ReadF32(at), .top = ReadF32(at + 4), .right = ReadF32(at + 8), .bottom = ReadF32(at + 12)};
}

Color ReadColor(const std::uint8_t* at) {
    return Color{.r = at[0], .g = at[1], .b = at[2], .a = at[3]};
}

float ReadF32(const std::uint8_t* at) {
    return std::bit_cast<float>(ReadU32(at));
}

// Commands follow each other without alignment, so fields are assembled from
// single bytes; compilers turn these into plain loads on little-endian hosts.
std::uint16_t ReadU16(const std::uint8_t* at) {
    return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

std::uint32_t ReadU32(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
           (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

std::uint64_t ReadU64(const std::uint8_t* at) {
    return static_cast<std::uint64_t>(ReadU32(at)) | (static_cast<std::uint64_t>(ReadU32(at + 4)) << 32);
}

// ---- encoding ----

// Bytes the command takes on the wire.
std::uint64_t EncodedSize(const Command& command) {
    switch (command.kind) {
    case CommandKind::FillRect:
        return kFillRectSize;
    case CommandKind::StrokeRect:
    case CommandKind::Line:
        return kStrokeSize;
    case CommandKind::Text:
        return kTextFixedSize + command.text.size();
    case CommandKind::RainbowCursor:
        break;
    }
    return kCommandHeaderSize;
}

void PutCommand(std::vector<std::uint8_t>& out, const Command& command) {
    const std::uint64_t size = EncodedSize(command);
    PutU16(out, static_cast<std::uint16_t>(command.kind));
    PutU16(out, command.flags);
    PutU32(out, static_cast<std::uint32_t>(size));
    switch (command.kind) {
    case CommandKind::FillRect:
        PutRect(out, command.rect);
        PutColor(out, command.color);
        break;
    case CommandKind::StrokeRect:
        PutRect(out, command.rect);
        PutF32(out, command.strokeWidth);
        PutColor(out, command.color);
        break;
    case CommandKind::Line:
        PutF32(out, command.line.x1);
        PutF32(out, command.line.y1);
        PutF32(out, command.line.x2);
        PutF32(out, command.line.y2);
        PutF32(out, command.strokeWidth);
        PutColor(out, command.color);
        break;
    case CommandKind::Text:
        PutRect(out, command.rect);
        PutF32(out, command.fontSize);
        PutU16(out, command.fontWeight);
        out.push_back(command.alignment);
        out.push_back(0);  // reserved
        PutColor(out, command.color);
        // Sizes above the limit are written as they are so that the decoder
        // names the fault; the frame-size check has already bounded them.
        PutU32(out, static_cast<std::uint32_t>(command.text.size()));
        out.insert(out.end(), command.text.begin(), command.text.end());
        break;
    case CommandKind::RainbowCursor:
        break;
    }
}

// Why a scene that survived decoding still differs from the one given: either
// a kind that the frame skips, or a field that no byte of the frame holds.
const char* RoundTripFault(const Scene& given) {
    for (const Command& command : given.commands) {
        if (!IsKnownKind(command.kind)) {
            return kUnknownKind;
        }
    }
    return kUncarriedField;
}

bool IsKnownKind(CommandKind kind) {
    const auto value = static_cast<std::uint16_t>(kind);
    return value >= static_cast<std::uint16_t>(CommandKind::FillRect) &&
           value <= static_cast<std::uint16_t>(CommandKind::RainbowCursor);
}

void PutRect(std::vector<std::uint8_t>& out, const Rect& rect) {
    PutF32(out, rect.left);
    PutF32(out, rect.top);
    PutF32(out, rect.right);
    PutF32(out, rect.bottom);
}

void PutColor(std::vector<std::uint8_t>& out, const Color& color) {
    out.insert(out.end(), {color.r, color.g, color.b, color.a});
}

void PutF32(std::vector<std::uint8_t>& out, float value) {
    PutU32(out, std::bit_cast<std::uint32_t>(value));
}

void PutU16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    PutU16(out, static_cast<std::uint16_t>(value));
    PutU16(out, static_cast<std::uint16_t>(value >> 16));
}

void PutU64(std::vector<std::uint8_t>& out, std::uint64_t value) {
    PutU32(out, static_cast<std::uint32_t>(value));
    PutU32(out, static_cast<std::uint32_t>(value >> 32));
}

}  // namespace
}  // namespace vorlune::overlay
