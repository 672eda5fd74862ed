// The text and JSON forms of the inspect report.
#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "export/object_walk.h"
#include "inspect/report.h"
#include "it3/console.h"
#include "it3/names.h"

namespace morvex {
namespace {

using Json = nlohmann::ordered_json;

// Text built in parts of about 64 KiB and joined once at the end: a long report costs twice its
// length at the peak, where a string grown by doubling costs up to three times.
class TextParts {
  public:
    // The string to append to: a part with room for a line or two more, so that a part is
    // never grown by doubling.
    std::string& Tail() {
        if (tail_.size() >= kPart) {
            parts_.push_back(std::move(tail_));
            tail_ = std::string();
        }
        if (tail_.capacity() < kPart + kRoom) tail_.reserve(kPart + kRoom);
        return tail_;
    }
    std::string Take() {
        if (parts_.empty()) return std::move(tail_);
        std::size_t total = tail_.size();
        for (const std::string& part : parts_) total += part.size();
        std::string joined;
        joined.reserve(total);
        for (std::string& part : parts_) {
            joined += part;
            std::string().swap(part);
        }
        joined += tail_;
        parts_.clear();
        tail_.clear();
        return joined;
    }

  private:
    static constexpr std::size_t kPart = 64 << 10;
    static constexpr std::size_t kRoom = 4 << 10;
    std::vector<std::string> parts_;
    std::string tail_;
};

class Text {
  public:
    Text& operator()(const char* format, ...) MORVEX_PRINTF_FORMAT(2, 3) {
        std::va_list args;
        va_start(args, format);
        char small[512];
        std::va_list again;
        va_copy(again, args);
        const int length = std::vsnprintf(small, sizeof small, format, args);
        std::string& out = out_.Tail();
        if (length > 0 && static_cast<std::size_t>(length) < sizeof small) {
            out.append(small, static_cast<std::size_t>(length));
        } else if (length > 0) {
            const std::size_t at = out.size();
            out.resize(at + static_cast<std::size_t>(length) + 1);
            std::vsnprintf(out.data() + at, static_cast<std::size_t>(length) + 1, format, again);
            out.pop_back();
        }
        va_end(again);
        va_end(args);
        return *this;
    }
    std::string Take() { return out_.Take(); }

  private:
    TextParts out_;
};

// A name as messages show it, quoted so that empty names and blanks stay visible.
std::string Shown(const std::string& name) {
    std::string shown = "\"";
    shown += ConsoleName(name);
    shown += '"';
    return shown;
}

const char* Plural(std::int64_t n, const char* one, const char* many) {
    return n == 1 ? one : many;
}

void TextMaterials(Text& text, const ObjectReport& object) {
    text("    materials: %zu\n", object.materials.size());
    for (const MaterialReport& m : object.materials) {
        text("      %d %s", static_cast<int>(m.index), Shown(m.name).c_str());
        if (!m.texture.empty()) {
            text(", texture %s%s", Shown(m.texture).c_str(), m.textureFound ? "" : " (missing)");
        }
        if (!m.alphaMap.empty()) {
            text(", alpha map %s%s", Shown(m.alphaMap).c_str(),
                 m.alphaMapFound ? "" : " (missing)");
        }
        // The text outputs write the power truncated (and glTF's roughness comes from that).
        const double written = PowerValue(m.power);
        if (written == static_cast<double>(m.power)) {
            text(", power %g\n", written);
        } else {
            text(", power %g (written as %g)\n", static_cast<double>(m.power), written);
        }
    }
}

void TextMeshes(Text& text, const ObjectReport& object) {
    text("    meshes: %d stored, %zu located\n", static_cast<int>(object.meshCount),
         object.meshes.size());
    for (const MeshReport& mesh : object.meshes) {
        if (!mesh.written) {
            text("      %d skipped\n", static_cast<int>(mesh.index));
            continue;
        }
        text("      %d: %d %s, %d %s, material %d %s\n", static_cast<int>(mesh.index),
             static_cast<int>(mesh.vertices), Plural(mesh.vertices, "vertex", "vertices"),
             static_cast<int>(mesh.triangles), Plural(mesh.triangles, "triangle", "triangles"),
             static_cast<int>(mesh.material), Shown(mesh.materialName).c_str());
    }
}

void TextFiles(Text& text, const char* label, const std::vector<std::string>& files) {
    text("  %s:", label);
    for (const std::string& file : files) text(" %s", ConsoleName(file).c_str());
    text("\n");
}

}  // namespace

std::string ReportText(const ModelReport& report) {
    Text text;
    text("Model : %s\n", ConsoleName(report.path).c_str());
    if (!report.error.empty()) {
        text("Error : %s\n", ConsoleName(report.error).c_str());
        return text.Take();
    }
    text("File: %" PRId64 " bytes, %" PRId64 " blocks\n", report.size, report.blocks);
    text("Objects: %zu\n", report.objects.size());
    for (const ObjectReport& object : report.objects) {
        text("  %d %s: ", static_cast<int>(object.index), Shown(object.name).c_str());
        if (object.written) {
            text("written");
        } else {
            text("not written (%.*s)", static_cast<int>(object.skipped.size()),
                 object.skipped.data());
        }
        text(", material block %s, vertex block %s\n",
             object.materialTag.empty() ? "none" : ConsoleName(object.materialTag).c_str(),
             object.vertexTag.empty() ? "none" : ConsoleName(object.vertexTag).c_str());
        if (!object.written) continue;
        TextMaterials(text, object);
        TextMeshes(text, object);
    }
    text("Textures: %zu\n", report.textures.size());
    for (const TextureReport& t : report.textures) {
        text("  %s: ", Shown(t.name).c_str());
        if (t.format) {
            text("format %d", static_cast<int>(*t.format));
        } else {
            text("no format code");
        }
        if (t.width != 0 || t.height != 0) {
            text(", %d x %d", static_cast<int>(t.width), static_cast<int>(t.height));
        }
        if (t.converts) {
            text(", converts to %s\n", ConsoleName(t.file).c_str());
        } else {
            text(", does not convert (%s)\n", t.problem.c_str());
        }
    }
    text("Missing textures: %zu\n", report.missingTextures.size());
    for (const MissingTexture& m : report.missingTextures) {
        text("  %s %s of material %s in object %s: no texture of that name\n",
             m.alphaMap ? "alpha map" : "texture", Shown(m.name).c_str(), Shown(m.material).c_str(),
             Shown(m.object).c_str());
    }
    text("Unknown blocks: %" PRId64 "\n", report.totals.unknownBlocks);
    for (const UnknownBlock& u : report.unknownBlocks) {
        text("  %s (0x%08X) at offset %" PRId64 "\n", ConsoleName(u.tag).c_str(), u.value,
             u.offset);
    }
    const auto listed = static_cast<std::int64_t>(report.unknownBlocks.size());
    if (report.totals.unknownBlocks > listed) {
        text("  and %" PRId64 " more\n", report.totals.unknownBlocks - listed);
    }
    if (report.brokenBlock) {
        text("Broken block: at offset %" PRId64 " (the blocks behind it are not read)\n",
             *report.brokenBlock);
    }
    if (!report.warnings.empty()) {
        text("Warnings: %zu\n", report.warnings.size());
        for (const std::string& w : report.warnings) text("  %s\n", ConsoleName(w).c_str());
    }
    if (report.boundsMin) {
        const auto& lo = *report.boundsMin;
        const auto& hi = *report.boundsMax;
        text("Bounding box (as stored, z up): (%g, %g, %g) to (%g, %g, %g)\n",
             static_cast<double>(lo[0]), static_cast<double>(lo[1]), static_cast<double>(lo[2]),
             static_cast<double>(hi[0]), static_cast<double>(hi[1]), static_cast<double>(hi[2]));
    } else {
        text("Bounding box: none (no vertices)\n");
    }
    text("Files a conversion writes:\n");
    TextFiles(text, "OBJ (default)", report.objFiles);
    TextFiles(text, "-m", report.mqoFiles);
    text("  -g: %s\n", ConsoleName(report.gltfFile).c_str());
    const ReportTotals& t = report.totals;
    text("Totals: %" PRId64 " objects (%" PRId64 " written), %" PRId64 " meshes (%" PRId64
         " written), %" PRId64 " vertices, %" PRId64 " triangles, %" PRId64 " materials, %" PRId64
         " textures (%" PRId64 " convert), %" PRId64 " missing textures, %" PRId64
         " unknown blocks%s\n",
         t.objects, t.objectsWritten, t.meshes, t.meshesWritten, t.vertices, t.triangles,
         t.materials, t.textures, t.texturesConverting, t.missingTextures, t.unknownBlocks,
         report.brokenBlock ? ", 1 broken block" : "");
    return text.Take();
}

namespace {

// Every text of a report as UTF-8: names that are not are decoded from code page 932.
void DecodeTexts(Json& json) {
    if (json.is_string()) {
        std::string& text = json.get_ref<std::string&>();
        if (!IsUtf8(text)) text = DecodeName(text, Undecodable::Replace);
    } else if (json.is_structured()) {
        for (Json& member : json) DecodeTexts(member);
    }
}

// The bytes of a path in base64 (RFC 4648, padded): a name the JSON text shows with U+FFFD
// (neither UTF-8 nor code page 932) can still be opened.
std::string Base64(std::string_view bytes) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t k = 0; k < bytes.size(); k += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - k);
        std::uint32_t group = 0;
        for (std::size_t b = 0; b < 3; ++b) {
            group = (group << 8) | (b < n ? static_cast<unsigned char>(bytes[k + b]) : 0u);
        }
        for (std::size_t d = 0; d < 4; ++d) {
            text += d <= n ? kDigits[(group >> (18 - 6 * d)) & 63] : '=';
        }
    }
    return text;
}

// A path as text under `key` and as its exact bytes under `key` + "Bytes".
void SetPath(Json& j, const std::string& key, const std::string& path) {
    j[key] = path;
    j[key + "Bytes"] = Base64(path);
}

void SetPaths(Json& j, const std::string& key, const std::vector<std::string>& paths) {
    j[key] = paths;
    Json bytes = Json::array();
    for (const std::string& path : paths) bytes.push_back(Base64(path));
    j[key + "Bytes"] = std::move(bytes);
}

// A name or null for none.
Json NameOrNull(const std::string& name) {
    return name.empty() ? Json(nullptr) : Json(name);
}

// Non-finite floats have no JSON form: null. A float is written as its shortest decimal form
// (30.7, not the 30.700000762939453 of its double value).
Json Number(float value) {
    if (!std::isfinite(value)) return Json(nullptr);
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    if (error != std::errc()) return Json(static_cast<double>(value));
    *end = '\0';
    return Json(std::strtod(text, nullptr));
}

Json ObjectJson(const ObjectReport& object) {
    Json o;
    o["index"] = object.index;
    o["block"] = object.block;
    o["name"] = object.name;
    o["written"] = object.written;
    o["skipped"] = NameOrNull(std::string(object.skipped));
    o["materialTag"] = NameOrNull(object.materialTag);
    o["vertexTag"] = NameOrNull(object.vertexTag);
    o["meshCount"] = object.meshCount;
    Json materials = Json::array();
    for (const MaterialReport& m : object.materials) {
        Json j;
        j["index"] = m.index;
        j["name"] = m.name;
        j["texture"] = NameOrNull(m.texture);
        j["textureFound"] = m.texture.empty() ? Json(nullptr) : Json(m.textureFound);
        j["alphaMap"] = NameOrNull(m.alphaMap);
        j["alphaMapFound"] = m.alphaMap.empty() ? Json(nullptr) : Json(m.alphaMapFound);
        j["power"] = Number(m.power);
        j["powerWritten"] = PowerValue(m.power);
        materials.push_back(std::move(j));
    }
    o["materials"] = std::move(materials);
    Json meshes = Json::array();
    for (const MeshReport& mesh : object.meshes) {
        Json j;
        j["index"] = mesh.index;
        j["written"] = mesh.written;
        if (mesh.written) {
            j["vertices"] = mesh.vertices;
            j["triangles"] = mesh.triangles;
            j["material"] = mesh.material;
            j["materialName"] = mesh.materialName;
        }
        meshes.push_back(std::move(j));
    }
    o["meshes"] = std::move(meshes);
    SetPaths(o, "files", object.files);
    o["mqoFile"] = NameOrNull(object.mqoFile);
    o["mqoFileBytes"] = object.mqoFile.empty() ? Json(nullptr) : Json(Base64(object.mqoFile));
    o["packable"] = object.written && object.packProblem.empty();
    o["packProblem"] = object.written ? NameOrNull(object.packProblem) : Json("not written");
    o["packMeshVertices"] = object.written ? Json(object.packMeshVertices) : Json(nullptr);
    return o;
}

// The JSON text of an object written member by member, laid out as Json::dump(2) lays out the
// whole: a large report is never held as one Json tree (which costs several times its text), only
// one element of an array at a time. `depth` is the object's nesting in the document.
class JsonDocument {
  public:
    explicit JsonDocument(std::size_t depth = 0) : depth_(depth) {}

    std::string Take() {
        if (members_ == 0) return "{}";
        Line(depth_);
        out_.Tail() += '}';
        return out_.Take();
    }
    // Texts that are not UTF-8 are decoded (DecodeTexts) on the way.
    void Member(std::string_view key, Json value) {
        Key(key);
        Append(Dumped(std::move(value)), depth_ + 1);
    }
    // A path as its text and, under key + "Bytes", its bytes in base64 (as SetPath).
    void Path(std::string_view key, const std::string& path) {
        Member(key, path);
        Member(std::string(key) + "Bytes", Base64(path));
    }
    // A list of paths the same way (as SetPaths), element by element.
    void Paths(std::string_view key, const std::vector<std::string>& paths) {
        Array(key, paths.size(), [&](std::size_t k) { return Json(paths[k]); });
        Array(std::string(key) + "Bytes", paths.size(),
              [&](std::size_t k) { return Json(Base64(paths[k])); });
    }
    // A member whose value is an object made with JsonDocument(depth + 1).
    void Raw(std::string_view key, const std::string& text) {
        Key(key);
        out_.Tail() += text;
    }
    // An array member whose elements `element(k)` makes one at a time.
    template <class Element>
    void Array(std::string_view key, std::size_t count, Element&& element) {
        Key(key);
        if (count == 0) {
            out_.Tail() += "[]";
            return;
        }
        out_.Tail() += '[';
        for (std::size_t k = 0; k < count; ++k) {
            if (k > 0) out_.Tail() += ',';
            Line(depth_ + 2);
            Append(Dumped(element(k)), depth_ + 2);
        }
        Line(depth_ + 1);
        out_.Tail() += ']';
    }

  private:
    static std::string Dumped(Json value) {
        DecodeTexts(value);
        return value.dump(2, ' ', false, Json::error_handler_t::replace);
    }
    void Line(std::size_t depth) {
        std::string& out = out_.Tail();
        out += '\n';
        out.append(2 * depth, ' ');
    }
    void Key(std::string_view key) {
        out_.Tail() += members_++ == 0 ? '{' : ',';
        Line(depth_ + 1);
        std::string& out = out_.Tail();
        out += '"';
        out += key;
        out += "\": ";
    }
    // The text of a value dumped on its own, moved `depth` levels down.
    void Append(const std::string& text, std::size_t depth) {
        std::size_t start = 0;
        for (std::size_t end = text.find('\n'); end != std::string::npos;
             start = end + 1, end = text.find('\n', start)) {
            out_.Tail().append(text, start, end - start);
            Line(depth);
        }
        out_.Tail().append(text, start);
    }

    std::size_t depth_;
    TextParts out_;
    int members_ = 0;
};

}  // namespace

std::string ReportJson(const ModelReport& report) {
    if (!report.error.empty()) {
        Json j;
        SetPath(j, "file", report.path);
        j["error"] = report.error;
        DecodeTexts(j);
        return j.dump(2, ' ', false, Json::error_handler_t::replace);
    }
    JsonDocument j;
    j.Path("file", report.path);
    j.Member("size", report.size);
    j.Member("blocks", report.blocks);
    j.Array("objects", report.objects.size(),
            [&](std::size_t k) { return ObjectJson(report.objects[k]); });
    j.Array("textures", report.textures.size(), [&](std::size_t k) {
        const TextureReport& t = report.textures[k];
        Json e;
        e["block"] = t.block;
        e["name"] = t.name;
        e["format"] = t.format ? Json(*t.format) : Json(nullptr);
        e["width"] = t.width;
        e["height"] = t.height;
        e["converts"] = t.converts;
        e["problem"] = NameOrNull(t.problem);
        SetPath(e, "file", t.file);
        e["packable"] = t.converts;
        return e;
    });
    j.Array("missingTextures", report.missingTextures.size(), [&](std::size_t k) {
        const MissingTexture& m = report.missingTextures[k];
        return Json{{"object", m.object},
                    {"material", m.material},
                    {"kind", m.alphaMap ? "alphaMap" : "texture"},
                    {"name", m.name}};
    });
    j.Array("unknownBlocks", report.unknownBlocks.size(), [&](std::size_t k) {
        const UnknownBlock& u = report.unknownBlocks[k];
        char value[16];
        std::snprintf(value, sizeof value, "0x%08X", u.value);
        return Json{{"tag", u.tag}, {"value", value}, {"offset", u.offset}};
    });
    j.Member("brokenBlockOffset", report.brokenBlock ? Json(*report.brokenBlock) : Json(nullptr));
    j.Array("warnings", report.warnings.size(),
            [&](std::size_t k) { return Json(report.warnings[k]); });
    if (report.boundsMin) {
        Json lo = Json::array(), hi = Json::array();
        for (std::size_t k = 0; k < 3; ++k) {
            lo.push_back(Number((*report.boundsMin)[k]));
            hi.push_back(Number((*report.boundsMax)[k]));
        }
        j.Member("boundingBox", Json{{"min", lo}, {"max", hi}});
    } else {
        j.Member("boundingBox", nullptr);
    }
    // The file lists are as long as the objects: written name by name.
    JsonDocument outputs(1);
    outputs.Paths("obj", report.objFiles);
    outputs.Paths("mqo", report.mqoFiles);
    outputs.Path("gltf", report.gltfFile);
    j.Raw("outputs", outputs.Take());
    const ReportTotals& t = report.totals;
    j.Member("totals", Json{{"objects", t.objects},
                            {"objectsWritten", t.objectsWritten},
                            {"meshes", t.meshes},
                            {"meshesWritten", t.meshesWritten},
                            {"vertices", t.vertices},
                            {"triangles", t.triangles},
                            {"materials", t.materials},
                            {"textures", t.textures},
                            {"texturesConverting", t.texturesConverting},
                            {"missingTextures", t.missingTextures},
                            {"unknownBlocks", t.unknownBlocks}});
    return j.Take();
}

}  // namespace morvex
