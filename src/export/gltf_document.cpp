#include "export/gltf_document.h"

namespace morvex {

int GltfDocument::AddAccessor(int view, int componentType, std::int64_t count,
                              std::string_view type, const float* bounds) {
    const int accessor = accessors.Next();
    JsonWriter json(accessors.items);
    json.BeginObject().Key("bufferView").Int(view).Key("componentType").Int(componentType);
    json.Key("count").Int(count).Key("type").String(type);
    if (bounds != nullptr) {
        for (int side = 0; side < 2; ++side) {
            json.Key(side == 0 ? "min" : "max").BeginArray();
            for (int k = 0; k < 3; ++k) json.Number(bounds[3 * side + k]);
            json.EndArray();
        }
    }
    json.EndObject();
    return accessor;
}

std::uint64_t GltfDocument::SizeAtLeast() const {
    std::uint64_t size = 28 + sceneNodes.size() + binary.Size();
    for (const JsonArray* a :
         {&nodes, &meshes, &materials, &textures, &images, &accessors, &bufferViews}) {
        size += a->Size();
    }
    return size;
}

}  // namespace morvex
