#include "testdata/sample_model.h"

#include <cmath>
#include <numbers>

#include "testdata/texture_writer.h"

namespace morvex::testdata {

Mesh BoxMesh(std::array<float, 3> c, std::array<float, 3> h, std::int32_t materialIndex) {
    Mesh mesh;
    mesh.materialIndex = materialIndex;
    // Each face: normal axis, sign, and the two in-plane axes.
    struct Face {
        int axis;
        float sign;
        int u, v;
    };
    const Face faces[] = {{0, 1, 1, 2},  {0, -1, 2, 1}, {1, 1, 2, 0},
                          {1, -1, 0, 2}, {2, 1, 0, 1},  {2, -1, 1, 0}};
    const float corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
    const float uvs[4][2] = {{0, 1}, {1, 1}, {1, 0}, {0, 0}};
    for (const Face& f : faces) {
        auto base = static_cast<std::uint32_t>(mesh.vertices.size());
        for (int k = 0; k < 4; ++k) {
            Vertex v;
            v.position[f.axis] = c[f.axis] + f.sign * h[f.axis];
            v.position[f.u] = c[f.u] + corners[k][0] * h[f.u];
            v.position[f.v] = c[f.v] + corners[k][1] * h[f.v];
            v.normal[f.axis] = f.sign;
            v.texCoord = {uvs[k][0], uvs[k][1]};
            mesh.vertices.push_back(v);
        }
        // Front faces are clockwise seen from outside, as the format stores them.
        mesh.indices.insert(mesh.indices.end(),
                            {base, base + 2, base + 1, base, base + 3, base + 2});
    }
    return mesh;
}

Mesh SphereMesh(std::array<float, 3> c, float radius, int rings, int segments,
                std::int32_t materialIndex) {
    Mesh mesh;
    mesh.materialIndex = materialIndex;
    const float pi = std::numbers::pi_v<float>;
    for (int r = 0; r <= rings; ++r) {
        float theta = pi * static_cast<float>(r) / static_cast<float>(rings);
        for (int s = 0; s <= segments; ++s) {
            float phi = 2 * pi * static_cast<float>(s) / static_cast<float>(segments);
            Vertex v;
            v.normal = {std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi),
                        std::cos(theta)};
            for (int k = 0; k < 3; ++k) v.position[k] = c[k] + radius * v.normal[k];
            v.texCoord = {static_cast<float>(s) / static_cast<float>(segments),
                          static_cast<float>(r) / static_cast<float>(rings)};
            mesh.vertices.push_back(v);
        }
    }
    auto row = static_cast<std::uint32_t>(segments + 1);
    for (std::uint32_t r = 0; r < static_cast<std::uint32_t>(rings); ++r) {
        for (std::uint32_t s = 0; s < static_cast<std::uint32_t>(segments); ++s) {
            std::uint32_t a = r * row + s, b = a + row;
            // The rows at the poles collapse to a point: skip the triangles that would be lines.
            // Clockwise seen from outside, as the format stores front faces.
            if (r != 0) mesh.indices.insert(mesh.indices.end(), {a, a + 1, b});
            if (r + 1 != static_cast<std::uint32_t>(rings))
                mesh.indices.insert(mesh.indices.end(), {a + 1, b + 1, b});
        }
    }
    return mesh;
}

It3Writer BuildSampleModel() {
    It3Writer file;
    // The crate: one box, one textured material, compressed tags.
    file.Info("crate");
    file.Block("MAT2", MaterialPayload("MAT2", {{"wood", "crate_wood", "", 12.5f}}));
    file.Block("VPA5", VertexPayload("VPA5", {BoxMesh({0, 0, 0.5f}, {0.5f, 0.5f, 0.5f}, 0)}));

    // The figure: body, head and two arms; z is up in the model, as the writers expect.
    file.Info("figure");
    file.Block("MATE", MaterialPayload("MATE", {{"cloth", "figure_cloth", "", 8.0f},
                                                {"skin", "figure_skin", "", 30.7f},
                                                {"metal", "", "", -12.9f}}));
    file.Block("VPAC", VertexPayload("VPAC", {BoxMesh({2.0f, 0, 0.9f}, {0.3f, 0.2f, 0.45f}, 0),
                                              SphereMesh({2.0f, 0, 1.6f}, 0.22f, 8, 12, 1),
                                              BoxMesh({1.55f, 0, 0.95f}, {0.1f, 0.1f, 0.4f}, 2),
                                              BoxMesh({2.45f, 0, 0.95f}, {0.1f, 0.1f, 0.4f}, 2)}));

    // The textures the materials name, in three of the stored formats.
    file.Block("TEXI", TexiPayload("crate_wood", EncodeTexture1002(WoodPlanks(64, 64))));
    file.Block("TEXI", TexiPayload("figure_cloth", EncodeTexture1004(ClothPattern(64, 64))));
    file.Block("TEXI", TexiPayload("figure_skin", *EncodeTexture1006(SkinTone(64, 64), {})));
    return file;
}

It3Writer BuildLargeModel() {
    It3Writer file;
    file.Info("field");
    file.Block("MAT2", MaterialPayload("MAT2", {{"ground", "ground", "", 10.0f}}));
    std::vector<Mesh> meshes;
    for (int k = 0; k < 16; ++k) {
        meshes.push_back(
            SphereMesh({static_cast<float>(k % 4) * 3.1f, static_cast<float>(k / 4) * 3.1f, 1.0f},
                       1.37f, 254, 254, 0));
    }
    file.Block("VPA5", VertexPayload("VPA5", meshes));
    return file;
}

}  // namespace morvex::testdata
