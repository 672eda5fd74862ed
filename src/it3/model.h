// A loaded model: the bytes of one it3 file, its block list, the block registry and the base
// name of its outputs.
//
// LoadFile reads the file whole; ScanBlocks indexes it. From then on the model is read-only:
// the writers, the decoder factories and the reports take it as `const Model&`, and every Block
// record and decoder bound to it points into its bytes without owning them, so the model must
// outlive them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "it3/block.h"
#include "it3/block_list.h"
#include "it3/byte_buffer.h"
#include "it3/console.h"
#include "it3/limits.h"
#include "it3/names.h"
#include "it3/result.h"

namespace morvex {

struct Model {
    std::string path;      // the input path as given
    std::string baseName;  // the input file name without its folder and its last extension
    ByteBuffer buffer;     // the whole file
    BlockList blocks;      // the block list, in file order
    std::vector<std::unique_ptr<Block>> registry;  // one prototype per known tag
    Limits limits;                                 // what the writers may spend on this model
    NameRules names;                               // how the writers write names

    Bytes Data() const { return {buffer.data(), buffer.size()}; }
    // The position of the first block with tag value `tagValue` in the object whose INFO block
    // is at `infoPosition`, or -1. The search stops at the next INFO block.
    int FindInObject(int infoPosition, std::uint32_t tagValue) const;
    // The object name: the NUL-terminated text at the start of an INFO payload.
    std::string_view ObjectName(int infoPosition) const;
};

// The input file name without its directory (text after the last '/', or on Windows '/' or '\')
// and without its last extension.
std::string BaseNameOf(std::string_view inputPath);

// What LoadFile reads of a file.
enum class LoadPart {
    Whole,
    // The 8-byte header of every block that ScanBlocks will index, and nothing of the payloads:
    // they read as zeros. Enough for checking a file, and it holds no memory for the payloads.
    BlockHeaders,
};

// Reads the file at `path` into `buffer`, which becomes as long as the file: whole, or only its
// block headers. Prints "Error : Can not open <path>." (also for a folder), "Warning : <path> is
// not a regular file, skipped." (a FIFO, a socket, a device: opened without waiting, never
// read), "Error : This file is not it3 file." (first four bytes not INFO) or "Error : Can not
// load <path>." (no memory, a read error, or a file too large for 32-bit block offsets).
[[nodiscard]] Outcome LoadFile(std::string_view path, ByteBuffer& buffer, Console& console,
                               LoadPart part = LoadPart::Whole);

// Indexes every block of the model's bytes into its block list. A block whose header or payload
// leaves the file, or whose payload size is negative, ends the scan with "Warning : broken block
// at offset <n>."; the blocks before it stay indexed. Needs the registry filled. Unknown blocks
// beyond the console's repeat limit are summarised in one line at the end: "Warning : <n> more
// unknown blocks (tags: <tag>(0x<value>), ...)." with their first few distinct tags.
void ScanBlocks(Model& model, Console& console);

// Recognises the block's tag against the registry, stores its registryIndex and appends a copy
// to the block list. Tags outside the registry print "Warning : unknown block : <tag>(0x<value>)"
// (counted as Repeated::UnknownBlock: beyond the limit, only counted) and get registryIndex 0.
// Returns the registryIndex.
int AddBlock(Model& model, const Block& block, Console& console);

}  // namespace morvex
