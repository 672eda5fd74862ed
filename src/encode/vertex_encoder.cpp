#include "encode/vertex_encoder.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "decode/decompress.h"
#include "encode/packed_chunk.h"
#include "it3/parallel.h"

namespace morvex {
namespace {

using Storage = VertexLayout::Storage;

// A VPA2 entry holds 8 unread bytes between its two chunks; a VPA8 index-count entry is 12 bytes
// with the count at offset 4.
constexpr std::size_t kVpa2Gap = 8;
constexpr std::size_t kCountEntry = 12;
constexpr std::size_t kCountAt = 4;
// The vertex count a record keeps where the tag's decoder does not read one (VPA2).
constexpr std::size_t kUnreadCountOffset = 0;
constexpr std::int64_t kMax16BitVertices = 65535;
constexpr std::uint64_t kMaxPayload = INT32_MAX;

std::string MeshName(std::string_view objectName, std::size_t mesh) {
    return "object \"" + std::string(objectName) + "\", mesh " + std::to_string(mesh);
}

std::string TagName(std::uint32_t tag) {
    std::string name(4, ' ');
    for (std::size_t k = 0; k < 4; ++k) name[k] = static_cast<char>(tag >> (8 * k));
    return name;
}

// The block-level bytes no reader uses: VPA4/5/7's word at 4 and the word behind the vertex
// chunk, VPA8's 8 bytes at 4, VPAC's word behind the vertices. What `original` does not hold
// stays 0.
struct KeptWords {
    std::array<std::uint8_t, 8> head{};
    std::array<std::uint8_t, 4> middle{};
};

KeptWords ReadKeptWords(const VertexLayout& layout, Bytes original) {
    KeptWords kept;
    ByteReader reader(original);
    Bytes bytes;
    std::int32_t n = 0;
    if (!reader.I32(0, n) || n < 0) return kept;
    const std::uint64_t records = static_cast<std::uint64_t>(n) * kMeshRecordSize;
    switch (layout.storage) {
        case Storage::WholeChunks: {
            if (reader.Sub(4, 4, bytes)) std::copy(bytes.begin(), bytes.end(), kept.head.begin());
            PackedChunk chunk;
            if (ReadPackedChunk(original, 8 + records, kGeometrySizeAdjust, chunk) &&
                reader.Sub(chunk.end, 4, bytes)) {
                std::copy(bytes.begin(), bytes.end(), kept.middle.begin());
            }
            break;
        }
        case Storage::ChainedChunks:
            if (reader.Sub(4, 8, bytes)) std::copy(bytes.begin(), bytes.end(), kept.head.begin());
            break;
        case Storage::Plain: {
            std::uint64_t vertices = 0;
            for (std::int32_t k = 0; k < n; ++k) {
                std::int32_t count = 0;
                if (!reader.I32(4 + static_cast<std::uint64_t>(k) * kMeshRecordSize, count) ||
                    count < 0) {
                    return kept;
                }
                vertices += static_cast<std::uint64_t>(count);
            }
            if (reader.Sub(4 + records + vertices * layout.stride, 4, bytes)) {
                std::copy(bytes.begin(), bytes.end(), kept.middle.begin());
            }
            break;
        }
        case Storage::PerMeshChunks:
            break;
    }
    return kept;
}

// The checked meshes laid out as the tag's tables and data.
struct Tables {
    std::vector<std::uint8_t> records;   // 116 bytes a mesh
    std::vector<std::uint8_t> counts;    // index counts: 4 bytes a mesh, VPA8 12
    std::vector<std::uint8_t> vertices;  // all meshes' vertices (not VPA2)
    std::vector<std::uint8_t> indices;   // all meshes' indices at the tag's width (not VPA2)
};

void PutIndices(std::span<const std::uint32_t> indices, std::uint32_t width,
                std::vector<std::uint8_t>& out) {
    const std::size_t start = out.size();
    out.resize(start + indices.size() * width);
    std::uint8_t* p = out.data() + start;
    for (std::uint32_t index : indices) {
        if (width == 4) {
            StoreU32(p, index);
        } else {
            StoreU16(p, index);
        }
        p += width;
    }
}

MeshRecord RecordOf(const VertexLayout& layout, const MeshInput& mesh, std::uint32_t vertices) {
    MeshRecord record = mesh.record;
    const std::size_t countAt = layout.vertexCountOffset >= 0
                                    ? static_cast<std::size_t>(layout.vertexCountOffset)
                                    : kUnreadCountOffset;
    StoreU32(record.data() + countAt, vertices);
    StoreU32(record.data() + static_cast<std::size_t>(layout.materialIndexOffset),
             static_cast<std::uint32_t>(mesh.materialIndex));
    return record;
}

EncodeResult CheckMesh(const VertexLayout& layout, const MeshInput& mesh, std::size_t m,
                       std::string_view objectName) {
    const std::uint64_t vertexCount = mesh.vertices.size() / layout.stride;
    if (mesh.vertices.size() % layout.stride != 0) {
        return EncodeResult::Fail(Outcome::Broken, MeshName(objectName, m) + ": " +
                                                       std::to_string(mesh.vertices.size()) +
                                                       " vertex bytes are not whole vertices of " +
                                                       std::to_string(layout.stride) + " bytes");
    }
    const std::int64_t most = MaxMeshVertices(layout.tag);
    if (vertexCount > static_cast<std::uint64_t>(most)) {
        return EncodeResult::Fail(
            Outcome::TooLarge, MeshName(objectName, m) + ": " + std::to_string(vertexCount) +
                                   " vertices; a " + TagName(layout.tag) + " mesh holds at most " +
                                   std::to_string(most));
    }
    if (mesh.indices.size() % 3 != 0) {
        return EncodeResult::Fail(Outcome::Broken, MeshName(objectName, m) + ": " +
                                                       std::to_string(mesh.indices.size()) +
                                                       " indices are not whole triangles");
    }
    for (std::size_t k = 0; k < mesh.indices.size(); ++k) {
        if (mesh.indices[k] >= vertexCount) {
            return EncodeResult::Fail(
                Outcome::Broken, MeshName(objectName, m) + ": triangle " + std::to_string(k / 3) +
                                     " names vertex " + std::to_string(mesh.indices[k]) + " of " +
                                     std::to_string(vertexCount));
        }
    }
    return {};
}

EncodeResult TooLargeBlock(std::string_view objectName) {
    return EncodeResult::Fail(Outcome::TooLarge, "object \"" + std::string(objectName) +
                                                     "\": the vertex block passes 2 GiB");
}

// Compresses `parts` as packed chunks each, at the same time, then appends them in order.
bool AppendChunks(std::vector<std::uint8_t>& out, const std::vector<Bytes>& parts) {
    for (Bytes part : parts) {
        if (part.size() > kMaxChunkData) return false;
    }
    std::vector<std::vector<std::uint8_t>> chunks(parts.size());
    ForEachIndex(parts.size(), [&](std::size_t k) {
        (void)AppendPackedChunk(chunks[k], parts[k], kGeometrySizeAdjust);
    });
    std::uint64_t total = out.size();
    for (const auto& chunk : chunks) total += chunk.size();
    if (total > kMaxPayload) return false;
    out.reserve(static_cast<std::size_t>(total));
    for (const auto& chunk : chunks) out.insert(out.end(), chunk.begin(), chunk.end());
    return true;
}

void AppendWord(std::vector<std::uint8_t>& out, std::uint32_t value) {
    const std::size_t at = out.size();
    out.resize(at + 4);
    StoreU32(out.data() + at, value);
}

template <std::size_t N>
void AppendBytes(std::vector<std::uint8_t>& out, const std::array<std::uint8_t, N>& bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

bool EncodePerMesh(const VertexLayout& layout, std::span<const MeshInput> meshes,
                   std::vector<std::uint8_t>& payload) {
    std::vector<std::vector<std::uint8_t>> indexBytes(meshes.size());
    std::vector<Bytes> parts;
    for (std::size_t m = 0; m < meshes.size(); ++m) {
        PutIndices(meshes[m].indices, layout.indexSize, indexBytes[m]);
        parts.push_back(meshes[m].vertices);
        parts.push_back(indexBytes[m]);
    }
    std::vector<std::vector<std::uint8_t>> chunks(parts.size());
    ForEachIndex(parts.size(), [&](std::size_t k) {
        (void)AppendPackedChunk(chunks[k], parts[k], kGeometrySizeAdjust);
    });
    for (std::size_t m = 0; m < meshes.size(); ++m) {
        const MeshInput& mesh = meshes[m];
        AppendBytes(payload,
                    RecordOf(layout, mesh,
                             static_cast<std::uint32_t>(mesh.vertices.size() / layout.stride)));
        payload.insert(payload.end(), chunks[2 * m].begin(), chunks[2 * m].end());
        AppendBytes(payload, mesh.extra);
        payload.insert(payload.end(), chunks[2 * m + 1].begin(), chunks[2 * m + 1].end());
        if (payload.size() > kMaxPayload) return false;
    }
    return true;
}

}  // namespace

std::uint32_t VertexStride(std::uint32_t tag) {
    const VertexLayout* layout = FindVertexLayout(tag);
    return layout ? layout->stride : 0;
}
std::uint32_t IndexWidth(std::uint32_t tag) {
    const VertexLayout* layout = FindVertexLayout(tag);
    return layout ? layout->indexSize : 0;
}
std::int64_t MaxMeshVertices(std::uint32_t tag) {
    const VertexLayout* layout = FindVertexLayout(tag);
    if (!layout) return 0;
    return layout->indexSize == 2 ? kMax16BitVertices : std::int64_t{INT32_MAX};
}

Outcome ReadOriginalMeshes(std::uint32_t tag, Bytes payload, std::vector<OriginalMesh>& meshes) {
    meshes.clear();
    const VertexLayout* layout = FindVertexLayout(tag);
    if (!layout) return Outcome::Unsupported;
    ByteReader reader(payload);
    std::int32_t n = 0;
    if (!reader.I32(0, n)) return Outcome::Broken;
    if (n <= 0) return Outcome::Ok;
    try {
        // Records at `first`, one every `stride` bytes, while they lie inside `table`.
        auto takeRecords = [&](Bytes table, std::uint64_t first) {
            ByteReader tableReader(table);
            for (std::int32_t k = 0; k < n; ++k) {
                Bytes record;
                if (!tableReader.Sub(first + static_cast<std::uint64_t>(k) * kMeshRecordSize,
                                     kMeshRecordSize, record)) {
                    break;
                }
                OriginalMesh& mesh = meshes.emplace_back();
                std::copy(record.begin(), record.end(), mesh.record.begin());
            }
        };
        switch (layout->storage) {
            case Storage::Plain:
                takeRecords(payload, 4);
                break;
            case Storage::WholeChunks:
                takeRecords(payload, 8);
                break;
            case Storage::PerMeshChunks: {
                std::uint64_t entry = 4;
                for (std::int32_t k = 0; k < n; ++k) {
                    Bytes record, gap;
                    PackedChunk vertexChunk, indexChunk;
                    if (!reader.Sub(entry, kMeshRecordSize, record) ||
                        !ReadPackedChunk(payload, entry + kMeshRecordSize, kGeometrySizeAdjust,
                                         vertexChunk) ||
                        !reader.Sub(vertexChunk.end, kVpa2Gap, gap) ||
                        !ReadPackedChunk(payload, vertexChunk.end + kVpa2Gap, kGeometrySizeAdjust,
                                         indexChunk)) {
                        break;
                    }
                    OriginalMesh& mesh = meshes.emplace_back();
                    std::copy(record.begin(), record.end(), mesh.record.begin());
                    std::copy(gap.begin(), gap.end(), mesh.extra.begin());
                    entry = indexChunk.end;
                }
                break;
            }
            case Storage::ChainedChunks: {
                std::vector<std::uint8_t> table, counts;
                PackedChunk chunk;
                if (!UnpackChunkAt(payload, 12, kGeometrySizeAdjust, table, &chunk)) {
                    return Outcome::Broken;
                }
                std::uint64_t next = chunk.end;
                for (;;) {
                    PackedChunk link;
                    if (!ReadPackedChunk(payload, next, kGeometrySizeAdjust, link)) {
                        return Outcome::Broken;
                    }
                    next = link.end;
                    if (link.unpackedSize != kChainedVertexChunk) break;
                }
                if (!UnpackChunkAt(payload, next, kGeometrySizeAdjust, counts)) {
                    return Outcome::Broken;
                }
                takeRecords(table, 0);
                const std::size_t located = std::min(meshes.size(), counts.size() / kCountEntry);
                meshes.resize(located);
                for (std::size_t k = 0; k < located; ++k) {
                    const std::uint8_t* entry = counts.data() + k * kCountEntry;
                    std::copy_n(entry, kCountAt, meshes[k].extra.begin());
                    std::copy_n(entry + kCountAt + 4, kCountEntry - kCountAt - 4,
                                meshes[k].extra.begin() + kCountAt);
                }
                break;
            }
        }
    } catch (const std::bad_alloc&) {
        meshes.clear();
        return Outcome::NoMemory;
    }
    return Outcome::Ok;
}

EncodeResult EncodeVertexBlock(std::uint32_t tag, std::span<const MeshInput> meshes,
                               std::string_view objectName, Bytes originalPayload,
                               std::vector<std::uint8_t>& payload) {
    payload.clear();
    const VertexLayout* found = FindVertexLayout(tag);
    if (!found) {
        return EncodeResult::Fail(
            Outcome::Unsupported,
            "object \"" + std::string(objectName) + "\": " + TagName(tag) + " is not a vertex tag");
    }
    const VertexLayout& layout = *found;
    std::uint64_t vertexBytes = 0, indexBytes = 0;
    for (std::size_t m = 0; m < meshes.size(); ++m) {
        if (EncodeResult checked = CheckMesh(layout, meshes[m], m, objectName); !checked.Ok()) {
            return checked;
        }
        vertexBytes += meshes[m].vertices.size();
        indexBytes += std::uint64_t{meshes[m].indices.size()} * layout.indexSize;
    }
    const std::uint64_t n = meshes.size();
    const std::uint64_t tableBytes = n * (kMeshRecordSize + kCountEntry);
    if (n > INT32_MAX || vertexBytes > kMaxPayload || indexBytes > kMaxPayload ||
        tableBytes + vertexBytes + indexBytes > kMaxPayload ||
        (layout.storage != Storage::ChainedChunks &&
         (vertexBytes > kMaxChunkData || indexBytes > kMaxChunkData))) {
        return TooLargeBlock(objectName);
    }

    try {
        AppendWord(payload, static_cast<std::uint32_t>(n));
        if (layout.storage == Storage::PerMeshChunks) {
            if (!EncodePerMesh(layout, meshes, payload)) {
                payload.clear();
                return TooLargeBlock(objectName);
            }
            return {};
        }

        const KeptWords kept = ReadKeptWords(layout, originalPayload);
        Tables tables;
        tables.records.reserve(static_cast<std::size_t>(n * kMeshRecordSize));
        tables.vertices.reserve(static_cast<std::size_t>(vertexBytes));
        tables.indices.reserve(static_cast<std::size_t>(indexBytes));
        for (const MeshInput& mesh : meshes) {
            const auto vertexCount =
                static_cast<std::uint32_t>(mesh.vertices.size() / layout.stride);
            AppendBytes(tables.records, RecordOf(layout, mesh, vertexCount));
            tables.vertices.insert(tables.vertices.end(), mesh.vertices.begin(),
                                   mesh.vertices.end());
            PutIndices(mesh.indices, layout.indexSize, tables.indices);
            const auto indexCount = static_cast<std::uint32_t>(mesh.indices.size());
            if (layout.storage == Storage::ChainedChunks) {
                tables.counts.insert(tables.counts.end(), mesh.extra.begin(),
                                     mesh.extra.begin() + kCountAt);
                AppendWord(tables.counts, indexCount);
                tables.counts.insert(tables.counts.end(), mesh.extra.begin() + kCountAt,
                                     mesh.extra.end());
            } else {
                AppendWord(tables.counts, indexCount);
            }
        }

        bool fits = true;
        switch (layout.storage) {
            case Storage::Plain:
                payload.insert(payload.end(), tables.records.begin(), tables.records.end());
                payload.insert(payload.end(), tables.vertices.begin(), tables.vertices.end());
                AppendBytes(payload, kept.middle);
                payload.insert(payload.end(), tables.counts.begin(), tables.counts.end());
                payload.insert(payload.end(), tables.indices.begin(), tables.indices.end());
                fits = payload.size() <= kMaxPayload;
                break;
            case Storage::WholeChunks: {
                payload.insert(payload.end(), kept.head.begin(), kept.head.begin() + 4);
                payload.insert(payload.end(), tables.records.begin(), tables.records.end());
                // Both streams at once; the index chunk goes behind the word and the counts.
                std::vector<std::uint8_t> indexChunk;
                RunBoth(
                    [&] { (void)AppendPackedChunk(payload, tables.vertices, kGeometrySizeAdjust); },
                    [&] {
                        (void)AppendPackedChunk(indexChunk, tables.indices, kGeometrySizeAdjust);
                    });
                AppendBytes(payload, kept.middle);
                payload.insert(payload.end(), tables.counts.begin(), tables.counts.end());
                payload.insert(payload.end(), indexChunk.begin(), indexChunk.end());
                fits = payload.size() <= kMaxPayload;
                break;
            }
            case Storage::ChainedChunks: {
                AppendBytes(payload, kept.head);
                // The vertex data in chunks of 262144 bytes while they are full; the first chunk
                // of another size, empty when the data ends on a full one, is the last.
                std::vector<Bytes> parts{tables.records};
                const Bytes vertices(tables.vertices);
                std::size_t at = 0;
                for (;;) {
                    const std::size_t take =
                        std::min<std::size_t>(kChainedVertexChunk, vertices.size() - at);
                    parts.push_back(vertices.subspan(at, take));
                    at += take;
                    if (take != kChainedVertexChunk) break;
                }
                parts.push_back(tables.counts);
                parts.push_back(tables.indices);
                fits = AppendChunks(payload, parts);
                break;
            }
            case Storage::PerMeshChunks:
                break;
        }
        if (!fits) {
            payload.clear();
            return TooLargeBlock(objectName);
        }
    } catch (const std::bad_alloc&) {
        payload.clear();
        return EncodeResult::Fail(Outcome::NoMemory, "object \"" + std::string(objectName) +
                                                         "\": no memory for the vertex block");
    }
    return {};
}

}  // namespace morvex
