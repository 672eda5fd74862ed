// The driver of one conversion: load the file, index its blocks, run the writers of the mode.
//
// A Converter owns the loaded model (src/it3/model.h) and the console its messages go to. The
// work itself lives in the stages: the scan and the decoder factories in src/it3, the decoders
// in src/decode, the writers in src/export; the members below keep the names of the format's
// design and hand over to them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string_view>

#include "convert/options.h"
#include "it3/block.h"
#include "it3/console.h"
#include "it3/model.h"

namespace morvex {

class MaterialBlock;
class VertexBlock;

class Converter {
  public:
    // Messages ("-> ", "Warning : ", "Error : " lines) go to `console` as they are printed.
    explicit Converter(std::FILE* console = stdout) : console_(console) {}
    explicit Converter(Console console) : console_(std::move(console)) {}
    ~Converter() { Reset(); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Loads and indexes the file at `inputPath` and writes its outputs into `destPath` (empty,
    // or a directory ending in '/'). Returns 0 when the file was loaded and indexed, -1 when it
    // cannot be opened, is not an it3 file or cannot be loaded. OutputFailed() then tells
    // whether every output file could be written.
    int Convert(std::string_view inputPath, std::string_view destPath, OutputMode mode);
    // The same with the threads `options.jobs` allows (0 all cores, or those of the oneTBB arena
    // the caller runs in; 1 strictly the calling thread; N at most N threads) and the refusal
    // thresholds of `options.limits` (src/it3/limits.h). The output does not depend on jobs.
    int Convert(std::string_view inputPath, std::string_view destPath, OutputMode mode,
                const ConvertOptions& options);
    // Releases the file, the block list and the registry; a Converter can convert again.
    int Reset();

    // The block container's operations on the loaded model (src/it3/model.h,
    // src/decode/decoder_factory.h).
    int AddBlock(const Block& block) { return morvex::AddBlock(model_, block, console_); }
    int FindInObject(int infoPosition, std::uint32_t tagValue) const {
        return model_.FindInObject(infoPosition, tagValue);
    }
    int CreateMaterialDecoder(int infoPosition, std::unique_ptr<MaterialBlock>& slot) const;
    int CreateVertexDecoder(int infoPosition, std::unique_ptr<VertexBlock>& slot) const;

    // The writers (src/export); each returns 0, failures are printed and recorded.
    int ExportObj(std::string_view destPath);
    int ExportMqo(std::string_view destPath);
    int ExportGltf(std::string_view destPath);
    int ExportTextures(std::string_view destPath);

    const Model& GetModel() const { return model_; }
    Console& GetConsole() { return console_; }
    const Console& GetConsole() const { return console_; }
    // True when an output file could not be created or written during the last Convert.
    bool OutputFailed() const { return console_.OutputFailed(); }

  private:
    int Run(std::string_view inputPath, std::string_view destPath, OutputMode mode,
            const ConvertOptions& options);

    Model model_;
    Console console_;
    TextureFormat textures_ = TextureFormat::Bmp;  // of the Convert running
};

}  // namespace morvex
