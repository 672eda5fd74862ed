#include "it3/model.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include "it3/parallel.h"
#include "platform/platform.h"

namespace morvex {
namespace {

// The parts a large file is read in, a whole number of huge pages each.
constexpr std::size_t kReadPart = std::size_t{8} << 20;

// The chain of block headers from offset 0 of a file of `fileSize` bytes, each giving the next:
// `prepare(offset)` runs before the 8-byte header at `offset` is read from `file` (false stops
// the walk), `visit(offset, payloadSize)` for each block whose payload lies inside the file.
// Returns the offset of the first header that is cut, has a negative payload size or a payload
// leaving the file; fileSize when every block is whole; -1 when `prepare` stopped the walk.
template <class Prepare, class Visit>
std::int64_t WalkBlocks(Bytes file, std::int64_t fileSize, Prepare&& prepare, Visit&& visit) {
    const ByteReader reader(file);
    std::int64_t offset = 0;
    while (offset < fileSize) {
        if (!prepare(offset)) return -1;
        const auto at = static_cast<std::uint64_t>(offset);
        std::int32_t payloadSize = -1;
        if (!reader.I32(at + 4, payloadSize) || payloadSize < 0 ||
            !reader.Has(at + 8, static_cast<std::uint64_t>(payloadSize))) {
            return offset;
        }
        visit(offset, payloadSize);
        offset += 8 + static_cast<std::int64_t>(payloadSize);
    }
    return fileSize;
}

// Reads the pages of the file that hold its block headers into `buffer` (as long as the file):
// the headers ScanBlocks will read. Dense headers share their pages, which are read once.
bool ReadBlockHeaders(const platform::File& file, ByteBuffer& buffer) {
    constexpr std::uint64_t kPage = 4096;
    const std::uint64_t fileSize = buffer.size();
    std::uint64_t readTo = 0;  // the bytes below this are read
    auto read = [&](std::int64_t offset) {
        const auto at = static_cast<std::uint64_t>(offset);
        const std::uint64_t headerEnd = std::min(at + 8, fileSize);
        if (headerEnd <= readTo) return true;
        const std::uint64_t from = std::max(readTo, at / kPage * kPage);
        const std::uint64_t to = std::min((headerEnd + kPage - 1) / kPage * kPage, fileSize);
        readTo = to;
        return file.ReadAt({buffer.data() + from, to - from}, from);
    };
    return WalkBlocks(Bytes(buffer), static_cast<std::int64_t>(fileSize), read,
                      [](std::int64_t, std::int32_t) {}) >= 0;
}

}  // namespace

std::string BaseNameOf(std::string_view inputPath) {
    std::string_view name = inputPath.substr(platform::NameStart(inputPath));
    std::size_t dot = name.rfind('.');
    if (dot != std::string_view::npos) name = name.substr(0, dot);
    return std::string(name);
}

Outcome LoadFile(std::string_view path, ByteBuffer& buffer, Console& console, LoadPart part) {
    const std::string name(path);
    buffer.Clear();
    std::error_code error;
    // Opened without waiting and looked at before anything is read: a FIFO without a writer
    // would block an ordinary open for ever, and a device or a socket is no model.
    const platform::File file = platform::OpenForReading(name, error, platform::ReadOpen::NoWait);
    platform::FileStatus info;
    if (error || file.Status(info) || info.kind == platform::FileKind::Folder) {
        console.Error("Can not open %s.", ConsoleName(name).c_str());
        return Outcome::CannotOpen;
    }
    if (info.kind != platform::FileKind::Regular) {
        console.Warning("%s is not a regular file, skipped.", ConsoleName(name).c_str());
        return Outcome::CannotOpen;
    }
    std::uint8_t head[4];
    if (info.size < 4 || !file.ReadAt(head, 0) || std::memcmp(head, "INFO", 4) != 0) {
        console.Error("This file is not it3 file.");
        return Outcome::NotIt3;
    }
    // Block offsets are signed 32-bit: a larger file cannot be indexed.
    if (info.size > INT32_MAX) {
        console.Error("Can not load %s.", ConsoleName(name).c_str());
        return Outcome::CannotLoad;
    }
    const auto fileSize = static_cast<std::size_t>(info.size);
    try {
        if (part == LoadPart::BlockHeaders) {
            // Only the pages that are read take memory.
            buffer.ResizeSparse(fileSize);
        } else {
            // Not zero-filled: the read below writes every byte.
            buffer.ResizeToFit(fileSize);
        }
    } catch (const std::bad_alloc&) {
        console.Error("Can not load %s.", ConsoleName(name).c_str());
        return Outcome::CannotLoad;
    }
    if (part == LoadPart::BlockHeaders) {
        if (ReadBlockHeaders(file, buffer)) return Outcome::Ok;
        buffer.Clear();
        console.Error("Can not load %s.", ConsoleName(name).c_str());
        return Outcome::CannotLoad;
    }
    // A large file is read in parts at the same time: most of a read's time goes into the
    // kernel clearing and filling fresh pages, which one thread does at a time.
    const std::size_t parts = (buffer.size() + kReadPart - 1) / kReadPart;
    std::atomic<bool> failed{false};
    ForEachIndex(parts, [&](std::size_t k) {
        const std::size_t start = k * kReadPart;
        const std::size_t length = std::min(kReadPart, buffer.size() - start);
        if (!file.ReadAt({buffer.data() + start, length}, start)) {
            failed.store(true, std::memory_order_relaxed);
        }
    });
    if (failed.load()) {
        buffer.Clear();
        console.Error("Can not load %s.", ConsoleName(name).c_str());
        return Outcome::CannotLoad;
    }
    return Outcome::Ok;
}

void ScanBlocks(Model& model, Console& console) {
    // The distinct tags of the unknown blocks beyond the repeat limit that the summary names.
    constexpr std::size_t kTagsNamed = 8;
    model.blocks.clear();
    const Bytes file = model.Data();
    const auto fileSize = static_cast<std::int64_t>(file.size());
    Block scratch;
    std::int32_t number = 0;
    std::vector<std::uint32_t> tagsBeyond;
    bool moreTags = false;
    auto noteBeyond = [&](std::uint32_t value) {
        if (std::find(tagsBeyond.begin(), tagsBeyond.end(), value) != tagsBeyond.end()) return;
        if (tagsBeyond.size() == kTagsNamed) {
            moreTags = true;
        } else {
            tagsBeyond.push_back(value);
        }
    };
    const std::int64_t stop = WalkBlocks(
        file, fileSize, [](std::int64_t) { return true; },
        [&](std::int64_t offset, std::int32_t) {
            scratch.ReadHeader(file, static_cast<std::int32_t>(offset), number, model.baseName);
            if (AddBlock(model, scratch, console) == 0 &&
                console.Beyond(Repeated::UnknownBlock) > 0) {
                noteBeyond(scratch.TagBits());
            }
            ++number;
        });
    if (const std::uint64_t beyond = console.Beyond(Repeated::UnknownBlock); beyond > 0) {
        std::string tags;
        for (const std::uint32_t value : tagsBeyond) {
            char text[32];
            const char bytes[4] = {static_cast<char>(value), static_cast<char>(value >> 8),
                                   static_cast<char>(value >> 16), static_cast<char>(value >> 24)};
            std::snprintf(text, sizeof text, "(0x%08X)", value);
            if (!tags.empty()) tags += ", ";
            tags += ConsoleName(std::string_view(bytes, strnlen(bytes, 4)));
            tags += text;
        }
        if (moreTags) tags += ", ...";
        console.More(Repeated::UnknownBlock, "%llu more unknown blocks (tags: %s).",
                     static_cast<unsigned long long>(beyond), tags.c_str());
    }
    if (stop < fileSize) console.Damage("broken block at offset %d.", static_cast<int>(stop));
}

int AddBlock(Model& model, const Block& block, Console& console) {
    const std::uint32_t value = block.TagBits();
    int found = -1;
    for (std::size_t k = 0; k < model.registry.size(); ++k) {
        if (model.registry[k]->typeTag == value) {
            found = static_cast<int>(k);
            break;
        }
    }
    // Position 0 stands for unknown tags: a match there (the tag of four 0xFF bytes) is unknown.
    const int registryIndex = found > 0 ? found : 0;
    if (registryIndex == 0 && console.Repeat(Repeated::UnknownBlock)) {
        const std::string text = ConsoleName(block.TagText());
        console.Warning("unknown block : %s(0x%08X)", text.c_str(), value);
    }
    model.blocks.push_back(block);
    model.blocks.back().registryIndex = registryIndex;
    return registryIndex;
}

int Model::FindInObject(int infoPosition, std::uint32_t tagValue) const {
    if (infoPosition < -1) return -1;
    for (std::size_t k = static_cast<std::size_t>(infoPosition + 1); k < blocks.size(); ++k) {
        const std::uint32_t value = blocks[k].TagBits();
        if (value == kTagInfo) return -1;
        if (value == tagValue) return static_cast<int>(k);
    }
    return -1;
}

std::string_view Model::ObjectName(int infoPosition) const {
    if (infoPosition < 0 || static_cast<std::size_t>(infoPosition) >= blocks.size()) return {};
    const Bytes payload = blocks[static_cast<std::size_t>(infoPosition)].Payload();
    return ByteReader(payload).Text(0, payload.size());
}

}  // namespace morvex
