// Scene files: what each field reads as, every kind of mistake and its
// message, the limits the renderer sets, and the way back from a frame.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "protocol/protocol.h"
#include "tools/scene_file.h"
#include "tools_test_support.h"

namespace {

using vorlune::overlay::Command;
using vorlune::overlay::CommandKind;
using vorlune::overlay::DecodeScene;
using vorlune::overlay::EncodeScene;
using vorlune::overlay::MonitorTarget;
using vorlune::overlay::NormalizedX;
using vorlune::overlay::Scene;
using vorlune::scenefile::SceneFromJson;
using vorlune::scenefile::SceneToJson;
using Strings = std::vector<std::string>;
using namespace std::string_literals;

// A scene file around the given commands (a JSON array body).
std::string WithCommands(const std::string& commands) {
    return R"({"target": "all", "commands": [)" + commands + "]}";
}

Strings ErrorsOf(const std::string& json) {
    Scene scene;
    Strings errors;
    EXPECT_FALSE(SceneFromJson(json, scene, errors)) << json;
    EXPECT_EQ(scene, Scene{}) << "a refused file leaves an empty scene";
    return errors;
}

Scene Read(const std::string& json) {
    Scene scene;
    Strings errors;
    EXPECT_TRUE(SceneFromJson(json, scene, errors)) << json << "\n" << testing::PrintToString(errors);
    return scene;
}

TEST(SceneJson, ReadsEveryKindInBothSpellings) {
    const Scene scene = Read(R"({
        "target": "primary",
        "frameTag": 42,
        "commands": [
          {"kind": "fillRect", "rect": {"left": 10, "top": 20, "right": 110, "bottom": 70}, "color": "#FF000080"},
          {"kind": "strokeRect", "rect": [0.25, 5, 0.75, 6.5], "strokeWidth": 0.5, "color": [1, 2, 3, 4],
           "normalizedX": true},
          {"kind": "line", "line": {"x1": 3, "y1": -4, "x2": -1e3, "y2": 2}, "strokeWidth": 2, "color": "#00ff00ff",
           "normalizedX": false},
          {"kind": "line", "line": [0, 10, 1, 10], "strokeWidth": 1, "color": "#ffffffff", "normalizedX": true},
          {"kind": "text", "rect": [0, 0, 300, 40], "fontSize": 18, "fontWeight": 700, "alignment": "trailing",
           "color": "#ffffffff", "text": "Hi \u00e9\u0000!"},
          {"kind": "text", "rect": [0, 0, 300, 40], "fontSize": 18, "alignment": 1, "color": "#ffffffff", "text": ""},
          {"kind": "rainbowCursor"}
        ]
    })");

    Command fill = tooltest::FillRect({10, 20, 110, 70}, {255, 0, 0, 128});
    Command stroke = tooltest::StrokeRect({0.25f, 5, 0.75f, 6.5f}, 0.5f, {1, 2, 3, 4}, NormalizedX);
    Command line = tooltest::Line({3, -4, -1000, 2}, 2, {0, 255, 0, 255});
    Command normalizedLine = tooltest::Line({0, 10, 1, 10}, 1, {255, 255, 255, 255}, NormalizedX);
    Command text = tooltest::Text({0, 0, 300, 40}, 18, 700, 2, {255, 255, 255, 255}, "Hi \xC3\xA9\0!"s);
    Command emptyText = tooltest::Text({0, 0, 300, 40}, 18, 400, 1, {255, 255, 255, 255}, "");
    Command cursor = tooltest::Cursor();
    const Scene expected{.target = MonitorTarget::Primary,
                         .frameTag = 42,
                         .commands = {fill, stroke, line, normalizedLine, text, emptyText, cursor}};
    EXPECT_EQ(scene, expected);
}

TEST(SceneJson, OptionalFieldsTakeTheirDefaults) {
    const Scene scene = Read(R"({"target": "all", "commands": [
        {"kind": "text", "rect": [0, 0, 10, 10], "fontSize": 9, "color": "#000000ff", "text": "x"}]})");
    EXPECT_EQ(scene.frameTag, 0u);
    ASSERT_EQ(scene.commands.size(), 1u);
    EXPECT_EQ(scene.commands[0].fontWeight, 400) << "the usual normal weight";
    EXPECT_EQ(scene.commands[0].alignment, 0) << "leading";
    EXPECT_EQ(scene.commands[0].flags, 0);
}

TEST(SceneJson, CommentsAndAByteOrderMarkAreAllowed) {
    const Scene scene = Read("// a note\n{\"target\": \"all\", /* none yet */ \"commands\": []}");
    EXPECT_EQ(scene.target, MonitorTarget::All);
    EXPECT_TRUE(scene.commands.empty());
    // Windows editors like to start UTF-8 files with one.
    EXPECT_EQ(Read("\xEF\xBB\xBF{\"target\": \"primary\", \"commands\": []}").target, MonitorTarget::Primary);
}

TEST(SceneJson, FrameTagTakesNumbersAndDecimalStrings) {
    struct Case {
        const char* tag;
        std::uint64_t expected;
        const char* why;
    };
    const Case cases[] = {
        {"0", 0, "smallest"},
        {"9007199254740992", 9007199254740992u, "2^53, still exact as a JSON number everywhere"},
        {"18446744073709551615", std::numeric_limits<std::uint64_t>::max(), "largest, as a number"},
        {"\"18446744073709551615\"", std::numeric_limits<std::uint64_t>::max(), "largest, as a string"},
        {"\"007\"", 7, "leading zeros are still decimal"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const Scene scene = Read(std::string(R"({"target": "all", "commands": [], "frameTag": )") + c.tag + "}");
        EXPECT_EQ(scene.frameTag, c.expected);
    }
}

TEST(SceneJson, FrameTagRefusesWhatIsNotAWholeNumberInRange) {
    const std::string message =
        "frameTag: expected a whole number 0 to 18446744073709551615, as a number or a decimal string";
    struct Case {
        const char* tag;
        const char* why;
    };
    const Case cases[] = {
        {"-1", "negative"},
        {"1.5", "fraction"},
        {"\"18446744073709551616\"", "2^64 does not fit"},
        {"\"12a\"", "trailing garbage"},
        {"\"\"", "empty string"},
        {"\"-1\"", "sign in a string"},
        {"\" 1\"", "blank in a string"},
        {"true", "boolean"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(ErrorsOf(std::string(R"({"target": "all", "commands": [], "frameTag": )") + c.tag + "}"),
                  Strings{message});
    }
}

// Mistakes in the file itself: each has its own message, naming the place.
TEST(SceneJson, StructuralMistakesNameTheirPlace) {
    struct Case {
        std::string json;
        Strings errors;
        const char* why;
    };
    const std::string fill = R"("kind": "fillRect", "rect": [0, 0, 1, 1], "color": "#ffffffff")";
    const Case cases[] = {
        {R"({"target": "all", "commands": [})", {"parse error at line 1, column 32: syntax error while parsing value - unexpected '}'; expected '[', '{', or a literal"},
         "JSON syntax: the parser's place and words"},
        {"{\"target\": \"all\", \"commands\": [], \"target\": \"all\"}",
         {"target: the same key appears twice in one object"}, "duplicate key at the top"},
        {WithCommands(R"({"kind": "fillRect", "rect": {"left": 0, "top": 0, "left": 1, "bottom": 1}, "color": "#ffffffff"})"),
         {"commands[0].rect.left: the same key appears twice in one object", "commands[0].rect.right: missing field"},
         "duplicate key deep inside; the lost key is then missing"},
        {"[]", {"scene: expected an object with target, frameTag and commands, got an array"}, "not an object"},
        {R"({"target": "all", "commands": [], "tagret": 1})",
         {"tagret: unknown field; a scene has target, frameTag and commands"}, "unknown top-level field"},
        {R"({"commands": []})", {"target: missing field (\"primary\" or \"all\")"}, "no target"},
        {R"({"target": "left", "commands": []})", {"target: expected \"primary\" or \"all\""}, "unknown target"},
        {R"({"target": 2, "commands": []})", {"target: expected \"primary\" or \"all\""}, "target as its wire number"},
        {R"({"target": "all"})", {"commands: missing field"}, "no commands"},
        {R"({"target": "all", "commands": {}})", {"commands: expected an array, got an object"}, "commands not a list"},
        {WithCommands("7"), {"commands[0]: expected an object, got a number"}, "command not an object"},
        {WithCommands(R"({"rect": [0, 0, 1, 1]})"), {"commands[0].kind: missing field"}, "no kind"},
        {WithCommands(R"({"kind": 1})"), {"commands[0].kind: expected a string, got a number"}, "kind as a number"},
        {WithCommands(R"({"kind": "filRect"})"),
         {"commands[0].kind: unknown kind \"filRect\"; kinds are fillRect, strokeRect, line, text, rainbowCursor"},
         "misspelt kind"},
        {WithCommands("{" + fill + R"(, "colour": "#ffffffff"})"),
         {"commands[0].colour: unknown field; fillRect has kind, rect, color, normalizedX"}, "misspelt field"},
        {WithCommands("{" + fill + R"(, "strokeWidth": 2})"),
         {"commands[0].strokeWidth: unknown field; fillRect has kind, rect, color, normalizedX"},
         "a field of another kind"},
        {WithCommands(R"({"kind": "strokeRect", "rect": [0, 0, 1, 1], "color": "#ffffffff"})"),
         {"commands[0].strokeWidth: missing field"}, "missing required field"},
        {WithCommands(R"({"kind": "line", "line": [0, 0, 1, 1], "strokeWidth": "2", "color": "#ffffffff"})"),
         {"commands[0].strokeWidth: expected a number, got a string"}, "number as a string"},
        {WithCommands("{" + fill + R"(, "normalizedX": 1})"), {"commands[0].normalizedX: expected true or false, got a number"},
         "flag as a number"},
        {WithCommands(R"({"kind": "text", "rect": [0, 0, 1, 1], "fontSize": 9, "color": "#ffffffff", "text": 5})"),
         {"commands[0].text: expected a string, got a number"}, "text not a string"},
        {WithCommands(R"({"kind": "fillRect", "rect": [0, 0, 1], "color": "#ffffffff"})"),
         {"commands[0].rect: expected {\"left\", \"top\", \"right\", \"bottom\"} or [left, top, right, bottom], got 3 numbers"},
         "rectangle of three numbers"},
        {WithCommands(R"({"kind": "fillRect", "rect": "0 0 1 1", "color": "#ffffffff"})"),
         {"commands[0].rect: expected {\"left\", \"top\", \"right\", \"bottom\"} or [left, top, right, bottom], got a string"},
         "rectangle as a string"},
        {WithCommands(R"({"kind": "fillRect", "rect": {"left": 0, "top": 0, "right": 1, "bottom": 1, "width": 1}, "color": "#ffffffff"})"),
         {"commands[0].rect.width: unknown field; expected left, top, right and bottom"}, "extra rectangle member"},
        {WithCommands(R"({"kind": "line", "line": {"x1": 0, "y1": 0, "x2": 1}, "strokeWidth": 1, "color": "#ffffffff"})"),
         {"commands[0].line.y2: missing field"}, "missing line member"},
        {WithCommands(R"({"kind": "line", "line": [0, 0, null, 1], "strokeWidth": 1, "color": "#ffffffff"})"),
         {"commands[0].line[2]: expected a number, got null"}, "null coordinate, named by index"},
        {WithCommands(R"({"kind": "fillRect", "rect": [0, 0, 1, 1], "color": "#fff"})"),
         {"commands[0].color: expected \"#rrggbbaa\" or four numbers 0-255"}, "short hex colour"},
        {WithCommands(R"({"kind": "fillRect", "rect": [0, 0, 1, 1], "color": "#ffffffzz"})"),
         {"commands[0].color: expected \"#rrggbbaa\" or four numbers 0-255"}, "not hex"},
        {WithCommands(R"({"kind": "fillRect", "rect": [0, 0, 1, 1], "color": [255, 255, 256, 255]})"),
         {"commands[0].color: expected \"#rrggbbaa\" or four numbers 0-255"}, "channel 256"},
        {WithCommands(R"({"kind": "fillRect", "rect": [0, 0, 1, 1], "color": [255, 255, 255]})"),
         {"commands[0].color: expected \"#rrggbbaa\" or four numbers 0-255"}, "three channels"},
        {WithCommands(R"({"kind": "fillRect", "rect": [0, 0, 1, 1], "color": [255, 255, 0.5, 255]})"),
         {"commands[0].color: expected \"#rrggbbaa\" or four numbers 0-255"}, "fractional channel"},
        {WithCommands(R"({"kind": "text", "rect": [0, 0, 1, 1], "fontSize": 9, "alignment": "left", "color": "#ffffffff", "text": ""})"),
         {"commands[0].alignment: expected \"leading\", \"center\", \"trailing\" or 0-2"}, "alignment name of another toolkit"},
        {WithCommands(R"({"kind": "text", "rect": [0, 0, 1, 1], "fontSize": 9, "fontWeight": 400.5, "color": "#ffffffff", "text": ""})"),
         {"commands[0].fontWeight: expected a whole number, got 400.5"}, "fractional weight"},
        {WithCommands(R"({"kind": "fillRect", "rect": [0, 0, 1e39, 1], "color": "#ffffffff"})"),
         {"commands[0].rect[2]: 1e+39 is too large for a 32-bit float"}, "beyond float range"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(ErrorsOf(c.json), c.errors);
    }
}

// Values the file can hold but the renderer refuses: the field that breaks the
// rule, then the renderer's own message for the frame it would get.
TEST(SceneJson, RendererRulesNameTheFieldAndGiveTheRenderersWords) {
    struct Case {
        std::string command;
        std::string error;
        const char* why;
    };
    const std::string white = R"("color": "#ffffffff")";
    const std::string textTail = R"("color": "#ffffffff", "text": "x")";
    const Case cases[] = {
        {R"({"kind": "fillRect", "rect": [10, 0, 9, 1], )" + white + "}",
         R"(commands[0].rect: right is less than left (renderer: "invalid FillRect rectangle"))", "right < left"},
        {R"({"kind": "fillRect", "rect": [0, 5, 1, 4], )" + white + "}",
         R"(commands[0].rect: bottom is less than top (renderer: "invalid FillRect rectangle"))", "bottom < top"},
        {R"({"kind": "fillRect", "rect": [-0.5, 0, 1, 1], "normalizedX": true, )" + white + "}",
         R"(commands[0].rect: left must be 0 to 1 with normalizedX (renderer: "invalid FillRect rectangle"))",
         "normalized left below 0"},
        {R"({"kind": "fillRect", "rect": [0, 0, 1.0000001, 1], "normalizedX": true, )" + white + "}",
         R"(commands[0].rect: right must be 0 to 1 with normalizedX (renderer: "invalid FillRect rectangle"))",
         "normalized right just above 1"},
        {R"({"kind": "strokeRect", "rect": [3, 0, 2, 1], "strokeWidth": 1, )" + white + "}",
         R"(commands[0].rect: right is less than left (renderer: "invalid StrokeRect geometry"))", "stroke rect order"},
        {R"({"kind": "strokeRect", "rect": [0, 0, 1, 1], "strokeWidth": 0, )" + white + "}",
         R"(commands[0].strokeWidth: must be greater than 0 (renderer: "invalid StrokeRect geometry"))", "zero pen"},
        {R"({"kind": "line", "line": [0, 0, 1, 1], "strokeWidth": -1, )" + white + "}",
         R"(commands[0].strokeWidth: must be greater than 0 (renderer: "invalid Line geometry"))", "negative pen"},
        {R"({"kind": "line", "line": [0.5, 0, 2, 1], "strokeWidth": 1, "normalizedX": true, )" + white + "}",
         R"(commands[0].line: x2 must be 0 to 1 with normalizedX (renderer: "invalid normalized Line X coordinates"))",
         "normalized line end"},
        {R"({"kind": "line", "line": [2, 0, 0, 1], "strokeWidth": 0, "normalizedX": true, )" + white + "}",
         R"(commands[0].strokeWidth: must be greater than 0 (renderer: "invalid Line geometry"))",
         "the pen is judged before the normalized X, as the renderer does"},
        {R"({"kind": "text", "rect": [0, 0, 1, 1], "fontSize": 0, )" + textTail + "}",
         R"(commands[0].fontSize: must be greater than 0 (renderer: "invalid Text attributes"))", "zero font size"},
        {R"({"kind": "text", "rect": [0, 0, 1, 1], "fontSize": 9, "fontWeight": 0, )" + textTail + "}",
         R"(commands[0].fontWeight: must be 1 to 999 (renderer: "invalid Text attributes"))", "weight 0"},
        {R"({"kind": "text", "rect": [0, 0, 1, 1], "fontSize": 9, "fontWeight": 1000, )" + textTail + "}",
         R"(commands[0].fontWeight: must be 1 to 999 (renderer: "invalid Text attributes"))", "weight 1000"},
        {R"({"kind": "text", "rect": [0, 0, 1, 1], "fontSize": 9, "fontWeight": -3, )" + textTail + "}",
         R"(commands[0].fontWeight: must be 1 to 999 (renderer: "invalid Text attributes"))", "negative weight"},
        {R"({"kind": "text", "rect": [0, 0, 1, 1], "fontSize": 9, "fontWeight": 65936, )" + textTail + "}",
         R"(commands[0].fontWeight: must be 1 to 999 (renderer: "invalid Text attributes"))",
         "a weight that would wrap to 400 in 16 bits"},
        {R"({"kind": "text", "rect": [0, 0, 1, 1], "fontSize": 9, "alignment": 3, )" + textTail + "}",
         R"(commands[0].alignment: must be 0 to 2 (leading, center, trailing) (renderer: "invalid Text attributes"))",
         "alignment 3"},
        {R"({"kind": "text", "rect": [0, 0, 1, 1], "fontSize": 9, "alignment": 256, )" + textTail + "}",
         R"(commands[0].alignment: must be 0 to 2 (leading, center, trailing) (renderer: "invalid Text attributes"))",
         "an alignment that would wrap to 0 in a byte"},
        {R"({"kind": "text", "rect": [0, 0, 1, 1], "fontSize": 9, "alignment": -1, )" + textTail + "}",
         R"(commands[0].alignment: must be 0 to 2 (leading, center, trailing) (renderer: "invalid Text attributes"))",
         "negative alignment"},
        {R"({"kind": "text", "rect": [0.5, 0, 0.25, 1], "fontSize": 9, "normalizedX": true, )" + textTail + "}",
         R"(commands[0].rect: right is less than left (renderer: "invalid Text attributes"))", "text box order"},
        {R"({"kind": "rainbowCursor", "normalizedX": true})",
         R"(commands[0].normalizedX: rainbowCursor has no X coordinates to normalize (renderer: "unsupported RainbowCursor flags"))",
         "the arrow takes no flags"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(ErrorsOf(WithCommands(c.command)), Strings{c.error});
    }
}

TEST(SceneJson, EveryFaultOfTheFileIsReportedInOrder) {
    const Strings errors = ErrorsOf(R"({"target": "everywhere", "commands": [
        {"kind": "fillRect", "rect": [1, 0, 0, 1], "color": "#ffffffff"},
        {"kind": "rainbowCursor"},
        {"kind": "line", "line": [0, 0, 1, 1], "color": "red", "strokeWidth": 1, "dashes": 2}]})");
    EXPECT_EQ(errors, (Strings{
                          "target: expected \"primary\" or \"all\"",
                          R"(commands[0].rect: right is less than left (renderer: "invalid FillRect rectangle"))",
                          "commands[2].dashes: unknown field; line has kind, line, strokeWidth, color, normalizedX",
                          "commands[2].color: expected \"#rrggbbaa\" or four numbers 0-255",
                      }));
}

TEST(SceneJson, InvalidUtf8InTheFileIsASyntaxError) {
    const Strings errors = ErrorsOf(WithCommands(
        "{\"kind\": \"text\", \"rect\": [0, 0, 1, 1], \"fontSize\": 9, \"color\": \"#ffffffff\", \"text\": \"\xC0\x80\"}"));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("ill-formed UTF-8"), std::string::npos) << errors[0];
}

// ---- Limits of the renderer, at the limit and one past it ----

std::string TextOfBytes(std::size_t bytes) {
    return R"({"kind": "text", "rect": [0, 0, 1, 1], "fontSize": 9, "color": "#ffffffff", "text": ")" +
           std::string(bytes, 'a') + "\"}";
}

TEST(SceneJson, MaxTextBytes) {
    EXPECT_EQ(Read(WithCommands(TextOfBytes(vorlune::overlay::kMaxTextBytes))).commands.at(0).text.size(),
              vorlune::overlay::kMaxTextBytes);
    EXPECT_EQ(ErrorsOf(WithCommands(TextOfBytes(vorlune::overlay::kMaxTextBytes + 1))),
              Strings{R"(commands[0].text: 65537 bytes, more than 65536 (renderer: "invalid Text value length"))"});
}

std::string Cursors(std::size_t count) {
    std::string commands;
    for (std::size_t i = 0; i < count; ++i) {
        commands += (i == 0 ? "" : ", ") + std::string(R"({"kind": "rainbowCursor"})");
    }
    return WithCommands(commands);
}

TEST(SceneJson, MaxCommands) {
    EXPECT_EQ(Read(Cursors(vorlune::overlay::kMaxCommands)).commands.size(), vorlune::overlay::kMaxCommands);
    EXPECT_EQ(ErrorsOf(Cursors(vorlune::overlay::kMaxCommands + 1)),
              Strings{R"(commands: 4097 commands, more than 4096 (renderer: "command count exceeds maximum"))"});
}

TEST(SceneJson, MaxFrameSize) {
    // 15 texts of 65,536 bytes and their 40-byte heads leave room for exactly
    // one more text of `last` bytes in a frame of 1,048,576 bytes.
    const std::size_t fullTexts = 15;
    const std::size_t used = vorlune::overlay::kFrameHeaderSize + fullTexts * (40 + 65536);
    const std::size_t last = vorlune::overlay::kMaxFrameSize - used - 40;
    auto scene = [&](std::size_t lastBytes) {
        std::string commands;
        for (std::size_t i = 0; i < fullTexts; ++i) {
            commands += TextOfBytes(65536) + ", ";
        }
        return WithCommands(commands + TextOfBytes(lastBytes));
    };
    const Scene atLimit = Read(scene(last));
    std::vector<std::uint8_t> frame;
    std::string error;
    ASSERT_TRUE(EncodeScene(atLimit, frame, error)) << error;
    EXPECT_EQ(frame.size(), vorlune::overlay::kMaxFrameSize);

    EXPECT_EQ(ErrorsOf(scene(last + 1)),
              Strings{R"(commands: the frame would be 1048577 bytes, more than 1048576 (renderer: "frame exceeds maximum size"))"});
}

TEST(SceneJson, LargestFloat) {
    // 3.4028235e38 is the largest float as written in C++; up to half a step
    // above it a number still rounds to it. From there on it would be infinite.
    const Scene scene = Read(WithCommands(R"({"kind": "fillRect", "rect": [0, 0, 3.4028235e38, 3.4028235677973362e38], "color": "#ffffffff"})"));
    EXPECT_EQ(scene.commands.at(0).rect.right, std::numeric_limits<float>::max());
    EXPECT_EQ(scene.commands.at(0).rect.bottom, std::numeric_limits<float>::max());
    EXPECT_EQ(ErrorsOf(WithCommands(R"({"kind": "fillRect", "rect": [-3.4028235677973366e38, 0, 0, 1], "color": "#ffffffff"})")),
              Strings{"commands[0].rect[0]: -3.4028235677973366e+38 is too large for a 32-bit float"});
}

TEST(SceneJson, FontWeightLimits) {
    for (int weight : {1, 999}) {
        SCOPED_TRACE(weight);
        const Scene scene = Read(WithCommands(R"({"kind": "text", "rect": [0, 0, 1, 1], "fontSize": 9, "fontWeight": )" +
                                              std::to_string(weight) + R"(, "color": "#ffffffff", "text": "x"})"));
        EXPECT_EQ(scene.commands.at(0).fontWeight, weight);
    }
}

// ---- The way back: frame -> scene file -> the same frame ----

// The scene that a frame holds, written out and read back, makes the same
// bytes again: so nothing is lost, not even the sign of a zero.
void ExpectRoundTrip(const Scene& scene) {
    std::vector<std::uint8_t> frame;
    std::string error;
    ASSERT_TRUE(EncodeScene(scene, frame, error)) << error;
    Scene decoded;
    ASSERT_TRUE(DecodeScene(frame.data(), frame.size(), decoded, error)) << error;

    const std::string json = SceneToJson(decoded);
    Scene again;
    Strings errors;
    ASSERT_TRUE(SceneFromJson(json, again, errors)) << json << testing::PrintToString(errors);
    EXPECT_EQ(again, decoded);
    std::vector<std::uint8_t> frameAgain;
    ASSERT_TRUE(EncodeScene(again, frameAgain, error)) << error;
    EXPECT_EQ(frameAgain, frame) << json;
    EXPECT_EQ(SceneToJson(again), json) << "writing is stable";
}

TEST(SceneJson, RoundTripOfTheExamples) {
    for (const char* name : {"hud.json", "alignment.json", "primary.json"}) {
        SCOPED_TRACE(name);
        ExpectRoundTrip(Read(tooltest::ReadText(tooltest::ExamplesDir() / name)));
    }
}

TEST(SceneJson, RoundTripOfAwkwardValues) {
    const float smallest = std::numeric_limits<float>::denorm_min();
    const float largest = std::numeric_limits<float>::max();
    ExpectRoundTrip(Scene{
        .target = MonitorTarget::Primary,
        .frameTag = std::numeric_limits<std::uint64_t>::max(),
        .commands = {
            tooltest::FillRect({-0.0f, 1e-30f, largest, 0.1f}, {0, 0, 0, 0}),
            tooltest::StrokeRect({0.0f, -largest, 1.0f, smallest}, smallest, {255, 255, 255, 255}, NormalizedX),
            tooltest::Line({1.0f / 3.0f, 16777217.0f, 0.0f, -2.5e-7f}, 123456.789f, {1, 2, 3, 4}, NormalizedX),
            tooltest::Text({0.1f, 0.2f, 0.3f, 0.4f}, 0.7f, 999, 2, {9, 8, 7, 6},
                           "quote \" back\\slash \n tab\t nul\0 \xE2\x82\xAC \xF0\x9F\x98\x80"s),
            tooltest::Cursor(),
        }});
    ExpectRoundTrip(Scene{.target = MonitorTarget::All, .frameTag = (std::uint64_t{1} << 53) + 1, .commands = {}});
}

TEST(SceneJson, WritesOneCommandPerLineAndLargeTagsAsStrings) {
    const Scene scene{.target = MonitorTarget::All,
                      .frameTag = (std::uint64_t{1} << 53) + 1,
                      .commands = {tooltest::FillRect({10, 20, 110, 70}, {255, 0, 0, 128}),
                                   tooltest::Text({0.25f, 50, 0.75f, 300}, 24, 700, 1, {255, 255, 255, 255}, "Hi",
                                                  NormalizedX),
                                   tooltest::Cursor()}};
    EXPECT_EQ(SceneToJson(scene),
              "{\n"
              "  \"target\": \"all\",\n"
              "  \"frameTag\": \"9007199254740993\",\n"
              "  \"commands\": [\n"
              "    {\"kind\": \"fillRect\", \"rect\": {\"left\": 10.0, \"top\": 20.0, \"right\": 110.0, \"bottom\": 70.0}, "
              "\"color\": \"#ff000080\"},\n"
              "    {\"kind\": \"text\", \"rect\": {\"left\": 0.25, \"top\": 50.0, \"right\": 0.75, \"bottom\": 300.0}, "
              "\"fontSize\": 24.0, \"fontWeight\": 700, \"alignment\": \"center\", \"color\": \"#ffffffff\", "
              "\"text\": \"Hi\", \"normalizedX\": true},\n"
              "    {\"kind\": \"rainbowCursor\"}\n"
              "  ]\n"
              "}\n");
    EXPECT_EQ(SceneToJson(Scene{.target = MonitorTarget::Primary, .frameTag = 1u << 20, .commands = {}}),
              "{\n  \"target\": \"primary\",\n  \"frameTag\": 1048576,\n  \"commands\": []\n}\n");
}

}  // namespace
