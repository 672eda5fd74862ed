// The encoders on any input: decode(encode(x)) == x, and no input shape makes an encoder crash
// or produce a block its decoder reads differently. Byte 0 chooses the encoder:
//
//   0  the compressor (options from bytes 1 and 2) in a packed chunk for either reader: the
//      chunk unpacks to the data
//   1  material records (tag from byte 1, the records the rest, a last partial one padded)
//   2  meshes (tag from byte 1; from byte 2 on, per mesh a vertex count, a triangle count and a
//      material index, the vertex and index bytes taken from the input in turn): every mesh
//      decodes back, or the encoder refused a mesh that breaks a limit
//   3  a picture (format, tile sizes, form and size from bytes 1 to 5, the pixels from the
//      rest) in an original of that format: the stored picture has the colours asked for where
//      the stats say it is exact, and the stats count the pixels that differ
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "decode/decompress.h"
#include "decode/texture_block.h"
#include "decode/vertex_block.h"
#include "encode/material_encoder.h"
#include "encode/packed_chunk.h"
#include "encode/palette.h"
#include "encode/texture_encoder.h"
#include "encode/vertex_encoder.h"
#include "fuzz_support.h"
#include "it3/parallel.h"

using namespace morvex;

namespace {

// Bytes taken from the input in turn, starting over at its end (zeros for an empty input).
class Source {
  public:
    explicit Source(Bytes bytes) : bytes_(bytes) {}
    std::uint8_t Next() {
        if (bytes_.empty()) return 0;
        const std::uint8_t b = bytes_[at_];
        at_ = (at_ + 1) % bytes_.size();
        return b;
    }
    std::uint16_t Next16() { return static_cast<std::uint16_t>(Next() | Next() << 8); }

  private:
    Bytes bytes_;
    std::size_t at_ = 0;
};

constexpr std::uint32_t kMaterialTags[] = {TagValue("MATE"), TagValue("MAT2"), TagValue("MAT3"),
                                           TagValue("MAT4")};
constexpr std::uint32_t kVertexTags[] = {TagValue("VPA2"), TagValue("VPA4"), TagValue("VPA5"),
                                         TagValue("VPA7"), TagValue("VPA8"), TagValue("VPAC")};

void FuzzCompress(Bytes input) {
    if (input.size() < 2) return;
    CompressOptions options;
    options.matches = (input[0] & 1) == 0;
    options.runs = (input[0] & 2) == 0;
    options.maxSegmentBody = input[0] & 4 ? 7 + input[1] * 16u : kMaxSegmentBody;
    options.chainDepth = 1 + (input[0] >> 3);
    options.pieceSize = input[1] & 1 ? 1 + input[1] * 8u : options.pieceSize;
    const Bytes data = input.subspan(2);
    for (std::int64_t adjust : {kGeometrySizeAdjust, kTextureSizeAdjust}) {
        std::vector<std::uint8_t> chunk;
        fuzz::Require(AppendPackedChunk(chunk, data, adjust, options));
        fuzz::ExactCopy exact(chunk.data(), chunk.size());
        std::vector<std::uint8_t> out;
        PackedChunk located;
        fuzz::Require(UnpackChunkAt(exact.View(), 0, adjust, out, &located));
        fuzz::Require(located.end == chunk.size());
        fuzz::Require(std::equal(out.begin(), out.end(), data.begin(), data.end()));
    }
}

void FuzzMaterials(std::uint32_t tag, Bytes input) {
    std::vector<MaterialRecord> records((input.size() + kMaterialRecordSize - 1) /
                                        kMaterialRecordSize);
    for (std::size_t k = 0; k < input.size(); ++k) {
        records[k / kMaterialRecordSize][k % kMaterialRecordSize] = input[k];
    }
    std::vector<std::uint8_t> payload;
    fuzz::Require(EncodeMaterialBlock(tag, records, payload).Ok());
    std::vector<MaterialRecord> back;
    fuzz::ExactCopy exact(payload.data(), payload.size());
    fuzz::Require(ReadMaterialRecords(tag, exact.View(), back) == Outcome::Ok);
    fuzz::Require(back == records);
}

void FuzzMeshes(std::uint32_t tag, Bytes input) {
    const std::uint32_t stride = VertexStride(tag);
    Source source(input);
    const std::size_t count = input.empty() ? 0 : input[0] % 6;
    std::vector<std::vector<std::uint8_t>> vertices(count);
    std::vector<std::vector<std::uint32_t>> indices(count);
    std::vector<MeshInput> meshes(count);
    bool valid = true;
    for (std::size_t m = 0; m < count; ++m) {
        // Now and then a mesh just beyond the 16-bit limit, or one with an index outside it.
        const std::uint8_t shape = source.Next();
        const std::uint32_t n =
            shape == 0xFF ? (IndexWidth(tag) == 2 ? 65536 : 1000) : source.Next16() % 700;
        const std::uint32_t triangles = source.Next() % 40;
        vertices[m].resize(std::size_t{n} * stride);
        for (std::uint8_t& b : vertices[m]) b = n > 4096 ? 0 : source.Next();
        for (std::uint32_t k = 0; k < 3 * triangles && n > 0; ++k) {
            const std::uint32_t i = source.Next16() % (shape == 0xFE ? n + 1 : n);
            valid &= i < n;
            indices[m].push_back(i);
        }
        valid &= n <= MaxMeshVertices(tag);
        for (std::uint8_t& b : meshes[m].record) b = source.Next();
        for (std::uint8_t& b : meshes[m].extra) b = source.Next();
        meshes[m].vertices = vertices[m];
        meshes[m].indices = indices[m];
        meshes[m].materialIndex = static_cast<std::int32_t>(source.Next16()) - 30000;
    }
    std::vector<std::uint8_t> payload;
    const EncodeResult result = EncodeVertexBlock(tag, meshes, "fuzz", input, payload);
    fuzz::Require(result.Ok() == valid);
    if (!result.Ok()) {
        fuzz::Require(payload.empty() && !result.message.empty());
        return;
    }
    fuzz::ExactCopy file = fuzz::SingleBlock(
        std::string_view(reinterpret_cast<const char*>(&tag), 4), payload.data(), payload.size());
    VertexBlock decoder(*FindVertexLayout(tag));
    decoder.ReadHeader(file.View(), 0, 0, "fuzz");
    fuzz::Require(decoder.Count() == static_cast<std::int32_t>(count));
    for (std::size_t m = 0; m < count; ++m) {
        std::int32_t material = 0;
        fuzz::Require(decoder.Decode(static_cast<std::int32_t>(m), material) == 0);
        fuzz::Require(material == meshes[m].materialIndex);
        fuzz::Require(std::ranges::equal(decoder.VertexData(), vertices[m]));
        fuzz::Require(decoder.FaceCount() * std::size_t{3} == indices[m].size());
        for (std::int32_t t = 0; t < decoder.FaceCount(); ++t) {
            const auto face = decoder.FaceAt(t);
            fuzz::Require(std::equal(face.begin(), face.end(), indices[m].begin() + 3 * t));
        }
    }
}

void FuzzTexture(Bytes input) {
    if (input.size() < 6) return;
    static constexpr std::uint32_t kFormats[] = {1001, 1002, 1004, 1005, 1006, 1003};
    const std::uint32_t format = kFormats[input[0] % 6];
    const std::int32_t width = 1 + input[1] % 80, height = 1 + input[2] % 48;
    // The original: a name, a header of the format and no data (its picture does not decode),
    // or, when byte 3 says so, whatever the input holds.
    std::vector<std::uint8_t> original(36, 'n');
    original[35] = 0;
    const std::size_t header = format == 1006 ? 24 : format >= 1004 ? 16 : 12;
    original.resize(36 + header, 0);
    StoreU32(original.data() + 36, format);
    if (format == 1006) {
        original[36 + 16] = input[3] & 7;
        original[36 + 17] = (input[3] >> 3) & 7;
        original[36 + 23] = input[3] >> 7;
    }
    if (input[3] == 0xFF) original.assign(input.begin(), input.end());

    Source source(input.subspan(6));
    TextureImage image;
    image.width = width;
    image.height = height;
    const auto n = static_cast<std::size_t>(width * height);
    switch (input[4] % 3) {
        case 0:
            image.form = TextureImage::Form::Rgba;
            for (std::size_t k = 0; k < 4 * n; ++k) {
                // Few colours or many, by byte 5.
                image.rgba.push_back(static_cast<std::uint8_t>(source.Next() & (input[5] | 0x0F)));
            }
            break;
        case 1:
            image.form = TextureImage::Form::Indexed;
            for (std::size_t k = 0; k < n; ++k) image.indices.push_back(source.Next());
            for (std::size_t k = 0; k < 4u * (input[5] % 40); ++k)
                image.palette.push_back(source.Next());
            break;
        default:
            image.form = TextureImage::Form::Words;
            for (std::size_t k = 0; k < n; ++k) image.words.push_back(source.Next16());
            break;
    }
    std::vector<std::uint8_t> payload;
    TextureEncodeStats stats;
    const EncodeResult result = EncodeTexture(original, image, payload, &stats);
    if (!result.Ok()) {
        fuzz::Require(payload.empty() && !result.message.empty());
        return;
    }
    fuzz::Require(stats.pixels == static_cast<std::int64_t>(n));
    fuzz::ExactCopy exact(payload.data(), payload.size());
    Picture picture;
    fuzz::Require(DecodeTexture(exact.View().subspan(36), picture) == Outcome::Ok);
    fuzz::Require(picture.width == width && picture.height == height);
    // The colours asked for against those stored, over the pixels the format stores (those the
    // stats do not count as unstored): as many differ as the stats say.
    const TextureImage back = ImageFromPicture(picture);
    auto widen = [](std::uint32_t c) { return (c << 3) | (c >> 2); };
    auto wordColour = [&](std::uint32_t v) {
        return widen((v >> 10) & 31) | widen((v >> 5) & 31) << 8 | widen(v & 31) << 16;
    };
    auto asked = [&](std::size_t p) {
        switch (image.form) {
            case TextureImage::Form::Rgba:
                return ColourKey(image.rgba.data() + 4 * p);
            case TextureImage::Form::Indexed:
                return EntryColour(image.palette, image.indices[p]);
            default:
                return wordColour(image.words[p]);
        }
    };
    auto stored = [&](std::size_t p) {
        return back.form == TextureImage::Form::Words ? wordColour(back.words[p])
                                                      : EntryColour(back.palette, back.indices[p]);
    };
    std::int64_t differ = 0;
    for (std::size_t p = 0; p < n; ++p) differ += asked(p) != stored(p);
    fuzz::Require(differ >= stats.changed && differ <= stats.changed + stats.unstored);
    if (stats.exact && stats.unstored == 0) fuzz::Require(differ == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    SerialScope serial;  // the pieces of a stream run in order: findings replay the same way
    const Bytes input(data + 2, size - 2);
    switch (data[0] % 4) {
        case 0:
            FuzzCompress(Bytes(data + 1, size - 1));
            break;
        case 1:
            FuzzMaterials(kMaterialTags[data[1] % 4], input);
            break;
        case 2:
            FuzzMeshes(kVertexTags[data[1] % 6], input);
            break;
        default:
            FuzzTexture(Bytes(data + 1, size - 1));
            break;
    }
    return 0;
}
