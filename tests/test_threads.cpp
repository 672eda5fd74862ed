// A conversion gives the same files and console lines with one thread as with several: the
// pieces of text, the textures and the glTF parts made in parallel are put together in file
// order.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "convert/converter.h"
#include "convert/options.h"
#include "test_support.h"
#include "testdata/bench_models.h"
#include "testdata/sample_model.h"

namespace morvex {
namespace {

struct Outputs {
    int result = 0;
    std::string console;
    std::map<std::string, std::string> tree;
};

// Converts `input` into a fresh folder `dest` (the console names the same paths every time).
Outputs ConvertWithJobs(const test::fs::path& input, const test::fs::path& dest, OutputMode mode,
                        int jobs) {
    Converter converter(Console::Capturing());
    ConvertOptions options;
    options.jobs = jobs;
    test::fs::remove_all(dest);
    test::fs::create_directory(dest);
    Outputs run;
    run.result = converter.Convert(input.string(), dest.string() + "/", mode, options);
    run.console = converter.GetConsole().Captured();
    run.tree = test::SnapshotTree(dest);
    return run;
}

struct ModelCase {
    const char* name;
    testdata::It3Writer (*build)();
};

testdata::It3Writer Sample() {
    return testdata::BuildSampleModel();
}
// Five objects of six meshes of 2,500 vertices: every mesh is several pieces of text.
testdata::It3Writer ManyMeshes() {
    return testdata::BuildMeshCountModel(6, 50, 50).file;
}

class ThreadCountTest : public ::testing::TestWithParam<std::tuple<ModelCase, OutputMode>> {};

TEST_P(ThreadCountTest, OneThreadAndManyGiveTheSameTree) {
    const auto& [model, mode] = GetParam();
    test::TempDir dir;
    const test::fs::path input = dir / (std::string(model.name) + ".it3");
    ASSERT_TRUE(model.build().Save(input.string()));

    const Outputs one = ConvertWithJobs(input, dir / "out", mode, 1);
    ASSERT_EQ(one.result, 0);
    ASSERT_FALSE(one.tree.empty());
    for (int jobs : {2, 4, 0}) {
        const Outputs many = ConvertWithJobs(input, dir / "out", mode, jobs);
        EXPECT_EQ(many.result, one.result) << jobs;
        EXPECT_EQ(many.console, one.console) << jobs;
        EXPECT_TRUE(many.tree == one.tree) << jobs << " threads give other files";
    }
}

std::string CaseName(const ::testing::TestParamInfo<std::tuple<ModelCase, OutputMode>>& info) {
    static const char* const kModes[] = {"obj", "mqo", "glb", "check"};
    return std::string(std::get<0>(info.param).name) + "_" +
           kModes[static_cast<int>(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(Models, ThreadCountTest,
                         ::testing::Combine(::testing::Values(ModelCase{"sample", Sample},
                                                              ModelCase{"meshes", ManyMeshes}),
                                            ::testing::Values(OutputMode::Obj, OutputMode::Mqo,
                                                              OutputMode::Gltf)),
                         CaseName);

}  // namespace
}  // namespace morvex
