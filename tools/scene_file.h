// Scene files: the JSON form of a scene that parent authors write by hand, and
// the file handling shared by overlay-frame, overlay-preview and the sample
// parent. A scene file is turned into exactly the frame bytes a parent sends;
// a decoded frame is turned back into a scene file that encodes to the same scene.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/protocol.h"

namespace vorlune::scenefile {

using overlay::CommandKind;
using overlay::Scene;

// Reads a scene from JSON text (comments allowed). On failure returns false
// and one message per fault, each starting with its place in the file, such
// as "commands[3].rect: right is less than left". Faults that the renderer
// itself would refuse carry its own words, as in (renderer: "invalid FillRect
// rectangle"). Whatever it accepts, EncodeScene accepts too.
bool SceneFromJson(std::string_view text, Scene& scene, std::vector<std::string>& errors);

// Writes a scene as JSON, one command per line, ending with a line feed.
// SceneFromJson reads it back to an equal scene.
std::string SceneToJson(const Scene& scene);

// The name a command kind has in scene files ("fillRect" ...), or "" for a
// value that is not a kind.
std::string_view KindName(CommandKind kind);

// Files whose name ends in ".json" (any case) are scene files; every other
// file holds the bytes of a binary frame.
bool IsSceneFileName(const std::filesystem::path& path);

// Whole-file reading and all-or-nothing writing: the target is written under
// a temporary name beside it and renamed over it only once complete.
bool ReadFileBytes(const std::filesystem::path& path, std::vector<std::uint8_t>& bytes, std::string& error);
bool WriteFileAtomically(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes,
                         std::string& error);

// The bytes a parent would send for this file: a scene file encoded, a binary
// file as it stands, unjudged, so that the renderer can refuse it itself.
// Errors are prefixed with nothing; callers add the file name.
bool LoadFrame(const std::filesystem::path& path, std::vector<std::uint8_t>& frame, std::vector<std::string>& errors);

// The commands of a frame that DecodeScene accepted, counted from their
// headers: by kind, and those of other kinds, which the renderer skips.
struct FrameSummary {
    std::array<std::uint32_t, 6> byKind{};  // index = kind value 1..5; [0] unused
    std::uint32_t skipped = 0;
};
FrameSummary SummarizeFrame(const std::vector<std::uint8_t>& acceptedFrame);
// "3 commands (fillRect 1, text 2), 0 skipped"
std::string DescribeSummary(const FrameSummary& summary);

// A path from UTF-8 text, so that non-ASCII names work on Windows as well.
std::filesystem::path PathFromUtf8(std::string_view text);
std::string PathToUtf8(const std::filesystem::path& path);

}  // namespace vorlune::scenefile
