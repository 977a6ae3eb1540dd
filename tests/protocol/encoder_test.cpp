// EncodeScene: what it writes decodes back to the same scene, and what it
// refuses it refuses in the decoder's words.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "frame_builder.h"
#include "protocol/protocol.h"

namespace {

using namespace frametest;
using vorlune::overlay::Command;
using vorlune::overlay::CommandKind;
using vorlune::overlay::EncodeScene;
using vorlune::overlay::MonitorTarget;
using vorlune::overlay::NormalizedX;
using vorlune::overlay::Scene;

Command Fill(Rect rect, std::uint16_t flags = 0) {
    Command c;
    c.kind = CommandKind::FillRect;
    c.flags = flags;
    c.rect = rect;
    c.color = {10, 20, 30, 40};
    return c;
}

Command Stroke(Rect rect, float width, std::uint16_t flags = 0) {
    Command c;
    c.kind = CommandKind::StrokeRect;
    c.flags = flags;
    c.rect = rect;
    c.strokeWidth = width;
    c.color = {1, 1, 1, 1};
    return c;
}

Command LineOf(LinePoints points, float width, std::uint16_t flags = 0) {
    Command c;
    c.kind = CommandKind::Line;
    c.flags = flags;
    c.line = points;
    c.strokeWidth = width;
    c.color = {0, 255, 0, 255};
    return c;
}

Command TextOf(std::string text, std::uint16_t flags = 0) {
    Command c;
    c.kind = CommandKind::Text;
    c.flags = flags;
    c.rect = {0, 0, 1, 40};
    c.fontSize = 18;
    c.fontWeight = 600;
    c.alignment = 2;
    c.color = {9, 8, 7, 6};
    c.text = std::move(text);
    return c;
}

Command Cursor() {
    Command c;
    c.kind = CommandKind::RainbowCursor;
    return c;
}

Scene EveryKind() {
    return Scene{.target = MonitorTarget::All,
                 .frameTag = std::numeric_limits<std::uint64_t>::max(),
                 .commands = {Fill({-5, -5, 3.4028235e38f, 0}), Stroke({0, 0, 1, 1}, 0.5f, NormalizedX),
                              LineOf({1, -2, 0, 900}, 3, NormalizedX),
                              TextOf(std::string("zero\0byte \xF0\x9F\x98\x80", 14), NormalizedX), Cursor(),
                              TextOf("")}};
}

struct Encoded {
    bool ok = false;
    Bytes frame;
    std::string error;
};

Encoded Encode(const Scene& scene) {
    Encoded result;
    result.frame = {0x11, 0x22};  // leftovers from an earlier call
    result.error = "stale";
    result.ok = EncodeScene(scene, result.frame, result.error);
    return result;
}

TEST(EncodeScene, RoundTrips) {
    struct Case {
        const char* why;
        Scene scene;
    };
    const Case cases[] = {
        {"empty scene", {.target = MonitorTarget::Primary, .frameTag = 0, .commands = {}}},
        {"every kind, largest tag", EveryKind()},
        {"many commands", {.target = MonitorTarget::Primary, .frameTag = 1, .commands = std::vector<Command>(
                                                                                 1000, Fill({0, 0, 2, 2}))}},
        {"negative zero keeps its sign bit", {.target = MonitorTarget::All, .frameTag = 2, .commands = {
                                                  Fill({-0.0f, -0.0f, 0.0f, 0.0f}, NormalizedX)}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const Encoded encoded = Encode(c.scene);
        ASSERT_TRUE(encoded.ok) << encoded.error;
        EXPECT_EQ(encoded.error, "");
        const Decoded decoded = Decode(encoded.frame);
        ASSERT_TRUE(decoded.ok) << decoded.error;
        EXPECT_EQ(decoded.scene, c.scene);
        // Same bytes again: no hidden state between calls.
        EXPECT_EQ(Encode(decoded.scene).frame, encoded.frame);
    }
}

TEST(EncodeScene, WritesTheFrameItWasDecodedFrom) {
    // A frame with no skipped kinds and zero reserved bytes has one encoding.
    const Bytes frame = Frame({FillRectCmd({1, 2, 3, 4}), TextCmd("x\xC3\xA9"), StrokeRectCmd({0, 0, 9, 9}, 1),
                               LineCmd({4, 3, 2, 1}, 2), CursorCmd()},
                              1, 0xFEEDFACECAFEBEEF);
    const Decoded decoded = Decode(frame);
    ASSERT_TRUE(decoded.ok) << decoded.error;
    const Encoded encoded = Encode(decoded.scene);
    ASSERT_TRUE(encoded.ok) << encoded.error;
    EXPECT_EQ(encoded.frame, frame);
}

TEST(EncodeScene, RefusesInTheDecodersWords) {
    struct Case {
        const char* why;
        std::function<void(Scene&)> change;
        const char* message;
    };
    constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
    const Case cases[] = {
        {"reset target", [](Scene& s) { s.target = static_cast<MonitorTarget>(0); }, "invalid monitor target"},
        {"target 3", [](Scene& s) { s.target = static_cast<MonitorTarget>(3); }, "invalid monitor target"},
        {"FillRect flags 2", [](Scene& s) { s.commands[0].flags = 2; }, "unsupported FillRect flags"},
        {"FillRect NaN", [](Scene& s) { s.commands[0].rect.top = kNaN; }, "invalid FillRect rectangle"},
        {"FillRect right < left", [](Scene& s) { s.commands[0].rect.right = -6; }, "invalid FillRect rectangle"},
        {"StrokeRect width 0", [](Scene& s) { s.commands[1].strokeWidth = 0; }, "invalid StrokeRect geometry"},
        {"StrokeRect normalized right 2", [](Scene& s) { s.commands[1].rect.right = 2; },
         "invalid StrokeRect geometry"},
        {"Line flags 4", [](Scene& s) { s.commands[2].flags = 4; }, "unsupported Line flags"},
        {"Line infinite y", [](Scene& s) { s.commands[2].line.y2 = std::numeric_limits<float>::infinity(); },
         "invalid Line geometry"},
        {"Line normalized x2 -1", [](Scene& s) { s.commands[2].line.x2 = -1; },
         "invalid normalized Line X coordinates"},
        {"Text weight 1000", [](Scene& s) { s.commands[3].fontWeight = 1000; }, "invalid Text attributes"},
        {"Text alignment 3", [](Scene& s) { s.commands[3].alignment = 3; }, "invalid Text attributes"},
        {"Text font size 0", [](Scene& s) { s.commands[3].fontSize = 0; }, "invalid Text attributes"},
        {"Text overlong UTF-8", [](Scene& s) { s.commands[3].text = "\xC0\xAF"; }, "invalid Text UTF-8"},
        {"Text cut UTF-8", [](Scene& s) { s.commands[3].text = "ok\xE2\x82"; }, "invalid Text UTF-8"},
        {"RainbowCursor with NormalizedX", [](Scene& s) { s.commands[4].flags = NormalizedX; },
         "unsupported RainbowCursor flags"},
        {"first bad command decides", [](Scene& s) {
             s.commands[1].strokeWidth = -1;
             s.commands[3].fontSize = -1;
         },
         "invalid StrokeRect geometry"},
        {"size comes before target", [](Scene& s) {
             s.target = static_cast<MonitorTarget>(0);
             s.commands.assign(16, TextOf(std::string(65536, 'a')));
         },
         "frame exceeds maximum size"},
        {"kind 0 cannot be written", [](Scene& s) { s.commands[5].kind = static_cast<CommandKind>(0); },
         "unknown command kind"},
        {"kind 6 cannot be written", [](Scene& s) { s.commands[0].kind = static_cast<CommandKind>(6); },
         "unknown command kind"},
        {"a frame fault is named before an unwritable kind", [](Scene& s) {
             s.commands[0].kind = static_cast<CommandKind>(9);
             s.commands[2].strokeWidth = 0;
         },
         "invalid Line geometry"},
        {"FillRect with a stroke width", [](Scene& s) { s.commands[0].strokeWidth = 1; },
         "command sets a field its kind does not carry"},
        {"Line with a rectangle", [](Scene& s) { s.commands[2].rect.left = 1; },
         "command sets a field its kind does not carry"},
        {"RainbowCursor with a colour", [](Scene& s) { s.commands[4].color.a = 255; },
         "command sets a field its kind does not carry"},
        {"FillRect with text", [](Scene& s) { s.commands[0].text = std::string(1, 'x'); },
         "command sets a field its kind does not carry"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Scene scene = EveryKind();
        c.change(scene);
        const Encoded encoded = Encode(scene);
        EXPECT_FALSE(encoded.ok);
        EXPECT_EQ(encoded.error, c.message);
        EXPECT_TRUE(encoded.frame.empty());
    }
}

TEST(EncodeScene, MaxCommands) {
    Scene scene{.target = MonitorTarget::All, .frameTag = 0, .commands = std::vector<Command>(4096, Cursor())};
    const Encoded atLimit = Encode(scene);
    EXPECT_TRUE(atLimit.ok) << atLimit.error;
    EXPECT_EQ(atLimit.frame.size(), 24u + 4096u * 8u);

    scene.commands.push_back(Cursor());
    const Encoded overLimit = Encode(scene);
    EXPECT_FALSE(overLimit.ok);
    EXPECT_EQ(overLimit.error, "command count exceeds maximum");
}

TEST(EncodeScene, MaxTextBytes) {
    Scene scene{.target = MonitorTarget::All, .frameTag = 0, .commands = {TextOf(std::string(65536, 'q'))}};
    const Encoded atLimit = Encode(scene);
    EXPECT_TRUE(atLimit.ok) << atLimit.error;

    scene.commands[0].text.push_back('q');
    const Encoded overLimit = Encode(scene);
    EXPECT_FALSE(overLimit.ok);
    EXPECT_EQ(overLimit.error, "invalid Text value length");
}

TEST(EncodeScene, MaxFrameSize) {
    // 15 full texts and one that fills the frame to the last byte.
    Scene scene{.target = MonitorTarget::All, .frameTag = 0, .commands = {}};
    scene.commands.assign(15, TextOf(std::string(65536, 'm')));
    scene.commands.push_back(TextOf(std::string(1048576 - 24 - 15 * 65576 - 40, 'm')));
    const Encoded atLimit = Encode(scene);
    EXPECT_TRUE(atLimit.ok) << atLimit.error;
    EXPECT_EQ(atLimit.frame.size(), 1048576u);

    scene.commands.back().text.push_back('m');
    const Encoded overLimit = Encode(scene);
    EXPECT_FALSE(overLimit.ok);
    EXPECT_EQ(overLimit.error, "frame exceeds maximum size");
}

TEST(EncodeScene, TextTooLargeForAnyFrame) {
    // One text alone larger than any frame: refused before a byte is written.
    Scene scene{.target = MonitorTarget::All, .frameTag = 0, .commands = {TextOf(std::string(3 * 1048576, 'w'))}};
    const Encoded encoded = Encode(scene);
    EXPECT_FALSE(encoded.ok);
    EXPECT_EQ(encoded.error, "frame exceeds maximum size");
}

}  // namespace
