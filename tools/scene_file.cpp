#include "tools/scene_file.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <set>
#include <system_error>
#include <utility>

#include <nlohmann/json.hpp>

namespace vorlune::scenefile {
namespace {

using Json = nlohmann::ordered_json;
using overlay::Color;
using overlay::Command;
using overlay::LinePoints;
using overlay::MonitorTarget;
using overlay::NormalizedX;
using overlay::Rect;

using Errors = std::vector<std::string>;

constexpr std::uint16_t kDefaultFontWeight = 400;  // the usual "normal" weight
constexpr std::uint64_t kLargestExactJsonInteger = std::uint64_t{1} << 53;

// Everything that can stand in a scene file's fields, by kind. Order is the
// order in which a written file lists them.
struct KindSpec {
    CommandKind kind;
    std::string_view name;
    std::vector<std::string_view> required;
    std::vector<std::string_view> optional;
};

const std::vector<KindSpec>& KindSpecs() {
    static const std::vector<KindSpec> specs{
        {CommandKind::FillRect, "fillRect", {"rect", "color"}, {"normalizedX"}},
        {CommandKind::StrokeRect, "strokeRect", {"rect", "strokeWidth", "color"}, {"normalizedX"}},
        {CommandKind::Line, "line", {"line", "strokeWidth", "color"}, {"normalizedX"}},
        {CommandKind::Text, "text", {"rect", "fontSize", "color", "text"}, {"fontWeight", "alignment", "normalizedX"}},
        {CommandKind::RainbowCursor, "rainbowCursor", {}, {"normalizedX"}},
    };
    return specs;
}

const KindSpec* FindKind(std::string_view name) {
    for (const KindSpec& spec : KindSpecs()) {
        if (spec.name == name) {
            return &spec;
        }
    }
    return nullptr;
}

std::string Join(const std::vector<std::string_view>& names, std::string_view separator) {
    std::string out;
    for (std::string_view name : names) {
        if (!out.empty()) {
            out += separator;
        }
        out += name;
    }
    return out;
}

std::string TypeWithArticle(const Json& value) {
    switch (value.type()) {
    case Json::value_t::object:
        return "an object";
    case Json::value_t::array:
        return "an array";
    case Json::value_t::string:
        return "a string";
    case Json::value_t::boolean:
        return "a boolean";
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
    case Json::value_t::number_float:
        return "a number";
    default:
        return "null";
    }
}

// ---- Reading: duplicate keys ----

// nlohmann keeps the last of two equal keys without a word; in a hand-written
// file that is almost always a slip, so the parse is watched for them.
class DuplicateKeyWatch {
public:
    explicit DuplicateKeyWatch(Errors& errors) : errors_(errors) {}

    bool operator()(int /*depth*/, nlohmann::detail::parse_event_t event, Json& parsed) {
        using Event = nlohmann::detail::parse_event_t;
        switch (event) {
        case Event::object_start:
            levels_.push_back(Level{});
            break;
        case Event::array_start:
            levels_.push_back(Level{.array = true, .index = 0, .key = {}, .keys = {}});
            break;
        case Event::key: {
            Level& level = levels_.back();
            level.key = parsed.get<std::string>();
            if (!level.keys.insert(level.key).second) {
                errors_.push_back(PathOfCurrentKey() + ": the same key appears twice in one object");
            }
            break;
        }
        case Event::object_end:
        case Event::array_end:
            levels_.pop_back();
            ElementDone();
            break;
        case Event::value:
            ElementDone();
            break;
        }
        return true;
    }

private:
    struct Level {
        bool array = false;
        std::size_t index = 0;  // arrays: elements completed so far
        std::string key;        // objects: the key being read
        std::set<std::string> keys;
    };

    void ElementDone() {
        if (!levels_.empty() && levels_.back().array) {
            ++levels_.back().index;
        }
    }

    std::string PathOfCurrentKey() const {
        std::string path;
        for (const Level& level : levels_) {
            if (level.array) {
                path += "[" + std::to_string(level.index) + "]";
            } else {
                path += (path.empty() ? "" : ".") + level.key;
            }
        }
        return path;
    }

    Errors& errors_;
    std::vector<Level> levels_;
};

std::string WithoutExceptionPrefix(std::string_view what) {
    // "[json.exception.parse_error.101] parse error at line 1, column 2: ..."
    if (!what.empty() && what.front() == '[') {
        const auto end = what.find("] ");
        if (end != std::string_view::npos) {
            what.remove_prefix(end + 2);
        }
    }
    return std::string(what);
}

// ---- Reading: values ----

bool ReadFloat(const Json& value, const std::string& path, Errors& errors, float& out) {
    if (!value.is_number()) {
        errors.push_back(path + ": expected a number, got " + TypeWithArticle(value));
        return false;
    }
    // Values up to half a step above the largest float still round to it,
    // exactly as the same digits would in a float literal.
    constexpr double kLargest = std::numeric_limits<float>::max();
    constexpr double kRoundsToInfinity = kLargest + 0x1p103;
    const double number = value.get<double>();
    if (!(std::fabs(number) < kRoundsToInfinity)) {
        errors.push_back(path + ": " + value.dump() + " is too large for a 32-bit float");
        return false;
    }
    out = std::fabs(number) > kLargest ? static_cast<float>(std::copysign(kLargest, number))
                                       : static_cast<float>(number);
    return true;
}

// A whole number, clamped to [low, high]: the rules that judge the value come
// later, and a clamped value fails them exactly as the original would.
bool ReadWhole(const Json& value, const std::string& path, Errors& errors, std::int64_t low, std::int64_t high,
               std::int64_t& out) {
    if (value.is_number_unsigned()) {
        out = static_cast<std::int64_t>(std::min<std::uint64_t>(value.get<std::uint64_t>(),
                                                                static_cast<std::uint64_t>(high)));
    } else if (value.is_number_integer()) {
        out = std::clamp<std::int64_t>(value.get<std::int64_t>(), low, high);
    } else {
        errors.push_back(path + ": expected a whole number, got " +
                         (value.is_number() ? value.dump() : TypeWithArticle(value)));
        return false;
    }
    out = std::clamp(out, low, high);
    return true;
}

bool ReadFourFloats(const Json& value, const std::string& path, const std::array<std::string_view, 4>& names,
                    Errors& errors, std::array<float, 4>& out) {
    const std::string shape = "expected {\"" + std::string(names[0]) + "\", \"" + std::string(names[1]) + "\", \"" +
                              std::string(names[2]) + "\", \"" + std::string(names[3]) + "\"} or [" +
                              std::string(names[0]) + ", " + std::string(names[1]) + ", " + std::string(names[2]) +
                              ", " + std::string(names[3]) + "]";
    bool ok = true;
    if (value.is_array()) {
        if (value.size() != 4) {
            errors.push_back(path + ": " + shape + ", got " + std::to_string(value.size()) + " numbers");
            return false;
        }
        for (std::size_t i = 0; i < 4; ++i) {
            ok = ReadFloat(value[i], path + "[" + std::to_string(i) + "]", errors, out[i]) && ok;
        }
        return ok;
    }
    if (!value.is_object()) {
        errors.push_back(path + ": " + shape + ", got " + TypeWithArticle(value));
        return false;
    }
    for (const auto& [key, member] : value.items()) {
        if (std::find(names.begin(), names.end(), key) == names.end()) {
            errors.push_back(path + "." + key + ": unknown field; expected " + std::string(names[0]) + ", " +
                             std::string(names[1]) + ", " + std::string(names[2]) + " and " + std::string(names[3]));
            ok = false;
        }
    }
    for (std::size_t i = 0; i < 4; ++i) {
        const std::string name(names[i]);
        if (!value.contains(name)) {
            errors.push_back(path + "." + name + ": missing field");
            ok = false;
        } else {
            ok = ReadFloat(value.at(name), path + "." + name, errors, out[i]) && ok;
        }
    }
    return ok;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ReadColor(const Json& value, const std::string& path, Errors& errors, Color& out) {
    std::array<int, 4> channels{};
    bool ok = false;
    if (value.is_string()) {
        const std::string text = value.get<std::string>();
        ok = text.size() == 9 && text[0] == '#';
        for (std::size_t i = 0; ok && i < 4; ++i) {
            const int high = HexDigit(text[1 + 2 * i]);
            const int low = HexDigit(text[2 + 2 * i]);
            ok = high >= 0 && low >= 0;
            channels[i] = high * 16 + low;
        }
    } else if (value.is_array() && value.size() == 4) {
        ok = true;
        for (std::size_t i = 0; ok && i < 4; ++i) {
            ok = value[i].is_number_integer() && value[i].get<std::int64_t>() >= 0 && value[i].get<std::int64_t>() <= 255;
            channels[i] = ok ? static_cast<int>(value[i].get<std::int64_t>()) : 0;
        }
    }
    if (!ok) {
        errors.push_back(path + ": expected \"#rrggbbaa\" or four numbers 0-255");
        return false;
    }
    out = Color{static_cast<std::uint8_t>(channels[0]), static_cast<std::uint8_t>(channels[1]),
                static_cast<std::uint8_t>(channels[2]), static_cast<std::uint8_t>(channels[3])};
    return true;
}

constexpr std::array<std::string_view, 3> kAlignmentNames{"leading", "center", "trailing"};

bool ReadAlignment(const Json& value, const std::string& path, Errors& errors, std::uint8_t& out) {
    if (value.is_string()) {
        const auto found = std::find(kAlignmentNames.begin(), kAlignmentNames.end(), value.get<std::string>());
        if (found != kAlignmentNames.end()) {
            out = static_cast<std::uint8_t>(found - kAlignmentNames.begin());
            return true;
        }
    } else if (value.is_number_integer()) {
        // Numbers pass through for the renderer to judge; those that do not
        // fit its byte become 255, which it refuses just the same.
        const bool fits = value.is_number_unsigned() && value.get<std::uint64_t>() <= 255;
        out = fits ? static_cast<std::uint8_t>(value.get<std::uint64_t>()) : 255;
        return true;
    }
    errors.push_back(path + ": expected \"leading\", \"center\", \"trailing\" or 0-2");
    return false;
}

bool ReadBool(const Json& value, const std::string& path, Errors& errors, bool& out) {
    if (!value.is_boolean()) {
        errors.push_back(path + ": expected true or false, got " + TypeWithArticle(value));
        return false;
    }
    out = value.get<bool>();
    return true;
}

bool ReadString(const Json& value, const std::string& path, Errors& errors, std::string& out) {
    if (!value.is_string()) {
        errors.push_back(path + ": expected a string, got " + TypeWithArticle(value));
        return false;
    }
    out = value.get<std::string>();
    return true;
}

// ---- Reading: the renderer's rules, named by field ----

struct Fault {
    std::string field;   // ".rect", appended to "commands[i]"
    std::string detail;  // what is wrong, in the file's terms
};

bool InUnit(float value) {
    return value >= 0.0f && value <= 1.0f;
}

std::optional<Fault> RectFault(const Rect& rect, bool normalized) {
    if (rect.right < rect.left) return Fault{".rect", "right is less than left"};
    if (rect.bottom < rect.top) return Fault{".rect", "bottom is less than top"};
    if (normalized && !InUnit(rect.left)) return Fault{".rect", "left must be 0 to 1 with normalizedX"};
    if (normalized && !InUnit(rect.right)) return Fault{".rect", "right must be 0 to 1 with normalizedX"};
    return std::nullopt;
}

// Which field breaks which rule, checked in the order in which the renderer
// checks them, so that the field named is the one its message is about.
std::optional<Fault> FindFault(const Command& command) {
    const bool normalized = (command.flags & NormalizedX) != 0;
    switch (command.kind) {
    case CommandKind::FillRect:
        return RectFault(command.rect, normalized);
    case CommandKind::StrokeRect:
        if (auto fault = RectFault(command.rect, normalized)) return fault;
        if (!(command.strokeWidth > 0.0f)) return Fault{".strokeWidth", "must be greater than 0"};
        return std::nullopt;
    case CommandKind::Line:
        if (!(command.strokeWidth > 0.0f)) return Fault{".strokeWidth", "must be greater than 0"};
        if (normalized && !InUnit(command.line.x1)) return Fault{".line", "x1 must be 0 to 1 with normalizedX"};
        if (normalized && !InUnit(command.line.x2)) return Fault{".line", "x2 must be 0 to 1 with normalizedX"};
        return std::nullopt;
    case CommandKind::Text:
        if (command.text.size() > overlay::kMaxTextBytes) {
            return Fault{".text", std::to_string(command.text.size()) + " bytes, more than " +
                                      std::to_string(overlay::kMaxTextBytes)};
        }
        if (auto fault = RectFault(command.rect, normalized)) return fault;
        if (!(command.fontSize > 0.0f)) return Fault{".fontSize", "must be greater than 0"};
        if (command.fontWeight < 1 || command.fontWeight > 999) return Fault{".fontWeight", "must be 1 to 999"};
        if (command.alignment > 2) return Fault{".alignment", "must be 0 to 2 (leading, center, trailing)"};
        return std::nullopt;
    case CommandKind::RainbowCursor:
        if (normalized) return Fault{".normalizedX", "rainbowCursor has no X coordinates to normalize"};
        return std::nullopt;
    }
    return std::nullopt;
}

std::string RendererSays(const std::string& message) {
    return " (renderer: \"" + message + "\")";
}

// The frame a lone command makes tells whether the renderer takes it, and in
// its own words why not.
void CheckWithRenderer(const Command& command, const std::string& path, Errors& errors) {
    const Scene single{.target = MonitorTarget::All, .frameTag = 0, .commands = {command}};
    std::vector<std::uint8_t> frame;
    std::string message;
    if (overlay::EncodeScene(single, frame, message)) {
        return;
    }
    if (const auto fault = FindFault(command)) {
        errors.push_back(path + fault->field + ": " + fault->detail + RendererSays(message));
    } else {
        errors.push_back(path + ": " + message);
    }
}

void CheckSceneWithRenderer(const Scene& scene, Errors& errors) {
    std::vector<std::uint8_t> frame;
    std::string message;
    if (overlay::EncodeScene(scene, frame, message)) {
        return;
    }
    if (scene.commands.size() > overlay::kMaxCommands) {
        errors.push_back("commands: " + std::to_string(scene.commands.size()) + " commands, more than " +
                         std::to_string(overlay::kMaxCommands) + RendererSays(message));
    } else if (const std::uint64_t size = overlay::EncodedFrameSize(scene); size > overlay::kMaxFrameSize) {
        errors.push_back("commands: the frame would be " + std::to_string(size) + " bytes, more than " +
                         std::to_string(overlay::kMaxFrameSize) + RendererSays(message));
    } else {
        errors.push_back("scene: " + message);
    }
}

// ---- Reading: the scene ----

bool IsAllowed(const KindSpec& spec, const std::string& key) {
    return key == "kind" || std::find(spec.required.begin(), spec.required.end(), key) != spec.required.end() ||
           std::find(spec.optional.begin(), spec.optional.end(), key) != spec.optional.end();
}

bool ReadField(const std::string& key, const Json& value, const std::string& path, Errors& errors, Command& command) {
    if (key == "rect") {
        std::array<float, 4> v{};
        if (!ReadFourFloats(value, path, {"left", "top", "right", "bottom"}, errors, v)) return false;
        command.rect = Rect{v[0], v[1], v[2], v[3]};
        return true;
    }
    if (key == "line") {
        std::array<float, 4> v{};
        if (!ReadFourFloats(value, path, {"x1", "y1", "x2", "y2"}, errors, v)) return false;
        command.line = LinePoints{v[0], v[1], v[2], v[3]};
        return true;
    }
    if (key == "strokeWidth") return ReadFloat(value, path, errors, command.strokeWidth);
    if (key == "fontSize") return ReadFloat(value, path, errors, command.fontSize);
    if (key == "fontWeight") {
        std::int64_t weight = 0;
        if (!ReadWhole(value, path, errors, 0, 0xFFFF, weight)) return false;
        command.fontWeight = static_cast<std::uint16_t>(weight);
        return true;
    }
    if (key == "alignment") return ReadAlignment(value, path, errors, command.alignment);
    if (key == "color") return ReadColor(value, path, errors, command.color);
    if (key == "text") return ReadString(value, path, errors, command.text);
    if (key == "normalizedX") {
        bool normalized = false;
        if (!ReadBool(value, path, errors, normalized)) return false;
        command.flags = normalized ? NormalizedX : 0;
        return true;
    }
    return false;
}

bool ReadCommand(const Json& value, const std::string& path, Errors& errors, Command& command) {
    if (!value.is_object()) {
        errors.push_back(path + ": expected an object, got " + TypeWithArticle(value));
        return false;
    }
    if (!value.contains("kind")) {
        errors.push_back(path + ".kind: missing field");
        return false;
    }
    const Json& kind = value.at("kind");
    if (!kind.is_string()) {
        errors.push_back(path + ".kind: expected a string, got " + TypeWithArticle(kind));
        return false;
    }
    const KindSpec* spec = FindKind(kind.get<std::string>());
    if (spec == nullptr) {
        std::vector<std::string_view> names;
        for (const KindSpec& known : KindSpecs()) names.push_back(known.name);
        errors.push_back(path + ".kind: unknown kind \"" + kind.get<std::string>() + "\"; kinds are " +
                         Join(names, ", "));
        return false;
    }

    command = Command{};
    command.kind = spec->kind;
    if (spec->kind == CommandKind::Text) {
        command.fontWeight = kDefaultFontWeight;
    }
    bool ok = true;
    for (const auto& [key, member] : value.items()) {
        if (!IsAllowed(*spec, key)) {
            std::vector<std::string_view> fields{"kind"};
            fields.insert(fields.end(), spec->required.begin(), spec->required.end());
            fields.insert(fields.end(), spec->optional.begin(), spec->optional.end());
            errors.push_back(path + "." + key + ": unknown field; " + std::string(spec->name) + " has " +
                             Join(fields, ", "));
            ok = false;
        }
    }
    for (std::string_view name : spec->required) {
        if (!value.contains(std::string(name))) {
            errors.push_back(path + "." + std::string(name) + ": missing field");
            ok = false;
        }
    }
    for (const auto& [key, member] : value.items()) {
        if (key != "kind" && IsAllowed(*spec, key)) {
            ok = ReadField(key, member, path + "." + key, errors, command) && ok;
        }
    }
    if (ok) {
        CheckWithRenderer(command, path, errors);
    }
    return ok;
}

bool ReadTarget(const Json& root, Errors& errors, MonitorTarget& target) {
    if (!root.contains("target")) {
        errors.push_back("target: missing field (\"primary\" or \"all\")");
        return false;
    }
    const Json& value = root.at("target");
    if (value == "primary") {
        target = MonitorTarget::Primary;
    } else if (value == "all") {
        target = MonitorTarget::All;
    } else {
        errors.push_back("target: expected \"primary\" or \"all\"");
        return false;
    }
    return true;
}

// Numbers above 2^53 lose digits in many JSON libraries, so such tags may
// also be written as decimal strings.
bool ReadFrameTag(const Json& root, Errors& errors, std::uint64_t& tag) {
    tag = 0;
    if (!root.contains("frameTag")) {
        return true;
    }
    const Json& value = root.at("frameTag");
    if (value.is_number_unsigned()) {
        tag = value.get<std::uint64_t>();
        return true;
    }
    if (value.is_string()) {
        const std::string text = value.get<std::string>();
        const char* end = text.data() + text.size();
        const auto [ptr, ec] = std::from_chars(text.data(), end, tag);
        if (!text.empty() && ec == std::errc{} && ptr == end && std::isdigit(static_cast<unsigned char>(text[0]))) {
            return true;
        }
    }
    errors.push_back("frameTag: expected a whole number 0 to 18446744073709551615, as a number or a decimal string");
    return false;
}

// ---- Writing ----

// The shortest digits that give the float back, so that 0.1f is written as
// 0.1 and not as the double nearest to it.
Json FloatValue(float value) {
    char digits[64];
    const auto written = std::to_chars(std::begin(digits), std::end(digits), value);
    double number = 0.0;
    std::from_chars(std::begin(digits), written.ptr, number);
    if (static_cast<float>(number) != value) {
        number = value;  // never seen in practice, but the float must come back
    }
    return number;
}

Json RectValue(const Rect& rect) {
    Json out = Json::object();
    out["left"] = FloatValue(rect.left);
    out["top"] = FloatValue(rect.top);
    out["right"] = FloatValue(rect.right);
    out["bottom"] = FloatValue(rect.bottom);
    return out;
}

std::string ColorText(const Color& color) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text = "#";
    for (std::uint8_t channel : {color.r, color.g, color.b, color.a}) {
        text += kHex[channel >> 4];
        text += kHex[channel & 15];
    }
    return text;
}

Json CommandValue(const Command& command) {
    Json out = Json::object();
    out["kind"] = std::string(KindName(command.kind));
    switch (command.kind) {
    case CommandKind::FillRect:
        out["rect"] = RectValue(command.rect);
        break;
    case CommandKind::StrokeRect:
        out["rect"] = RectValue(command.rect);
        out["strokeWidth"] = FloatValue(command.strokeWidth);
        break;
    case CommandKind::Line: {
        Json line = Json::object();
        line["x1"] = FloatValue(command.line.x1);
        line["y1"] = FloatValue(command.line.y1);
        line["x2"] = FloatValue(command.line.x2);
        line["y2"] = FloatValue(command.line.y2);
        out["line"] = line;
        out["strokeWidth"] = FloatValue(command.strokeWidth);
        break;
    }
    case CommandKind::Text:
        out["rect"] = RectValue(command.rect);
        out["fontSize"] = FloatValue(command.fontSize);
        out["fontWeight"] = command.fontWeight;
        if (command.alignment < kAlignmentNames.size()) {
            out["alignment"] = std::string(kAlignmentNames[command.alignment]);
        } else {
            out["alignment"] = command.alignment;
        }
        break;
    case CommandKind::RainbowCursor:
        break;
    }
    if (command.kind != CommandKind::RainbowCursor) {
        out["color"] = ColorText(command.color);
    }
    if (command.kind == CommandKind::Text) {
        out["text"] = command.text;
    }
    if ((command.flags & NormalizedX) != 0) {
        out["normalizedX"] = true;
    }
    return out;
}

std::string Scalar(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// Compact, but with the blanks a person would type.
std::string Inline(const Json& value) {
    std::string out;
    if (value.is_object()) {
        for (const auto& [key, member] : value.items()) {
            out += (out.empty() ? "{" : ", ") + Scalar(Json(key)) + ": " + Inline(member);
        }
        return out.empty() ? "{}" : out + "}";
    }
    if (value.is_array()) {
        for (const Json& member : value) {
            out += (out.empty() ? "[" : ", ") + Inline(member);
        }
        return out.empty() ? "[]" : out + "]";
    }
    return Scalar(value);
}

}  // namespace

bool SceneFromJson(std::string_view text, Scene& scene, std::vector<std::string>& errors) {
    scene = Scene{};
    errors.clear();

    Json root;
    try {
        DuplicateKeyWatch watch(errors);
        root = Json::parse(text.begin(), text.end(), std::ref(watch), /*allow_exceptions=*/true,
                           /*ignore_comments=*/true);
    } catch (const Json::exception& e) {
        errors.push_back(WithoutExceptionPrefix(e.what()));
        return false;
    }
    if (!root.is_object()) {
        errors.push_back("scene: expected an object with target, frameTag and commands, got " + TypeWithArticle(root));
        return false;
    }
    for (const auto& [key, member] : root.items()) {
        if (key != "target" && key != "frameTag" && key != "commands") {
            errors.push_back(key + ": unknown field; a scene has target, frameTag and commands");
        }
    }

    Scene read;
    ReadTarget(root, errors, read.target);
    ReadFrameTag(root, errors, read.frameTag);
    if (!root.contains("commands")) {
        errors.push_back("commands: missing field");
    } else if (const Json& commands = root.at("commands"); !commands.is_array()) {
        errors.push_back("commands: expected an array, got " + TypeWithArticle(commands));
    } else {
        read.commands.reserve(commands.size());
        for (std::size_t i = 0; i < commands.size(); ++i) {
            Command command;
            if (ReadCommand(commands[i], "commands[" + std::to_string(i) + "]", errors, command)) {
                read.commands.push_back(std::move(command));
            }
        }
    }
    if (!errors.empty()) {
        return false;
    }
    CheckSceneWithRenderer(read, errors);
    if (!errors.empty()) {
        return false;
    }
    scene = std::move(read);
    return true;
}

std::string SceneToJson(const Scene& scene) {
    std::string out = "{\n";
    out += "  \"target\": ";
    out += scene.target == MonitorTarget::Primary ? "\"primary\"" : "\"all\"";
    out += ",\n  \"frameTag\": ";
    out += scene.frameTag <= kLargestExactJsonInteger ? std::to_string(scene.frameTag)
                                                      : "\"" + std::to_string(scene.frameTag) + "\"";
    out += ",\n  \"commands\": [";
    for (std::size_t i = 0; i < scene.commands.size(); ++i) {
        out += i == 0 ? "\n    " : ",\n    ";
        out += Inline(CommandValue(scene.commands[i]));
    }
    out += scene.commands.empty() ? "]\n}\n" : "\n  ]\n}\n";
    return out;
}

std::string_view KindName(CommandKind kind) {
    for (const KindSpec& spec : KindSpecs()) {
        if (spec.kind == kind) {
            return spec.name;
        }
    }
    return {};
}

bool IsSceneFileName(const std::filesystem::path& path) {
    std::string extension = PathToUtf8(path.extension());
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".json";
}

bool ReadFileBytes(const std::filesystem::path& path, std::vector<std::uint8_t>& bytes, std::string& error) {
    bytes.clear();
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        error = "no such file";
        return false;
    }
    if (std::filesystem::is_directory(path, ec)) {
        error = "is a folder, not a file";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot be opened for reading";
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        bytes.clear();
        error = "could not be read to the end";
        return false;
    }
    return true;
}

bool WriteFileAtomically(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes,
                         std::string& error) {
    std::filesystem::path temporary = path;
    temporary += ".partial";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) {
            error = "cannot be created";
            return false;
        }
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            std::error_code ignored;
            std::filesystem::remove(temporary, ignored);
            error = "could not be written in full";
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(temporary, path, ec);
    if (ec) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        error = "cannot be replaced: " + ec.message();
        return false;
    }
    return true;
}

bool LoadFrame(const std::filesystem::path& path, std::vector<std::uint8_t>& frame, std::vector<std::string>& errors) {
    frame.clear();
    errors.clear();
    std::vector<std::uint8_t> bytes;
    std::string error;
    if (!ReadFileBytes(path, bytes, error)) {
        errors.push_back(error);
        return false;
    }
    if (!IsSceneFileName(path)) {
        frame = std::move(bytes);
        return true;
    }
    Scene scene;
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (!SceneFromJson(text, scene, errors)) {
        return false;
    }
    if (!overlay::EncodeScene(scene, frame, error)) {
        errors.push_back("scene: " + error);  // SceneFromJson has asked the encoder already
        return false;
    }
    return true;
}

FrameSummary SummarizeFrame(const std::vector<std::uint8_t>& frame) {
    auto u32 = [&frame](std::size_t at) {
        return static_cast<std::uint32_t>(frame[at]) | (static_cast<std::uint32_t>(frame[at + 1]) << 8) |
               (static_cast<std::uint32_t>(frame[at + 2]) << 16) | (static_cast<std::uint32_t>(frame[at + 3]) << 24);
    };
    FrameSummary summary;
    if (frame.size() < overlay::kFrameHeaderSize) {
        return summary;
    }
    const std::uint32_t count = u32(20);
    std::size_t at = overlay::kFrameHeaderSize;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (frame.size() - at < overlay::kCommandHeaderSize) {
            break;  // only accepted frames are summarized; this guards the walk anyway
        }
        const unsigned kind = frame[at] | (frame[at + 1] << 8);
        const std::uint32_t length = u32(at + 4);
        if (length < overlay::kCommandHeaderSize || length > frame.size() - at) {
            break;
        }
        if (kind >= 1 && kind <= 5) {
            ++summary.byKind[kind];
        } else {
            ++summary.skipped;
        }
        at += length;
    }
    return summary;
}

std::string DescribeSummary(const FrameSummary& summary) {
    std::uint32_t total = 0;
    std::string kinds;
    for (unsigned kind = 1; kind <= 5; ++kind) {
        if (summary.byKind[kind] == 0) {
            continue;
        }
        total += summary.byKind[kind];
        kinds += kinds.empty() ? " (" : ", ";
        kinds += std::string(KindName(static_cast<CommandKind>(kind))) + " " + std::to_string(summary.byKind[kind]);
    }
    std::string text = std::to_string(total) + (total == 1 ? " command" : " commands");
    if (!kinds.empty()) {
        text += kinds + ")";
    }
    return text + ", " + std::to_string(summary.skipped) + " skipped";
}

std::filesystem::path PathFromUtf8(std::string_view text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string PathToUtf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace vorlune::scenefile
