// Replays the conformance cases in tests/data/conformance: each model converted in each mode
// must give the recorded console bytes, exit status and output files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace morvex {
namespace {

namespace fs = std::filesystem;

struct Case {
    std::string model;
    std::string mode;  // obj, mqo, check
};

std::vector<Case> AllCases() {
    std::vector<Case> cases;
    fs::path root = fs::path(MORVEX_TEST_DATA) / "conformance";
    std::vector<std::string> models;
    for (const auto& entry : fs::directory_iterator(root)) {
        if (entry.is_directory()) models.push_back(entry.path().filename().string());
    }
    std::sort(models.begin(), models.end());
    for (const std::string& m : models) {
        for (const char* mode : {"check", "obj", "mqo"}) cases.push_back({m, mode});
    }
    return cases;
}

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.model << "/" << c.mode;
}

class Conformance : public ::testing::TestWithParam<Case> {};

TEST_P(Conformance, MatchesTheRecordedRun) {
    const Case& c = GetParam();
    fs::path source = fs::path(MORVEX_TEST_DATA) / "conformance" / c.model;
    fs::path expected = source / "expected" / c.mode;

    // The same layout as the recorded run: mNNN/mNNN.it3 and mNNN/expected/MODE/out.
    test::TempDir tmp;
    fs::path work = tmp / c.model / "expected" / c.mode;
    fs::create_directories(work / "out");
    fs::copy_file(source / (c.model + ".it3"), tmp / c.model / (c.model + ".it3"));

    std::vector<std::string> args;
    if (c.mode == "mqo") args.push_back("-m");
    if (c.mode == "check") args.push_back("-c");
    args.push_back("../../" + c.model + ".it3");
    args.push_back("out");
    test::RunResult run = test::RunMorvex(args, work);

    EXPECT_EQ(run.output, test::ReadText(expected / "stdout"));
    EXPECT_EQ(std::stoi(test::ReadText(expected / "status")), run.status);

    std::vector<std::string> want = test::ListFiles(expected / "out");
    std::vector<std::string> got = test::ListFiles(work / "out");
    EXPECT_EQ(got, want);
    for (const std::string& name : want) {
        if (std::find(got.begin(), got.end(), name) == got.end()) continue;
        EXPECT_TRUE(test::ReadBytes(work / "out" / name) ==
                    test::ReadBytes(expected / "out" / name))
            << c.model << "/" << c.mode << ": " << name << " differs";
    }
}

INSTANTIATE_TEST_SUITE_P(Golden, Conformance, ::testing::ValuesIn(AllCases()),
                         [](const auto& info) { return info.param.model + "_" + info.param.mode; });

}  // namespace
}  // namespace morvex
