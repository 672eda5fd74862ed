// Assembles it3 files block by block: the test data of our tests, benchmarks and fuzz seeds,
// and the bundled sample.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace morvex::testdata {

using ByteVector = std::vector<std::uint8_t>;

// Little-endian payload builder.
class PayloadWriter {
  public:
    PayloadWriter& U8(std::uint8_t v);
    PayloadWriter& U16(std::uint16_t v);
    PayloadWriter& U32(std::uint32_t v);
    PayloadWriter& I32(std::int32_t v) { return U32(static_cast<std::uint32_t>(v)); }
    PayloadWriter& F32(float v);
    PayloadWriter& Raw(std::span<const std::uint8_t> bytes);
    PayloadWriter& Zeros(std::size_t count);
    // `text` and a NUL, padded with zeros to `fieldSize` bytes (cut to fieldSize if longer).
    PayloadWriter& Text(std::string_view text, std::size_t fieldSize);
    // A packed chunk around the compressed `raw` (see PackChunk).
    PayloadWriter& Chunk(std::span<const std::uint8_t> raw);
    std::size_t Size() const { return bytes.size(); }

    ByteVector bytes;
};

// A packed chunk: packedSize, unpackedSize, a zero word and the compressed stream, followed by
// `padding` spare bytes so that the decoder's source size (packedSize - 16 for geometry,
// packedSize - 12 for textures) still covers the whole stream.
ByteVector PackChunk(std::span<const std::uint8_t> raw, std::size_t padding = 8);
// The same around an already compressed stream that unpacks to `unpackedSize` bytes.
ByteVector PackStream(std::span<const std::uint8_t> stream, std::uint32_t unpackedSize,
                      std::size_t padding = 8);

struct Material {
    std::string name;
    std::string texture;   // empty: none
    std::string alphaMap;  // empty: none
    float power = 0.0f;
};

struct Vertex {
    std::array<float, 3> position{};
    std::array<float, 3> normal{};
    std::array<float, 2> texCoord{};
};

struct Mesh {
    std::vector<Vertex> vertices;
    std::vector<std::uint32_t> indices;  // three per triangle
    std::int32_t materialIndex = 0;
};

// A right triangle of side 1 at z = 0, facing +z, its texture coordinates its x and y.
Mesh UnitTriangle();

// One 384-byte Material record.
ByteVector MaterialRecord(const Material& material);
// A material block payload for MATE, MAT2, MAT3 or MAT4.
ByteVector MaterialPayload(std::string_view tag, const std::vector<Material>& materials);
// The vertices of a mesh in the 112-byte (with normals) or the 40-byte layout.
ByteVector VertexBytes(const std::vector<Vertex>& vertices, std::size_t stride);
// The indices of a mesh as 32-bit or 16-bit values.
ByteVector IndexBytes(const std::vector<std::uint32_t>& indices, std::size_t indexSize);
// One 116-byte mesh record of the given vertex tag.
ByteVector MeshRecord(std::string_view tag, const Mesh& mesh);
// A vertex block payload for VPA2, VPA4, VPA5, VPA7, VPA8 or VPAC.
ByteVector VertexPayload(std::string_view tag, const std::vector<Mesh>& meshes);

// A whole file, block after block.
class It3Writer {
  public:
    It3Writer& Block(std::string_view tag, std::span<const std::uint8_t> payload);
    // An INFO block whose payload starts with the object name and its NUL.
    It3Writer& Info(std::string_view objectName);
    // A raw header with any payload size, for malformed files.
    It3Writer& Header(std::string_view tag, std::int32_t payloadSize);
    It3Writer& Raw(std::span<const std::uint8_t> bytes);
    const ByteVector& Bytes() const { return bytes_; }
    bool Save(const std::string& path) const;

  private:
    ByteVector bytes_;
};

}  // namespace morvex::testdata
