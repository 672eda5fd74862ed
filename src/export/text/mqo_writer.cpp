#include "export/text/mqo_writer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <new>
#include <string>

#include "export/object_walk.h"
#include "export/output_file.h"
#include "export/text/recent_texts.h"
#include "export/text/text_pieces.h"
#include "export/texture_export.h"

namespace morvex {

// Two tabs, three numbers with a blank between, CR LF.
constexpr std::size_t kMaxMqoVertexLine = 2 + 3 * kMaxFloatFixed + 2 + 2;

void WriteMqoVertices(LineWriter& doc, const MeshData& mesh, std::int32_t begin, std::int32_t end) {
    for (std::int32_t k = begin; k < end; ++k) {
        const std::array<float, 3> p = Upright(mesh.PositionAt(k));
        doc.Line(kMaxMqoVertexLine).Str("\t\t").Fixed(p[0], 4).Char(' ').Fixed(p[1], 4);
        doc.Char(' ').Fixed(p[2], 4).EndLine();
    }
}

namespace {

// The texture coordinates of a corner: "u v", 5 decimals each.
constexpr std::size_t kMaxTexCoords = 2 * kMaxFloatFixed + 1;
// They are kept while each is below 10^9 in size (a sign, 10 digits, the point and 5 decimals:
// 17 bytes).
constexpr std::size_t kTexCoordText = 40;
static_assert(2 * 17 + 1 <= kTexCoordText);
using TexCoordTexts = RecentTexts<kTexCoordText, 4096>;

bool Short(float value) {
    return !(std::fabs(value) >= 1e9f);  // a NaN prints short too
}

std::size_t MakeTexCoords(char* text, const std::array<float, 2>& uv) {
    std::size_t length = FormatFixed(text, uv[0], 5);
    text[length++] = ' ';
    return length + FormatFixed(text + length, uv[1], 5);
}

}  // namespace

// "\t\t3 V(a b c) M(m) UV(" with three indices and the Material index, three corners' texture
// coordinates with a blank between, ")" and CR LF.
constexpr std::size_t kMaxMqoFaceLine =
    6 + 3 * kMaxIntText + 2 + 4 + kMaxIntText + 5 + 3 * kMaxTexCoords + 2 + 1 + 2;

void WriteMqoFaces(LineWriter& doc, const MeshData& mesh, std::int32_t materialIndex,
                   std::int32_t begin, std::int32_t end) {
    // The texts of one call belong to one mesh: keys of another call never match them.
    thread_local std::uint64_t calls = 0;
    const std::uint64_t call = ++calls << 32;
    TexCoordTexts& recent = TexCoordTexts::ForThisThread();
    for (std::int32_t t = begin; t < end; ++t) {
        const auto f = mesh.FaceAt(t);
        doc.Line(kMaxMqoFaceLine).Str("\t\t3 V(").Int(f[0]).Char(' ').Int(f[1]).Char(' ').Int(f[2]);
        doc.Str(") M(").Int(materialIndex).Str(") UV(");
        for (std::size_t c = 0; c < 3; ++c) {
            const auto uv = mesh.TexCoordAt(static_cast<std::int32_t>(f[c]));
            if (c > 0) doc.Char(' ');
            if (Short(uv[0]) && Short(uv[1])) [[likely]] {
                const TexCoordTexts::Text& text = recent.Find(
                    call | f[c], f[c], [&](char* bytes) { return MakeTexCoords(bytes, uv); });
                doc.Copied<kTexCoordText, kMaxTexCoords>(text.bytes, text.length);
            } else {
                doc.Fixed(uv[0], 5).Char(' ').Fixed(uv[1], 5);
            }
        }
        doc.Char(')').EndLine();
    }
}

namespace {

enum Kind : int { kVertices, kFaces, kNoLines };

std::size_t MaxLine(int kind) {
    return kind == kFaces ? kMaxMqoFaceLine : kMaxMqoVertexLine;
}

void FormatLines(LineWriter& doc, const LineSegment& segment) {
    if (segment.kind == kVertices) {
        WriteMqoVertices(doc, segment.mesh, segment.begin, segment.end);
    } else if (segment.kind == kFaces) {
        WriteMqoFaces(doc, segment.mesh, segment.material, segment.begin, segment.end);
    }
}

// The document of one object, opened: writes it whole. The material list and the meshes'
// decoding go in order; the meshes' lines are formatted in pieces, in parallel, and written in
// order.
void WriteDocument(Console& console, ModelObject& object, NameForm form, TextureFormat textures,
                   OutputFile& file) {
    TextWriter doc(file);
    doc.Str("Metasequoia Document\r\nFormat Text Ver 1.0\r\n\r\n");
    const MaterialBlock& materials = object.materials;
    // Only records that lie in the decoded table are listed, so the count always matches.
    const auto records = static_cast<std::int64_t>(materials.TableSize() / kMaterialRecordSize);
    const auto count =
        static_cast<std::int32_t>(std::clamp<std::int64_t>(materials.Count(), 0, records));
    doc.Str("Material ").Int(count).Str(" {\r\n");
    for (std::int32_t j = 0; j < count; ++j) {
        doc.Str("\t\"")
            .Str(TextName(materials.MaterialAt(j), form))
            .Str(
                "\" col(1.000 1.000 1.000 1.000) dif(1.000) amb(1.000) emi(0.000) spc(0.000) "
                "power(");
        doc.Fixed(PowerValue(materials.PowerAt(j)), 2).Char(')');
        if (materials.HasTexture(j)) {
            doc.Str(" tex(\"")
                .Str(TextureFileName(materials.TextureNameAt(j), textures, form))
                .Str("\")");
        }
        if (materials.HasAlphaMap(j)) {
            doc.Str(" aplane(\"")
                .Str(TextureFileName(materials.AlphaMapNameAt(j), textures, form))
                .Str("\")");
        }
        doc.EndLine();
    }
    doc.Str("}\r\n");

    MeshCursor cursor(console, object);
    auto next = [&](MeshPlan& plan) {
        std::int32_t i = 0, m = 0;
        if (!cursor.Next(i, m)) return false;
        const MeshData& mesh = object.vertices.Current();
        std::string head = "Object \"" + IntText(i, 2) + '_';
        head += TextName(materials.MaterialAt(m), form);
        head +=
            "\" {\r\n\tvisible 15\r\n\tshading 1\r\n\tcolor 1.000 1.000 1.000\r\n\tcolor_type "
            "0\r\n";
        head += "\tvertex " + IntText(mesh.vertexCount) + " {\r\n";
        plan.stages.clear();
        plan.stages.push_back({std::move(head), kVertices, mesh.vertexCount});
        plan.stages.push_back(
            {"\t}\r\n\tface " + IntText(mesh.faceCount) + " {\r\n", kFaces, mesh.faceCount});
        plan.stages.push_back({"\t}\r\n}\r\n", kNoLines, 0});
        plan.mesh = mesh;
        plan.hold = object.vertices.HoldCurrent();
        plan.material = m;
        return true;
    };
    WriteInPieces(file, "", next, MaxLine, FormatLines);
}

}  // namespace

void ExportMqo(const Model& model, Console& console, std::string_view destPath,
               TextureFormat textures, const platform::Folder* folder) {
    int number = 0;
    WalkObjects(model, console, [&](ModelObject& object) {
        OutputFile file(
            ObjectFileStem(destPath, model.baseName, number, object.name, model.names.files) +
                ".mqo",
            folder);
        if (OpenOutput(console, file) != Outcome::Ok) return true;
        console.Written(file.Path());
        // The one place where writing an object runs out of memory: its file is dropped.
        try {
            WriteDocument(console, object, model.names.text, textures, file);
        } catch (const std::bad_alloc&) {
            FailOutput(console, file);
            ++number;
            return true;
        }
        CloseOutput(console, file);
        ++number;
        return true;
    });
}

}  // namespace morvex
