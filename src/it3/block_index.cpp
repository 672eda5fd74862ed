// The scan that indexes every block of a loaded file, tag recognition and the object search.
#include <cstdint>

#include "convert/converter.h"

namespace morvex {

void Converter::ScanBlocks() {
    blocks.clear();
    Bytes file(buffer.data(), static_cast<std::size_t>(fileSize));
    ByteReader reader(file);
    Block scratch;
    std::int64_t offset = 0;
    std::int32_t number = 0;
    while (offset < fileSize) {
        // A block whose header or payload leaves the file, or whose payload size is negative,
        // ends the scan; the blocks before it stay indexed.
        std::int32_t payloadSize = -1;
        if (!reader.I32(static_cast<std::uint64_t>(offset) + 4, payloadSize) || payloadSize < 0 ||
            !reader.Has(static_cast<std::uint64_t>(offset) + 8,
                        static_cast<std::uint64_t>(payloadSize))) {
            Print("Warning : broken block at offset %d.\n", static_cast<int>(offset));
            break;
        }
        offset += scratch.ReadHeader(file, static_cast<std::int32_t>(offset), number, baseName);
        AddBlock(scratch);
        ++number;
    }
}

int Converter::AddBlock(const Block& block) {
    std::uint32_t value = block.TagBits();
    int found = -1;
    for (std::size_t k = 0; k < registry.size(); ++k) {
        if (registry[k]->typeTag == value) {
            found = static_cast<int>(k);
            break;
        }
    }
    int registryIndex = found > 0 ? found : 0;
    if (registryIndex == 0) {
        std::string text = ConsoleName(block.TagText());
        Print("Warning : unknown block : %s(0x%08X)\n", text.c_str(), value);
    }
    blocks.push_back(block);
    blocks.back().registryIndex = registryIndex;
    return registryIndex;
}

int Converter::FindInObject(int infoPosition, std::uint32_t tagValue) const {
    if (infoPosition < -1) return -1;
    for (std::size_t k = static_cast<std::size_t>(infoPosition + 1); k < blocks.size(); ++k) {
        std::uint32_t value = blocks[k].TagBits();
        if (value == kTagInfo) return -1;
        if (value == tagValue) return static_cast<int>(k);
    }
    return -1;
}

}  // namespace morvex
