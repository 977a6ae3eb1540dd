// overlay-frame: its three commands, their reports, what they leave on disk,
// and the exit statuses, both in-process and from the built program.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "protocol/protocol.h"
#include "tools/frame_tool.h"
#include "tools/scene_file.h"
#include "tools_test_support.h"

namespace {

using vorlune::overlay::EncodeScene;
using vorlune::overlay::MonitorTarget;
using vorlune::overlay::Scene;
using vorlune::scenefile::kExitInvalid;
using vorlune::scenefile::kExitOk;
using vorlune::scenefile::kExitUsage;
using vorlune::scenefile::RunFrameTool;
using Bytes = std::vector<std::uint8_t>;
using Strings = std::vector<std::string>;

constexpr char kGoodScene[] = R"({"target": "all", "frameTag": 5, "commands": [
    {"kind": "fillRect", "rect": [1, 2, 3, 4], "color": "#ff000080"},
    {"kind": "text", "rect": [0, 0, 100, 20], "fontSize": 12, "color": "#ffffffff", "text": "a"},
    {"kind": "text", "rect": [0, 0, 100, 20], "fontSize": 12, "color": "#ffffffff", "text": "b"}]})";

constexpr char kBadScene[] = R"({"target": "all", "commands": [
    {"kind": "fillRect", "rect": [3, 2, 1, 4], "color": "#ff000080"}]})";

Bytes Encode(const Scene& scene) {
    Bytes frame;
    std::string error;
    EXPECT_TRUE(EncodeScene(scene, frame, error)) << error;
    return frame;
}

void PutU32(Bytes& frame, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) frame[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Appends a command of a kind the renderer does not know; it skips it but
// counts it, so the header's length and count grow with it.
void AppendUnknownKind(Bytes& frame, std::uint16_t kind, std::uint32_t length) {
    const std::size_t at = frame.size();
    frame.resize(at + length, 0xEE);
    frame[at] = static_cast<std::uint8_t>(kind);
    frame[at + 1] = static_cast<std::uint8_t>(kind >> 8);
    PutU32(frame, at + 4, length);
    PutU32(frame, 16, static_cast<std::uint32_t>(frame.size() - 24));
    PutU32(frame, 20, static_cast<std::uint32_t>(frame[20] | (frame[21] << 8)) + 1);
}

Scene SceneWithFillAndTwoTexts() {
    return Scene{.target = MonitorTarget::All,
                 .frameTag = 5,
                 .commands = {tooltest::FillRect({1, 2, 3, 4}, {255, 0, 0, 128}),
                              tooltest::Text({0, 0, 100, 20}, 12, 400, 0, {255, 255, 255, 255}, "a"),
                              tooltest::Text({0, 0, 100, 20}, 12, 400, 0, {255, 255, 255, 255}, "b")}};
}

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

class FrameTool : public tooltest::TempDirTest {
protected:
    ToolRun Tool(const Strings& args) {
        std::ostringstream out;
        std::ostringstream err;
        ToolRun run;
        run.status = RunFrameTool(args, out, err);
        run.out = out.str();
        run.err = err.str();
        return run;
    }
    std::string P(const std::string& name) const { return Path(name).string(); }
};

TEST_F(FrameTool, CheckCountsCommandsByKindAndSkipped) {
    Bytes frame = Encode(SceneWithFillAndTwoTexts());
    AppendUnknownKind(frame, 0, 8);
    AppendUnknownKind(frame, 9, 108);
    tooltest::WriteBytes(Path("f.bin"), frame);

    const ToolRun run = Tool({"check", P("f.bin")});
    EXPECT_EQ(run.status, kExitOk);
    EXPECT_EQ(run.out, P("f.bin") + ": accepted: 3 commands (fillRect 1, text 2), 2 skipped\n");
    EXPECT_EQ(run.err, "");
}

TEST_F(FrameTool, CheckOfAnEmptySceneSaysSo) {
    tooltest::WriteBytes(Path("empty.bin"), Encode(Scene{.target = MonitorTarget::Primary, .frameTag = 0, .commands = {}}));
    EXPECT_EQ(Tool({"check", P("empty.bin")}).out, P("empty.bin") + ": accepted: 0 commands, 0 skipped\n");
}

TEST_F(FrameTool, CheckGivesTheRenderersExactReason) {
    struct Case {
        std::function<void(Bytes&)> spoil;
        const char* reason;
        const char* why;
    };
    const Case cases[] = {
        {[](Bytes& f) { f.resize(23); }, "truncated frame header", "shorter than a header"},
        {[](Bytes& f) { f[0] = 'X'; }, "invalid frame magic", "not a frame"},
        {[](Bytes& f) { f.push_back(0); }, "payload length does not match frame", "a byte too many"},
        {[](Bytes& f) { f[24 + 8 + 8] = 0; f[24 + 8 + 11] = 0; }, "invalid FillRect rectangle",
         "right edge moved left of the left edge"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Bytes frame = Encode(SceneWithFillAndTwoTexts());
        c.spoil(frame);
        tooltest::WriteBytes(Path("x.bin"), frame);
        const ToolRun run = Tool({"check", P("x.bin")});
        EXPECT_EQ(run.status, kExitInvalid);
        EXPECT_EQ(run.out, P("x.bin") + ": rejected: " + c.reason + "\n");
    }
}

TEST_F(FrameTool, CheckReportsEveryFileAndFailsIfAnyFails) {
    tooltest::WriteBytes(Path("good.bin"), Encode(SceneWithFillAndTwoTexts()));
    tooltest::WriteBytes(Path("bad.bin"), Bytes(30, 0));
    tooltest::WriteText(Path("good.json"), kGoodScene);
    tooltest::WriteText(Path("bad.json"), kBadScene);

    const ToolRun run = Tool({"check", P("good.bin"), P("bad.bin"), P("missing.bin"), P("good.json"), P("bad.json")});
    EXPECT_EQ(run.status, kExitInvalid);
    EXPECT_EQ(run.out, P("good.bin") + ": accepted: 3 commands (fillRect 1, text 2), 0 skipped\n" +  //
                           P("bad.bin") + ": rejected: invalid frame magic\n" +                    //
                           P("good.json") + ": accepted: 3 commands (fillRect 1, text 2), 0 skipped\n" +
                           P("bad.json") + ": invalid scene: commands[0].rect: right is less than left " +
                           "(renderer: \"invalid FillRect rectangle\")\n");
    EXPECT_EQ(run.err, "overlay-frame: " + P("missing.bin") + ": no such file\n");
}

TEST_F(FrameTool, CheckOfAllGoodFilesSucceeds) {
    tooltest::WriteBytes(Path("a.bin"), Encode(SceneWithFillAndTwoTexts()));
    tooltest::WriteText(Path("b.JSON"), kGoodScene);  // the extension in any case
    EXPECT_EQ(Tool({"check", P("a.bin"), P("b.JSON")}).status, kExitOk);
}

TEST_F(FrameTool, EncodeWritesTheFrameOfTheScene) {
    tooltest::WriteText(Path("scene.json"), kGoodScene);
    const ToolRun run = Tool({"encode", P("scene.json"), "-o", P("frame.bin")});
    EXPECT_EQ(run.status, kExitOk) << run.err;
    EXPECT_EQ(tooltest::ReadBytes(Path("frame.bin")), Encode(SceneWithFillAndTwoTexts()));
    EXPECT_EQ(run.out, "wrote " + P("frame.bin") + ": 134 bytes, 3 commands (fillRect 1, text 2), 0 skipped\n");
    EXPECT_EQ(Files(), (Strings{"frame.bin", "scene.json"})) << "no temporary file stays behind";
}

TEST_F(FrameTool, EncodeReplacesAnOlderFrame) {
    tooltest::WriteText(Path("scene.json"), kGoodScene);
    tooltest::WriteBytes(Path("frame.bin"), Bytes(5000, 1));
    ASSERT_EQ(Tool({"encode", "-o", P("frame.bin"), P("scene.json")}).status, kExitOk);
    EXPECT_EQ(tooltest::ReadBytes(Path("frame.bin")), Encode(SceneWithFillAndTwoTexts()));
}

TEST_F(FrameTool, EncodeWritesNothingWhenTheSceneIsInvalid) {
    tooltest::WriteText(Path("bad.json"), kBadScene);
    tooltest::WriteBytes(Path("old.bin"), Bytes{1, 2, 3});

    ToolRun run = Tool({"encode", P("bad.json"), "-o", P("old.bin")});
    EXPECT_EQ(run.status, kExitInvalid);
    EXPECT_EQ(run.err, "overlay-frame: " + P("bad.json") +
                           ": commands[0].rect: right is less than left (renderer: \"invalid FillRect rectangle\")\n");
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(tooltest::ReadBytes(Path("old.bin")), (Bytes{1, 2, 3})) << "an earlier frame stays as it was";

    run = Tool({"encode", P("bad.json"), "-o", P("new.bin")});
    EXPECT_EQ(run.status, kExitInvalid);
    EXPECT_EQ(Files(), (Strings{"bad.json", "old.bin"}));
}

TEST_F(FrameTool, EncodeIntoAMissingFolderFails) {
    tooltest::WriteText(Path("scene.json"), kGoodScene);
    const ToolRun run = Tool({"encode", P("scene.json"), "-o", P("no/such/folder/frame.bin")});
    EXPECT_EQ(run.status, kExitInvalid);
    EXPECT_EQ(run.err, "overlay-frame: " + P("no/such/folder/frame.bin") + ": cannot be created\n");
    EXPECT_EQ(Files(), (Strings{"scene.json"}));
}

TEST_F(FrameTool, DecodePrintsTheSceneAsASceneFile) {
    tooltest::WriteBytes(Path("f.bin"), Encode(SceneWithFillAndTwoTexts()));
    const ToolRun run = Tool({"decode", P("f.bin")});
    EXPECT_EQ(run.status, kExitOk);
    EXPECT_EQ(run.err, "");
    Scene read;
    Strings errors;
    ASSERT_TRUE(vorlune::scenefile::SceneFromJson(run.out, read, errors)) << run.out;
    EXPECT_EQ(read, SceneWithFillAndTwoTexts());
}

TEST_F(FrameTool, DecodeNotesWhatItLeavesOut) {
    Bytes frame = Encode(SceneWithFillAndTwoTexts());
    AppendUnknownKind(frame, 77, 8);
    tooltest::WriteBytes(Path("f.bin"), frame);
    const ToolRun run = Tool({"decode", P("f.bin")});
    EXPECT_EQ(run.status, kExitOk);
    EXPECT_EQ(run.err, "overlay-frame: " + P("f.bin") +
                           ": note: 1 command of an unknown kind is skipped by the renderer and left out here\n");
    EXPECT_EQ(run.out, vorlune::scenefile::SceneToJson(SceneWithFillAndTwoTexts()));
}

TEST_F(FrameTool, DecodeOfARejectedFramePrintsNothing) {
    Bytes frame = Encode(SceneWithFillAndTwoTexts());
    frame[4] = 3;  // version 3
    tooltest::WriteBytes(Path("f.bin"), frame);
    const ToolRun run = Tool({"decode", P("f.bin")});
    EXPECT_EQ(run.status, kExitInvalid);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "overlay-frame: " + P("f.bin") + ": rejected: incompatible protocol version\n");
}

TEST_F(FrameTool, EncodeThenDecodeGivesTheExamplesBack) {
    for (const char* name : {"hud", "alignment", "primary"}) {
        SCOPED_TRACE(name);
        const std::string example = (tooltest::ExamplesDir() / (std::string(name) + ".json")).string();
        ASSERT_EQ(Tool({"encode", example, "-o", P("first.bin")}).status, kExitOk);
        const ToolRun decoded = Tool({"decode", P("first.bin")});
        ASSERT_EQ(decoded.status, kExitOk);
        tooltest::WriteText(Path("decoded.json"), decoded.out);
        ASSERT_EQ(Tool({"encode", P("decoded.json"), "-o", P("second.bin")}).status, kExitOk);
        EXPECT_EQ(tooltest::ReadBytes(Path("second.bin")), tooltest::ReadBytes(Path("first.bin")));
    }
}

TEST_F(FrameTool, UnreadableInputIsInvalidInputNotAUsageError) {
    struct Case {
        Strings args;
        std::string err;
        const char* why;
    };
    std::filesystem::create_directory(Path("folder.bin"));
    const Case cases[] = {
        {{"decode", P("missing.bin")}, "overlay-frame: " + P("missing.bin") + ": no such file\n", "decode"},
        {{"encode", P("missing.json"), "-o", P("f.bin")}, "overlay-frame: " + P("missing.json") + ": no such file\n",
         "encode"},
        {{"check", P("folder.bin")}, "overlay-frame: " + P("folder.bin") + ": is a folder, not a file\n", "a folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const ToolRun run = Tool(c.args);
        EXPECT_EQ(run.status, kExitInvalid);
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(run.out, "");
    }
}

TEST_F(FrameTool, UsageErrorsNameTheProblem) {
    struct Case {
        Strings args;
        const char* problem;
    };
    const Case cases[] = {
        {{}, "no command given"},
        {{"verify", "f.bin"}, "unknown command 'verify'"},
        {{"check"}, "check needs at least one file"},
        {{"check", "--quiet", "f.bin"}, "unknown option '--quiet'"},
        {{"check", "-o", "f.bin"}, "unknown option '-o'"},
        {{"encode", "s.json"}, "encode needs -o FRAME.bin"},
        {{"encode", "-o", "f.bin"}, "encode needs a scene file"},
        {{"encode", "s.json", "-o"}, "-o needs a file name"},
        {{"encode", "a.json", "b.json", "-o", "f.bin"}, "encode takes one scene file"},
        {{"encode", "a.json", "-o", "f.bin", "-o", "g.bin"}, "encode takes one output file"},
        {{"decode"}, "decode needs a frame file"},
        {{"decode", "a.bin", "b.bin"}, "decode takes one frame file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.problem);
        const ToolRun run = Tool(c.args);
        EXPECT_EQ(run.status, kExitUsage);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind(std::string("overlay-frame: ") + c.problem + "\nusage: overlay-frame check FILE...\n", 0),
                  0u)
            << run.err;
    }
    EXPECT_EQ(Files(), Strings{}) << "a usage error touches no file";
}

TEST_F(FrameTool, HelpWinsOverEverythingElse) {
    const ToolRun run = Tool({"encode", "--help"});
    EXPECT_EQ(run.status, kExitOk);
    EXPECT_EQ(run.out.rfind("usage: overlay-frame check FILE...\n", 0), 0u);
    EXPECT_NE(run.out.find("Exit status:"), std::string::npos);
    EXPECT_EQ(run.err, "");
}

// The statuses that reach a shell, from the program that main() builds.
int ProgramStatus(const std::string& args) {
    const int raw = std::system((std::string("'") + VORLUNE_OVERLAY_FRAME + "' " + args + " >/dev/null 2>&1").c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

TEST_F(FrameTool, ProgramExitStatuses) {
    tooltest::WriteText(Path("good.json"), kGoodScene);
    tooltest::WriteBytes(Path("bad.bin"), Bytes(24, 0));
    EXPECT_EQ(ProgramStatus("--help"), 0);
    EXPECT_EQ(ProgramStatus("check '" + P("good.json") + "'"), 0);
    EXPECT_EQ(ProgramStatus("encode '" + P("good.json") + "' -o '" + P("good.bin") + "'"), 0);
    EXPECT_EQ(ProgramStatus("decode '" + P("good.bin") + "'"), 0);
    EXPECT_EQ(ProgramStatus("check '" + P("bad.bin") + "'"), 1);
    EXPECT_EQ(ProgramStatus("decode '" + P("missing.bin") + "'"), 1);
    EXPECT_EQ(ProgramStatus(""), 2);
    EXPECT_EQ(ProgramStatus("check --all"), 2);
}

}  // namespace
