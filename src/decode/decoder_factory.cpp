#include "decode/decoder_factory.h"

#include "decode/material_block.h"
#include "decode/vertex_block.h"

namespace morvex {
namespace {

template <class Family>
struct Candidate {
    std::uint32_t tag;
    std::unique_ptr<Family> (*make)();
};

template <class Family, class T>
std::unique_ptr<Family> Make() {
    return std::make_unique<T>();
}

// Each family in its search order: an earlier entry wins over a later one.
constexpr Candidate<MaterialBlock> kMaterialOrder[] = {
    {TagValue("MATE"), Make<MaterialBlock, MateBlock>},
    {TagValue("MAT2"), Make<MaterialBlock, Mat2Block>},
    {TagValue("MAT3"), Make<MaterialBlock, Mat3Block>},
    {TagValue("MAT4"), Make<MaterialBlock, Mat4Block>},
};

constexpr Candidate<VertexBlock> kVertexOrder[] = {
    {TagValue("VPA2"), Make<VertexBlock, Vpa2Block>},
    {TagValue("VPA4"), Make<VertexBlock, Vpa4Block>},
    {TagValue("VPA5"), Make<VertexBlock, Vpa5Block>},
    {TagValue("VPA7"), Make<VertexBlock, Vpa7Block>},
    {TagValue("VPA8"), Make<VertexBlock, Vpa8Block>},
    {TagValue("VPAC"), Make<VertexBlock, VpacBlock>},
};

// The entry of `tag` in a search order, or N when the tag is not of the family.
template <class Family, std::size_t N>
std::size_t RankOf(std::uint32_t tag, const Candidate<Family> (&order)[N]) {
    for (std::size_t k = 0; k < N; ++k) {
        if (order[k].tag == tag) return k;
    }
    return N;
}

// Keeps `position` as the family's block when its tag ranks before the one held (the first
// block of a tag wins over later ones of the same tag).
template <class Family, std::size_t N>
void Consider(std::uint32_t tag, int position, const Candidate<Family> (&order)[N], int& chosen,
              std::size_t& rank) {
    const std::size_t k = RankOf(tag, order);
    if (k < rank) {
        rank = k;
        chosen = position;
    }
}

// The object's blocks from `infoPosition` on, up to the next INFO block; returns the position
// behind the object.
std::size_t ScanObject(const Model& model, int infoPosition, ObjectBlocks& object) {
    object = ObjectBlocks{infoPosition};
    std::size_t materialRank = std::size(kMaterialOrder), vertexRank = std::size(kVertexOrder);
    std::size_t b = static_cast<std::size_t>(infoPosition) + 1;
    for (; b < model.blocks.size(); ++b) {
        const std::uint32_t tag = model.blocks[b].TagBits();
        if (tag == kTagInfo) break;
        Consider(tag, static_cast<int>(b), kMaterialOrder, object.material, materialRank);
        Consider(tag, static_cast<int>(b), kVertexOrder, object.vertex, vertexRank);
    }
    return b;
}

// The blocks of the object whose INFO block is at `infoPosition` (-1: from the first block).
ObjectBlocks FindObjectBlocks(const Model& model, int infoPosition) {
    ObjectBlocks object;
    if (infoPosition >= -1) ScanObject(model, infoPosition, object);
    return object;
}

template <class Family, std::size_t N>
std::unique_ptr<Family> NewDecoder(const Block& record, const Candidate<Family> (&order)[N]) {
    const std::size_t k = RankOf(record.TagBits(), order);
    return k < N ? order[k].make() : nullptr;
}

}  // namespace

std::vector<ObjectBlocks> FindObjects(const Model& model) {
    std::vector<ObjectBlocks> objects;
    std::size_t b = 0;
    while (b < model.blocks.size() && model.blocks[b].TagBits() != kTagInfo) ++b;
    while (b < model.blocks.size()) {
        b = ScanObject(model, static_cast<int>(b), objects.emplace_back());
    }
    return objects;
}

std::unique_ptr<MaterialBlock> NewMaterialDecoder(const Block& record) {
    return NewDecoder(record, kMaterialOrder);
}

std::unique_ptr<VertexBlock> NewVertexDecoder(const Block& record) {
    return NewDecoder(record, kVertexOrder);
}

int CreateMaterialDecoder(const Model& model, int infoPosition,
                          std::unique_ptr<MaterialBlock>& slot) {
    slot.reset();
    const int position = FindObjectBlocks(model, infoPosition).material;
    if (position >= 0) slot = NewMaterialDecoder(model.blocks[static_cast<std::size_t>(position)]);
    return position;
}

int CreateVertexDecoder(const Model& model, int infoPosition, std::unique_ptr<VertexBlock>& slot) {
    slot.reset();
    const int position = FindObjectBlocks(model, infoPosition).vertex;
    if (position >= 0) slot = NewVertexDecoder(model.blocks[static_cast<std::size_t>(position)]);
    return position;
}

}  // namespace morvex
