#include "pack/pack.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <new>

#include "decode/block_types.h"
#include "decode/decoder_factory.h"
#include "decode/material_block.h"
#include "decode/vertex_block.h"
#include "export/gltf/gltf_writer.h"
#include "export/output_file.h"
#include "pack/block_encoding.h"
#include "pack/edited_model.h"
#include "pack/texture_edits.h"
#include "platform/platform.h"

namespace morvex {
namespace {

// A roughness that differs from the one the stored power gives by more than this was edited
// (an editor keeps it as a 32-bit float: a few parts in 10^8).
constexpr double kRoughnessTolerance = 1e-5;

// The power whose roughness is `roughness` (the inverse of RoughnessFromPower), as the whole
// number the text outputs would show.
float PowerFromRoughness(double roughness) {
    const double r = std::clamp(roughness, 0.01, 1.0);
    const double n = 2.0 / (r * r * r * r) - 2.0;
    return static_cast<float>(std::round(std::min(n, 1e6)));
}

class Packer {
  public:
    Packer(const Model& model, const GlbFile& glb, Console& console,
           const MatchTolerances& tolerances)
        : model_(model),
          glb_(glb),
          console_(console),
          tolerances_(tolerances),
          textures_(model, glb, console) {}

    Outcome Run(EditedModel& edited, std::vector<Bytes>& pieces) {
        for (auto& [info, object] : edited.objects) {
            if (PackObject(object) != Outcome::Ok) return Outcome::Broken;
        }
        for (const auto& [block, colours] : textures_.repainted) {
            std::vector<std::uint8_t> payload;
            std::string problem;
            TextureEncodeStats stats;
            if (EncodeTextureBlock(model_.blocks[block], colours, payload, stats, problem) !=
                Outcome::Ok) {
                console_.Error("%s", problem.c_str());
                return Outcome::Broken;
            }
            if (!stats.exact) {
                console_.Warning(
                    "texture %s has more colours than its format holds: %lld of %lld pixels "
                    "changed to the nearest it holds (largest difference %d of 255).",
                    ConsoleName(TextureName(model_.blocks[block])).c_str(),
                    static_cast<long long>(stats.changed), static_cast<long long>(stats.pixels),
                    stats.maxError);
            }
            payloads_[block] = std::move(payload);
        }
        return Assemble(pieces);
    }

  private:
    Outcome PackObject(EditedObject& object) {
        const int info = object.infoPosition;
        const std::string name = ConsoleName(model_.ObjectName(info));
        std::unique_ptr<MaterialBlock> materials;
        std::unique_ptr<VertexBlock> vertices;
        const int m = CreateMaterialDecoder(model_, info, materials);
        const int v = CreateVertexDecoder(model_, info, vertices);
        if (m < 0 || v < 0 || !materials || !vertices) return Outcome::Ok;
        materials->BindTo(model_.blocks[static_cast<std::size_t>(m)]);
        vertices->BindTo(model_.blocks[static_cast<std::size_t>(v)]);
        if (materials->Decode() != 0) {
            console_.Error(
                "object %s can not be written back: its material block does not "
                "decode.",
                name.c_str());
            return Outcome::Broken;
        }
        if (!GeometryAsWritten(object, *vertices)) {
            std::vector<DecodedMesh> originals;
            std::vector<ResultMesh> meshes;
            bool changed = false;
            if (LoadGeometry(glb_, model_.ObjectName(info), console_, object) != Outcome::Ok) {
                return Outcome::Broken;
            }
            if (ReadOriginals(*vertices, originals) != Outcome::Ok) {
                console_.Error("object %s can not be written back: out of memory.", name.c_str());
                return Outcome::Broken;
            }
            if (MatchObject(object, vertices->Layout(), originals, model_.ObjectName(info),
                            console_, meshes, changed, tolerances_) != Outcome::Ok) {
                return Outcome::Broken;
            }
            object.vertices = {};
            object.triangles = {};
            if (changed && Replace(v, *vertices, meshes, name) != Outcome::Ok) {
                return Outcome::Broken;
            }
        }
        return PackMaterials(object, *materials, m, name);
    }

    // Whether the glb holds the object's meshes as our glTF writer wrote them, primitive for
    // mesh, checked one decoded mesh at a time without holding any.
    bool GeometryAsWritten(const EditedObject& object, VertexBlock& vertices) {
        const std::int32_t located = vertices.LocatedMeshes();
        std::vector<std::int64_t> primitiveOf(static_cast<std::size_t>(located), -1);
        for (std::size_t p = 0; p < object.primitives.size(); ++p) {
            const std::int32_t mesh = object.primitives[p].mesh;
            if (mesh < 0 || mesh >= located || primitiveOf[static_cast<std::size_t>(mesh)] >= 0) {
                return false;
            }
            primitiveOf[static_cast<std::size_t>(mesh)] = static_cast<std::int64_t>(p);
        }
        bool same = true;
        for (std::int32_t k = 0; k < located && same; ++k) {
            const std::int64_t p = primitiveOf[static_cast<std::size_t>(k)];
            std::int32_t material = 0;
            const bool written = vertices.Decode(k, material) == 0 && FacesInRange(vertices) &&
                                 vertices.VertexCount() > 0 && vertices.FaceCount() > 0;
            same = written ? p >= 0 && PrimitiveAsWritten(
                                           glb_, object.primitives[static_cast<std::size_t>(p)],
                                           vertices.Current(), material)
                           : p < 0;
        }
        vertices.Release();
        return same;
    }

    static bool FacesInRange(const VertexBlock& vertices) {
        const auto count = static_cast<std::uint32_t>(vertices.VertexCount());
        for (std::int32_t t = 0; t < vertices.FaceCount(); ++t) {
            for (std::uint32_t i : vertices.FaceAt(t)) {
                if (i >= count) return false;
            }
        }
        return true;
    }

    Outcome Replace(int block, VertexBlock& vertices, const std::vector<ResultMesh>& meshes,
                    const std::string& name) {
        if (vertices.LocatedMeshes() < vertices.Count()) {
            console_.Error(
                "object %s can not be written back: its vertex block holds meshes "
                "that do not decode.",
                name.c_str());
            return Outcome::Broken;
        }
        std::vector<std::uint8_t> payload;
        std::string problem;
        if (EncodeVertexBlock(model_.blocks[static_cast<std::size_t>(block)], name, meshes, payload,
                              problem) != Outcome::Ok) {
            console_.Error("%s", problem.c_str());
            return Outcome::Broken;
        }
        payloads_[static_cast<std::size_t>(block)] = std::move(payload);
        return Outcome::Ok;
    }

    // The object's meshes as decoded; a mesh that does not decode, or whose faces name vertices
    // it does not have, is marked so.
    Outcome ReadOriginals(VertexBlock& vertices, std::vector<DecodedMesh>& originals) {
        const std::int32_t located = vertices.LocatedMeshes();
        try {
            originals.resize(static_cast<std::size_t>(located));
            for (std::int32_t k = 0; k < located; ++k) {
                DecodedMesh& mesh = originals[static_cast<std::size_t>(k)];
                if (vertices.Decode(k, mesh.materialIndex) != 0 || !FacesInRange(vertices)) {
                    continue;
                }
                mesh.decoded = true;
                mesh.written = vertices.VertexCount() > 0 && vertices.FaceCount() > 0;
                const Bytes v = vertices.VertexData(), i = vertices.IndexData();
                mesh.vertexBytes.assign(v.begin(), v.end());
                mesh.indexBytes.assign(i.begin(), i.end());
            }
        } catch (const std::bad_alloc&) {
            return Outcome::NoMemory;
        }
        vertices.Release();
        return Outcome::Ok;
    }

    Outcome PackMaterials(const EditedObject& object, const MaterialBlock& materials, int block,
                          const std::string& objectName) {
        const Bytes table = materials.Table();
        std::vector<MaterialRecord> records(table.size() / kMaterialRecordSize);
        for (std::size_t r = 0; r < records.size(); ++r) {
            std::memcpy(records[r].data(), table.data() + r * kMaterialRecordSize,
                        kMaterialRecordSize);
        }
        bool changed = false;
        auto setText = [&](std::int32_t r, MaterialField field, std::string_view text) {
            MaterialRecord& record = records[static_cast<std::size_t>(r)];
            const MaterialRecord before = record;
            const EncodeResult set = SetMaterialText(record, field, text, objectName, r);
            if (!set.Ok()) {
                console_.Error("%s", set.message.c_str());
                return false;
            }
            changed = changed || record != before;
            return true;
        };
        for (const auto& [r, edit] : object.materials) {
            if (!materials.HasRecord(r)) continue;
            const std::string_view textureName = materials.TextureNameAt(r);
            const std::string_view alphaName = materials.AlphaMapNameAt(r);
            if (!SameName(edit.name, materials.MaterialAt(r)) &&
                !setText(r, MaterialField::Name, edit.name)) {
                return Outcome::Broken;
            }
            if (std::fabs(edit.roughness - RoughnessFromPower(materials.PowerAt(r))) >
                kRoughnessTolerance) {
                SetMaterialPower(records[static_cast<std::size_t>(r)],
                                 PowerFromRoughness(edit.roughness));
                changed = true;
            }
            const std::string pairImage = textures_.ImageName(textureName, alphaName);
            if (edit.image < 0) {
                // The image was taken off the material: so are its texture and alpha map.
                if (!pairImage.empty() && (!setText(r, MaterialField::TextureName, {}) ||
                                           !setText(r, MaterialField::AlphaMapName, {}))) {
                    return Outcome::Broken;
                }
                continue;
            }
            const std::string& imageName = glb_.images[static_cast<std::size_t>(edit.image)].name;
            if (!pairImage.empty() && SameName(imageName, pairImage)) {
                if (textures_.Take(textureName, alphaName, edit.image) != Outcome::Ok) {
                    return Outcome::Broken;
                }
                continue;
            }
            // Pointed at another texture of the model.
            const std::int64_t other = textures_.FindShown(imageName);
            if (other < 0) {
                console_.Warning(
                    "object %s material %d: its image %s is none of the model's textures; the "
                    "material keeps its texture.",
                    objectName.c_str(), r, ConsoleName(imageName).c_str());
                continue;
            }
            const std::string_view otherName =
                TextureName(model_.blocks[static_cast<std::size_t>(other)]);
            if (!setText(r, MaterialField::TextureName, otherName) ||
                textures_.Take(otherName, {}, edit.image) != Outcome::Ok) {
                return Outcome::Broken;
            }
        }
        if (!changed) return Outcome::Ok;
        std::vector<std::uint8_t> payload;
        const EncodeResult encoded = EncodeMaterialBlock(
            model_.blocks[static_cast<std::size_t>(block)].TagBits(), records, payload);
        if (!encoded.Ok()) {
            console_.Error("%s", encoded.message.c_str());
            return Outcome::Broken;
        }
        payloads_[static_cast<std::size_t>(block)] = std::move(payload);
        return Outcome::Ok;
    }

    // The original's blocks in order, the replaced ones with their new payloads; the bytes
    // behind the last block (a broken tail the scan stopped at) as they are. The pieces point
    // into the model and into this packer.
    Outcome Assemble(std::vector<Bytes>& pieces) {
        const Bytes file = model_.Data();
        std::uint64_t size = file.size();
        for (const auto& [block, payload] : payloads_) {
            size = size - model_.blocks[block].Payload().size() + payload.size();
        }
        if (size > static_cast<std::uint64_t>(INT32_MAX)) {
            console_.Error("the new file would be larger than an it3 file can be.");
            return Outcome::TooLarge;
        }
        pieces.clear();
        headers_.resize(payloads_.size());
        std::uint64_t copied = 0;
        std::size_t h = 0;
        for (const auto& [block, payload] : payloads_) {
            const Block& record = model_.blocks[block];
            const auto start = static_cast<std::uint64_t>(record.offset);
            pieces.push_back(file.subspan(copied, start - copied));
            std::array<std::uint8_t, 8>& header = headers_[h++];
            std::memcpy(header.data(), file.data() + start, 4);
            StoreU32(header.data() + 4, static_cast<std::uint32_t>(payload.size()));
            pieces.push_back(header);
            pieces.push_back(payload);
            copied = start + static_cast<std::uint64_t>(record.size);
        }
        pieces.push_back(file.subspan(copied));
        return Outcome::Ok;
    }

    const Model& model_;
    const GlbFile& glb_;
    Console& console_;
    const MatchTolerances& tolerances_;
    TextureEdits textures_;
    std::map<std::size_t, std::vector<std::uint8_t>> payloads_;  // by block position
    std::vector<std::array<std::uint8_t, 8>> headers_;           // of the replaced blocks
};

// The whole regular file at `path` (storage not filled before it is read); false when it cannot
// be read. Opened without waiting: a FIFO or a device given is refused, never waited on.
bool ReadWholeFile(const std::string& path, std::unique_ptr<std::uint8_t[]>& bytes,
                   std::size_t& size) {
    std::error_code error;
    const platform::File file = platform::OpenForReading(path, error, platform::ReadOpen::NoWait);
    platform::FileStatus status;
    if (!file.IsOpen() || file.Status(status) || status.kind != platform::FileKind::Regular) {
        return false;
    }
    size = static_cast<std::size_t>(status.size);
    bytes.reset(new std::uint8_t[size]);
    return size == 0 || file.ReadAt({bytes.get(), size}, 0);
}

// Whether two paths name one file (NEW the original).
bool SameFile(const std::string& a, const std::string& b) {
    platform::FileStatus first, second;
    return !platform::StatusOf(a, first) && !platform::StatusOf(b, second) && first.id == second.id;
}

// Packs into pieces that point into `original`, `glbBytes` and `packer`.
Outcome PackPieces(const Model& original, Bytes glbBytes, std::string_view glbName,
                   Console& console, const GlbLimits& glbLimits, const MatchTolerances& tolerances,
                   GlbFile& glb, std::unique_ptr<Packer>& packer, std::vector<Bytes>& pieces) {
    std::string problem;
    if (glb.Read(glbBytes, problem, glbLimits) != Outcome::Ok) {
        console.Error("%s is not a glTF file that can be read: %s.", ConsoleName(glbName).c_str(),
                      problem.c_str());
        return Outcome::Broken;
    }
    try {
        EditedModel edited;
        if (ReadEditedModel(original, glb, console, edited) != Outcome::Ok) {
            return Outcome::Broken;
        }
        packer = std::make_unique<Packer>(original, glb, console, tolerances);
        return packer->Run(edited, pieces);
    } catch (const std::bad_alloc&) {
        console.Error("Out of memory while packing %s.", ConsoleName(glbName).c_str());
        return Outcome::NoMemory;
    }
}

}  // namespace

Outcome PackBytes(const Model& original, Bytes glbBytes, std::string_view glbName, Console& console,
                  std::vector<std::uint8_t>& packed, const GlbLimits& glbLimits,
                  const MatchTolerances& tolerances) {
    GlbFile glb;
    std::unique_ptr<Packer> packer;
    std::vector<Bytes> pieces;
    const Outcome made = PackPieces(original, glbBytes, glbName, console, glbLimits, tolerances,
                                    glb, packer, pieces);
    packed.clear();
    if (made != Outcome::Ok) return made;
    for (Bytes piece : pieces) packed.insert(packed.end(), piece.begin(), piece.end());
    return Outcome::Ok;
}

Outcome PackModel(const PackRequest& request, Console& console) {
    if (!request.force && SameFile(request.originalPath, request.newPath)) {
        console.Error("%s is the original file; add --force to replace it.",
                      ConsoleName(request.newPath).c_str());
        return Outcome::CannotCreate;
    }
    Model model;
    model.path = request.originalPath;
    model.baseName = BaseNameOf(request.originalPath);
    model.limits = request.limits;
    RegisterBlockTypes(model.registry);
    if (Outcome loaded = LoadFile(request.originalPath, model.buffer, console);
        loaded != Outcome::Ok) {
        return loaded;
    }
    ScanBlocks(model, console);
    std::unique_ptr<std::uint8_t[]> glbBytes;
    std::size_t glbSize = 0;
    try {
        if (!ReadWholeFile(request.editedPath, glbBytes, glbSize)) {
            console.Error("Can not open %s.", ConsoleName(request.editedPath).c_str());
            return Outcome::CannotOpen;
        }
    } catch (const std::bad_alloc&) {
        console.Error("Can not load %s.", ConsoleName(request.editedPath).c_str());
        return Outcome::CannotLoad;
    }
    GlbFile glb;
    std::unique_ptr<Packer> packer;
    std::vector<Bytes> pieces;
    if (Outcome made =
            PackPieces(model, Bytes(glbBytes.get(), glbSize), request.editedPath, console,
                       request.glbLimits, MatchTolerances{}, glb, packer, pieces);
        made != Outcome::Ok) {
        return made;
    }
    // Temporaries that ended runs left beside NEW go first.
    RemoveStaleTemporaries(
        nullptr, std::string_view(request.newPath).substr(0, platform::NameStart(request.newPath)));
    OutputFile file(request.newPath);
    if (OpenOutput(console, file) != Outcome::Ok) return Outcome::CannotCreate;
    console.Written(file.Path());
    for (Bytes piece : pieces) file.Append(piece);
    return CloseOutput(console, file);
}

}  // namespace morvex
