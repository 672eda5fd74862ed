#include "decode/vertex_block.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "it3/parallel.h"

namespace morvex {
namespace {

using Storage = VertexLayout::Storage;

constexpr VertexLayout kVpa2{TagValue("VPA2"), Storage::PerMeshChunks, 112, 4, -1, 24};
constexpr VertexLayout kVpa4{TagValue("VPA4"), Storage::WholeChunks, 112, 4, 0, 24};
constexpr VertexLayout kVpa5{TagValue("VPA5"), Storage::WholeChunks, 40, 2, 0, 24};
constexpr VertexLayout kVpa7{TagValue("VPA7"), Storage::WholeChunks, 40, 2, 0, 24};
constexpr VertexLayout kVpa8{TagValue("VPA8"), Storage::ChainedChunks, 40, 2, 28, 20};
// A VPA2 mesh entry: the 116-byte record, the vertex chunk (its packedSize word, then packedSize
// bytes), kVpa2ChunkGap bytes that are not read, the index chunk (its packedSize word, then
// packedSize bytes). Without the two chunks' bodies an entry takes kVpa2EntryFixed bytes.
constexpr std::uint64_t kChunkSizeField = 4;
constexpr std::uint64_t kVpa2ChunkGap = 8;
constexpr std::uint64_t kVpa2EntryFixed = kMeshRecordSize + 2 * kChunkSizeField + kVpa2ChunkGap;
static_assert(kVpa2EntryFixed == 132);

// A mesh with at least this many bytes of data unpacks its vertex and index streams at once.
constexpr std::uint64_t kBothAtOnceFrom = 64 * 1024;
// Mesh stores kept for the next meshes: about as many as the pieces in flight can hold.
constexpr std::size_t kStoresKept = 6;

constexpr VertexLayout kVpac{TagValue("VPAC"), Storage::Plain, 112, 4, 0, 24};

}  // namespace

const VertexLayout* FindVertexLayout(std::uint32_t tag) {
    for (const VertexLayout* layout : {&kVpa2, &kVpa4, &kVpa5, &kVpa7, &kVpa8, &kVpac}) {
        if (layout->tag == tag) return layout;
    }
    return nullptr;
}

Vpa2Block::Vpa2Block() : VertexBlock(kVpa2) {}
Vpa4Block::Vpa4Block() : VertexBlock(kVpa4) {}
Vpa5Block::Vpa5Block() : VertexBlock(kVpa5) {}
Vpa7Block::Vpa7Block() : VertexBlock(kVpa7) {}
Vpa8Block::Vpa8Block() : VertexBlock(kVpa8) {}
VpacBlock::VpacBlock() : VertexBlock(kVpac) {}

VertexBlock::VertexBlock(const VertexLayout& layout) : layout_(layout) {
    typeTag = layout.tag;
}

void VertexBlock::OnBind() {
    Release();
    prepared_ = false;
    broken_ = false;
    meshes_.clear();
    vertexBytes_ = indexBytes_ = 0;
    vertexData_ = {};
    indexData_ = {};
    vertexReader_ = StreamReader();
    indexReader_ = StreamReader();
    chain_.clear();
    chainStarts_.clear();
    linkStore_.Clear();
    linkInStore_ = SIZE_MAX;
}

void VertexBlock::SetCurrent(Bytes vertices, Bytes indices) {
    current_.vertices = vertices;
    current_.indices = indices;
    current_.stride = layout_.stride;
    current_.indexSize = layout_.indexSize;
    current_.vertexCount = static_cast<std::int32_t>(
        std::min<std::size_t>(vertices.size() / layout_.stride, INT32_MAX));
    current_.faceCount = static_cast<std::int32_t>(
        std::min<std::size_t>(indices.size() / (3 * layout_.indexSize), INT32_MAX));
}

void VertexBlock::SizeStores(std::size_t vertexBytes, std::size_t indexBytes) {
    for (auto [store, bytes] :
         {std::pair{&meshVertexStore_, vertexBytes}, std::pair{&meshIndexStore_, indexBytes}}) {
        if (store->capacity() == 0 && pool_) *store = pool_->Take(bytes);
        store->Resize(bytes);
    }
}

std::shared_ptr<const void> VertexBlock::HoldCurrent() {
    if (layout_.storage == Storage::Plain) return nullptr;
    if (!pool_) pool_ = std::make_shared<ByteBufferPool>(kStoresKept);
    // Moving a ByteBuffer keeps its bytes where they are: the view stays valid. The stores go
    // back to the pool when the last holder lets go.
    struct Stores {
        Stores(ByteBuffer v, ByteBuffer i, std::shared_ptr<ByteBufferPool> p)
            : vertices(std::move(v)), indices(std::move(i)), pool(std::move(p)) {}
        Stores(const Stores&) = delete;
        Stores& operator=(const Stores&) = delete;
        ~Stores() {
            pool->Put(std::move(vertices));
            pool->Put(std::move(indices));
        }
        ByteBuffer vertices, indices;
        std::shared_ptr<ByteBufferPool> pool;
    };
    return std::make_shared<const Stores>(std::move(meshVertexStore_), std::move(meshIndexStore_),
                                          pool_);
}

int VertexBlock::Release() {
    SetCurrent({}, {});
    meshVertexStore_.Resize(0);
    meshIndexStore_.Resize(0);
    return 0;
}

int VertexBlock::Decode(std::int32_t m, std::int32_t& materialIndex) {
    Release();
    if (m < 0 || m >= Count()) return -1;
    EnsurePrepared();
    if (broken_ || static_cast<std::size_t>(m) >= meshes_.size()) return -1;
    const MeshSlice& slice = meshes_[static_cast<std::size_t>(m)];
    bool current = false;
    // The one place where a mesh's own allocations (its unpacked data) fail.
    try {
        current = slice.valid && MakeCurrent(slice);
    } catch (const std::bad_alloc&) {
        current = false;
    }
    if (!current) {
        Release();
        return -1;
    }
    materialIndex = slice.materialIndex;
    return 0;
}

bool VertexBlock::MakeCurrent(const MeshSlice& slice) {
    if (layout_.storage == Storage::Plain) {
        SetCurrent(vertexData_.subspan(slice.vertexOffset, slice.vertexBytes),
                   indexData_.subspan(slice.indexOffset, slice.indexBytes));
        return true;
    }
    if (layout_.storage == Storage::PerMeshChunks) {
        const Bytes payload = Payload();
        PackedChunk vertexChunk, indexChunk;
        if (!ReadPackedChunk(payload, slice.entryOffset + kMeshRecordSize, kGeometrySizeAdjust,
                             vertexChunk) ||
            !ReadPackedChunk(payload, vertexChunk.end + kVpa2ChunkGap, kGeometrySizeAdjust,
                             indexChunk)) {
            return false;
        }
        SizeStores(vertexChunk.unpackedSize, indexChunk.unpackedSize);
        UnpackChunk(vertexChunk, MutableBytes(meshVertexStore_));
        UnpackChunk(indexChunk, MutableBytes(meshIndexStore_));
        SetCurrent(Bytes(meshVertexStore_), Bytes(meshIndexStore_));
        return true;
    }
    SizeStores(static_cast<std::size_t>(slice.vertexBytes),
               static_cast<std::size_t>(slice.indexBytes));
    auto vertices = [&] {
        if (layout_.storage == Storage::ChainedChunks) {
            ReadChained(slice.vertexOffset, MutableBytes(meshVertexStore_));
        } else {
            vertexReader_.Read(slice.vertexOffset, MutableBytes(meshVertexStore_));
        }
    };
    auto indices = [&] { indexReader_.Read(slice.indexOffset, MutableBytes(meshIndexStore_)); };
    // The two streams are independent: a mesh of some size unpacks both at once.
    if (slice.vertexBytes + slice.indexBytes >= kBothAtOnceFrom) {
        RunBoth(vertices, indices);
    } else {
        vertices();
        indices();
    }
    SetCurrent(Bytes(meshVertexStore_), Bytes(meshIndexStore_));
    return true;
}

void VertexBlock::ReadChained(std::uint64_t offset, MutableBytes dest) {
    if (dest.empty()) return;
    const std::uint64_t end = offset + dest.size();
    // The chunks wholly inside the range unpack straight into it, several at a time; the one or
    // two it holds in part go through linkStore_, where the next mesh usually finds the first of
    // its own.
    std::vector<std::size_t> whole;
    auto k = static_cast<std::size_t>(
        std::upper_bound(chainStarts_.begin(), chainStarts_.end(), offset) - chainStarts_.begin());
    for (k = k == 0 ? 0 : k - 1; k < chain_.size() && chainStarts_[k] < end; ++k) {
        const std::uint64_t start = chainStarts_[k];
        const std::uint64_t stop = start + chain_[k].unpackedSize;
        const std::uint64_t from = std::max(offset, start);
        const std::uint64_t to = std::min(end, stop);
        if (from >= to) continue;
        if (from == start && to == stop) {
            whole.push_back(k);
            continue;
        }
        if (linkInStore_ != k) {
            linkInStore_ = SIZE_MAX;
            UnpackChunk(chain_[k], linkStore_);
            linkInStore_ = k;
        }
        std::memcpy(dest.data() + (from - offset), linkStore_.data() + (from - start),
                    static_cast<std::size_t>(to - from));
    }
    ForEachIndex(whole.size(), [&](std::size_t w) {
        const PackedChunk& link = chain_[whole[w]];
        UnpackChunk(link, dest.subspan(static_cast<std::size_t>(chainStarts_[whole[w]] - offset),
                                       link.unpackedSize));
    });
}

void VertexBlock::EnsurePrepared() {
    if (prepared_) return;
    prepared_ = true;
    // The one place where the whole-block data's allocations fail.
    try {
        broken_ = !Prepare();
    } catch (const std::bad_alloc&) {
        broken_ = true;
    }
    if (broken_) meshes_.clear();
}

std::int32_t VertexBlock::LocatedMeshes() {
    if (Count() <= 0) return 0;
    EnsurePrepared();
    if (broken_) return 0;
    return static_cast<std::int32_t>(
        std::min<std::size_t>(meshes_.size(), static_cast<std::size_t>(Count())));
}

bool VertexBlock::Prepare() {
    Bytes payload = Payload();
    std::int32_t n = Count();
    if (n <= 0) return true;
    switch (layout_.storage) {
        case Storage::Plain:
            return PreparePlain(payload, n);
        case Storage::PerMeshChunks:
            return PreparePerMesh(payload, n);
        case Storage::WholeChunks:
            return PrepareWhole(payload, n);
        case Storage::ChainedChunks:
            return PrepareChained(payload, n);
    }
    return false;
}

// VPAC: n, the mesh records, the vertices of all meshes, a word, the index counts, the indices.
bool VertexBlock::PreparePlain(Bytes payload, std::int32_t n) {
    ByteReader reader(payload);
    std::uint64_t recordBytes = static_cast<std::uint64_t>(n) * kMeshRecordSize;
    Bytes records;
    if (!reader.Sub(4, recordBytes, records)) return false;
    // The sum of all vertex counts locates everything behind the vertex data.
    std::uint64_t totalVertices = 0;
    for (std::int32_t k = 0; k < n; ++k) {
        std::int32_t count = 0;
        reader.I32(4 + static_cast<std::uint64_t>(k) * kMeshRecordSize +
                       static_cast<std::uint64_t>(layout_.vertexCountOffset),
                   count);
        if (count < 0) return false;
        totalVertices += static_cast<std::uint64_t>(count);
    }
    std::uint64_t vertexStart = 4 + recordBytes;
    std::uint64_t vertexBytes = totalVertices * layout_.stride;
    Bytes counts;
    if (!reader.Sub(vertexStart, vertexBytes, vertexData_) ||
        !reader.Sub(vertexStart + vertexBytes + 4, static_cast<std::uint64_t>(n) * 4, counts)) {
        return false;
    }
    indexData_ = reader.Tail(vertexStart + vertexBytes + 4 + static_cast<std::uint64_t>(n) * 4);
    vertexBytes_ = vertexData_.size();
    indexBytes_ = indexData_.size();
    SliceMeshes(records, kMeshRecordSize, counts, 4, 0, n);
    return true;
}

// VPA2: one entry per mesh: the record, its vertex chunk, 8 bytes, its index chunk.
bool VertexBlock::PreparePerMesh(Bytes payload, std::int32_t n) {
    ByteReader reader(payload);
    meshes_.reserve(
        std::min<std::size_t>(static_cast<std::size_t>(n), payload.size() / kVpa2EntryFixed + 1));
    std::uint64_t entry = 4;
    for (std::int32_t k = 0; k < n; ++k) {
        std::uint32_t vertexPacked = 0, indexPacked = 0;
        MeshSlice slice;
        slice.entryOffset = entry;
        if (!reader.Has(entry, kMeshRecordSize) ||
            !reader.I32(entry + static_cast<std::uint64_t>(layout_.materialIndexOffset),
                        slice.materialIndex) ||
            !reader.U32(entry + kMeshRecordSize, vertexPacked) ||
            !reader.U32(entry + kMeshRecordSize + kChunkSizeField + vertexPacked + kVpa2ChunkGap,
                        indexPacked)) {
            break;  // the walk cannot reach this entry or any behind it
        }
        slice.valid = true;
        meshes_.push_back(slice);
        entry += kVpa2EntryFixed + static_cast<std::uint64_t>(vertexPacked) + indexPacked;
    }
    return true;
}

// VPA4, VPA5, VPA7: n, a word, the records, the vertex chunk, a word, the index counts and the
// index chunk, both chunks for all meshes together.
bool VertexBlock::PrepareWhole(Bytes payload, std::int32_t n) {
    ByteReader reader(payload);
    std::uint64_t recordBytes = static_cast<std::uint64_t>(n) * kMeshRecordSize;
    Bytes records, counts;
    PackedChunk vertexChunk, indexChunk;
    if (!reader.Sub(8, recordBytes, records) ||
        !ReadPackedChunk(payload, 8 + recordBytes, kGeometrySizeAdjust, vertexChunk) ||
        !reader.Sub(vertexChunk.end + 4, static_cast<std::uint64_t>(n) * 4, counts) ||
        !ReadPackedChunk(payload, vertexChunk.end + 4 + static_cast<std::uint64_t>(n) * 4,
                         kGeometrySizeAdjust, indexChunk)) {
        return false;
    }
    vertexReader_ = StreamReader(vertexChunk);
    indexReader_ = StreamReader(indexChunk);
    vertexBytes_ = vertexChunk.unpackedSize;
    indexBytes_ = indexChunk.unpackedSize;
    SliceMeshes(records, kMeshRecordSize, counts, 4, 0, n);
    return true;
}

// VPA8: n, 8 bytes, the packed mesh table, vertex chunks chained while a chunk unpacks to
// exactly 262144 bytes, the packed index-count table (12-byte entries, the count at offset 4)
// and the index chunk.
//
// The chain is walked through its chunk headers: a chain that runs off the payload fails before
// anything is unpacked. Each chunk is a stream of its own, unpacked when a mesh needs its bytes.
bool VertexBlock::PrepareChained(Bytes payload, std::int32_t n) {
    std::vector<std::uint8_t> table, counts;
    PackedChunk chunk;
    if (!ReadPackedChunk(payload, 12, kGeometrySizeAdjust, chunk)) return false;
    std::uint64_t vertexBytes = 0;
    std::uint64_t next = chunk.end;
    for (;;) {
        PackedChunk link;
        if (!ReadPackedChunk(payload, next, kGeometrySizeAdjust, link)) return false;
        chain_.push_back(link);
        chainStarts_.push_back(vertexBytes);
        vertexBytes += link.unpackedSize;
        next = link.end;
        if (link.unpackedSize != kChainedVertexChunk) break;
    }
    PackedChunk countChunk, indexChunk;
    if (!ReadPackedChunk(payload, next, kGeometrySizeAdjust, countChunk) ||
        !ReadPackedChunk(payload, countChunk.end, kGeometrySizeAdjust, indexChunk)) {
        return false;
    }
    // The two tables are independent streams: both are unpacked at once.
    RunBoth([&] { UnpackChunk(chunk, table); }, [&] { UnpackChunk(countChunk, counts); });
    indexReader_ = StreamReader(indexChunk);
    vertexBytes_ = vertexBytes;
    indexBytes_ = indexChunk.unpackedSize;
    SliceMeshes(table, kMeshRecordSize, counts, 12, 4, n);
    return true;
}

void VertexBlock::SliceMeshes(Bytes records, std::size_t recordStride, Bytes counts,
                              std::size_t countStride, std::size_t countOffset, std::int32_t n) {
    ByteReader recordReader(records), countReader(counts);
    meshes_.reserve(
        std::min<std::size_t>(static_cast<std::size_t>(n), records.size() / recordStride));
    std::uint64_t vertexOffset = 0, indexOffset = 0;
    for (std::int32_t k = 0; k < n; ++k) {
        std::uint64_t record = static_cast<std::uint64_t>(k) * recordStride;
        MeshSlice slice;
        std::int32_t vertexCount = 0, indexCount = 0;
        // A mesh whose record or count lies outside its table, or whose counts are negative,
        // fails, and so does every mesh behind it: their offsets depend on it.
        if (!recordReader.Has(record, recordStride) ||
            !recordReader.I32(record + static_cast<std::uint64_t>(layout_.materialIndexOffset),
                              slice.materialIndex) ||
            !recordReader.I32(record + static_cast<std::uint64_t>(layout_.vertexCountOffset),
                              vertexCount) ||
            !countReader.I32(static_cast<std::uint64_t>(k) * countStride + countOffset,
                             indexCount) ||
            vertexCount < 0 || indexCount < 0) {
            break;
        }
        slice.vertexOffset = vertexOffset;
        slice.vertexBytes = static_cast<std::uint64_t>(vertexCount) * layout_.stride;
        slice.indexOffset = indexOffset;
        slice.indexBytes = static_cast<std::uint64_t>(indexCount) * layout_.indexSize;
        slice.valid = InBounds(vertexBytes_, slice.vertexOffset, slice.vertexBytes) &&
                      InBounds(indexBytes_, slice.indexOffset, slice.indexBytes);
        meshes_.push_back(slice);
        vertexOffset += slice.vertexBytes;
        indexOffset += slice.indexBytes;
    }
}

}  // namespace morvex
