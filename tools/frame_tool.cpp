#include "tools/frame_tool.h"

#include <filesystem>
#include <string_view>

#include "protocol/protocol.h"
#include "tools/scene_file.h"

namespace vorlune::scenefile {
namespace {

constexpr std::string_view kUsage =
    "usage: overlay-frame check FILE...\n"
    "       overlay-frame encode SCENE.json -o FRAME.bin\n"
    "       overlay-frame decode FRAME.bin\n"
    "       overlay-frame --help\n";

constexpr std::string_view kHelp =
    "\n"
    "Checks, encodes and decodes the frames that a parent program sends to\n"
    "vorlune-overlay, with the renderer's own decoder.\n"
    "\n"
    "  check FILE...   for each file, \"accepted\" with its commands counted by kind\n"
    "                  and the commands of unknown kinds that the renderer skips,\n"
    "                  or \"rejected\" with the renderer's reason. Files ending in\n"
    "                  .json are scene files and are checked as the frame they\n"
    "                  encode to; every other file is a binary frame.\n"
    "  encode SCENE.json -o FRAME.bin\n"
    "                  writes the frame of a scene file. Nothing is written when\n"
    "                  the scene is invalid.\n"
    "  decode FRAME.bin\n"
    "                  prints the scene of a binary frame as a scene file (JSON).\n"
    "\n"
    "Exit status: 0 when everything was accepted or written, 1 when a frame was\n"
    "rejected or a file was invalid or could not be read or written, 2 when the\n"
    "command line is wrong.\n";

struct Io {
    std::ostream& out;
    std::ostream& err;

    int Usage(const std::string& problem) const {
        err << "overlay-frame: " << problem << "\n" << kUsage << "Try 'overlay-frame --help'.\n";
        return kExitUsage;
    }
    void Error(const std::string& file, const std::string& problem) const {
        err << "overlay-frame: " << file << ": " << problem << "\n";
    }
};

int Check(const std::vector<std::string>& files, const Io& io) {
    if (files.empty()) {
        return io.Usage("check needs at least one file");
    }
    int status = kExitOk;
    for (const std::string& file : files) {
        const std::filesystem::path path = PathFromUtf8(file);
        std::vector<std::uint8_t> bytes;
        std::string error;
        if (!ReadFileBytes(path, bytes, error)) {
            io.Error(file, error);
            status = kExitInvalid;
            continue;
        }
        std::vector<std::uint8_t> frame = bytes;
        if (IsSceneFileName(path)) {
            // A scene file is judged as the frame it encodes to.
            overlay::Scene scene;
            std::vector<std::string> errors;
            const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
            if (!SceneFromJson(text, scene, errors) || !overlay::EncodeScene(scene, frame, error)) {
                if (!error.empty()) {
                    errors.push_back("scene: " + error);
                }
                for (const std::string& problem : errors) {
                    io.out << file << ": invalid scene: " << problem << "\n";
                }
                status = kExitInvalid;
                continue;
            }
        }
        overlay::Scene scene;
        std::string reason;
        if (overlay::DecodeScene(frame.data(), frame.size(), scene, reason)) {
            io.out << file << ": accepted: " << DescribeSummary(SummarizeFrame(frame)) << "\n";
        } else {
            io.out << file << ": rejected: " << reason << "\n";
            status = kExitInvalid;
        }
    }
    return status;
}

int Encode(const std::vector<std::string>& args, const Io& io) {
    std::string input;
    std::string output;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-o" || args[i] == "--output") {
            if (i + 1 == args.size()) {
                return io.Usage(args[i] + " needs a file name");
            }
            if (!output.empty()) {
                return io.Usage("encode takes one output file");
            }
            output = args[++i];
        } else if (input.empty()) {
            input = args[i];
        } else {
            return io.Usage("encode takes one scene file");
        }
    }
    if (input.empty()) {
        return io.Usage("encode needs a scene file");
    }
    if (output.empty()) {
        return io.Usage("encode needs -o FRAME.bin");
    }

    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!ReadFileBytes(PathFromUtf8(input), bytes, error)) {
        io.Error(input, error);
        return kExitInvalid;
    }
    overlay::Scene scene;
    std::vector<std::string> errors;
    if (!SceneFromJson(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), scene, errors)) {
        for (const std::string& problem : errors) {
            io.Error(input, problem);
        }
        return kExitInvalid;
    }
    std::vector<std::uint8_t> frame;
    if (!overlay::EncodeScene(scene, frame, error)) {
        io.Error(input, error);
        return kExitInvalid;
    }
    if (!WriteFileAtomically(PathFromUtf8(output), frame, error)) {
        io.Error(output, error);
        return kExitInvalid;
    }
    io.out << "wrote " << output << ": " << frame.size() << " bytes, "
           << DescribeSummary(SummarizeFrame(frame)) << "\n";
    return kExitOk;
}

int Decode(const std::vector<std::string>& args, const Io& io) {
    if (args.size() != 1) {
        return io.Usage(args.empty() ? "decode needs a frame file" : "decode takes one frame file");
    }
    const std::string& file = args[0];
    std::vector<std::uint8_t> frame;
    std::string error;
    if (!ReadFileBytes(PathFromUtf8(file), frame, error)) {
        io.Error(file, error);
        return kExitInvalid;
    }
    overlay::Scene scene;
    if (!overlay::DecodeScene(frame.data(), frame.size(), scene, error)) {
        io.Error(file, "rejected: " + error);
        return kExitInvalid;
    }
    if (const std::uint32_t skipped = SummarizeFrame(frame).skipped; skipped != 0) {
        io.err << "overlay-frame: " << file << ": note: " << skipped
               << (skipped == 1 ? " command of an unknown kind is" : " commands of unknown kinds are")
               << " skipped by the renderer and left out here\n";
    }
    io.out << SceneToJson(scene);
    return kExitOk;
}

}  // namespace

int RunFrameTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const Io io{out, err};
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            out << kUsage << kHelp;
            return kExitOk;
        }
    }
    if (args.empty()) {
        return io.Usage("no command given");
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    for (const std::string& arg : rest) {
        const bool output = args[0] == "encode" && (arg == "-o" || arg == "--output");
        if (arg.size() > 1 && arg[0] == '-' && !output) {
            return io.Usage("unknown option '" + arg + "'");
        }
    }
    if (args[0] == "check") {
        return Check(rest, io);
    }
    if (args[0] == "encode") {
        return Encode(rest, io);
    }
    if (args[0] == "decode") {
        return Decode(rest, io);
    }
    return io.Usage("unknown command '" + args[0] + "'");
}

}  // namespace vorlune::scenefile
