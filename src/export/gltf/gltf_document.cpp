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

// The shortest text of a bufferView: {"buffer":0,"byteOffset":0,"byteLength":0}.
constexpr std::uint64_t kShortestView = 42;

constexpr std::uint64_t Padded(std::uint64_t length) {
    return (length + 3) & ~std::uint64_t{3};
}

}  // namespace

int GltfDocument::NewView(std::uint64_t length, int target, std::unique_ptr<LaterView> later) {
    waiting_.push_back({length, target, std::move(later)});
    WriteReadyViews();
    return viewCount_++;
}

void GltfDocument::WriteReadyViews() {
    while (!waiting_.empty()) {
        ViewRecord& record = waiting_.front();
        if (LaterView* later = record.later.get()) {
            if (!later->made.load(std::memory_order_acquire)) return;
            if (later->outcome != Outcome::Ok && failed_ == Outcome::Ok) failed_ = later->outcome;
            const std::size_t length = later->bytes.size();
            record.length = length;
            laterBytes_ += Padded(length);
            binary.Fill(later->place, std::move(later->bytes),
                        static_cast<std::size_t>(Padded(length)) - length);
            making_ = false;
        }
        bufferViews.Next();
        JsonWriter json(bufferViews.items);
        json.BeginObject()
            .Key("buffer")
            .Int(0)
            .Key("byteOffset")
            .Int(static_cast<std::int64_t>(nextOffset_));
        json.Key("byteLength").Int(static_cast<std::int64_t>(record.length));
        if (record.target != 0) json.Key("target").Int(record.target);
        json.EndObject();
        nextOffset_ += Padded(record.length);
        waiting_.pop_front();
    }
}

int GltfDocument::ReserveView(std::size_t length, int target, std::vector<MutableBytes>& parts) {
    parts.clear();
    if (Full()) return -1;
    binary.Reserve(static_cast<std::size_t>(Padded(length)), parts);
    return NewView(length, target);
}

void GltfDocument::WaitForLaterViews() {
    if (!making_) return;
    tasks_.Wait();
    WriteReadyViews();
}

Outcome GltfDocument::Finish() {
    tasks_.Wait();
    WriteReadyViews();
    return failed_;
}

std::uint64_t GltfDocument::SizeAtLeast() const {
    std::uint64_t size = 28 + sceneNodes.size() + (binary.Size() - laterBytes_) +
                         static_cast<std::uint64_t>(viewCount_) * kShortestView;
    for (const JsonArray* a : {&nodes, &meshes, &materials, &textures, &images, &accessors}) {
        size += a->Size();
    }
    return size;
}

}  // namespace morvex
