#include "decode/block_types.h"

#include "decode/material_block.h"
#include "decode/texture_block.h"
#include "decode/vertex_block.h"

namespace morvex {

void RegisterBlockTypes(std::vector<std::unique_ptr<Block>>& registry) {
    registry.reserve(registry.size() + kRegistrySize);
    registry.push_back(std::make_unique<Block>());
    auto add = [&registry]<class T>() { registry.push_back(std::make_unique<T>()); };
    add.operator()<TagBlock<TagValue("ALTT")>>();
    add.operator()<TagBlock<TagValue("ATRE")>>();
    add.operator()<TagBlock<TagValue("BBOX")>>();
    add.operator()<TagBlock<TagValue("BON2")>>();
    add.operator()<TagBlock<TagValue("BON3")>>();
    add.operator()<TagBlock<TagValue("BONE")>>();
    add.operator()<TagBlock<TagValue("CAME")>>();
    add.operator()<TagBlock<TagValue("CDLO")>>();
    add.operator()<TagBlock<TagValue("CHID")>>();
    add.operator()<TagBlock<TagValue("GLOW")>>();
    add.operator()<TagBlock<TagValue("IKNG")>>();
    add.operator()<TagBlock<TagValue("INFO")>>();
    add.operator()<TagBlock<TagValue("INFS")>>();
    add.operator()<TagBlock<TagValue("INFZ")>>();
    add.operator()<TagBlock<TagValue("KAN2"), KanBlock>>();
    add.operator()<TagBlock<TagValue("KAN3"), KanBlock>>();
    add.operator()<TagBlock<TagValue("KAN4"), KanBlock>>();
    add.operator()<TagBlock<TagValue("KAN5"), KanBlock>>();
    add.operator()<TagBlock<TagValue("KAN6")>>();
    add.operator()<TagBlock<TagValue("KANI"), KanBlock>>();
    add.operator()<TagBlock<TagValue("KANT"), KanBlock>>();
    add.operator()<TagBlock<TagValue("LIG3")>>();
    add.operator()<TagBlock<TagValue("MAN2"), ManBlock>>();
    add.operator()<TagBlock<TagValue("MANI"), ManBlock>>();
    add.operator()<Mat2Block>();
    add.operator()<Mat3Block>();
    add.operator()<Mat4Block>();
    add.operator()<MateBlock>();
    add.operator()<TagBlock<TagValue("PLU2"), Plu2Base>>();
    add.operator()<TagBlock<TagValue("PLU3")>>();
    add.operator()<TagBlock<TagValue("PLUG")>>();
    add.operator()<TagBlock<TagValue("RTY2")>>();
    add.operator()<TextureBlock>();
    add.operator()<Vpa2Block>();
    add.operator()<Vpa4Block>();
    add.operator()<Vpa5Block>();
    add.operator()<Vpa7Block>();
    add.operator()<Vpa8Block>();
    add.operator()<VpacBlock>();
}

}  // namespace morvex
