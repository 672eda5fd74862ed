// Generated models for the end-to-end benchmarks (bench/bench_pipeline.cpp): a scene of the size
// and mix of a real model, models that spread the same geometry over few or many meshes, and a
// model of many empty objects. Every generator is deterministic: the same arguments give the
// same bytes on every machine (no library random distributions, only our own hash).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "testdata/it3_writer.h"

namespace morvex::testdata {

// What a generated model holds.
struct ModelStats {
    std::int64_t objects = 0;
    std::int64_t meshes = 0;
    std::int64_t vertices = 0;
    std::int64_t triangles = 0;
    std::int64_t textures = 0;
};

struct GeneratedModel {
    It3Writer file;
    ModelStats stats;
};

// The benchmark scene: six objects, one for each vertex layout (VPA2, VPA4, VPA5, VPA7, VPA8,
// VPAC) with each of the four material tags, 1,482,450 vertices and 2,924,324 triangles in 79
// meshes, and six textures of 512 x 512 to 1024 x 1024 pixels in the formats 1001, 1002, 1004,
// 1005 and 1006 (8 x 8 and 16 x 16 tiles). The geometry is noisy terrain, displaced spheres,
// cylinders and sheets with normals and texture coordinates and the textures are shaded
// pictures with grain, so that they compress like real data: the file is about 48 MB.
//
// `scale` (1 or more) multiplies the meshes of every object: scale k holds k times the vertices
// and triangles, each extra mesh a distinct one with its own noise, and the same six textures.
GeneratedModel BuildBenchmarkScene(int scale = 1);

// The scene's six textures (name and texture header with its data, as a TEXI block holds them),
// in the order the scene stores them.
std::vector<std::pair<std::string, ByteVector>> BenchmarkSceneTextures();

// One object per vertex layout (VPA2, VPA4, VPA5, VPA8, VPAC), `meshesPerObject` noisy grid
// meshes in each, every mesh of `columns` x `rows` vertices, four materials used in turn, no
// textures. Two models of the same total vertex count and different mesh counts produce output
// of similar size, so that their cost per output byte can be compared.
GeneratedModel BuildMeshCountModel(int meshesPerObject, int columns, int rows);

// Many tiny meshes: two objects of 20,000 (VPA5) and 12,000 (VPA4) meshes, each of 3 to 12
// vertices and 1 to 10 triangles, four untextured materials: what a model of small parts (bolts,
// leaves, decals) looks like. Its cost per output byte shows the cost of each mesh.
GeneratedModel BuildTinyMeshModel();

// Many textures: four objects (VPA4, VPA5, VPA8, VPAC) of 60 noisy sheets of 80 x 80 vertices
// (1,536,000 vertices), 24 materials used in turn, each with a texture of its own (512 x 512 to
// 1024 x 1024, 8 and 16 bits a pixel), every third with an alpha map: 24 PNG images in -g.
GeneratedModel BuildManyTexturesModel();

// `objects` objects, each an INFO block, a MATE block of no Material and a VPAC block of no mesh
// (about 45 bytes an object): every object still gets its own OBJ and MTL file (or MQO
// document), so the conversion creates many small files out of a small input.
GeneratedModel BuildEmptyObjectsModel(int objects);

}  // namespace morvex::testdata
