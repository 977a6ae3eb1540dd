// libFuzzer target over DecodeScene. Any input may be refused, but only with
// one of the decoder's own messages; an accepted input must give a scene that
// keeps every promise the renderer relies on, decode the same way twice, and
// survive a trip through the encoder unchanged.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "../protocol/utf8_reference.h"
#include "protocol/protocol.h"

namespace {

using vorlune::overlay::Command;
using vorlune::overlay::CommandKind;
using vorlune::overlay::MonitorTarget;
using vorlune::overlay::NormalizedX;
using vorlune::overlay::Scene;

void Require(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

bool IsKnownMessage(std::string_view message) {
    static constexpr std::string_view kMessages[] = {
        "truncated frame header",
        "frame exceeds maximum size",
        "invalid frame magic",
        "incompatible protocol version",
        "invalid monitor target",
        "payload length does not match frame",
        "command count exceeds maximum",
        "truncated command header",
        "invalid command length",
        "unclaimed payload bytes",
        "unsupported FillRect flags",
        "invalid FillRect length",
        "invalid FillRect rectangle",
        "unsupported StrokeRect flags",
        "invalid StrokeRect length",
        "invalid StrokeRect geometry",
        "unsupported Line flags",
        "invalid Line length",
        "invalid Line geometry",
        "invalid normalized Line X coordinates",
        "unsupported Text flags",
        "invalid Text length",
        "invalid Text value length",
        "invalid Text attributes",
        "invalid Text UTF-8",
        "unsupported RainbowCursor flags",
        "invalid RainbowCursor length",
    };
    for (std::string_view known : kMessages) {
        if (message == known) {
            return true;
        }
    }
    return false;
}

bool IsUnit(float value) {
    return value >= 0.0f && value <= 1.0f;
}

void RequireRect(const Command& command) {
    const auto& r = command.rect;
    Require(std::isfinite(r.left) && std::isfinite(r.top) && std::isfinite(r.right) && std::isfinite(r.bottom));
    Require(r.right >= r.left && r.bottom >= r.top);
    if (command.flags & NormalizedX) {
        Require(IsUnit(r.left) && IsUnit(r.right));
    }
}

// Fields a kind does not carry stay at their zero value.
void RequireUnset(const Command& c, bool rect, bool line, bool stroke, bool font, bool color, bool text) {
    const Command zero;
    if (!rect) Require(c.rect == zero.rect);
    if (!line) Require(c.line == zero.line);
    if (!stroke) Require(c.strokeWidth == 0.0f);
    if (!font) Require(c.fontSize == 0.0f && c.fontWeight == 0 && c.alignment == 0);
    if (!color) Require(c.color == zero.color);
    if (!text) Require(c.text.empty());
}

void RequireSceneInvariants(const Scene& scene) {
    Require(scene.target == MonitorTarget::Primary || scene.target == MonitorTarget::All);
    Require(scene.commands.size() <= vorlune::overlay::kMaxCommands);
    for (const Command& c : scene.commands) {
        Require(c.flags <= NormalizedX);
        switch (c.kind) {
        case CommandKind::FillRect:
            RequireRect(c);
            RequireUnset(c, true, false, false, false, true, false);
            break;
        case CommandKind::StrokeRect:
            RequireRect(c);
            Require(std::isfinite(c.strokeWidth) && c.strokeWidth > 0.0f);
            RequireUnset(c, true, false, true, false, true, false);
            break;
        case CommandKind::Line:
            Require(std::isfinite(c.line.x1) && std::isfinite(c.line.y1) && std::isfinite(c.line.x2) &&
                    std::isfinite(c.line.y2));
            Require(std::isfinite(c.strokeWidth) && c.strokeWidth > 0.0f);
            if (c.flags & NormalizedX) {
                Require(IsUnit(c.line.x1) && IsUnit(c.line.x2));
            }
            RequireUnset(c, false, true, true, false, true, false);
            break;
        case CommandKind::Text:
            RequireRect(c);
            Require(std::isfinite(c.fontSize) && c.fontSize > 0.0f);
            Require(c.fontWeight >= 1 && c.fontWeight <= 999 && c.alignment <= 2);
            Require(c.text.size() <= vorlune::overlay::kMaxTextBytes);
            Require(frametest::ReferenceWellFormedUtf8(c.text));
            RequireUnset(c, true, false, false, true, true, true);
            break;
        case CommandKind::RainbowCursor:
            Require(c.flags == 0);
            RequireUnset(c, false, false, false, false, false, false);
            break;
        default:
            Require(false);  // a decoded scene holds known kinds only
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Scene scene;
    std::string error;
    const bool accepted = vorlune::overlay::DecodeScene(data, size, scene, error);

    // The decoder keeps no state: the same bytes give the same verdict.
    Scene again;
    std::string againError;
    Require(vorlune::overlay::DecodeScene(data, size, again, againError) == accepted);
    Require(againError == error);
    Require(again == scene);

    if (!accepted) {
        Require(IsKnownMessage(error));
        return 0;
    }
    Require(error.empty());
    RequireSceneInvariants(scene);

    std::vector<std::uint8_t> frame;
    Require(vorlune::overlay::EncodeScene(scene, frame, error));
    Require(error.empty() && frame.size() <= size);
    Scene back;
    Require(vorlune::overlay::DecodeScene(frame.data(), frame.size(), back, error));
    Require(back == scene);
    return 0;
}
