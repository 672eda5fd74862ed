#include "convert/converter.h"

#include <tbb/task_arena.h>

#include <new>

#include "decode/block_types.h"
#include "decode/decoder_factory.h"
#include "export/gltf/gltf_writer.h"
#include "export/text/mqo_writer.h"
#include "export/text/obj_writer.h"
#include "export/texture_export.h"
#include "it3/parallel.h"

namespace morvex {

int Converter::Reset() {
    model_.buffer.Clear();
    model_.blocks.clear();
    model_.registry.clear();
    return 0;
}

int Converter::Convert(std::string_view inputPath, std::string_view destPath, OutputMode mode) {
    return Convert(inputPath, destPath, mode, ConvertOptions{});
}

int Converter::Convert(std::string_view inputPath, std::string_view destPath, OutputMode mode,
                       const ConvertOptions& options) {
    // Checking reads the file and its block headers: not worth starting a thread for.
    if (options.jobs == 1 || mode == OutputMode::Check) {
        SerialScope serial;
        return Run(inputPath, destPath, mode, options);
    }
    // A caller's arena of that size (a folder run) is used as it is.
    if (options.jobs > 1 && tbb::this_task_arena::max_concurrency() != options.jobs) {
        return RunWithThreads(options.jobs,
                              [&] { return Run(inputPath, destPath, mode, options); });
    }
    return Run(inputPath, destPath, mode, options);
}

int Converter::Run(std::string_view inputPath, std::string_view destPath, OutputMode mode,
                   const ConvertOptions& options) {
    Reset();
    model_.limits = options.limits;
    outputFolder_ = nullptr;
    model_.names = options.utf8Names ? NameRules::Utf8Names() : NameRules{};
    console_.ClearOutputFailure();
    console_.ClearRepeats();
    console_.counters = WorkCounters{};
    console_.messages = MessageCounts{};
    // The registry is filled before the file is opened, so it is there even when loading fails.
    RegisterBlockTypes(model_.registry);
    model_.path.assign(inputPath);
    model_.baseName = BaseNameOf(inputPath);
    const LoadPart part = mode == OutputMode::Check && options.checkHeadersOnly
                              ? LoadPart::BlockHeaders
                              : LoadPart::Whole;
    if (LoadFile(model_.path, model_.buffer, console_, part) != Outcome::Ok) {
        console_.Flush();
        return -1;
    }
    // Memory runs out in one of the places that catch it (the file, an object's files, a
    // texture, a glTF image or document), which go on with the next part; anywhere else it ends
    // the conversion here, with the files written so far complete and nothing else left.
    try {
        ScanBlocks(model_, console_);
        // The mode's low three bits decide; a mode without a writer checks only.
        const auto writer = static_cast<OutputMode>(static_cast<int>(mode) & 7);
        const bool writes =
            writer == OutputMode::Obj || writer == OutputMode::Mqo || writer == OutputMode::Gltf;
        if (writes && options.prepareDestination &&
            options.prepareDestination(console_) != Outcome::Ok) {
            console_.Flush();
            return -1;
        }
        // Known once the destination is prepared, which may open it.
        outputFolder_ = options.outputFolder != nullptr && options.outputFolder->IsOpen()
                            ? options.outputFolder
                            : nullptr;
        textures_ = options.textures;
        switch (writer) {
            case OutputMode::Obj:
                ExportObj(destPath);
                ExportTextures(destPath);
                break;
            case OutputMode::Mqo:
                ExportMqo(destPath);
                ExportTextures(destPath);
                break;
            case OutputMode::Gltf:
                if (options.outputFile.empty()) {
                    ExportGltf(destPath);
                } else {
                    ExportGltfFile(model_, console_, options.outputFile, outputFolder_);
                }
                break;
            default:  // Check, and the low bits that name no writer
                break;
        }
    } catch (const std::bad_alloc&) {
        Reset();
        console_.Error("Out of memory for %s.", ConsoleName(inputPath).c_str());
        console_.Flush();
        return -1;
    }
    console_.SummariseRepeats();
    console_.Flush();
    return 0;
}

int Converter::CreateMaterialDecoder(int infoPosition, std::unique_ptr<MaterialBlock>& slot) const {
    return morvex::CreateMaterialDecoder(model_, infoPosition, slot);
}

int Converter::CreateVertexDecoder(int infoPosition, std::unique_ptr<VertexBlock>& slot) const {
    return morvex::CreateVertexDecoder(model_, infoPosition, slot);
}

int Converter::ExportObj(std::string_view destPath) {
    morvex::ExportObj(model_, console_, destPath, textures_, outputFolder_);
    return 0;
}

int Converter::ExportMqo(std::string_view destPath) {
    morvex::ExportMqo(model_, console_, destPath, textures_, outputFolder_);
    return 0;
}

int Converter::ExportGltf(std::string_view destPath) {
    morvex::ExportGltf(model_, console_, destPath, outputFolder_);
    return 0;
}

int Converter::ExportTextures(std::string_view destPath) {
    morvex::ExportTextures(model_, console_, destPath, textures_, outputFolder_);
    return 0;
}

}  // namespace morvex
