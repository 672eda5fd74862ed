#include "testdata/it3_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "encode/compress.h"

namespace morvex::testdata {
namespace {

constexpr std::size_t kRecordSize = 116;
constexpr std::uint32_t kChainChunk = 262144;

bool IsTag(std::string_view tag, std::string_view a) {
    return tag == a;
}

std::size_t StrideOf(std::string_view tag) {
    return (IsTag(tag, "VPA2") || IsTag(tag, "VPA4") || IsTag(tag, "VPAC")) ? 112 : 40;
}

}  // namespace

PayloadWriter& PayloadWriter::U8(std::uint8_t v) {
    bytes.push_back(v);
    return *this;
}
PayloadWriter& PayloadWriter::U16(std::uint16_t v) {
    bytes.push_back(static_cast<std::uint8_t>(v));
    bytes.push_back(static_cast<std::uint8_t>(v >> 8));
    return *this;
}
PayloadWriter& PayloadWriter::U32(std::uint32_t v) {
    for (int k = 0; k < 4; ++k) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
    return *this;
}
PayloadWriter& PayloadWriter::F32(float v) {
    std::uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return U32(bits);
}
PayloadWriter& PayloadWriter::Raw(std::span<const std::uint8_t> raw) {
    bytes.insert(bytes.end(), raw.begin(), raw.end());
    return *this;
}
PayloadWriter& PayloadWriter::Zeros(std::size_t count) {
    bytes.insert(bytes.end(), count, 0);
    return *this;
}
PayloadWriter& PayloadWriter::Text(std::string_view text, std::size_t fieldSize) {
    std::size_t n = std::min(text.size(), fieldSize);
    bytes.insert(bytes.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n));
    return Zeros(fieldSize - n);
}
PayloadWriter& PayloadWriter::Chunk(std::span<const std::uint8_t> raw) {
    return Raw(PackChunk(raw));
}

ByteVector PackStream(std::span<const std::uint8_t> stream, std::uint32_t unpackedSize,
                      std::size_t padding) {
    PayloadWriter w;
    w.U32(static_cast<std::uint32_t>(8 + stream.size() + padding)).U32(unpackedSize).U32(0);
    w.Raw(stream).Zeros(padding);
    return w.bytes;
}

ByteVector PackChunk(std::span<const std::uint8_t> raw, std::size_t padding) {
    return PackStream(Compress(raw), static_cast<std::uint32_t>(raw.size()), padding);
}

Mesh UnitTriangle() {
    Mesh triangle;
    triangle.vertices = {{{0, 0, 0}, {0, 0, 1}, {0, 0}},
                         {{1, 0, 0}, {0, 0, 1}, {1, 0}},
                         {{0, 1, 0}, {0, 0, 1}, {0, 1}}};
    triangle.indices = {0, 1, 2};
    return triangle;
}

ByteVector MaterialRecord(const Material& material) {
    PayloadWriter w;
    w.Text(material.name, 64).Text(material.texture, 64).Text(material.alphaMap, 64);
    w.Zeros(180).F32(material.power).Zeros(8);
    return w.bytes;
}

ByteVector MaterialPayload(std::string_view tag, const std::vector<Material>& materials) {
    ByteVector table;
    for (const Material& m : materials) {
        ByteVector record = MaterialRecord(m);
        table.insert(table.end(), record.begin(), record.end());
    }
    PayloadWriter w;
    w.I32(static_cast<std::int32_t>(materials.size()));
    if (IsTag(tag, "MATE") || IsTag(tag, "MAT3")) {
        w.Raw(table);
    } else {
        w.Chunk(table);
    }
    return w.bytes;
}

ByteVector VertexBytes(const std::vector<Vertex>& vertices, std::size_t stride) {
    PayloadWriter w;
    for (const Vertex& v : vertices) {
        std::size_t start = w.Size();
        w.F32(v.position[0]).F32(v.position[1]).F32(v.position[2]);
        if (stride == 112) {
            w.Zeros(4).F32(v.normal[0]).F32(v.normal[1]).F32(v.normal[2]);
            w.Zeros(20).F32(v.texCoord[0]).F32(v.texCoord[1]);
        } else {
            w.F32(v.texCoord[0]).F32(v.texCoord[1]);
        }
        w.Zeros(stride - (w.Size() - start));
    }
    return w.bytes;
}

ByteVector IndexBytes(const std::vector<std::uint32_t>& indices, std::size_t indexSize) {
    PayloadWriter w;
    for (std::uint32_t i : indices) {
        if (indexSize == 4) {
            w.U32(i);
        } else {
            w.U16(static_cast<std::uint16_t>(i));
        }
    }
    return w.bytes;
}

ByteVector MeshRecord(std::string_view tag, const Mesh& mesh) {
    ByteVector record(kRecordSize, 0);
    auto put = [&record](std::size_t at, std::int32_t v) {
        for (int k = 0; k < 4; ++k)
            record[at + k] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * k));
    };
    auto vertexCount = static_cast<std::int32_t>(mesh.vertices.size());
    if (IsTag(tag, "VPA8")) {
        put(28, vertexCount);
        put(20, mesh.materialIndex);
    } else {
        put(0, vertexCount);
        put(24, mesh.materialIndex);
    }
    return record;
}

ByteVector VertexPayload(std::string_view tag, const std::vector<Mesh>& meshes) {
    std::size_t stride = StrideOf(tag);
    std::size_t indexSize = stride == 112 ? 4 : 2;
    ByteVector records, vertices, indices;
    PayloadWriter counts;
    for (const Mesh& mesh : meshes) {
        ByteVector r = MeshRecord(tag, mesh), v = VertexBytes(mesh.vertices, stride),
                   i = IndexBytes(mesh.indices, indexSize);
        records.insert(records.end(), r.begin(), r.end());
        vertices.insert(vertices.end(), v.begin(), v.end());
        indices.insert(indices.end(), i.begin(), i.end());
        if (IsTag(tag, "VPA8")) {
            counts.U32(0).U32(static_cast<std::uint32_t>(mesh.indices.size())).U32(0);
        } else {
            counts.U32(static_cast<std::uint32_t>(mesh.indices.size()));
        }
    }
    PayloadWriter w;
    w.I32(static_cast<std::int32_t>(meshes.size()));
    if (IsTag(tag, "VPAC")) {
        w.Raw(records).Raw(vertices).U32(0).Raw(counts.bytes).Raw(indices);
    } else if (IsTag(tag, "VPA2")) {
        for (const Mesh& mesh : meshes) {
            w.Raw(MeshRecord(tag, mesh)).Chunk(VertexBytes(mesh.vertices, stride));
            w.Zeros(8).Chunk(IndexBytes(mesh.indices, indexSize));
        }
    } else if (IsTag(tag, "VPA8")) {
        w.Zeros(8).Chunk(records);
        // Vertex chunks of 262144 bytes chain on; the first of any other size is the last.
        std::size_t pos = 0;
        do {
            std::size_t n = std::min<std::size_t>(kChainChunk, vertices.size() - pos);
            w.Chunk(std::span<const std::uint8_t>(vertices).subspan(pos, n));
            pos += n;
            if (n == kChainChunk && pos == vertices.size()) w.Chunk({});
        } while (pos < vertices.size());
        w.Chunk(counts.bytes).Chunk(indices);
    } else {  // VPA4, VPA5, VPA7
        w.U32(0).Raw(records).Chunk(vertices).U32(0).Raw(counts.bytes).Chunk(indices);
    }
    return w.bytes;
}

It3Writer& It3Writer::Header(std::string_view tag, std::int32_t payloadSize) {
    for (std::size_t k = 0; k < 4; ++k)
        bytes_.push_back(k < tag.size() ? static_cast<std::uint8_t>(tag[k]) : 0);
    for (int k = 0; k < 4; ++k)
        bytes_.push_back(
            static_cast<std::uint8_t>(static_cast<std::uint32_t>(payloadSize) >> (8 * k)));
    return *this;
}

It3Writer& It3Writer::Block(std::string_view tag, std::span<const std::uint8_t> payload) {
    Header(tag, static_cast<std::int32_t>(payload.size()));
    return Raw(payload);
}

It3Writer& It3Writer::Info(std::string_view objectName) {
    PayloadWriter w;
    w.Raw(std::span(reinterpret_cast<const std::uint8_t*>(objectName.data()), objectName.size()));
    w.Zeros(4);
    return Block("INFO", w.bytes);
}

It3Writer& It3Writer::Raw(std::span<const std::uint8_t> raw) {
    bytes_.insert(bytes_.end(), raw.begin(), raw.end());
    return *this;
}

bool It3Writer::Save(const std::string& path) const {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"),
                                                         std::fclose);
    if (!file) return false;
    return std::fwrite(bytes_.data(), 1, bytes_.size(), file.get()) == bytes_.size();
}

}  // namespace morvex::testdata
