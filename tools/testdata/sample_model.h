// The bundled sample model, also used by tests and benchmarks.
#pragma once

#include <string_view>
#include <vector>

#include "testdata/it3_writer.h"

namespace morvex::testdata {

// An axis-aligned box centred at `centre` with half extents `half`: 24 vertices (4 per face, with
// normals and texture coordinates) and 12 triangles.
Mesh BoxMesh(std::array<float, 3> centre, std::array<float, 3> half, std::int32_t materialIndex);

// A UV sphere with `rings` x `segments` quads.
Mesh SphereMesh(std::array<float, 3> centre, float radius, int rings, int segments,
                std::int32_t materialIndex);

// The sample: object "crate" (MAT2 + VPA5, one textured box) and object "figure" (MATE + VPAC,
// body, head and two arms with three materials), plus the textures the materials name.
It3Writer BuildSampleModel();

// A large model for benchmarks: one object of 16 spheres in a VPA5 block, 1,040,400 vertices and
// about two million triangles (each sphere has 65025 vertices, as many as 16-bit indices address).
It3Writer BuildLargeModel();

}  // namespace morvex::testdata
