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

template <class Family, std::size_t N>
int CreateDecoder(const Model& model, int infoPosition, const Candidate<Family> (&order)[N],
                  std::unique_ptr<Family>& slot) {
    slot.reset();
    for (const Candidate<Family>& candidate : order) {
        int position = model.FindInObject(infoPosition, candidate.tag);
        if (position >= 0) {
            slot = candidate.make();
            return position;
        }
    }
    return -1;
}

}  // namespace

int CreateMaterialDecoder(const Model& model, int infoPosition,
                          std::unique_ptr<MaterialBlock>& slot) {
    return CreateDecoder(model, infoPosition, kMaterialOrder, slot);
}

int CreateVertexDecoder(const Model& model, int infoPosition, std::unique_ptr<VertexBlock>& slot) {
    return CreateDecoder(model, infoPosition, kVertexOrder, slot);
}

}  // namespace morvex
