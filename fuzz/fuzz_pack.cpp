// The pack of any glb against the bundled sample: the glb reader, the matching of edited
// geometry to the original meshes, the texture split and the encoders of whatever it finds
// changed. Checks: a pack that succeeds gives a file whose blocks all lie inside it, with the
// original's blocks in order; one that fails gives nothing and says why in an error line. Runs
// with a smaller JSON limit (1 MiB) and picture side (256) than the command line, on the calling
// thread: the same code paths, with the work of one run kept small.
#include <cstdint>
#include <string>
#include <vector>

#include "decode/block_types.h"
#include "fuzz_support.h"
#include "it3/parallel.h"
#include "pack/pack.h"
#include "testdata/sample_model.h"

using namespace morvex;

namespace {

const Model& Sample() {
    static const Model* model = [] {
        auto* m = new Model;
        RegisterBlockTypes(m->registry);
        m->baseName = "sample";
        m->limits.pictureSide = 256;
        const std::vector<std::uint8_t> bytes = testdata::BuildSampleModel().Bytes();
        m->buffer = ByteBuffer::CopyOf(bytes);
        Console console = Console::Capturing();
        ScanBlocks(*m, console);
        return m;
    }();
    return *model;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Model& original = Sample();
    const fuzz::ExactCopy glb(data, size);
    SerialScope serial;
    Console console = Console::Capturing();
    GlbLimits limits;
    limits.jsonBytes = 1 << 20;
    std::vector<std::uint8_t> packed;
    const Outcome made = PackBytes(original, glb.View(), "fuzz.glb", console, packed, limits);
    if (made != Outcome::Ok) {
        fuzz::Require(packed.empty());
        fuzz::Require(console.Captured().find("Error : ") != std::string::npos);
        return 0;
    }
    // The original's blocks in order, each inside the file.
    Model result;
    RegisterBlockTypes(result.registry);
    result.buffer = ByteBuffer::CopyOf(packed);
    Console scan = Console::Capturing();
    ScanBlocks(result, scan);
    fuzz::Require(result.blocks.size() == original.blocks.size());
    for (std::size_t b = 0; b < result.blocks.size(); ++b) {
        fuzz::Require(result.blocks[b].TagBits() == original.blocks[b].TagBits());
    }
    return 0;
}
