// The inspect report (-i) of any file, in both forms: the file is indexed in memory with the
// fuzz runs' smaller Limits, and the report built and written as text and as JSON. The JSON
// must parse, and both forms must stay within their bounds: the lists that can grow with the
// file's blocks are cut at the repeat limit, the text holds no control byte but its line ends,
// and the JSON is at most a fixed multiple of the file plus a fixed size for every element it
// lists (names escaped, a Material's three names included).
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "decode/block_types.h"
#include "fuzz_support.h"
#include "inspect/report.h"
#include "it3/byte_buffer.h"
#include "it3/model.h"

using namespace morvex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Model model;
    RegisterBlockTypes(model.registry);
    model.path = "in.it3";
    model.baseName = "in";
    model.limits.pictureBytes = 256 << 10;
    model.limits.objects = 16;
    model.limits.meshes = 64;
    model.limits.meshSize = 4096;
    model.buffer = ByteBuffer::CopyOf(std::span(data, size));
    Console console = Console::Capturing();
    ScanBlocks(model, console);
    fuzz::Require(console.counters.linesPrinted <= kRepeatLimit + 2);

    const ModelReport report = BuildReport(model);
    fuzz::Require(report.unknownBlocks.size() <= kRepeatLimit);
    fuzz::Require(report.warnings.size() <= kRepeatedKinds * (kRepeatLimit + 1));
    std::size_t elements = report.objects.size() + report.textures.size() +
                           report.missingTextures.size() + report.warnings.size();
    for (const ObjectReport& object : report.objects) {
        elements += object.materials.size() + object.meshes.size();
    }

    const std::string text = ReportText(report);
    for (const char c : text)
        fuzz::Require(c == '\n' || !IsControlByte(static_cast<unsigned char>(c)));

    const std::string json = ReportJson(report);
    fuzz::Require(json.size() <= 64 * size + 1600 * elements + 4096);
    const nlohmann::json parsed = nlohmann::json::parse(json, nullptr, false);
    fuzz::Require(!parsed.is_discarded());
    fuzz::Require(parsed["objects"].size() == report.objects.size());
    return 0;
}
