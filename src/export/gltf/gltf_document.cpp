#include "export/gltf/gltf_document.h"

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

namespace {

constexpr std::uint64_t Padded(std::uint64_t length) {
    return (length + 3) & ~std::uint64_t{3};
}

}  // namespace

int GltfDocument::NewView(std::uint64_t length, int target) {
    bufferViews.Next();
    JsonWriter json(bufferViews.items);
    json.BeginObject().Key("buffer").Int(0).Key("byteOffset");
    json.Int(static_cast<std::int64_t>(binary.Size()));
    json.Key("byteLength").Int(static_cast<std::int64_t>(length));
    if (target != 0) json.Key("target").Int(target);
    json.EndObject();
    return viewCount_++;
}

int GltfDocument::ReserveView(std::size_t length, int target, std::vector<MutableBytes>& parts) {
    parts.clear();
    if (Full()) return -1;
    const int view = NewView(length, target);
    binary.Reserve(static_cast<std::size_t>(Padded(length)), parts);
    return view;
}

Outcome GltfDocument::Finish() {
    tasks_.Wait();
    for (Image& image : images_) {
        if (image.outcome != Outcome::Ok) return image.outcome;
    }
    for (Image& image : images_) {
        const std::size_t length = image.png.size();
        const int view = NewView(length, 0);
        // Handed over, not copied: a copy would hold every image twice for a while.
        image.png.resize(static_cast<std::size_t>(Padded(length)), 0);
        binary.Adopt(std::move(image.png));
        images.Next();
        JsonWriter(images.items)
            .BeginObject()
            .Key("name")
            .String(image.name)
            .Key("bufferView")
            .Int(view)
            .Key("mimeType")
            .String("image/png")
            .EndObject();
    }
    images_.clear();
    return Outcome::Ok;
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
