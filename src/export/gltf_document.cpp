#include "export/gltf_document.h"

namespace morvex {

int GltfDocument::AddAccessor(int view, int componentType, std::int64_t count,
                              std::string_view type, const float* bounds) {
    const int accessor = accessors.Next();
    JsonWriter json(accessors.items);
    json.BeginObject().Key("bufferView").Int(view).Key("componentType").Int(componentType);
    json.Key("count").Int(count).Key("type").String(type);
    if (bounds != nullptr) {
        json.Key("min").BeginArray().Number(bounds[0]).Number(bounds[1]).Number(bounds[2]);
        json.EndArray();
        json.Key("max").BeginArray().Number(bounds[3]).Number(bounds[4]).Number(bounds[5]);
        json.EndArray();
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
