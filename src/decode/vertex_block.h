// Vertex blocks: an object's meshes, each an indexed triangle list with one material.
//
// Six tags share one description-driven walk (VertexLayout): VPA2, VPA4 and VPAC carry 112-byte
// vertices with normals and 32-bit indices, VPA5, VPA7 and VPA8 40-byte vertices without normals
// and 16-bit indices. VPAC is stored plainly; VPA2 keeps two packed chunks per mesh; VPA4, VPA5
// and VPA7 two chunks for the whole block; VPA8 a packed mesh table, chained vertex chunks of
// 262144 bytes, a packed index-count table and an index chunk.
//
// The block's tables are read once, on the first Decode after binding. The packed vertex and
// index data is then unpacked one mesh at a time, front to back through the streams (a mesh
// before the last one decoded starts its stream again), so that only the current mesh's data is
// held; the results equal those of decoding the block from scratch for every mesh.
//
// Safe for untrusted input: tables, chunks and mesh slices are checked against the payload and
// the decoded data; a mesh that breaks them fails to decode, never reads outside a buffer.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "decode/decompress.h"
#include "it3/block.h"
#include "it3/byte_buffer.h"

namespace morvex {

// What distinguishes one vertex tag from another.
struct VertexLayout {
    enum class Storage { Plain, PerMeshChunks, WholeChunks, ChainedChunks };
    std::uint32_t tag;
    Storage storage;
    std::uint32_t stride;              // vertex size in bytes: 112 or 40
    std::uint32_t indexSize;           // 4 or 2
    std::int32_t vertexCountOffset;    // in the 116-byte mesh record; -1 when not read (VPA2)
    std::int32_t materialIndexOffset;  // in the mesh record
};

inline constexpr std::size_t kMeshRecordSize = 116;

// The layout of a vertex tag; null for a tag that is not one of the six.
const VertexLayout* FindVertexLayout(std::uint32_t tag);

// One decoded mesh: `vertexCount` vertices of `stride` bytes (the position at 0, with normals the
// normal at 16 and the texture coordinates at 48, without them the texture coordinates at 12;
// floats) and `faceCount` triangles of three `indexSize`-byte indices. A view: it owns nothing.
struct MeshData {
    Bytes vertices, indices;
    std::uint32_t stride = 40;
    std::uint32_t indexSize = 2;
    std::int32_t vertexCount = 0, faceCount = 0;

    bool HasNormals() const { return stride == 112; }
    // An index outside the mesh reads as zeros.
    std::array<float, 3> PositionAt(std::int32_t i) const {
        if (i < 0 || i >= vertexCount) return {};
        const std::uint8_t* v = vertices.data() + static_cast<std::size_t>(i) * stride;
        return {LoadF32(v), LoadF32(v + 4), LoadF32(v + 8)};
    }
    // Zeros without normals.
    std::array<float, 3> NormalAt(std::int32_t i) const {
        if (!HasNormals() || i < 0 || i >= vertexCount) return {};
        const std::uint8_t* v = vertices.data() + static_cast<std::size_t>(i) * stride + 16;
        return {LoadF32(v), LoadF32(v + 4), LoadF32(v + 8)};
    }
    std::array<float, 2> TexCoordAt(std::int32_t i) const {
        if (i < 0 || i >= vertexCount) return {};
        const std::uint8_t* v =
            vertices.data() + static_cast<std::size_t>(i) * stride + (HasNormals() ? 48 : 12);
        return {LoadF32(v), LoadF32(v + 4)};
    }
    std::array<std::uint32_t, 3> FaceAt(std::int32_t t) const {
        if (t < 0 || t >= faceCount) return {};
        const std::uint8_t* p = indices.data() + static_cast<std::size_t>(t) * 3 * indexSize;
        if (indexSize == 4) return {LoadU32(p), LoadU32(p + 4), LoadU32(p + 8)};
        return {LoadU16(p), LoadU16(p + 2), LoadU16(p + 4)};
    }
};
inline constexpr std::uint32_t kChainedVertexChunk = 262144;

class VertexBlock : public Block {
  public:
    explicit VertexBlock(const VertexLayout& layout);
    // The current mesh and the whole-block data are views into this object's own buffers; a
    // copy would keep views into the original's.
    VertexBlock(const VertexBlock&) = delete;
    VertexBlock& operator=(const VertexBlock&) = delete;

    // The number of meshes stored at payload offset 0; needs no Decode.
    virtual std::int32_t Count() const { return PayloadCount(); }
    // Makes mesh m current and stores the index of its Material; 0 on success, -1 on failure
    // (m outside 0..Count()-1, broken data, no memory), after which no mesh is current.
    virtual int Decode(std::int32_t m, std::int32_t& materialIndex);
    virtual int Release();
    // How many meshes, from mesh 0 on, the block's tables locate (at most Count(); 0 when the
    // whole-block data is broken). Decode(m) fails for every m at or above it, so a caller can
    // give up on the rest at once instead of trying a count the file may set to billions.
    std::int32_t LocatedMeshes();

    bool HasNormals() const { return layout_.stride == 112; }
    std::int32_t VertexCount() const { return current_.vertexCount; }
    std::int32_t FaceCount() const { return current_.faceCount; }
    // Vertex and triangle accessors of the current mesh; an index outside it reads as zeros.
    std::array<float, 3> PositionAt(std::int32_t i) const { return current_.PositionAt(i); }
    // Zeros when HasNormals() is false.
    std::array<float, 3> NormalAt(std::int32_t i) const { return current_.NormalAt(i); }
    std::array<float, 2> TexCoordAt(std::int32_t i) const { return current_.TexCoordAt(i); }
    std::array<std::uint32_t, 3> FaceAt(std::int32_t t) const { return current_.FaceAt(t); }

    // The current mesh as a view. Its bytes stay valid until the next Decode or Release unless
    // HoldCurrent keeps them (VPAC's, which are the payload's own, until the block is bound to
    // another block or destroyed).
    const MeshData& Current() const { return current_; }
    // Keeps the bytes of the current mesh's view alive for as long as the result lives, whatever
    // this block decodes next: it takes over their storage; for VPAC they are the payload's and
    // nothing needs holding (null).
    std::shared_ptr<const void> HoldCurrent();

    const VertexLayout& Layout() const { return layout_; }
    // The current mesh's raw vertex and index bytes.
    Bytes VertexData() const { return current_.vertices; }
    Bytes IndexData() const { return current_.indices; }

  protected:
    void OnBind() override;

  private:
    struct MeshSlice {
        std::int32_t materialIndex = 0;
        bool valid = false;
        std::uint64_t vertexOffset = 0, vertexBytes = 0;  // into the whole-block vertex data
        std::uint64_t indexOffset = 0, indexBytes = 0;    // into the whole-block index data
        std::uint64_t entryOffset = 0;                    // VPA2: the mesh's entry in the payload
    };

    void SetCurrent(Bytes vertices, Bytes indices);
    // Exposes the mesh of a valid slice, unpacking its data; false when VPA2's chunks cannot be
    // located. May throw std::bad_alloc.
    bool MakeCurrent(const MeshSlice& slice);
    // Unpacks bytes [offset, offset + dest.size()) of VPA8's chained vertex data.
    void ReadChained(std::uint64_t offset, MutableBytes dest);
    // Reads the tables and locates the meshes, once per binding.
    void EnsurePrepared();
    bool Prepare();
    bool PreparePlain(Bytes payload, std::int32_t n);
    bool PreparePerMesh(Bytes payload, std::int32_t n);
    bool PrepareWhole(Bytes payload, std::int32_t n);
    bool PrepareChained(Bytes payload, std::int32_t n);
    // Fills the slices from per-mesh vertex and index counts over the whole-block data.
    void SliceMeshes(Bytes records, std::size_t recordStride, Bytes counts, std::size_t countStride,
                     std::size_t countOffset, std::int32_t n);

    const VertexLayout& layout_;
    bool prepared_ = false;
    bool broken_ = false;
    std::vector<MeshSlice> meshes_;
    std::uint64_t vertexBytes_ = 0, indexBytes_ = 0;  // the whole-block data's sizes
    Bytes vertexData_, indexData_;                    // VPAC: the whole-block data
    StreamReader vertexReader_, indexReader_;         // VPA4, VPA5, VPA7; VPA8's indices
    std::vector<PackedChunk> chain_;                  // VPA8's vertex chunks
    std::vector<std::uint64_t> chainStarts_;          // where each one's bytes start
    ByteBuffer linkStore_;                            // the last vertex chunk read in part
    std::size_t linkInStore_ = SIZE_MAX;              // its number
    ByteBuffer meshVertexStore_, meshIndexStore_;     // the current mesh's data
    MeshData current_;                                // the current mesh
    // Stores that HoldCurrent gave away come back here when their holder is done with them, so
    // that the next meshes decode into memory whose pages are in place already.
    std::shared_ptr<ByteBufferPool> pool_;
    // Sizes the current mesh's stores, replacing stores given away from the pool.
    void SizeStores(std::size_t vertexBytes, std::size_t indexBytes);
};

class Vpa2Block : public VertexBlock {
  public:
    Vpa2Block();
};
class Vpa4Block : public VertexBlock {
  public:
    Vpa4Block();
};
class Vpa5Block : public VertexBlock {
  public:
    Vpa5Block();
};
class Vpa7Block : public VertexBlock {
  public:
    Vpa7Block();
};
class Vpa8Block : public VertexBlock {
  public:
    Vpa8Block();
};
class VpacBlock : public VertexBlock {
  public:
    VpacBlock();
};

}  // namespace morvex
