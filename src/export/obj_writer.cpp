#include "export/obj_writer.h"

#include <array>
#include <new>
#include <string>

#include "export/object_walk.h"
#include "export/output_file.h"

namespace morvex {
namespace {

constexpr std::string_view kHeader = "# exported with morvex\r\n";

// The material name of mesh i: "NN_<name of its Material>".
void MeshName(TextWriter& out, std::int32_t mesh, const MaterialBlock& materials, std::int32_t m) {
    out.Int(mesh, 2).Char('_').Str(materials.MaterialAt(m));
}

void WriteMtlEntry(TextWriter& mtl, std::int32_t mesh, const MaterialBlock& materials,
                   std::int32_t m) {
    mtl.EndLine();
    mtl.Str("newmtl ");
    MeshName(mtl, mesh, materials, m);
    mtl.EndLine();
    mtl.Str("Ka 1.000000 1.000000 1.000000\r\n");
    mtl.Str("Kd 1.000000 1.000000 1.000000\r\n");
    mtl.Str("Ks 0.000000 0.000000 0.000000\r\n");
    mtl.Str("d 1.000000\r\n");
    mtl.Str("Ns ").Fixed(PowerValue(materials.PowerAt(m)), 6).EndLine();
    if (materials.HasTexture(m)) {
        mtl.Str("map_Kd ").Str(SafeName(materials.TextureNameAt(m))).Str(".bmp").EndLine();
    }
    if (materials.HasAlphaMap(m)) {
        mtl.Str("map_d ").Str(SafeName(materials.AlphaMapNameAt(m))).Str(".bmp").EndLine();
    }
}

// A "v" or "vn" line: the vector after the axis change, 6 decimals each.
void WriteVectorLine(TextWriter& obj, std::string_view keyword, const std::array<float, 3>& v) {
    const std::array<float, 3> u = Upright(v);
    obj.Str(keyword).Fixed(u[0], 6).Char(' ').Fixed(u[1], 6).Char(' ').Fixed(u[2], 6).EndLine();
}

// The OBJ and MTL files of one object, opened: writes them whole.
void WriteObject(const Model& model, Console& console, ModelObject& object, int number,
                 OutputFile& objFile, OutputFile& mtlFile) {
    TextWriter obj(objFile), mtl(mtlFile);
    obj.Str(kHeader);
    mtl.Str(kHeader);
    const std::string mtlName = ObjectFileStem("", model.baseName, number, object.name) + ".mtl";
    obj.EndLine().Str("mtllib ").Str(mtlName).EndLine();
    obj.EndLine().Str("o ").Str(model.baseName).EndLine();

    std::int64_t vertexBase = 0;
    WalkMeshes(console, object, [&](std::int32_t i, std::int32_t m) {
        WriteMtlEntry(mtl, i, object.materials, m);
        obj.EndLine().Str("g ");
        MeshName(obj, i, object.materials, m);
        obj.EndLine().Str("usemtl ");
        MeshName(obj, i, object.materials, m);
        obj.EndLine();
        const int n = WriteObjVertices(obj, object.vertices);
        WriteObjFaces(obj, object.vertices, vertexBase);
        vertexBase += n;
        return true;
    });
}

}  // namespace

int WriteObjVertices(TextWriter& obj, const VertexBlock& vertices) {
    const std::int32_t n = vertices.VertexCount();
    for (std::int32_t k = 0; k < n; ++k) WriteVectorLine(obj, "v ", vertices.PositionAt(k));
    for (std::int32_t k = 0; k < n; ++k) {
        const auto t = vertices.TexCoordAt(k);
        obj.Str("vt ").Fixed(t[0], 6).Char(' ').Fixed(1.0 - static_cast<double>(t[1]), 6).EndLine();
    }
    if (vertices.HasNormals()) {
        for (std::int32_t k = 0; k < n; ++k) WriteVectorLine(obj, "vn ", vertices.NormalAt(k));
    }
    return n;
}

int WriteObjFaces(TextWriter& obj, const VertexBlock& vertices, std::int64_t vertexBase) {
    const std::int32_t faces = vertices.FaceCount();
    const bool normals = vertices.HasNormals();
    for (std::int32_t t = 0; t < faces; ++t) {
        const auto f = vertices.FaceAt(t);
        const std::int64_t corners[3] = {f[0] + vertexBase + 1, f[2] + vertexBase + 1,
                                         f[1] + vertexBase + 1};
        obj.Str("f");
        // One index serves for position, texture coordinate and normal: format it once.
        for (std::int64_t c : corners) {
            char digits[32];
            const std::string_view number(digits, FormatInt(digits, c));
            obj.Char(' ').Str(number).Char('/').Str(number);
            if (normals) obj.Char('/').Str(number);
        }
        obj.EndLine();
    }
    return faces;
}

void ExportObj(const Model& model, Console& console, std::string_view destPath) {
    int number = 0;
    WalkObjects(model, console, [&](ModelObject& object) {
        const std::string stem = ObjectFileStem(destPath, model.baseName, number, object.name);
        OutputFile objFile(stem + ".obj"), mtlFile(stem + ".mtl");
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
            WriteObject(model, console, object, number, objFile, mtlFile);
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
