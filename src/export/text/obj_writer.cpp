#include "export/text/obj_writer.h"

#include <array>
#include <cstring>
#include <new>
#include <string>

#include "export/object_walk.h"
#include "export/output_file.h"
#include "export/text/recent_texts.h"
#include "export/text/text_pieces.h"
#include "export/texture_export.h"

namespace morvex {
namespace {

constexpr std::string_view kHeader = "# exported with morvex\r\n";

// The kinds of lines of the OBJ file's pieces: the three ObjVertexLines, then faces.
constexpr int kPositions = static_cast<int>(ObjVertexLines::Positions);
constexpr int kTexCoords = static_cast<int>(ObjVertexLines::TexCoords);
constexpr int kNormals = static_cast<int>(ObjVertexLines::Normals);
constexpr int kFaces = kNormals + 1;

// The material name of mesh i: "NN_<name of its Material>".
std::string MeshName(std::int32_t mesh, const MaterialBlock& materials, std::int32_t m,
                     NameForm form) {
    std::string name = IntText(mesh, 2);
    name += '_';
    name += TextName(materials.MaterialAt(m), form);
    return name;
}

void WriteMtlEntry(TextWriter& mtl, const std::string& name, const MaterialBlock& materials,
                   std::int32_t m, TextureFormat textures, NameForm form) {
    mtl.EndLine();
    mtl.Str("newmtl ").Str(name).EndLine();
    mtl.Str("Ka 1.000000 1.000000 1.000000\r\n");
    mtl.Str("Kd 1.000000 1.000000 1.000000\r\n");
    mtl.Str("Ks 0.000000 0.000000 0.000000\r\n");
    mtl.Str("d 1.000000\r\n");
    mtl.Str("Ns ").Fixed(PowerValue(materials.PowerAt(m)), 6).EndLine();
    if (materials.HasTexture(m)) {
        mtl.Str("map_Kd ")
            .Str(TextureFileName(materials.TextureNameAt(m), textures, form))
            .EndLine();
    }
    if (materials.HasAlphaMap(m)) {
        mtl.Str("map_d ")
            .Str(TextureFileName(materials.AlphaMapNameAt(m), textures, form))
            .EndLine();
    }
}

}  // namespace

// "v x y z", "vt u v" and "vn x y z": the longest keyword, three numbers with a blank between,
// CR LF.
constexpr std::size_t kMaxObjVertexLine = 3 + 3 * kMaxFloatFixed + 2 + 2;

namespace {

// A "v" or "vn" line: the vector after the axis change, 6 decimals each.
void WriteVectorLine(LineWriter& obj, std::string_view keyword, const std::array<float, 3>& v) {
    const std::array<float, 3> u = Upright(v);
    obj.Line(kMaxObjVertexLine).Str(keyword).Fixed(u[0], 6).Char(' ').Fixed(u[1], 6);
    obj.Char(' ').Fixed(u[2], 6).EndLine();
}

std::size_t MaxLine(int kind) {
    return kind == kFaces ? kMaxObjFaceLine : kMaxObjVertexLine;
}

void FormatLines(LineWriter& obj, const LineSegment& segment) {
    if (segment.kind == kFaces) {
        WriteObjFaces(obj, segment.mesh, segment.base, segment.begin, segment.end);
    } else {
        WriteObjVertices(obj, segment.mesh, static_cast<ObjVertexLines>(segment.kind),
                         segment.begin, segment.end);
    }
}

// The OBJ and MTL files of one object, opened: writes them whole. The meshes are decoded, and
// their MTL entries written, in order; their OBJ lines are formatted in pieces, in parallel, and
// written in order.
void WriteObject(const Model& model, Console& console, ModelObject& object, int number,
                 TextureFormat textures, OutputFile& objFile, OutputFile& mtlFile) {
    TextWriter mtl(mtlFile);
    mtl.Str(kHeader);
    std::string head(kHeader);
    head += "\r\nmtllib ";
    const NameForm form = model.names.text;
    head += ObjectFileStem("", model.baseName, number, object.name, form);
    head += ".mtl\r\n\r\no ";
    head += TextName(model.baseName, form);
    head += "\r\n";

    MeshCursor cursor(console, object);
    std::int64_t vertexBase = 0;
    auto next = [&](MeshPlan& plan) {
        std::int32_t i = 0, m = 0;
        if (!cursor.Next(i, m)) return false;
        const std::string name = MeshName(i, object.materials, m, form);
        WriteMtlEntry(mtl, name, object.materials, m, textures, form);
        const MeshData& mesh = object.vertices.Current();
        plan.stages.clear();
        plan.stages.push_back(
            {"\r\ng " + name + "\r\nusemtl " + name + "\r\n", kPositions, mesh.vertexCount});
        plan.stages.push_back({"", kTexCoords, mesh.vertexCount});
        if (mesh.HasNormals()) plan.stages.push_back({"", kNormals, mesh.vertexCount});
        plan.stages.push_back({"", kFaces, mesh.faceCount});
        plan.mesh = mesh;
        plan.hold = object.vertices.HoldCurrent();
        plan.base = vertexBase;
        vertexBase += mesh.vertexCount;
        return true;
    };
    WriteInPieces(objFile, std::move(head), next, MaxLine, FormatLines);
}

}  // namespace

void WriteObjVertices(LineWriter& obj, const MeshData& mesh, ObjVertexLines lines,
                      std::int32_t begin, std::int32_t end) {
    switch (lines) {
        case ObjVertexLines::Positions:
            for (std::int32_t k = begin; k < end; ++k) {
                WriteVectorLine(obj, "v ", mesh.PositionAt(k));
            }
            break;
        case ObjVertexLines::TexCoords:
            for (std::int32_t k = begin; k < end; ++k) {
                const auto t = mesh.TexCoordAt(k);
                obj.Line(kMaxObjVertexLine).Str("vt ").Fixed(t[0], 6).Char(' ');
                obj.Fixed(1.0 - static_cast<double>(t[1]), 6).EndLine();
            }
            break;
        case ObjVertexLines::Normals:
            for (std::int32_t k = begin; k < end; ++k) {
                WriteVectorLine(obj, "vn ", mesh.NormalAt(k));
            }
            break;
    }
}

namespace {

// A corner of an "f" line: " i/i/i", or " i/i" without normals.
constexpr std::size_t kMaxCorner = 1 + 3 * kMaxIntText + 2;
// Corner texts are kept for indices below this (7 digits).
constexpr std::int64_t kCachedCorners = 10'000'000;
constexpr std::size_t kCornerText = 24;
static_assert(1 + 3 * 7 + 2 <= kCornerText);
using CornerTexts = RecentTexts<kCornerText, 4096>;

std::size_t MakeCorner(char* text, std::int64_t index, bool normals) {
    char digits[kMaxIntText] = {};
    const std::size_t length = FormatInt(digits, index);
    char* at = text;
    *at++ = ' ';
    for (int k = 0; k < (normals ? 3 : 2); ++k) {
        if (k > 0) *at++ = '/';
        std::memcpy(at, digits, length);
        at += length;
    }
    return static_cast<std::size_t>(at - text);
}

}  // namespace

// "f" and three corners, CR LF.
constexpr std::size_t kMaxObjFaceLine = 1 + 3 * kMaxCorner + 2;

void WriteObjFaces(LineWriter& obj, const MeshData& mesh, std::int64_t vertexBase,
                   std::int32_t begin, std::int32_t end) {
    const bool normals = mesh.HasNormals();
    CornerTexts& recent = CornerTexts::ForThisThread();
    for (std::int32_t t = begin; t < end; ++t) {
        const auto f = mesh.FaceAt(t);
        const std::int64_t corners[3] = {f[0] + vertexBase + 1, f[2] + vertexBase + 1,
                                         f[1] + vertexBase + 1};
        obj.Line(kMaxObjFaceLine).Char('f');
        for (std::int64_t c : corners) {
            if (c < kCachedCorners) [[likely]] {
                const auto key = static_cast<std::uint64_t>(2 * c + (normals ? 1 : 0));
                const CornerTexts::Text& text =
                    recent.Find(key, static_cast<std::uint64_t>(c),
                                [&](char* bytes) { return MakeCorner(bytes, c, normals); });
                obj.Copied<kCornerText, kMaxCorner>(text.bytes, text.length);
                continue;
            }
            // One index serves for position, texture coordinate and normal: format it once.
            char digits[kMaxIntText] = {};
            const std::size_t length = FormatInt(digits, c);
            obj.Char(' ').Digits(digits, length).Char('/').Digits(digits, length);
            if (normals) obj.Char('/').Digits(digits, length);
        }
        obj.EndLine();
    }
}

void ExportObj(const Model& model, Console& console, std::string_view destPath,
               TextureFormat textures, const platform::Folder* folder) {
    int number = 0;
    WalkObjects(model, console, [&](ModelObject& object) {
        const std::string stem =
            ObjectFileStem(destPath, model.baseName, number, object.name, model.names.files);
        OutputFile objFile(stem + ".obj", folder), mtlFile(stem + ".mtl", folder);
        if (OpenOutput(console, objFile) != Outcome::Ok) return true;
        if (OpenOutput(console, mtlFile) != Outcome::Ok) {
            // Nothing of the object is kept, and its number goes to the next one.
            objFile.Remove();
            return true;
        }
        console.Written(objFile.Path());
        console.Written(mtlFile.Path());
        // The one place where writing an object runs out of memory: both files are dropped.
        try {
            WriteObject(model, console, object, number, textures, objFile, mtlFile);
        } catch (const std::bad_alloc&) {
            FailOutput(console, objFile);
            FailOutput(console, mtlFile);
            ++number;
            return true;
        }
        // Both files appear, the MTL first, or neither: an OBJ is never seen without its MTL.
        CloseOutputs(console, objFile, mtlFile);
        ++number;
        return true;
    });
}

}  // namespace morvex
