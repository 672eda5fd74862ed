// The glTF document being built: the JSON arrays (nodes, meshes, materials, textures, images,
// accessors, bufferViews) and the BIN chunk their views point into.
//
// Every bufferView starts at a multiple of 4 bytes of the BIN chunk. The geometry's views are
// set aside in the order the meshes come; the images are encoded beside them, on the
// conversion's threads, and go at the end of the BIN chunk, in the order they were added, when
// the document is finished. The document keeps track of the least size its glb can have; once
// that passes the 4 GiB limit the document is Full() and takes no more binary data, and the
// writer stops building it.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "export/gltf/glb_container.h"
#include "export/gltf/json_writer.h"
#include "it3/parallel.h"
#include "it3/result.h"

namespace morvex {

// The items of one top-level JSON array, comma-separated. A model of many meshes has megabytes
// of them. The items are written into a small string that is reused, and moved from it into the
// blocks of a BinaryChunk once it holds 64 KiB: growing never copies what is held.
struct JsonArray {
    static constexpr std::size_t kStaged = std::size_t{64} << 10;

    JsonArray() = default;
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
    // The bytes that the images being encoded may hold at once: an image that would pass them
    // waits for those before it to be encoded. About what one image of 1024 × 1024 RGBA pixels
    // holds while it is encoded (its pixels, its rows and the compressed bytes).
    static constexpr std::uint64_t kImageBytesInFlight = std::uint64_t{12} << 20;

    // Adds a bufferView of `length` bytes and sets them aside in the BIN chunk, padded to a
    // multiple of 4 bytes: `parts` receives where they lie, for a ViewWriter to fill (possibly
    // later, on another thread; the writer zeroes the padding). `target` 0 writes no target.
    // Returns the view's index, or -1 (nothing added, `parts` empty) when the document is Full().
    int ReserveView(std::size_t length, int target, std::vector<MutableBytes>& parts);
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

    // Adds an image named `name` whose PNG file image `encode(png)` makes (returning Ok or why
    // it could not), on another thread when the work allows, else at once. `held` is what the
    // encoding holds until it ends (see kImageBytesInFlight). Its bufferView and its entry in
    // the images follow those of the images before it when the document is finished. Returns
    // the image's index, or -1 (`encode` not run) when Full().
    template <class Encode>
    int AddImage(std::string name, std::uint64_t held, Encode&& encode);
    // Waits for the images and puts them at the end of the BIN chunk, each with its bufferView
    // and its entry in the images: the document is then whole. Ok, or the first failure of an
    // `encode`.
    [[nodiscard]] Outcome Finish();

    // Adds an accessor over a whole bufferView; `bounds` holds min and max, 3 values each.
    int AddAccessor(int view, int componentType, std::int64_t count, std::string_view type,
                    const float* bounds = nullptr);

    // True once the glb would exceed the 4 GiB limit: nothing more is worth building.
    bool Full() const { return SizeAtLeast() > kMaxGlbSize; }

    // Hands the JSON chunk text (not yet padded) to `put` piece by piece: the arrays are large
    // for a model of many meshes, and are not copied into one text.
    template <class Put>
    void Json(Put&& put) const;

    std::string sceneNodes;  // the node indices of the scene, comma-separated
    JsonArray nodes, meshes, materials, textures, images, accessors, bufferViews;
    BinaryChunk binary;

  private:
    // At least the size of the glb: the headers, the JSON arrays (without the text around them)
    // and the BIN chunk, without the images still to be placed.
    std::uint64_t SizeAtLeast() const;
    // Writes the JSON of a bufferView of `length` bytes at the end of the BIN chunk.
    int NewView(std::uint64_t length, int target);

    // An image being encoded, or encoded, until Finish places it.
    struct Image {
        std::string name;
        std::uint64_t held = 0;
        std::function<Outcome(std::vector<std::uint8_t>&)> encode;
        std::vector<std::uint8_t> png;
        Outcome outcome = Outcome::NoMemory;
    };

    int viewCount_ = 0;
    std::deque<Image> images_;  // a deque: the encodings write into their entries meanwhile
    std::atomic<std::uint64_t> heldByImages_{0};
    // Last: going first, it waits for the encodings, which write into images_.
    BackgroundTasks tasks_;
};

template <class Encode>
int GltfDocument::AddImage(std::string name, std::uint64_t held, Encode&& encode) {
    if (Full()) return -1;
    // Those before it go first when this one would pass what the images may hold at once.
    const std::uint64_t holding = heldByImages_.load(std::memory_order_acquire);
    if (holding > 0 && holding + held > kImageBytesInFlight) tasks_.Wait();
    Image& image = images_.emplace_back();
    image.name = std::move(name);
    image.held = held;
    image.encode = std::forward<Encode>(encode);
    heldByImages_ += held;
    tasks_.Run([&image, &holding = heldByImages_] {
        try {
            image.outcome = image.encode(image.png);
        } catch (const std::bad_alloc&) {
            image.outcome = Outcome::NoMemory;
        }
        if (image.outcome != Outcome::Ok) image.png = {};
        image.encode = nullptr;  // what the encoding held goes with it
        holding -= image.held;
    });
    return static_cast<int>(images_.size()) - 1;
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
