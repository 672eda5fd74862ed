// The OBJ + MTL writer: one OBJ geometry file and one MTL material library per object; every
// mesh becomes an OBJ group with an MTL material of its own.
//
// Coordinates are written as (x, z, -y), texture coordinates as (u, 1 - v), and the corners of
// every triangle in the order first, third, second.
#include <cstdint>
#include <string>

#include "convert/converter.h"
#include "export/object_walk.h"
#include "export/output_file.h"
#include "export/text_writer.h"

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

}  // namespace

// Writes the v, vt and (with normals) vn lines of the current mesh; returns its vertex count.
int WriteObjVertices(TextWriter& obj, const VertexBlock& vertices) {
    std::int32_t n = vertices.VertexCount();
    for (std::int32_t k = 0; k < n; ++k) {
        auto p = vertices.PositionAt(k);
        obj.Str("v ")
            .Fixed(p[0], 6)
            .Char(' ')
            .Fixed(p[2], 6)
            .Char(' ')
            .Fixed(-static_cast<double>(p[1]), 6)
            .EndLine();
    }
    for (std::int32_t k = 0; k < n; ++k) {
        auto t = vertices.TexCoordAt(k);
        obj.Str("vt ").Fixed(t[0], 6).Char(' ').Fixed(1.0 - static_cast<double>(t[1]), 6).EndLine();
    }
    if (vertices.HasNormals()) {
        for (std::int32_t k = 0; k < n; ++k) {
            auto p = vertices.NormalAt(k);
            obj.Str("vn ")
                .Fixed(p[0], 6)
                .Char(' ')
                .Fixed(p[2], 6)
                .Char(' ')
                .Fixed(-static_cast<double>(p[1]), 6)
                .EndLine();
        }
    }
    return n;
}

// Writes the f lines of the current mesh, numbering vertices from vertexBase + 1.
int WriteObjFaces(TextWriter& obj, const VertexBlock& vertices, std::int64_t vertexBase) {
    std::int32_t faces = vertices.FaceCount();
    bool normals = vertices.HasNormals();
    for (std::int32_t t = 0; t < faces; ++t) {
        auto f = vertices.FaceAt(t);
        std::int64_t corners[3] = {f[0] + vertexBase + 1, f[2] + vertexBase + 1,
                                   f[1] + vertexBase + 1};
        obj.Str("f");
        // One index serves for position, texture coordinate and normal: format it once.
        for (std::int64_t c : corners) {
            char digits[32];
            std::string_view number(digits, FormatInt(digits, c));
            obj.Char(' ').Str(number).Char('/').Str(number);
            if (normals) obj.Char('/').Str(number);
        }
        obj.EndLine();
    }
    return faces;
}

int Converter::ExportObj(std::string_view destPath) {
    int number = 0;
    WalkObjects(*this, [&](ModelObject& object) {
        std::string stem = ObjectFileStem(destPath, baseName, number, object.name);
        OutputFile objFile(stem + ".obj"), mtlFile(stem + ".mtl");
        if (!OpenOutput(*this, objFile)) return;
        if (!OpenOutput(*this, mtlFile)) {
            objFile.Remove();
            return;
        }
        Print("-> %s\n", objFile.Path().c_str());
        Print("-> %s\n", mtlFile.Path().c_str());

        TextWriter obj(objFile), mtl(mtlFile);
        obj.Str(kHeader);
        mtl.Str(kHeader);
        std::string mtlName = ObjectFileStem("", baseName, number, object.name) + ".mtl";
        obj.EndLine().Str("mtllib ").Str(mtlName).EndLine();
        obj.EndLine().Str("o ").Str(baseName).EndLine();

        VertexBlock& vertices = object.vertices;
        std::int64_t vertexBase = 0;
        WalkMeshes(*this, object, [&](std::int32_t i, std::int32_t m) {
            WriteMtlEntry(mtl, i, object.materials, m);
            obj.EndLine().Str("g ");
            MeshName(obj, i, object.materials, m);
            obj.EndLine().Str("usemtl ");
            MeshName(obj, i, object.materials, m);
            obj.EndLine();
            int n = WriteObjVertices(obj, vertices);
            WriteObjFaces(obj, vertices, vertexBase);
            vertexBase += n;
        });
        bool objOk = CloseOutput(*this, objFile);
        bool mtlOk = CloseOutput(*this, mtlFile);
        (void)objOk;
        (void)mtlOk;
        ++number;
    });
    return 0;
}

}  // namespace morvex
