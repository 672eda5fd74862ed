#include "export/mqo_writer.h"

#include <algorithm>
#include <array>
#include <new>
#include <string>

#include "export/object_walk.h"
#include "export/output_file.h"

namespace morvex {

void WriteMqoMesh(TextWriter& doc, const VertexBlock& vertices, std::int32_t materialIndex) {
    std::int32_t nv = vertices.VertexCount();
    doc.Str("\tvertex ").Int(nv).Str(" {\r\n");
    for (std::int32_t k = 0; k < nv; ++k) {
        const std::array<float, 3> p = Upright(vertices.PositionAt(k));
        doc.Str("\t\t").Fixed(p[0], 4).Char(' ').Fixed(p[1], 4).Char(' ').Fixed(p[2], 4).EndLine();
    }
    doc.Str("\t}\r\n");
    std::int32_t nf = vertices.FaceCount();
    doc.Str("\tface ").Int(nf).Str(" {\r\n");
    for (std::int32_t t = 0; t < nf; ++t) {
        auto f = vertices.FaceAt(t);
        doc.Str("\t\t3 V(")
            .Int(f[0])
            .Char(' ')
            .Int(f[1])
            .Char(' ')
            .Int(f[2])
            .Str(") M(")
            .Int(materialIndex)
            .Str(") UV(");
        for (int c = 0; c < 3; ++c) {
            auto uv =
                vertices.TexCoordAt(static_cast<std::int32_t>(f[static_cast<std::size_t>(c)]));
            if (c > 0) doc.Char(' ');
            doc.Fixed(uv[0], 5).Char(' ').Fixed(uv[1], 5);
        }
        doc.Str(")\r\n");
    }
    doc.Str("\t}\r\n");
    doc.Str("}\r\n");
}

namespace {

// The document of one object, opened: writes it whole.
void WriteDocument(Console& console, ModelObject& object, OutputFile& file) {
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
            .Str(materials.MaterialAt(j))
            .Str(
                "\" col(1.000 1.000 1.000 1.000) dif(1.000) amb(1.000) emi(0.000) spc(0.000) "
                "power(");
        doc.Fixed(PowerValue(materials.PowerAt(j)), 2).Char(')');
        if (materials.HasTexture(j)) {
            doc.Str(" tex(\"").Str(SafeName(materials.TextureNameAt(j))).Str(".bmp\")");
        }
        if (materials.HasAlphaMap(j)) {
            doc.Str(" aplane(\"").Str(SafeName(materials.AlphaMapNameAt(j))).Str(".bmp\")");
        }
        doc.EndLine();
    }
    doc.Str("}\r\n");

    WalkMeshes(console, object, [&](std::int32_t i, std::int32_t m) {
        doc.Str("Object \"").Int(i, 2).Char('_').Str(materials.MaterialAt(m)).Str("\" {\r\n");
        doc.Str("\tvisible 15\r\n\tshading 1\r\n\tcolor 1.000 1.000 1.000\r\n\tcolor_type 0\r\n");
        WriteMqoMesh(doc, object.vertices, m);
        return true;
    });
}

}  // namespace

void ExportMqo(const Model& model, Console& console, std::string_view destPath) {
    int number = 0;
    WalkObjects(model, console, [&](ModelObject& object) {
        OutputFile file(ObjectFileStem(destPath, model.baseName, number, object.name) + ".mqo");
        if (OpenOutput(console, file) != Outcome::Ok) return true;
        console.Written(file.Path());
        // The one place where writing an object runs out of memory: its file is dropped.
        try {
            WriteDocument(console, object, file);
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
