// The context of one conversion: the whole input file, its block list and the block registry.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "it3/block.h"

namespace morvex {

class MaterialBlock;
class VertexBlock;

// The output mode; the driver looks at its low three bits.
enum class OutputMode : int { Obj = 0, Mqo = 1, Gltf = 2, Check = 3 };

class Converter {
  public:
    // Messages ("-> ", "Warning : ", "Error : " lines) go to `console`.
    explicit Converter(std::FILE* console = stdout);
    ~Converter();
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Loads and indexes the file at `inputPath` and writes its outputs into `destPath` (empty,
    // or a directory ending in '/'). Returns 0 when the file was loaded and indexed, -1 when it
    // cannot be opened, is not an it3 file or cannot be loaded. OutputFailed() then tells whether
    // every output file could be written.
    int Convert(std::string_view inputPath, std::string_view destPath, OutputMode mode);
    // Releases the file, the block list and the registry; a Converter can convert again.
    int Reset();

    // Recognises the block's tag, stores its registryIndex and appends a copy to the block list.
    // Prints the unknown-block warning for tags outside the registry. Returns the registryIndex.
    int AddBlock(const Block& block);
    // The position of the first block with tag value `tagValue` in the object whose INFO block
    // is at `infoPosition`, or -1. The search stops at the next INFO block.
    int FindInObject(int infoPosition, std::uint32_t tagValue) const;
    // Put a new decoder for the object's material (MATE, MAT2, MAT3, MAT4) or vertex (VPA2, VPA4,
    // VPA5, VPA7, VPA8, VPAC) block into `slot`, the first tag of that order that the object
    // holds; return that block's position, or -1 with an empty slot.
    int CreateMaterialDecoder(int infoPosition, std::unique_ptr<MaterialBlock>& slot) const;
    int CreateVertexDecoder(int infoPosition, std::unique_ptr<VertexBlock>& slot) const;

    // The writers. Each returns 0; failures to create or write a file are printed and recorded.
    int ExportObj(std::string_view destPath);
    int ExportMqo(std::string_view destPath);
    // One binary glTF file for the whole input, textures embedded (src/export/gltf_writer.h).
    int ExportGltf(std::string_view destPath);
    int ExportTextures(std::string_view destPath);

    // The object name: the NUL-terminated text at the start of an INFO payload.
    std::string_view ObjectName(int infoPosition) const;
    // True when an output file could not be created or written during the last Convert.
    bool OutputFailed() const { return outputFailed; }

    // printf-style message to the console.
    void Print(const char* format, ...) const __attribute__((format(printf, 2, 3)));
    void RecordOutputFailure() { outputFailed = true; }
    std::FILE* Console() const { return console; }

    std::string path;
    std::string baseName;
    std::vector<std::uint8_t> buffer;
    std::int32_t fileSize = 0;
    std::vector<Block> blocks;
    std::vector<std::unique_ptr<Block>> registry;

  private:
    int Load();
    void ScanBlocks();

    std::FILE* console;
    bool outputFailed = false;
};

// A name taken from the model as the console messages show it: every control byte (0x01 to 0x1F,
// 0x7F) becomes '?', so that a message is always one line and cannot steer the terminal.
std::string ConsoleName(std::string_view name);

// The input file name without its directory (text after the last '/') and without its last
// extension.
std::string BaseNameOf(std::string_view inputPath);

}  // namespace morvex
