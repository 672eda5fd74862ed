// A conversion gives the same files and console lines with one thread as with several: the
// pieces of text, the textures and the glTF parts made in parallel are put together in file
// order.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "convert/converter.h"
#include "convert/options.h"
#include "it3/parallel.h"
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

// --jobs may ask for more threads than the machine has: the run gets them, and nothing but the
// tool's own lines is printed.
TEST(ThreadCount, MoreJobsThanCoresRunQuietly) {
    test::TempDir dir;
    test::fs::create_directory(dir / "models");
    ASSERT_TRUE(testdata::BuildSampleModel().Save((dir / "models/sample.it3").string()));
    const std::string jobs = "--jobs=" + std::to_string(tbb::info::default_concurrency() + 2);
    const std::vector<std::vector<std::string>> commands = {
        {jobs, "-g", "models/sample.it3", "one"},
        {jobs, "models", "many"},
    };
    for (const auto& args : commands) {
        const test::RunResult r = test::RunMorvex(args, dir.Path());
        EXPECT_EQ(r.status, 0) << args[2];
        // Standard error holds a folder run's summary line at most.
        for (const std::string& line : test::SplitLines(r.errors)) {
            EXPECT_EQ(line.rfind("morvex: ", 0), 0u) << line;
        }
        EXPECT_NE(r.output.find("-> "), std::string::npos) << args[2];
    }
}

// Pieces kept between runs: the next run starts with them, in whatever state the last one left
// them, and still hands on its own results in order.
struct Number {
    std::vector<int> parts;  // what a piece carries; produce appends to it
    int square = 0;
};

std::vector<int> SquaresInOrder(int count, std::vector<std::unique_ptr<Number>>& keep,
                                int throwAt = -1) {
    int next = 0;
    std::vector<int> out;
    RunInOrder<Number>(
        [&](Number& piece) {
            if (next == count) return false;
            piece.parts.clear();  // as TextPieces::Fill does: a kept piece may carry old parts
            piece.parts.push_back(next++);
            return true;
        },
        [&](Number& piece) {
            if (piece.parts.front() == throwAt) throw std::runtime_error("stop");
            piece.square = piece.parts.front() * piece.parts.front();
        },
        [&](Number& piece) { out.push_back(piece.square); }, kPiecesPerThread, &keep);
    return out;
}

TEST(RunInOrderKeep, PiecesServeTheNextRunAndOutputStaysInOrder) {
    std::vector<int> expected;
    for (int k = 0; k < 200; ++k) expected.push_back(k * k);
    std::vector<std::unique_ptr<Number>> keep;
    EXPECT_EQ(SquaresInOrder(200, keep), expected);
    ASSERT_FALSE(keep.empty());
    const Number* first = keep.front().get();
    const std::size_t kept = keep.size();
    // A run that ends by an exception leaves its pieces (some half done) in keep.
    EXPECT_THROW(SquaresInOrder(200, keep, 57), std::runtime_error);
    EXPECT_GE(keep.size(), kept);
    // The next run reuses them and gives exactly its own results.
    EXPECT_EQ(SquaresInOrder(200, keep), expected);
    bool reused = false;
    for (const auto& piece : keep) reused = reused || piece.get() == first;
    EXPECT_TRUE(reused);
    {
        SerialScope serial;
        EXPECT_EQ(SquaresInOrder(5, keep), std::vector<int>({0, 1, 4, 9, 16}));
    }
}

}  // namespace
}  // namespace morvex
