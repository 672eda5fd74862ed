// Re-encoding every material, vertex and texture block of a model from what it decodes to gives
// a block that decodes to the same: on the conformance models (written by another
// implementation), the bundled sample and generated models of every tag and texture format.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"
#include "testdata/bench_models.h"
#include "testdata/reencode.h"
#include "testdata/sample_model.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;

struct ModelBytes {
    std::string name;
    std::vector<std::uint8_t> bytes;
};

std::vector<ModelBytes> Models() {
    std::vector<ModelBytes> models;
    for (const auto& entry : fs::directory_iterator(fs::path(MORVEX_TEST_DATA) / "conformance")) {
        const fs::path file = entry.path() / (entry.path().filename().string() + ".it3");
        models.push_back({file.filename().string(), test::ReadBytes(file)});
    }
    models.push_back({"examples/sample.it3",
                      test::ReadBytes(fs::path(MORVEX_SOURCE_DIR) / "examples" / "sample.it3")});
    models.push_back({"mesh count model", testdata::BuildMeshCountModel(3, 20, 20).file.Bytes()});
    return models;
}

TEST(Reencode, EveryBlockDecodesToWhatTheOriginalDecodesTo) {
    int checked = 0;
    for (const ModelBytes& model : Models()) {
        for (const testdata::FileBlock& block : testdata::ListBlocks(model.bytes)) {
            if (!testdata::IsReencoded(block.tag)) continue;
            SCOPED_TRACE(model.name + " block at " + std::to_string(block.offset));
            std::vector<std::uint8_t> payload;
            const EncodeResult result = testdata::ReencodeBlock(block, payload);
            ASSERT_TRUE(result.Ok()) << result.message;
            std::string why;
            EXPECT_TRUE(testdata::SameContent(block.tag, block.Payload(), payload, why)) << why;
            ++checked;
        }
    }
    EXPECT_GT(checked, 250);
}

}  // namespace
}  // namespace morvex
