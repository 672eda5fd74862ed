// Reading binary glTF 2.0 files (.glb) from untrusted bytes: the container, the parts of the
// JSON document that carry geometry, materials and images, and the data of accessors.
//
// Everything is checked before it is used: the GLB header and chunk lengths against the file,
// the JSON's nesting depth before it is parsed, every index between the arrays, every bufferView
// against the BIN chunk and every accessor against its bufferView (offset, stride, count and
// element size in 64 bits), the node hierarchy for cycles and nodes with two parents. A file that
// breaks any of these is refused with a reason; nothing reads outside the file's bytes, and
// every array read allocates at most what its bufferView holds.
//
// Only what a glb writer that embeds everything produces is read: one buffer, the BIN chunk;
// images in bufferViews. Sparse accessors, buffers given by URI and images given by URI are
// refused when they are read.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "it3/byte_reader.h"
#include "it3/result.h"

namespace morvex {

// A 4 by 4 matrix in glTF's order: column after column.
using Matrix4 = std::array<double, 16>;
inline constexpr Matrix4 kIdentity4 = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
Matrix4 Multiply(const Matrix4& a, const Matrix4& b);

// The identifiers our glTF writer puts into "extras": {"it3": {...}} of a node, mesh or
// material; -1 (or empty) where the element has none.
struct It3Extras {
    std::int64_t object = -1;          // the position of the object's INFO block
    std::int64_t material = -1;        // materials: the record in the object's table
    std::vector<std::int64_t> meshes;  // meshes: the it3 mesh of each primitive
};

struct GlbPrimitive {
    int position = -1, normal = -1, texCoord = -1, indices = -1;  // accessors
    int material = -1;
};
struct GlbMesh {
    std::string name;
    std::vector<GlbPrimitive> primitives;
    It3Extras it3;
};
struct GlbNode {
    std::string name;
    int mesh = -1;
    std::vector<int> children;
    Matrix4 local = kIdentity4;
    It3Extras it3;
};
struct GlbMaterial {
    std::string name;
    int baseColorTexture = -1;  // a texture, -1 for none
    int baseColorTexCoord = 0;  // which TEXCOORD_n the texture uses
    double roughness = 1.0;     // glTF's default when absent
    It3Extras it3;
};
struct GlbImage {
    std::string name;
    int bufferView = -1;  // -1: given by URI, not embedded
};
struct GlbView {
    std::uint64_t offset = 0, length = 0;
    std::uint32_t stride = 0;  // 0: tightly packed
};
struct GlbAccessor {
    int view = -1;  // -1: no data (all zeros); refused when read
    std::uint64_t offset = 0;
    int componentType = 0;
    int components = 1;  // SCALAR 1, VEC2 2, VEC3 3, VEC4 4, MAT4 16, ...
    std::uint64_t count = 0;
    bool normalized = false;
    bool sparse = false;
};

// Limits of what is read: a file whose JSON nests deeper or holds more elements is refused.
struct GlbLimits {
    int jsonDepth = 64;
    std::uint64_t jsonBytes = std::uint64_t{64} << 20;
};

class GlbFile {
  public:
    // Reads the container and the document from `file`, which must outlive this object (the
    // accessors read from it). Ok, or Broken with `problem` saying why.
    [[nodiscard]] Outcome Read(Bytes file, std::string& problem, const GlbLimits& limits = {});

    std::vector<GlbNode> nodes;
    std::vector<GlbMesh> meshes;
    std::vector<GlbMaterial> materials;
    std::vector<int> textureSources;  // the image of each texture, -1 for none
    std::vector<GlbImage> images;
    std::vector<GlbView> views;
    std::vector<GlbAccessor> accessors;
    std::vector<int> sceneRoots;  // the nodes of the scene shown (every root node without one)

    // The values of a float accessor of `components` components (VEC2, VEC3): floats, or
    // normalized unsigned bytes or shorts scaled to 0..1. Broken (with `problem`) when the
    // accessor is of another kind or shape.
    [[nodiscard]] Outcome Floats(int accessor, int components, std::vector<float>& out,
                                 std::string& problem) const;
    // The values of an index accessor (SCALAR of unsigned byte, short or int).
    [[nodiscard]] Outcome Indices(int accessor, std::vector<std::uint32_t>& out,
                                  std::string& problem) const;
    // Where an accessor's elements lie, for reading them in place: the first element's bytes,
    // the distance between elements and their count. Only after every check: false (with
    // `problem`) as Floats and Indices refuse.
    struct Elements {
        const std::uint8_t* first = nullptr;
        std::uint64_t stride = 0, count = 0;
        int componentType = 0;
    };
    [[nodiscard]] bool FloatElements(int accessor, int components, Elements& out,
                                     std::string& problem) const;
    [[nodiscard]] bool IndexElements(int accessor, Elements& out, std::string& problem) const;

    // The bytes of an image, empty when it is not embedded.
    Bytes ImageBytes(int image) const;
    // Every node's transform to the scene, for the nodes the scene reaches (others keep
    // identity and are marked false in `reached`).
    void WorldTransforms(std::vector<Matrix4>& world, std::vector<bool>& reached) const;

  private:
    Bytes bin_;
};

}  // namespace morvex
