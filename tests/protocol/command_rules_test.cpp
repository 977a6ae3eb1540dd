// The checks of each command kind, one table per kind: each row is one
// command in an otherwise valid frame, and either the message it must be
// refused with or nullptr when it must be accepted.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "frame_builder.h"
#include "protocol/protocol.h"

namespace {

using namespace frametest;
using vorlune::overlay::CommandKind;
using vorlune::overlay::NormalizedX;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kLargest = 3.4028235e38f;

struct Case {
    const char* why;
    Bytes command;
    const char* message;  // nullptr: accepted
};

void CheckVerdicts(const std::vector<Case>& cases, CommandKind kind) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const Decoded decoded = Decode(Frame({c.command}));
        if (c.message == nullptr) {
            ASSERT_TRUE(decoded.ok) << decoded.error;
            ASSERT_EQ(decoded.scene.commands.size(), 1u);
            EXPECT_EQ(decoded.scene.commands[0].kind, kind);
        } else {
            EXPECT_FALSE(decoded.ok);
            EXPECT_EQ(decoded.error, c.message);
            EXPECT_TRUE(decoded.scene.commands.empty());
        }
    }
}

TEST(DecodeScene, FillRectRules) {
    const Bytes unit = FillRectCmd({0, 0, 1, 1}, {}, NormalizedX);
    CheckVerdicts(
        {
            {"plain rectangle", FillRectCmd({10, 20, 110, 70}), nullptr},
            {"empty rectangle, right = left and bottom = top", FillRectCmd({5, 5, 5, 5}), nullptr},
            {"largest finite float on both sides", FillRectCmd({-kLargest, -kLargest, kLargest, kLargest}), nullptr},
            {"negative coordinates without NormalizedX", FillRectCmd({-50, -50, -10, -10}), nullptr},
            {"NormalizedX full width, Y far outside [0, 1]", FillRectCmd({0, -50, 1, 5000}, {}, NormalizedX),
             nullptr},
            {"NormalizedX counts -0.0 as 0.0", PatchedF32(unit, kRectAt, -0.0f), nullptr},
            {"flags 2 with length 30: flags come first", Resized(FillRectCmd({0, 0, 1, 1}, {}, 2), 30),
             "unsupported FillRect flags"},
            {"top flag bit", FillRectCmd({0, 0, 1, 1}, {}, 0x8000), "unsupported FillRect flags"},
            {"one byte too long", Resized(FillRectCmd({0, 0, 1, 1}), 29), "invalid FillRect length"},
            {"payload missing", Resized(FillRectCmd({0, 0, 1, 1}), 8), "invalid FillRect length"},
            {"right < left", FillRectCmd({10, 0, 9, 1}), "invalid FillRect rectangle"},
            {"bottom < top", FillRectCmd({0, 10, 1, 9}), "invalid FillRect rectangle"},
            {"NaN left", FillRectCmd({kNaN, 0, 1, 1}), "invalid FillRect rectangle"},
            {"NaN bottom", FillRectCmd({0, 0, 1, kNaN}), "invalid FillRect rectangle"},
            {"infinite right", FillRectCmd({0, 0, kInf, 1}), "invalid FillRect rectangle"},
            {"negative infinite top", FillRectCmd({0, -kInf, 1, 1}), "invalid FillRect rectangle"},
            {"NormalizedX right just above 1", FillRectCmd({0, 0, 1.0000001f, 1}, {}, NormalizedX),
             "invalid FillRect rectangle"},
            {"NormalizedX left below 0", FillRectCmd({-0.25f, 0, 0.5f, 1}, {}, NormalizedX),
             "invalid FillRect rectangle"},
            {"NormalizedX smallest negative float", PatchedF32(unit, kRectAt, -std::numeric_limits<float>::denorm_min()),
             "invalid FillRect rectangle"},
        },
        CommandKind::FillRect);
}

TEST(DecodeScene, StrokeRectRules) {
    CheckVerdicts(
        {
            {"plain outline", StrokeRectCmd({0, 0, 100, 50}, 2), nullptr},
            {"hairline, empty rectangle", StrokeRectCmd({3, 3, 3, 3}, std::numeric_limits<float>::denorm_min()),
             nullptr},
            {"NormalizedX full width", StrokeRectCmd({0, -5, 1, 500}, 1, {}, NormalizedX), nullptr},
            {"flags 2", StrokeRectCmd({0, 0, 1, 1}, 1, {}, 2), "unsupported StrokeRect flags"},
            {"flags come before length", Resized(StrokeRectCmd({0, 0, 1, 1}, 1, {}, 3), 28),
             "unsupported StrokeRect flags"},
            {"FillRect-sized", Resized(StrokeRectCmd({0, 0, 1, 1}, 1), 28), "invalid StrokeRect length"},
            {"one byte too long", Resized(StrokeRectCmd({0, 0, 1, 1}, 1), 33), "invalid StrokeRect length"},
            {"stroke width 0", StrokeRectCmd({0, 0, 1, 1}, 0), "invalid StrokeRect geometry"},
            {"stroke width -1", StrokeRectCmd({0, 0, 1, 1}, -1), "invalid StrokeRect geometry"},
            {"stroke width NaN", StrokeRectCmd({0, 0, 1, 1}, kNaN), "invalid StrokeRect geometry"},
            {"stroke width infinite", StrokeRectCmd({0, 0, 1, 1}, kInf), "invalid StrokeRect geometry"},
            {"right < left", StrokeRectCmd({1, 0, 0, 1}, 1), "invalid StrokeRect geometry"},
            {"infinite bottom", StrokeRectCmd({0, 0, 1, kInf}, 1), "invalid StrokeRect geometry"},
            {"NormalizedX right 2", StrokeRectCmd({0, 0, 2, 1}, 1, {}, NormalizedX), "invalid StrokeRect geometry"},
        },
        CommandKind::StrokeRect);
}

TEST(DecodeScene, LineRules) {
    CheckVerdicts(
        {
            {"plain line", LineCmd({0, 0, 100, 100}, 1), nullptr},
            {"end before start is fine", LineCmd({100, 50, 0, 0}, 1), nullptr},
            {"both points equal", LineCmd({7, 7, 7, 7}, 3), nullptr},
            {"NormalizedX leaves Y alone", LineCmd({0, -20, 1, 900}, 1, {}, NormalizedX), nullptr},
            {"X outside [0, 1] is fine without NormalizedX", LineCmd({2, 0, -3, 0}, 1), nullptr},
            {"flags 2", LineCmd({0, 0, 1, 1}, 1, {}, 2), "unsupported Line flags"},
            {"flags come before length", Resized(LineCmd({0, 0, 1, 1}, 1, {}, 0xFFFF), 8), "unsupported Line flags"},
            {"FillRect-sized", Resized(LineCmd({0, 0, 1, 1}, 1), 28), "invalid Line length"},
            {"stroke width 0", LineCmd({0, 0, 1, 1}, 0), "invalid Line geometry"},
            {"stroke width -1", LineCmd({0, 0, 1, 1}, -1), "invalid Line geometry"},
            {"NaN y2", LineCmd({0, 0, 1, kNaN}, 1), "invalid Line geometry"},
            {"infinite x1", LineCmd({-kInf, 0, 1, 1}, 1), "invalid Line geometry"},
            {"width rule comes before the normalized X rule", LineCmd({2, 0, 1, 1}, 0, {}, NormalizedX),
             "invalid Line geometry"},
            {"NormalizedX x1 2", LineCmd({2, 0, 1, 1}, 1, {}, NormalizedX), "invalid normalized Line X coordinates"},
            {"NormalizedX x2 below 0", LineCmd({0, 0, -0.5f, 1}, 1, {}, NormalizedX),
             "invalid normalized Line X coordinates"},
        },
        CommandKind::Line);
}

TextFields Text(void (*change)(TextFields&)) {
    TextFields fields;
    change(fields);
    return fields;
}

TEST(DecodeScene, TextRules) {
    const Bytes hello = TextCmd("hello");
    CheckVerdicts(
        {
            {"plain text", hello, nullptr},
            {"empty text, length 40", TextCmd(""), nullptr},
            {"NUL bytes are text", TextCmd(std::string("a\0b", 3)), nullptr},
            {"any reserved byte", Patched8(hello, kReservedAt, 0xFF), nullptr},
            {"weight 1", TextCmd(Text([](TextFields& f) { f.fontWeight = 1; })), nullptr},
            {"weight 999", TextCmd(Text([](TextFields& f) { f.fontWeight = 999; })), nullptr},
            {"alignment trailing", TextCmd(Text([](TextFields& f) { f.alignment = 2; })), nullptr},
            {"NormalizedX box over the middle", TextCmd(Text([](TextFields& f) {
                 f.flags = NormalizedX;
                 f.rect = {0.25f, -10, 0.75f, 4000};
             })),
             nullptr},
            {"flags 2", Patched16(hello, kFlagsAt, 2), "unsupported Text flags"},
            {"flags come before length", Patched16(Resized(hello, 39), kFlagsAt, 2), "unsupported Text flags"},
            {"length 39", Resized(hello, 39), "invalid Text length"},
            {"header only", Resized(hello, 8), "invalid Text length"},
            {"textLength 2 with length 43", Resized(TextCmd("hi"), 43), "invalid Text value length"},
            {"text runs past the command", Patched32(TextCmd("hi"), kTextLengthAt, 3), "invalid Text value length"},
            {"textLength near 2^32 must not wrap", Patched32(TextCmd(""), kTextLengthAt, 0xFFFFFFD8),
             "invalid Text value length"},
            {"value length comes before attributes",
             Patched16(Resized(TextCmd("hi"), 43), kFontWeightAt, 0), "invalid Text value length"},
            {"weight 0", TextCmd(Text([](TextFields& f) { f.fontWeight = 0; })), "invalid Text attributes"},
            {"weight 1000", TextCmd(Text([](TextFields& f) { f.fontWeight = 1000; })), "invalid Text attributes"},
            {"alignment 3", TextCmd(Text([](TextFields& f) { f.alignment = 3; })), "invalid Text attributes"},
            {"font size 0", TextCmd(Text([](TextFields& f) { f.fontSize = 0; })), "invalid Text attributes"},
            {"font size NaN", TextCmd(Text([](TextFields& f) { f.fontSize = kNaN; })), "invalid Text attributes"},
            {"font size infinite", TextCmd(Text([](TextFields& f) { f.fontSize = kInf; })),
             "invalid Text attributes"},
            {"box right < left", TextCmd(Text([](TextFields& f) { f.rect = {5, 0, 4, 10}; })),
             "invalid Text attributes"},
            {"box NaN top", TextCmd(Text([](TextFields& f) { f.rect.top = kNaN; })), "invalid Text attributes"},
            {"NormalizedX box right 1.5", TextCmd(Text([](TextFields& f) {
                 f.flags = NormalizedX;
                 f.rect = {0, 0, 1.5f, 10};
             })),
             "invalid Text attributes"},
            {"attributes come before UTF-8", TextCmd(Text([](TextFields& f) {
                 f.alignment = 3;
                 f.text = std::string(1, '\xFF');
             })),
             "invalid Text attributes"},
            {"bad UTF-8", TextCmd("\xC0\x80"), "invalid Text UTF-8"},
        },
        CommandKind::Text);
}

TEST(DecodeScene, TextKeepsItsBytes) {
    const std::string text("line\0two \xE2\x82\xAC", 12);
    const Decoded decoded = Decode(Frame({TextCmd(text)}));
    ASSERT_TRUE(decoded.ok) << decoded.error;
    ASSERT_EQ(decoded.scene.commands.size(), 1u);
    EXPECT_EQ(decoded.scene.commands[0].text, text);
    EXPECT_EQ(decoded.scene.commands[0].text.size(), 12u);
}

TEST(DecodeScene, MaxTextBytes) {
    const Decoded atLimit = Decode(Frame({TextCmd(std::string(65536, 'a'))}));
    ASSERT_TRUE(atLimit.ok) << atLimit.error;
    EXPECT_EQ(atLimit.scene.commands[0].text.size(), 65536u);

    const Decoded overLimit = Decode(Frame({TextCmd(std::string(65537, 'a'))}));
    EXPECT_FALSE(overLimit.ok);
    EXPECT_EQ(overLimit.error, "invalid Text value length");
}

TEST(DecodeScene, RainbowCursorRules) {
    CheckVerdicts(
        {
            {"bare cursor", CursorCmd(), nullptr},
            {"NormalizedX means nothing to a cursor", CursorCmd(1), "unsupported RainbowCursor flags"},
            {"flags come before length", Resized(CursorCmd(1), 12), "unsupported RainbowCursor flags"},
            {"a cursor has no payload", Resized(CursorCmd(), 12), "invalid RainbowCursor length"},
        },
        CommandKind::RainbowCursor);
}

TEST(DecodeScene, SetsOnlyTheFieldsAKindCarries) {
    // Filler after each known command would show up in fields it does not own.
    const Decoded decoded = Decode(Frame({FillRectCmd({1, 2, 3, 4}, {5, 6, 7, 8}),
                                          LineCmd({1, 2, 3, 4}, 5, {6, 7, 8, 9}), CursorCmd()}));
    ASSERT_TRUE(decoded.ok) << decoded.error;
    ASSERT_EQ(decoded.scene.commands.size(), 3u);

    vorlune::overlay::Command fill;
    fill.kind = CommandKind::FillRect;
    fill.rect = {1, 2, 3, 4};
    fill.color = {5, 6, 7, 8};
    vorlune::overlay::Command line;
    line.kind = CommandKind::Line;
    line.line = {1, 2, 3, 4};
    line.strokeWidth = 5;
    line.color = {6, 7, 8, 9};
    vorlune::overlay::Command cursor;
    cursor.kind = CommandKind::RainbowCursor;
    EXPECT_EQ(decoded.scene.commands[0], fill);
    EXPECT_EQ(decoded.scene.commands[1], line);
    EXPECT_EQ(decoded.scene.commands[2], cursor);
}

}  // namespace
