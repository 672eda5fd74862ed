// The glTF document being built: the JSON arrays (nodes, meshes, materials, textures, images,
// accessors, bufferViews) and the BIN chunk their views point into.
//
// Every bufferView starts at a multiple of 4 bytes of the BIN chunk. The document keeps track of
// the least size its glb can have; once that passes the 4 GiB limit the document is Full() and
// takes no more binary data, and the writer stops building it.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "export/gltf/glb_container.h"
#include "export/gltf/json_writer.h"
#include "it3/parallel.h"
#include "it3/result.h"

namespace morvex {

// The items of one top-level JSON array, comma-separated. A model of many meshes has megabytes
// of them. The items are written into a small string that is reused, and moved from it into
// blocks of 64 KiB (the first from the heap, the later ones from `arena` when there is one)
// once it holds that much: growing never copies what is held, and in an arena the text costs a
// page fault per 2 MiB rather than per 4 KiB.
struct JsonArray {
    static constexpr std::size_t kStaged = std::size_t{64} << 10;

    explicit JsonArray(BlockArena* arena = nullptr) : held_(arena, kStaged) {}
    JsonArray(const JsonArray&) = delete;
    JsonArray& operator=(const JsonArray&) = delete;

    std::string items;  // the text written since the last move into the blocks
    int count = 0;

    // Starts a new item (after a comma when it is not the first); returns its index.
    int Next() {
        if (items.size() >= kStaged) MoveItems();
        if (count > 0) items += ',';
        return count++;
    }
    // Appends a long text to the item being written, straight into the blocks.
    void AppendLong(std::string_view text) {
        MoveItems();
        held_.Append(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    }
    std::uint64_t Size() const { return held_.Size() + items.size(); }
    // Hands the text to `put` piece by piece, in order.
    template <class Put>
    void ForEachPiece(Put&& put) const {
        held_.ForEachBlock([&put](Bytes block) {
            put(std::string_view(reinterpret_cast<const char*>(block.data()), block.size()));
        });
        put(std::string_view(items));
    }

  private:
    void MoveItems() {
        held_.Append(reinterpret_cast<const std::uint8_t*>(items.data()), items.size());
        // A long item leaves a large string behind: it is not kept.
        if (items.capacity() > 4 * kStaged) {
            std::string().swap(items);
        } else {
            items.clear();
        }
    }

    BinaryChunk held_;
};

class GltfDocument {
  public:
    // Adds a bufferView of `length` bytes and sets them aside in the BIN chunk, padded to a
    // multiple of 4 bytes: `parts` receives where they lie, for a ViewWriter to fill (possibly
    // later, on another thread; the writer zeroes the padding). `target` 0 writes no target.
    // Returns the view's index, or -1 (nothing added, `parts` empty) when the document is Full().
    int ReserveView(std::size_t length, int target, std::vector<MutableBytes>& parts);
    // Adds a bufferView (without a target) whose bytes `make(bytes)` makes, returning Ok or why
    // it could not: on another thread when the work allows, else at once. The JSON of the views
    // from this one on waits until it is made, since their offsets follow its length. Returns
    // the view's index, or -1 (`make` not run) when Full().
    template <class Make>
    int AddLaterView(Make&& make);
    // Waits for the later view being made, if any, and puts it in place: what its make held is
    // then freed.
    void WaitForLaterViews();
    // Waits for the later views and writes the bufferViews still waiting: the document is then
    // whole. Ok, or the first failure of a `make`.
    [[nodiscard]] Outcome Finish();

    // The same, with the bytes written at once by `write`.
    template <class Write>
    int AddView(std::size_t length, int target, Write&& write) {
        std::vector<MutableBytes> parts;
        const int view = ReserveView(length, target, parts);
        if (view >= 0) {
            ViewWriter writer(parts);
            write(writer);
        }
        return view;
    }

    // Adds an accessor over a whole bufferView; `bounds` holds min and max, 3 values each.
    int AddAccessor(int view, int componentType, std::int64_t count, std::string_view type,
                    const float* bounds = nullptr);

    // True once the glb would exceed the 4 GiB limit: nothing more is worth building.
    bool Full() const { return SizeAtLeast() > kMaxGlbSize; }

    // Hands the JSON chunk text (not yet padded) to `put` piece by piece: the arrays are large
    // for a model of many meshes, and are not copied into one text.
    template <class Put>
    void Json(Put&& put) const;

    BlockArena pages;        // the memory of the arrays and of the BIN chunk below
    std::string sceneNodes;  // the node indices of the scene, comma-separated
    JsonArray nodes{&pages}, meshes{&pages}, materials{&pages}, textures{&pages}, images{&pages},
        accessors{&pages}, bufferViews{&pages};
    BinaryChunk binary{&pages};

  private:
    // At least the size of the glb: the headers, the JSON arrays (without the text around
    // them, and the bufferViews at their shortest) and the BIN chunk without the bytes of later
    // views. It does not depend on when the later views are made.
    std::uint64_t SizeAtLeast() const;

    // A bufferView made by AddLaterView.
    struct LaterView {
        std::vector<std::uint8_t> bytes;
        std::size_t place = 0;  // in the BIN chunk
        Outcome outcome = Outcome::NoMemory;
        std::atomic<bool> made{false};  // set once bytes and outcome are final
    };
    // A bufferView whose JSON is still to be written: it and those after it wait for the later
    // view among them to be made, since their offsets follow its length.
    struct ViewRecord {
        std::uint64_t length = 0;
        int target = 0;
        std::unique_ptr<LaterView> later;
    };
    int NewView(std::uint64_t length, int target, std::unique_ptr<LaterView> later = nullptr);
    // Writes the JSON of the waiting views up to the first later view not yet made, putting the
    // bytes of the later ones in place.
    void WriteReadyViews();

    std::deque<ViewRecord> waiting_;
    int viewCount_ = 0;
    std::uint64_t nextOffset_ = 0;  // the BIN offset of the first waiting view
    std::uint64_t laterBytes_ = 0;  // bytes of later views in the BIN chunk
    Outcome failed_ = Outcome::Ok;  // the first failure of a later view
    bool making_ = false;           // a later view was handed off and not yet seen made
    // Last: going first, it waits for the makes, which write into the waiting views.
    BackgroundTasks tasks_;
};

template <class Make>
int GltfDocument::AddLaterView(Make&& make) {
    if (Full()) return -1;
    auto later = std::make_unique<LaterView>();
    LaterView* entry = later.get();
    entry->place = binary.AppendLater();
    // A make may hold a picture: one at a time beside the caller, which meanwhile goes on with
    // the geometry (or the next picture).
    WaitForLaterViews();
    const int view = NewView(0, 0, std::move(later));
    making_ = true;
    tasks_.Run([entry, make = std::forward<Make>(make)]() {
        try {
            entry->outcome = make(entry->bytes);
        } catch (const std::bad_alloc&) {
            entry->outcome = Outcome::NoMemory;
        }
        if (entry->outcome != Outcome::Ok) entry->bytes = {};
        entry->made.store(true, std::memory_order_release);
    });
    return view;
}

template <class Put>
void GltfDocument::Json(Put&& put) const {
    put(R"({"asset":{"version":"2.0","generator":"morvex"},"scene":0,"scenes":[{)");
    if (!sceneNodes.empty()) {
        put(R"("nodes":[)");
        put(sceneNodes);
        put("]");
    }
    put("}]");
    auto array = [&put](std::string_view name, const JsonArray& a) {
        if (a.count == 0) return;
        put(",\"");
        put(name);
        put("\":[");
        a.ForEachPiece(put);
        put("]");
    };
    array("nodes", nodes);
    array("meshes", meshes);
    array("materials", materials);
    array("textures", textures);
    // Every texture repeats in both directions.
    if (textures.count > 0) put(R"(,"samplers":[{"wrapS":10497,"wrapT":10497}])");
    array("images", images);
    array("accessors", accessors);
    array("bufferViews", bufferViews);
    if (binary.Size() > 0) {
        std::string buffers = R"(,"buffers":[{"byteLength":)";
        AppendJsonInt(buffers, static_cast<std::int64_t>(binary.Size()));
        buffers += "}]";
        put(buffers);
    }
    put("}");
}

}  // namespace morvex
