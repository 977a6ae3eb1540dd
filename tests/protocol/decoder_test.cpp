// The frame as a whole: header rules, the command loop, the size limits, and
// what the decoder leaves behind in the caller's Scene and message.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "frame_builder.h"
#include "protocol/protocol.h"

namespace {

using namespace frametest;
using vorlune::overlay::Command;
using vorlune::overlay::CommandKind;
using vorlune::overlay::DecodeScene;
using vorlune::overlay::MonitorTarget;
using vorlune::overlay::Scene;

// The three reference frames of the format, byte for byte.
const Bytes kSmallestFrame = {
    0x56, 0x52, 0x4F, 0x56, 0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
};

const Bytes kRedRectangleFrame = {
    0x56, 0x52, 0x4F, 0x56, 0x02, 0x00, 0x02, 0x00, 0x07, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x1C, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00,
    0x00, 0x00, 0x1C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x20, 0x41, 0x00, 0x00, 0xA0,
    0x41, 0x00, 0x00, 0xDC, 0x42, 0x00, 0x00, 0x8C, 0x42, 0xFF, 0x00, 0x00, 0x80,
};

const Bytes kHiTextCommand = {
    0x04, 0x00, 0x01, 0x00, 0x2A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x3E, 0x00, 0x00,
    0x48, 0x42, 0x00, 0x00, 0x40, 0x3F, 0x00, 0x00, 0x96, 0x43, 0x00, 0x00, 0xC0, 0x41,
    0xBC, 0x02, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x00, 0x00, 0x00, 0x48, 0x69,
};

Command RedRectangle() {
    Command command;
    command.kind = CommandKind::FillRect;
    command.rect = {10.0f, 20.0f, 110.0f, 70.0f};
    command.color = {255, 0, 0, 128};
    return command;
}

Command HiText() {
    Command command;
    command.kind = CommandKind::Text;
    command.flags = vorlune::overlay::NormalizedX;
    command.rect = {0.25f, 50.0f, 0.75f, 300.0f};
    command.fontSize = 24.0f;
    command.fontWeight = 700;
    command.alignment = 1;
    command.color = {255, 255, 255, 255};
    command.text = "Hi";
    return command;
}

TEST(DecodeScene, SmallestFrameExample) {
    const Decoded decoded = Decode(kSmallestFrame);
    ASSERT_TRUE(decoded.ok) << decoded.error;
    EXPECT_EQ(decoded.error, "");
    EXPECT_EQ(decoded.scene, (Scene{.target = MonitorTarget::Primary, .frameTag = 0, .commands = {}}));
}

TEST(DecodeScene, RedRectangleExample) {
    const Decoded decoded = Decode(kRedRectangleFrame);
    ASSERT_TRUE(decoded.ok) << decoded.error;
    EXPECT_EQ(decoded.scene, (Scene{.target = MonitorTarget::All, .frameTag = 7, .commands = {RedRectangle()}}));
}

TEST(DecodeScene, HiTextExample) {
    const Decoded decoded = Decode(Frame({kHiTextCommand}));
    ASSERT_TRUE(decoded.ok) << decoded.error;
    EXPECT_EQ(decoded.scene, (Scene{.target = MonitorTarget::All, .frameTag = 0, .commands = {HiText()}}));
}

TEST(EncodeScene, ReproducesExamples) {
    struct Case {
        const char* why;
        Scene scene;
        Bytes frame;
    };
    const Case cases[] = {
        {"empty scene is the bare header", {.target = MonitorTarget::Primary, .frameTag = 0, .commands = {}},
         kSmallestFrame},
        {"one FillRect, frame tag 7", {.target = MonitorTarget::All, .frameTag = 7, .commands = {RedRectangle()}},
         kRedRectangleFrame},
        {"normalized bold centred text", {.target = MonitorTarget::All, .frameTag = 0, .commands = {HiText()}},
         Frame({kHiTextCommand})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Bytes frame{0xEE};  // leftovers must not survive
        std::string error = "stale";
        ASSERT_TRUE(vorlune::overlay::EncodeScene(c.scene, frame, error)) << error;
        EXPECT_EQ(error, "");
        EXPECT_EQ(frame, c.frame);
    }
}

Bytes ValidFrame() {
    return Frame({FillRectCmd({0, 0, 10, 10})});
}

TEST(DecodeScene, HeaderRules) {
    struct Case {
        const char* why;
        Bytes frame;
        const char* message;
    };
    Bytes oversized = WithTrailing(ValidFrame(), 1048577 - ValidFrame().size());
    const Case cases[] = {
        {"no bytes at all (null pointer)", {}, "truncated frame header"},
        {"one byte short of a header", Bytes(kSmallestFrame.begin(), kSmallestFrame.end() - 1),
         "truncated frame header"},
        {"size is checked before magic", Patched32(oversized, kMagicAt, 0x12345678), "frame exceeds maximum size"},
        {"magic is checked before version",
         Patched16(Patched32(ValidFrame(), kMagicAt, 0x56524F56), kVersionAt, 1), "invalid frame magic"},
        {"magic bytes in the wrong order", Patched32(ValidFrame(), kMagicAt, 0x56524F56), "invalid frame magic"},
        {"version 1 is too old", Patched16(ValidFrame(), kVersionAt, 1), "incompatible protocol version"},
        {"version 3 is too new", Patched16(ValidFrame(), kVersionAt, 3), "incompatible protocol version"},
        {"version is checked before target", Patched16(Patched16(ValidFrame(), kVersionAt, 3), kTargetAt, 0),
         "incompatible protocol version"},
        {"target 0 is neither monitor set", Patched16(ValidFrame(), kTargetAt, 0), "invalid monitor target"},
        {"target 3 is neither monitor set", Patched16(ValidFrame(), kTargetAt, 3), "invalid monitor target"},
        {"target compares all 16 bits", Patched16(ValidFrame(), kTargetAt, 0x0101), "invalid monitor target"},
        {"target is checked before payload length",
         Patched32(Patched16(ValidFrame(), kTargetAt, 0), kPayloadLengthAt, 0), "invalid monitor target"},
        {"payload length claims a byte that is not there", Patched32(kSmallestFrame, kPayloadLengthAt, 1),
         "payload length does not match frame"},
        {"payload length one short", Patched32(ValidFrame(), kPayloadLengthAt, 27),
         "payload length does not match frame"},
        {"payload length near 2^32 must not wrap", Patched32(ValidFrame(), kPayloadLengthAt, 0xFFFFFFFF),
         "payload length does not match frame"},
        {"payload length is checked before command count",
         Patched32(Patched32(kSmallestFrame, kPayloadLengthAt, 1), kCommandCountAt, 5000),
         "payload length does not match frame"},
        {"command count near 2^32", Patched32(ValidFrame(), kCommandCountAt, 0xFFFFFFFF),
         "command count exceeds maximum"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const Decoded decoded = Decode(c.frame);
        EXPECT_FALSE(decoded.ok);
        EXPECT_EQ(decoded.error, c.message);
        // A frame refused in its header leaves the scene as reset.
        EXPECT_EQ(decoded.scene, Scene{});
    }
}

TEST(DecodeScene, NullPointerWithAnyLengthIsTruncated) {
    for (const std::uint64_t size : {std::uint64_t{0}, std::uint64_t{24}, std::uint64_t{52},
                                     std::numeric_limits<std::uint64_t>::max()}) {
        SCOPED_TRACE(size);
        Scene scene;
        std::string error;
        EXPECT_FALSE(DecodeScene(nullptr, size, scene, error));
        EXPECT_EQ(error, "truncated frame header");
    }
}

TEST(DecodeScene, LengthBeyondAnyFrameIsTooLarge) {
    // The bytes are a valid frame; only the claimed length is absurd, and
    // nothing past the first 24 bytes may be read to find that out.
    Scene scene;
    std::string error;
    EXPECT_FALSE(DecodeScene(kSmallestFrame.data(), std::numeric_limits<std::uint64_t>::max(), scene, error));
    EXPECT_EQ(error, "frame exceeds maximum size");
}

TEST(DecodeScene, CommandLoopRules) {
    struct Case {
        const char* why;
        Bytes frame;
        const char* message;
    };
    const Bytes fill = FillRectCmd({0, 0, 1, 1});
    const Case cases[] = {
        {"count says two, bytes hold one", Patched32(Frame({fill}), kCommandCountAt, 2), "truncated command header"},
        {"seven bytes cannot hold a command header", Patched32(WithTrailing(Frame({}), 7), kCommandCountAt, 1),
         "truncated command header"},
        {"command shorter than its own header", Frame({Patched32(RawCmd(9, 0, 8), kLengthAt, 7)}), "invalid command length"},
        {"zero length would never advance", Frame({Patched32(RawCmd(9, 0, 8), kLengthAt, 0)}),
         "invalid command length"},
        {"length one byte past the frame", Frame({Patched32(fill, kLengthAt, 29)}), "invalid command length"},
        {"length near 2^32 must not wrap", Frame({Patched32(fill, kLengthAt, 0xFFFFFFFF)}),
         "invalid command length"},
        {"loop length rule comes before the kind's own", Frame({Patched32(fill, kLengthAt, 7)}),
         "invalid command length"},
        {"count zero leaves a command unclaimed", Patched32(Frame({fill}), kCommandCountAt, 0),
         "unclaimed payload bytes"},
        {"bytes after the last counted command", WithTrailing(Frame({fill}), 3), "unclaimed payload bytes"},
        {"a full extra command beyond the count", Patched32(Frame({fill, fill}), kCommandCountAt, 1),
         "unclaimed payload bytes"},
        {"first failing command decides", Frame({CursorCmd(1), FillRectCmd({0, 0, 1, 1}, {}, 2)}),
         "unsupported RainbowCursor flags"},
        {"a bad command beats unclaimed bytes", WithTrailing(Frame({CursorCmd(1)}), 4),
         "unsupported RainbowCursor flags"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const Decoded decoded = Decode(c.frame);
        EXPECT_FALSE(decoded.ok);
        EXPECT_EQ(decoded.error, c.message);
    }
}

TEST(DecodeScene, SkipsUnknownKindsButCountsThem) {
    struct Case {
        const char* why;
        std::uint16_t kind;
    };
    const Case cases[] = {
        {"zero is not a kind", 0},
        {"first value after the known kinds", 6},
        {"a kind from a newer sender", 9},
        {"largest 16-bit kind", 0xFFFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        // All flag bits set and a payload of filler: nothing of it is examined.
        const Decoded decoded = Decode(Frame({RawCmd(c.kind, 0xFFFF, 108), FillRectCmd({1, 2, 3, 4})}));
        ASSERT_TRUE(decoded.ok) << decoded.error;
        ASSERT_EQ(decoded.scene.commands.size(), 1u);
        EXPECT_EQ(decoded.scene.commands[0].kind, CommandKind::FillRect);
        EXPECT_EQ(decoded.scene.commands[0].rect, (Rect{1, 2, 3, 4}));
    }
}

TEST(DecodeScene, FrameTagSurvivesUnchanged) {
    for (const std::uint64_t tag : {std::uint64_t{0}, std::uint64_t{0x0123456789ABCDEF},
                                    std::numeric_limits<std::uint64_t>::max()}) {
        SCOPED_TRACE(tag);
        const Decoded decoded = Decode(Frame({}, 1, tag));
        ASSERT_TRUE(decoded.ok) << decoded.error;
        EXPECT_EQ(decoded.scene.frameTag, tag);
        EXPECT_EQ(decoded.scene.target, MonitorTarget::Primary);
    }
}

// Fills a frame up to `size` bytes with Text commands of the largest text.
Bytes TextFrameOfSize(std::size_t size) {
    std::vector<Bytes> commands;
    std::size_t left = size - 24;
    while (left > 0) {
        const std::size_t textBytes = std::min<std::size_t>(left - 40, 65536);
        commands.push_back(TextCmd(std::string(textBytes, 'x')));
        left -= 40 + textBytes;
    }
    return Frame(commands);
}

TEST(DecodeScene, MaxFrameSize) {
    const Bytes largest = TextFrameOfSize(1048576);
    ASSERT_EQ(largest.size(), 1048576u);
    const Decoded atLimit = Decode(largest);
    EXPECT_TRUE(atLimit.ok) << atLimit.error;
    EXPECT_EQ(atLimit.scene.commands.size(), 16u);

    const Decoded overLimit = Decode(WithTrailing(largest, 1));
    EXPECT_FALSE(overLimit.ok);
    EXPECT_EQ(overLimit.error, "frame exceeds maximum size");
}

TEST(DecodeScene, MaxCommands) {
    const Decoded atLimit = Decode(Frame(std::vector<Bytes>(4096, CursorCmd())));
    EXPECT_TRUE(atLimit.ok) << atLimit.error;
    EXPECT_EQ(atLimit.scene.commands.size(), 4096u);

    const Decoded overLimit = Decode(Frame(std::vector<Bytes>(4097, CursorCmd())));
    EXPECT_FALSE(overLimit.ok);
    EXPECT_EQ(overLimit.error, "command count exceeds maximum");
}

TEST(DecodeScene, ReservesRoomForCountedCommandsBeforeTheFirst) {
    // Fails on the first command, so only the up-front reservation can have
    // given the list its room.
    const Decoded decoded = Decode(Frame({CursorCmd(1), CursorCmd(), CursorCmd()}));
    ASSERT_FALSE(decoded.ok);
    EXPECT_TRUE(decoded.scene.commands.empty());
    EXPECT_GE(decoded.scene.commands.capacity(), 3u);
}

TEST(DecodeScene, RejectionKeepsHeaderAndEarlierCommands) {
    const Decoded decoded =
        Decode(Frame({FillRectCmd({1, 2, 3, 4}), RawCmd(7, 0, 12), LineCmd({0, 0, 1, 1}, 0), CursorCmd()}, 1, 99));
    ASSERT_FALSE(decoded.ok);
    EXPECT_EQ(decoded.error, "invalid Line geometry");
    EXPECT_EQ(decoded.scene.target, MonitorTarget::Primary);
    EXPECT_EQ(decoded.scene.frameTag, 99u);
    ASSERT_EQ(decoded.scene.commands.size(), 1u);
    EXPECT_EQ(decoded.scene.commands[0].kind, CommandKind::FillRect);
}

// One command of every kind, a skipped one among them, at unaligned offsets.
std::vector<Bytes> MixedCommands() {
    TextFields text;
    text.text = "caf\xC3\xA9 \xF0\x9F\x98\x80";
    return {FillRectCmd({1, 2, 3, 4}), TextCmd(text), RawCmd(42, 3, 13),
            StrokeRectCmd({0, 0, 5, 5}, 2), LineCmd({9, 8, 7, 6}, 1), CursorCmd()};
}

TEST(DecodeScene, EveryTruncatedPrefixIsRejected) {
    const std::vector<Bytes> commands = MixedCommands();
    const Bytes full = Frame(commands);
    ASSERT_TRUE(Decode(full).ok);

    std::vector<std::size_t> starts;
    std::size_t start = 24;
    for (const Bytes& command : commands) {
        starts.push_back(start);
        start += command.size();
    }

    for (std::size_t size = 0; size < full.size(); ++size) {
        SCOPED_TRACE(size);
        const Bytes prefix(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(size));
        const Decoded cut = Decode(prefix);
        EXPECT_FALSE(cut.ok);
        if (size < 24) {
            EXPECT_EQ(cut.error, "truncated frame header");
            continue;
        }
        // A plain cut contradicts the header's payload length.
        EXPECT_EQ(cut.error, "payload length does not match frame");

        // With the payload length fixed up, the loop itself must notice the
        // missing bytes: in a command's header or in its length.
        const Decoded fixed = Decode(Patched32(prefix, kPayloadLengthAt, static_cast<std::uint32_t>(size - 24)));
        EXPECT_FALSE(fixed.ok);
        std::size_t current = 0;
        while (current + 1 < starts.size() && starts[current + 1] <= size) {
            ++current;
        }
        const bool headerCut = size - starts[current] < 8;
        EXPECT_EQ(fixed.error, headerCut ? "truncated command header" : "invalid command length");
    }
}

TEST(DecodeScene, ResetsSceneAndMessageOnEntry) {
    Scene scene{.target = MonitorTarget::All, .frameTag = 5, .commands = {RedRectangle(), HiText()}};
    std::string error = "left over";

    // A header failure leaves nothing of the old contents behind.
    const Bytes badMagic = Patched32(kRedRectangleFrame, kMagicAt, 0);
    EXPECT_FALSE(DecodeScene(badMagic.data(), badMagic.size(), scene, error));
    EXPECT_EQ(error, "invalid frame magic");
    EXPECT_EQ(scene, Scene{});

    // The same scene and message, reused after a rejection, hold exactly the
    // next frame's result.
    const Bytes bad = Frame({FillRectCmd({0, 0, 1, 1}), CursorCmd(1)}, 1, 3);
    EXPECT_FALSE(DecodeScene(bad.data(), bad.size(), scene, error));
    EXPECT_EQ(error, "unsupported RainbowCursor flags");
    ASSERT_TRUE(DecodeScene(kRedRectangleFrame.data(), kRedRectangleFrame.size(), scene, error));
    EXPECT_EQ(error, "");
    EXPECT_EQ(scene, Decode(kRedRectangleFrame).scene);
}

TEST(DecodeScene, SameBytesGiveSameScene) {
    const Bytes frame = Frame(MixedCommands(), 2, 77);
    const Decoded first = Decode(frame);
    const Decoded second = Decode(frame);
    ASSERT_TRUE(first.ok) << first.error;
    EXPECT_EQ(first.scene, second.scene);
    EXPECT_EQ(first.scene.commands.size(), 5u);
}

}  // namespace
