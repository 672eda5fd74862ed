#include "testdata/bench_models.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "testdata/texture_writer.h"

namespace morvex::testdata {
namespace {

// A small integer hash: the only source of noise (no library random distributions, whose
// results differ between standard libraries).
std::uint32_t Mix(std::uint32_t x, std::uint32_t y, std::uint32_t z, std::uint32_t seed) {
    std::uint32_t h = x * 0x9E3779B1u ^ y * 0x85EBCA77u ^ z * 0xC2B2AE3Du ^ seed * 0x27D4EB2Fu;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}

// A hash as a value in [0, 1).
float Unit(std::uint32_t h) {
    return static_cast<float>(h >> 8) / 16777216.0f;
}

float Smooth(float t) {
    return t * t * (3.0f - 2.0f * t);
}

std::uint32_t Cell(float v) {
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(std::floor(v)));
}

// Value noise in [0, 1) on an integer lattice, smoothly interpolated.
float Noise3(float x, float y, float z, std::uint32_t seed) {
    const std::uint32_t ix = Cell(x), iy = Cell(y), iz = Cell(z);
    const float fx = Smooth(x - std::floor(x)), fy = Smooth(y - std::floor(y)),
                fz = Smooth(z - std::floor(z));
    float corner[2][2][2];
    for (std::uint32_t a = 0; a < 2; ++a) {
        for (std::uint32_t b = 0; b < 2; ++b) {
            for (std::uint32_t c = 0; c < 2; ++c)
                corner[a][b][c] = Unit(Mix(ix + a, iy + b, iz + c, seed));
        }
    }
    auto lerp = [](float p, float q, float t) { return p + (q - p) * t; };
    float x00 = lerp(corner[0][0][0], corner[1][0][0], fx),
          x10 = lerp(corner[0][1][0], corner[1][1][0], fx);
    float x01 = lerp(corner[0][0][1], corner[1][0][1], fx),
          x11 = lerp(corner[0][1][1], corner[1][1][1], fx);
    return lerp(lerp(x00, x10, fy), lerp(x01, x11, fy), fz);
}

// Fractal noise: `octaves` layers of value noise, each of twice the frequency and half the
// weight of the one before; about [0, 1).
float Fractal(float x, float y, float z, std::uint32_t seed, int octaves) {
    float sum = 0.0f, weight = 0.5f, total = 0.0f;
    for (int k = 0; k < octaves; ++k) {
        sum += weight * Noise3(x, y, z, seed + static_cast<std::uint32_t>(k));
        total += weight;
        weight *= 0.5f;
        x *= 2.0f;
        y *= 2.0f;
        z *= 2.0f;
    }
    return sum / total;
}

std::array<float, 3> Normalised(std::array<float, 3> v) {
    float length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (length == 0.0f) return {0.0f, 0.0f, 1.0f};
    return {v[0] / length, v[1] / length, v[2] / length};
}

// Two triangles per cell of a grid of `columns` x `rows` vertices, clockwise seen from the front
// as the format stores front faces. The front is the side that the cross product of the column
// and the row direction points to; with `backFacing`, the other side.
void GridTriangles(Mesh& mesh, int columns, int rows, bool backFacing) {
    const auto w = static_cast<std::uint32_t>(columns);
    for (std::uint32_t y = 0; y + 1 < static_cast<std::uint32_t>(rows); ++y) {
        for (std::uint32_t x = 0; x + 1 < w; ++x) {
            std::uint32_t a = y * w + x, b = a + 1, c = a + w, d = c + 1;
            if (backFacing) {
                mesh.indices.insert(mesh.indices.end(), {a, b, c, b, d, c});
            } else {
                mesh.indices.insert(mesh.indices.end(), {a, c, b, b, c, d});
            }
        }
    }
}

// A heightfield patch of `columns` x `rows` vertices at `spacing`, its lower corner at `origin`;
// heights from fractal noise, normals from the height differences.
Mesh TerrainPatch(std::array<float, 2> origin, float spacing, int columns, int rows,
                  std::uint32_t seed, std::int32_t material) {
    Mesh mesh;
    mesh.materialIndex = material;
    auto height = [&](float x, float y) {
        return 18.0f * Fractal(x * 0.01f, y * 0.01f, 0.5f, 11, 6) - 6.0f +
               0.15f * Unit(Mix(Cell(x * 64.0f), Cell(y * 64.0f), 1, seed));
    };
    for (int j = 0; j < rows; ++j) {
        for (int i = 0; i < columns; ++i) {
            float x = origin[0] + spacing * static_cast<float>(i);
            float y = origin[1] + spacing * static_cast<float>(j);
            Vertex v;
            v.position = {x, y, height(x, y)};
            float dx = height(x + spacing, y) - height(x - spacing, y);
            float dy = height(x, y + spacing) - height(x, y - spacing);
            v.normal = Normalised({-dx, -dy, 2.0f * spacing});
            v.texCoord = {static_cast<float>(i) / static_cast<float>(columns - 1) * 8.0f,
                          static_cast<float>(j) / static_cast<float>(rows - 1) * 8.0f};
            mesh.vertices.push_back(v);
        }
    }
    GridTriangles(mesh, columns, rows, false);
    return mesh;
}

// A sphere of (rings + 1) x (segments + 1) vertices whose radius follows fractal noise over the
// directions: a rock, a bush, a head.
Mesh DisplacedSphere(std::array<float, 3> centre, float radius, float roughness, int rings,
                     int segments, std::uint32_t seed, std::int32_t material) {
    Mesh mesh;
    mesh.materialIndex = material;
    const float pi = std::numbers::pi_v<float>;
    for (int r = 0; r <= rings; ++r) {
        float theta = pi * static_cast<float>(r) / static_cast<float>(rings);
        for (int s = 0; s <= segments; ++s) {
            float phi = 2.0f * pi * static_cast<float>(s) / static_cast<float>(segments);
            std::array<float, 3> d = {std::sin(theta) * std::cos(phi),
                                      std::sin(theta) * std::sin(phi), std::cos(theta)};
            float n = Fractal(d[0] * 2.5f + 7.0f, d[1] * 2.5f + 7.0f, d[2] * 2.5f + 7.0f, seed, 5);
            float rr = radius * (1.0f + roughness * (n - 0.5f));
            Vertex v;
            for (int k = 0; k < 3; ++k) v.position[k] = centre[k] + rr * d[k];
            v.normal = d;
            v.texCoord = {static_cast<float>(s) / static_cast<float>(segments),
                          static_cast<float>(r) / static_cast<float>(rings)};
            mesh.vertices.push_back(v);
        }
    }
    // Rings run from the top down and segments anticlockwise: the grid faces inwards.
    GridTriangles(mesh, segments + 1, rings + 1, true);
    return mesh;
}

// An upright cylinder wall of `levels` x (segments + 1) vertices with a noisy radius: a tower,
// a trunk, a column.
Mesh NoisyCylinder(std::array<float, 3> base, float radius, float height, int levels, int segments,
                   std::uint32_t seed, std::int32_t material) {
    Mesh mesh;
    mesh.materialIndex = material;
    const float pi = std::numbers::pi_v<float>;
    for (int l = 0; l < levels; ++l) {
        float t = static_cast<float>(l) / static_cast<float>(levels - 1);
        for (int s = 0; s <= segments; ++s) {
            float phi = 2.0f * pi * static_cast<float>(s) / static_cast<float>(segments);
            float c = std::cos(phi), sn = std::sin(phi);
            float rr = radius * (0.9f + 0.2f * Fractal(c * 3.0f + 5.0f, sn * 3.0f + 5.0f, t * 6.0f,
                                                       seed, 4));
            Vertex v;
            v.position = {base[0] + rr * c, base[1] + rr * sn, base[2] + height * t};
            v.normal = {c, sn, 0.0f};
            v.texCoord = {static_cast<float>(s) / static_cast<float>(segments) * 4.0f, t * 8.0f};
            mesh.vertices.push_back(v);
        }
    }
    GridTriangles(mesh, segments + 1, levels, false);
    return mesh;
}

// A flat-ish noisy sheet of `columns` x `rows` vertices: a leaf, a cloth, a panel.
Mesh NoisySheet(std::array<float, 3> origin, float size, int columns, int rows, std::uint32_t seed,
                std::int32_t material) {
    Mesh mesh;
    mesh.materialIndex = material;
    for (int j = 0; j < rows; ++j) {
        for (int i = 0; i < columns; ++i) {
            float u = static_cast<float>(i) / static_cast<float>(columns - 1);
            float v = static_cast<float>(j) / static_cast<float>(rows - 1);
            float bend = Fractal(u * 3.0f, v * 3.0f, 2.0f, seed, 4);
            Vertex vertex;
            vertex.position = {origin[0] + size * u, origin[1] + size * v,
                               origin[2] + size * 0.3f * bend};
            vertex.normal = Normalised({0.3f * (bend - 0.5f), 0.2f, 1.0f});
            vertex.texCoord = {u, v};
            mesh.vertices.push_back(vertex);
        }
    }
    GridTriangles(mesh, columns, rows, false);
    return mesh;
}

void Count(ModelStats& stats, const std::vector<Mesh>& meshes) {
    ++stats.objects;
    for (const Mesh& mesh : meshes) {
        ++stats.meshes;
        stats.vertices += static_cast<std::int64_t>(mesh.vertices.size());
        stats.triangles += static_cast<std::int64_t>(mesh.indices.size() / 3);
    }
}

void AddObject(GeneratedModel& model, std::string_view name, std::string_view materialTag,
               const std::vector<Material>& materials, std::string_view vertexTag,
               const std::vector<Mesh>& meshes) {
    model.file.Info(name);
    model.file.Block(materialTag, MaterialPayload(materialTag, materials));
    model.file.Block(vertexTag, VertexPayload(vertexTag, meshes));
    Count(model.stats, meshes);
}

// Pictures of real texture content: smooth shading, fine grain and hard edges, with up to 256
// colours. Palettes are gradients between two colours.
IndexedPicture GradientPicture(std::int32_t width, std::int32_t height, std::array<int, 3> from,
                               std::array<int, 3> to) {
    IndexedPicture p;
    p.width = width;
    p.height = height;
    p.pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
    for (int i = 0; i < 256; ++i) {
        for (int c = 0; c < 3; ++c) {
            p.palette.push_back(static_cast<std::uint8_t>(from[c] + (to[c] - from[c]) * i / 255));
        }
        p.palette.push_back(0);
    }
    return p;
}

void Put(IndexedPicture& p, std::int32_t x, std::int32_t y, float value) {
    p.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(p.width) +
             static_cast<std::size_t>(x)] =
        static_cast<std::uint8_t>(std::clamp(static_cast<int>(value), 0, 255));
}

// Soil and grass seen from above.
IndexedPicture GroundPicture(std::int32_t width, std::int32_t height) {
    IndexedPicture p = GradientPicture(width, height, {58, 44, 26}, {142, 170, 82});
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            float fx = static_cast<float>(x), fy = static_cast<float>(y);
            float patches = Fractal(fx / 96.0f, fy / 96.0f, 0.0f, 21, 5);
            float grain =
                Unit(Mix(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), 0, 22));
            Put(p, x, y, patches * 300.0f - 40.0f + grain * 36.0f);
        }
    }
    return p;
}

// Courses of bricks with mortar joints, each brick shaded on its own.
IndexedPicture BrickPicture(std::int32_t width, std::int32_t height) {
    IndexedPicture p = GradientPicture(width, height, {96, 36, 24}, {214, 150, 118});
    for (std::int32_t y = 0; y < height; ++y) {
        const std::int32_t course = y / 24;
        for (std::int32_t x = 0; x < width; ++x) {
            const std::int32_t shifted = x + (course % 2) * 32;
            const std::int32_t brick = shifted / 64;
            float grain =
                Unit(Mix(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), 1, 31));
            float value;
            if (y % 24 < 3 || shifted % 64 < 3) {
                value = 225.0f + grain * 30.0f;  // mortar: the light end of the palette
            } else {
                float tone = Unit(Mix(static_cast<std::uint32_t>(brick),
                                      static_cast<std::uint32_t>(course), 2, 32));
                float soot = Fractal(static_cast<float>(x) / 40.0f, static_cast<float>(y) / 40.0f,
                                     1.0f, 33, 4);
                value = 30.0f + tone * 90.0f + soot * 60.0f + grain * 24.0f;
            }
            Put(p, x, y, value);
        }
    }
    return p;
}

// Grey stone with veins.
IndexedPicture StonePicture(std::int32_t width, std::int32_t height) {
    IndexedPicture p = GradientPicture(width, height, {40, 42, 46}, {200, 198, 190});
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            float fx = static_cast<float>(x), fy = static_cast<float>(y);
            float body = Fractal(fx / 64.0f, fy / 64.0f, 3.0f, 41, 6);
            float vein = std::fabs(Fractal(fx / 128.0f, fy / 128.0f, 4.0f, 42, 4) - 0.5f);
            float grain =
                Unit(Mix(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), 2, 43));
            Put(p, x, y, body * 240.0f + (vein < 0.02f ? -90.0f : 0.0f) + grain * 20.0f);
        }
    }
    return p;
}

// A sky with clouds at 5 bits a channel.
Picture16 SkyPicture(std::int32_t width, std::int32_t height) {
    Picture16 p;
    p.width = width;
    p.height = height;
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            float fy = static_cast<float>(y) / static_cast<float>(height);
            float cloud =
                Fractal(static_cast<float>(x) / 80.0f, static_cast<float>(y) / 40.0f, 5.0f, 51, 5);
            float white = std::clamp((cloud - 0.45f) * 3.0f, 0.0f, 1.0f);
            float dither =
                Unit(Mix(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), 3, 52));
            auto channel = [&](float sky) {
                float v = sky + (31.0f - sky) * white + dither - 0.5f;
                return static_cast<std::uint16_t>(std::clamp(static_cast<int>(v + 0.5f), 0, 31));
            };
            std::uint16_t r = channel(8.0f + 10.0f * fy), g = channel(14.0f + 10.0f * fy),
                          b = channel(28.0f);
            p.pixels.push_back(static_cast<std::uint16_t>((r << 10) | (g << 5) | b));
        }
    }
    return p;
}

void AddTexture(GeneratedModel& model, std::string_view name, const ByteVector& texture) {
    model.file.Block("TEXI", TexiPayload(name, texture));
    ++model.stats.textures;
}

// The quad-tile encoding with the given tile size, or 8 x 8 tiles when a tile of that size needs
// more codebook entries than references can address.
ByteVector QuadTiles(const IndexedPicture& picture, int exponent) {
    if (auto tiles = EncodeTexture1006(picture, {exponent, exponent, true})) return *tiles;
    return *EncodeTexture1006(picture, {3, 3, true});
}

// Four materials without textures.
std::vector<Material> PlainMaterials() {
    std::vector<Material> materials;
    for (int m = 0; m < 4; ++m) {
        materials.push_back({"part" + std::to_string(m), "", "", static_cast<float>(m) * 5.0f});
    }
    return materials;
}

std::uint32_t Seed(int object, int mesh) {
    return static_cast<std::uint32_t>(object) * 1000u + static_cast<std::uint32_t>(mesh);
}

}  // namespace

GeneratedModel BuildBenchmarkScene(int scale) {
    scale = std::max(scale, 1);
    GeneratedModel model;
    // Each object is built and packed on its own, so the unpacked meshes of only one object are
    // held at a time.
    {
        // Terrain: 255 x 255 patches in the layout without normals, 16-bit indices.
        std::vector<Mesh> meshes;
        for (int k = 0; k < 7 * scale; ++k) {
            float ox = static_cast<float>(k % 3) * 254.0f * 0.4f;
            float oy = static_cast<float>(k / 3) * 254.0f * 0.4f;
            meshes.push_back(TerrainPatch({ox, oy}, 0.4f, 255, 255, Seed(0, k), k % 2));
        }
        AddObject(model, "terrain", "MAT2",
                  {{"ground", "terrain_ground", "", 4.0f}, {"grass", "terrain_ground", "", 2.0f}},
                  "VPA5", meshes);
    }
    {
        // Buildings: towers in the same layout, each compressed block shared by all meshes.
        std::vector<Mesh> meshes;
        for (int k = 0; k < 8 * scale; ++k) {
            std::array<float, 3> base = {20.0f + static_cast<float>(k % 8) * 30.0f,
                                         40.0f + static_cast<float>(k / 8) * 30.0f, 0.0f};
            meshes.push_back(NoisyCylinder(base, 6.0f, 40.0f + static_cast<float>(k % 5) * 8.0f,
                                           180, 160, Seed(1, k), k % 3));
        }
        AddObject(model, "buildings", "MAT4",
                  {{"brick", "building_brick", "", 10.0f},
                   {"plaster", "building_brick", "", 6.0f},
                   {"roof", "", "", 20.0f}},
                  "VPA7", meshes);
    }
    {
        // Rocks: displaced spheres with normals, one packed chunk pair per mesh.
        std::vector<Mesh> meshes;
        for (int k = 0; k < 16 * scale; ++k) {
            std::array<float, 3> centre = {static_cast<float>(k % 4) * 9.0f,
                                           static_cast<float>(k / 4) * 9.0f - 80.0f, 2.0f};
            meshes.push_back(DisplacedSphere(centre, 3.0f + static_cast<float>(k % 3), 0.5f, 120,
                                             140, Seed(2, k), k % 2));
        }
        AddObject(model, "rocks", "MATE",
                  {{"stone", "rock_stone", "", 30.0f}, {"moss", "terrain_ground", "", 3.0f}},
                  "VPA2", meshes);
    }
    {
        // A figure: a few detailed parts, stored unpacked.
        std::vector<Mesh> meshes;
        for (int k = 0; k < 4 * scale; ++k) {
            float at = static_cast<float>(k) * 2.0f;
            meshes.push_back(
                k % 4 == 0
                    ? DisplacedSphere({at, -20.0f, 1.7f}, 0.25f, 0.1f, 130, 130, Seed(3, k), 1)
                    : NoisyCylinder({at, -20.0f, 0.0f}, 0.3f, 1.4f, 130, 130, Seed(3, k), 0));
        }
        AddObject(model, "figure", "MAT3",
                  {{"cloth", "figure_cloth", "", 8.0f}, {"skin", "", "", 25.0f}}, "VPAC", meshes);
    }
    {
        // Props: crates and barrels, vertices in chained chunks.
        std::vector<Mesh> meshes;
        for (int k = 0; k < 12 * scale; ++k) {
            std::array<float, 3> base = {-30.0f - static_cast<float>(k % 6) * 4.0f,
                                         static_cast<float>(k / 6) * 4.0f, 0.0f};
            meshes.push_back(k % 2 == 0 ? NoisyCylinder(base, 1.2f, 2.5f, 128, 127, Seed(4, k), 0)
                                        : NoisySheet(base, 3.0f, 128, 128, Seed(4, k), 1));
        }
        AddObject(model, "props", "MAT2",
                  {{"wood", "props_wood", "", 12.0f}, {"canvas", "figure_cloth", "", 1.0f}}, "VPA8",
                  meshes);
    }
    {
        // Trees: trunks and leaf sheets with normals in shared chunks.
        std::vector<Mesh> meshes;
        for (int k = 0; k < 32 * scale; ++k) {
            std::array<float, 3> base = {60.0f + static_cast<float>(k % 8) * 7.0f,
                                         -40.0f + static_cast<float>(k / 8) * 7.0f, 0.0f};
            meshes.push_back(
                k % 2 == 0 ? NoisyCylinder(base, 0.6f, 9.0f, 100, 79, Seed(5, k), 0)
                           : NoisySheet({base[0], base[1], 8.0f}, 5.0f, 90, 90, Seed(5, k), 1));
        }
        AddObject(model, "trees", "MATE",
                  {{"bark", "props_wood", "", 5.0f}, {"leaves", "sky", "", 15.0f}}, "VPA4", meshes);
    }
    for (const auto& [name, texture] : BenchmarkSceneTextures()) AddTexture(model, name, texture);
    return model;
}

std::vector<std::pair<std::string, ByteVector>> BenchmarkSceneTextures() {
    return {{"terrain_ground", QuadTiles(GroundPicture(1024, 1024), 3)},
            {"building_brick", EncodeTexture1004(BrickPicture(1024, 512))},
            {"rock_stone", EncodeTexture1002(StonePicture(512, 512))},
            {"figure_cloth", *EncodeTexture1005(ClothPattern(512, 512))},
            {"props_wood", QuadTiles(WoodPlanks(1024, 1024), 4)},
            {"sky", EncodeTexture1001(SkyPicture(512, 512))}};
}

GeneratedModel BuildMeshCountModel(int meshesPerObject, int columns, int rows) {
    GeneratedModel model;
    const char* const tags[] = {"VPA2", "VPA4", "VPA5", "VPA8", "VPAC"};
    int object = 0;
    for (const char* tag : tags) {
        std::vector<Mesh> meshes;
        for (int k = 0; k < meshesPerObject; ++k) {
            std::array<float, 3> origin = {static_cast<float>(k % 100) * 4.0f,
                                           static_cast<float>(k / 100) * 4.0f,
                                           static_cast<float>(object)};
            meshes.push_back(NoisySheet(origin, 3.0f, columns, rows, Seed(object, k), k % 4));
        }
        AddObject(model, std::string("sheets_") + tag, "MATE", PlainMaterials(), tag, meshes);
        ++object;
    }
    return model;
}

GeneratedModel BuildTinyMeshModel() {
    GeneratedModel model;
    const std::pair<const char*, int> objects[] = {{"VPA5", 20000}, {"VPA4", 12000}};
    int object = 0;
    for (const auto& [tag, count] : objects) {
        std::vector<Mesh> meshes;
        for (int k = 0; k < count; ++k) {
            const std::uint32_t h = Mix(static_cast<std::uint32_t>(k), 7, 9, Seed(object, 0));
            const auto n = static_cast<std::uint32_t>(3 + h % 10);
            const auto triangles = static_cast<std::uint32_t>(1 + (h >> 8) % 10);
            Mesh mesh;
            mesh.materialIndex = static_cast<std::int32_t>(k % 4);
            const std::array<float, 3> at = {static_cast<float>(k % 200) * 0.5f,
                                             static_cast<float>(k / 200) * 0.5f,
                                             static_cast<float>(object)};
            for (std::uint32_t v = 0; v < n; ++v) {
                const float angle = 6.2831853f * static_cast<float>(v) / static_cast<float>(n);
                const float r = 0.1f + 0.1f * Unit(Mix(static_cast<std::uint32_t>(k), v, 3, 17));
                Vertex vertex;
                vertex.position = {
                    at[0] + r * std::cos(angle), at[1] + r * std::sin(angle),
                    at[2] + 0.05f * Unit(Mix(v, static_cast<std::uint32_t>(k), 5, 19))};
                vertex.normal = Normalised({0.1f * std::cos(angle), 0.1f * std::sin(angle), 1.0f});
                vertex.texCoord = {0.5f + 0.5f * std::cos(angle), 0.5f + 0.5f * std::sin(angle)};
                mesh.vertices.push_back(vertex);
            }
            for (std::uint32_t t = 0; t < triangles; ++t) {
                mesh.indices.insert(mesh.indices.end(), {t % n, (t + 1) % n, (t + 2) % n});
            }
            meshes.push_back(std::move(mesh));
        }
        AddObject(model, std::string("parts_") + tag, "MAT2", PlainMaterials(), tag, meshes);
        ++object;
    }
    return model;
}

namespace {

// "<stem><k>", built so that g++ 12 sees no overlapping copy in it.
std::string Numbered(std::string_view stem, int k) {
    std::string name(stem);
    name += std::to_string(k);
    return name;
}

}  // namespace

GeneratedModel BuildManyTexturesModel() {
    constexpr int kTextures = 24;
    GeneratedModel model;
    std::vector<Material> materials;
    for (int k = 0; k < kTextures; ++k) {
        materials.push_back({Numbered("m", k), Numbered("tex", k),
                             k % 3 == 0 ? Numbered("tex", (k + 1) % kTextures) : "",
                             static_cast<float>(k)});
    }
    const char* const tags[] = {"VPA4", "VPA5", "VPA8", "VPAC"};
    int object = 0;
    for (const char* tag : tags) {
        std::vector<Mesh> meshes;
        for (int k = 0; k < 60; ++k) {
            const std::array<float, 3> origin = {static_cast<float>(k % 10) * 4.0f,
                                                 static_cast<float>(k / 10) * 4.0f,
                                                 static_cast<float>(object) * 3.0f};
            meshes.push_back(NoisySheet(origin, 3.0f, 80, 80, Seed(object + 10, k),
                                        (k + 6 * object) % kTextures));
        }
        AddObject(model, std::string("sheets_") + tag, "MATE", materials, tag, meshes);
        ++object;
    }
    for (int k = 0; k < kTextures; ++k) {
        const std::int32_t side = k % 3 == 2 ? 512 : 1024;
        const std::int32_t height = k % 4 == 1 ? side / 2 : side;
        ByteVector texture;
        switch (k % 5) {
            case 0:
                texture = QuadTiles(GroundPicture(side, height), 3);
                break;
            case 1:
                texture = EncodeTexture1004(BrickPicture(side, height));
                break;
            case 2:
                texture = EncodeTexture1002(StonePicture(side, height));
                break;
            case 3: {
                const IndexedPicture cloth = ClothPattern(side, height);
                const auto encoded = EncodeTexture1005(cloth);
                texture = encoded ? *encoded : EncodeTexture1002(cloth);
                break;
            }
            default:
                texture = EncodeTexture1001(SkyPicture(side, height));
                break;
        }
        AddTexture(model, Numbered("tex", k), texture);
    }
    return model;
}

GeneratedModel BuildEmptyObjectsModel(int objects) {
    GeneratedModel model;
    for (int k = 0; k < objects; ++k) {
        std::string name = "o";
        name += std::to_string(k);
        AddObject(model, name, "MATE", {}, "VPAC", {});
    }
    return model;
}

}  // namespace morvex::testdata
