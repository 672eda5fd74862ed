#include "testdata/reencode.h"

#include <algorithm>
#include <cstring>

#include "decode/texture_block.h"
#include "decode/vertex_block.h"
#include "encode/material_encoder.h"
#include "encode/texture_encoder.h"
#include "encode/vertex_encoder.h"

namespace morvex::testdata {
namespace {

bool IsMaterialTag(std::uint32_t tag) {
    return tag == TagValue("MATE") || tag == TagValue("MAT2") || tag == TagValue("MAT3") ||
           tag == TagValue("MAT4");
}

// A decoder of the block's vertex tag, bound to it.
std::unique_ptr<VertexBlock> BindVertexDecoder(std::uint32_t tag, Bytes bytes) {
    auto decoder = std::make_unique<VertexBlock>(*FindVertexLayout(tag));
    decoder->ReadHeader(bytes, 0, 0, "model");
    return decoder;
}

// A header and payload in one buffer, as a decoder binds to them.
std::vector<std::uint8_t> WithHeader(std::uint32_t tag, Bytes payload) {
    std::vector<std::uint8_t> bytes(8 + payload.size());
    StoreU32(bytes.data(), tag);
    StoreU32(bytes.data() + 4, static_cast<std::uint32_t>(payload.size()));
    std::copy(payload.begin(), payload.end(), bytes.begin() + 8);
    return bytes;
}

// Every mesh a vertex block locates and decodes, as the encoder takes it.
struct DecodedMeshes {
    std::vector<std::vector<std::uint8_t>> vertices;
    std::vector<std::vector<std::uint32_t>> indices;
    std::vector<std::int32_t> materials;
    std::vector<OriginalMesh> originals;
};

bool DecodeMeshes(std::uint32_t tag, Bytes bytes, DecodedMeshes& out, std::string& why) {
    std::unique_ptr<VertexBlock> decoder = BindVertexDecoder(tag, bytes);
    if (ReadOriginalMeshes(tag, bytes.subspan(8), out.originals) != Outcome::Ok) {
        why = "the mesh records cannot be read";
        return false;
    }
    const auto located = static_cast<std::size_t>(decoder->LocatedMeshes());
    out.originals.resize(std::min(out.originals.size(), located));
    for (std::size_t m = 0; m < out.originals.size(); ++m) {
        std::int32_t material = 0;
        if (decoder->Decode(static_cast<std::int32_t>(m), material) != 0) {
            why = "mesh " + std::to_string(m) + " does not decode";
            return false;
        }
        const MeshData& mesh = decoder->Current();
        out.vertices.emplace_back(
            mesh.vertices.begin(),
            mesh.vertices.begin() +
                static_cast<std::ptrdiff_t>(std::size_t{mesh.stride} *
                                            static_cast<std::size_t>(mesh.vertexCount)));
        std::vector<std::uint32_t>& indices = out.indices.emplace_back();
        for (std::int32_t t = 0; t < mesh.faceCount; ++t) {
            for (std::uint32_t i : mesh.FaceAt(t)) indices.push_back(i);
        }
        out.materials.push_back(material);
    }
    return true;
}

}  // namespace

std::vector<FileBlock> ListBlocks(Bytes file) {
    std::vector<FileBlock> blocks;
    ByteReader reader(file);
    std::uint64_t offset = 0;
    std::uint32_t tag = 0;
    std::int32_t size = 0;
    Bytes bytes;
    while (reader.U32(offset, tag) && reader.I32(offset + 4, size) && size >= 0 &&
           reader.Sub(offset, 8 + static_cast<std::uint64_t>(size), bytes)) {
        blocks.push_back({tag, offset, bytes});
        offset += bytes.size();
    }
    return blocks;
}

bool IsReencoded(std::uint32_t tag) {
    return IsMaterialTag(tag) || FindVertexLayout(tag) || tag == kTagTexi;
}

EncodeResult ReencodeBlock(const FileBlock& block, std::vector<std::uint8_t>& payload) {
    const Bytes original = block.Payload();
    if (IsMaterialTag(block.tag)) {
        std::vector<MaterialRecord> records;
        if (Outcome read = ReadMaterialRecords(block.tag, original, records); read != Outcome::Ok) {
            return EncodeResult::Fail(read, "the material records cannot be read");
        }
        return EncodeMaterialBlock(block.tag, records, payload);
    }
    if (FindVertexLayout(block.tag)) {
        DecodedMeshes decoded;
        std::string why;
        if (!DecodeMeshes(block.tag, block.bytes, decoded, why)) {
            return EncodeResult::Fail(Outcome::Broken, why);
        }
        std::vector<MeshInput> meshes(decoded.originals.size());
        for (std::size_t m = 0; m < meshes.size(); ++m) {
            meshes[m].record = decoded.originals[m].record;
            meshes[m].extra = decoded.originals[m].extra;
            meshes[m].vertices = decoded.vertices[m];
            meshes[m].indices = decoded.indices[m];
            meshes[m].materialIndex = decoded.materials[m];
        }
        return EncodeVertexBlock(block.tag, meshes, "model", original, payload);
    }
    if (block.tag == kTagTexi) {
        Picture picture;
        if (Outcome decoded = DecodeTexture(ByteReader(original).Tail(kTextureNameSize), picture);
            decoded != Outcome::Ok) {
            return EncodeResult::Fail(decoded, "the texture does not decode");
        }
        return EncodeTexture(original, ImageFromPicture(picture), payload);
    }
    return EncodeResult::Fail(Outcome::Unsupported, "not a re-encoded tag");
}

bool SameContent(std::uint32_t tag, Bytes a, Bytes b, std::string& why) {
    if (IsMaterialTag(tag)) {
        std::vector<MaterialRecord> ra, rb;
        if (ReadMaterialRecords(tag, a, ra) != Outcome::Ok ||
            ReadMaterialRecords(tag, b, rb) != Outcome::Ok) {
            why = "records unreadable";
            return false;
        }
        if (ra != rb) why = "material records differ";
        return ra == rb;
    }
    if (FindVertexLayout(tag)) {
        const std::vector<std::uint8_t> fa = WithHeader(tag, a), fb = WithHeader(tag, b);
        DecodedMeshes ma, mb;
        if (!DecodeMeshes(tag, fa, ma, why) || !DecodeMeshes(tag, fb, mb, why)) return false;
        if (ma.originals.size() != mb.originals.size()) {
            why = "mesh counts " + std::to_string(ma.originals.size()) + " and " +
                  std::to_string(mb.originals.size());
            return false;
        }
        const bool vpa2 = tag == TagValue("VPA2");
        for (std::size_t m = 0; m < ma.originals.size(); ++m) {
            MeshRecord recordA = ma.originals[m].record, recordB = mb.originals[m].record;
            if (vpa2) std::fill_n(recordA.begin(), 4, 0), std::fill_n(recordB.begin(), 4, 0);
            const char* differs = ma.vertices[m] != mb.vertices[m]     ? "vertices"
                                  : ma.indices[m] != mb.indices[m]     ? "triangles"
                                  : ma.materials[m] != mb.materials[m] ? "material index"
                                  : recordA != recordB                 ? "record"
                                  : ma.originals[m].extra != mb.originals[m].extra ? "kept bytes"
                                                                                   : nullptr;
            if (differs) {
                why = "mesh " + std::to_string(m) + ": " + differs + " differ";
                return false;
            }
        }
        return true;
    }
    if (tag == kTagTexi) {
        Picture pa, pb;
        const Outcome oa = DecodeTexture(ByteReader(a).Tail(kTextureNameSize), pa);
        const Outcome ob = DecodeTexture(ByteReader(b).Tail(kTextureNameSize), pb);
        const bool same =
            oa == ob && pa.width == pb.width && pa.height == pb.height &&
            pa.bitsPerPixel == pb.bitsPerPixel && pa.palette == pb.palette &&
            pa.pixels == pb.pixels &&
            ByteReader(a).Text(0, kTextureNameSize) == ByteReader(b).Text(0, kTextureNameSize);
        if (!same) why = "pictures differ";
        return same;
    }
    why = "not a re-encoded tag";
    return false;
}

}  // namespace morvex::testdata
