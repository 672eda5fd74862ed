// The built executable end to end: usage, exit statuses and check mode.
#include <gtest/gtest.h>

#include "cli/command_line.h"
#include "platform/platform.h"
#include "test_support.h"
#include "testdata/it3_writer.h"

namespace morvex {
namespace {

using testdata::ByteVector;
using testdata::It3Writer;
namespace fs = std::filesystem;

TEST(Executable, PrintsUsageWithStatus255) {
    test::TempDir dir;
    for (std::vector<std::string> args :
         {std::vector<std::string>{}, {"-m"}, {"/?"}, {"/?", "a.it3"}, {"-x", "a.it3"}}) {
        test::RunResult r = test::RunMorvex(args, dir.Path());
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.output, test::UsageOutput());
    }
    EXPECT_TRUE(test::ListTree(dir.Path()).empty());
}

TEST(Executable, PrintsHelpAndVersionWithStatus0) {
    test::TempDir dir;
    for (const char* option : {"-h", "--help"}) {
        test::RunResult r = test::RunMorvex({option}, dir.Path());
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.output, HelpText());
        EXPECT_EQ(r.output.rfind("morvex " MORVEX_VERSION " - converts it3 model files", 0), 0u);
    }
    test::RunResult r = test::RunMorvex({"--version"}, dir.Path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "morvex " MORVEX_VERSION "\n");
    // "-?" asks for the usage text; an option without an input says what is missing.
    r = test::RunMorvex({"-?"}, dir.Path());
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.output, test::UsageOutput());
    EXPECT_EQ(r.errors, "");
    r = test::RunMorvex({"-v"}, dir.Path());
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.output, "");
    EXPECT_EQ(r.errors, "morvex: no input given\nRun 'morvex --help' for the options.\n");
    EXPECT_TRUE(test::ListTree(dir.Path()).empty());
}

TEST(Executable, ReportsInputsThatCannotBeConverted) {
    test::TempDir dir;
    test::WriteBytes(dir / "foreign.it3", ByteVector{'I', 'N', 'F', 'X', 0, 0, 0, 0});
    test::WriteBytes(dir / "short.it3", ByteVector{'I', 'N'});
    test::WriteBytes(dir / "empty.it3", {});
    fs::create_directory(dir / "folder.it3");

    test::RunResult r = test::RunMorvex({"missing.it3"}, dir.Path());
    EXPECT_EQ(r.output, "Error : Can not open missing.it3.\n");
    EXPECT_EQ(r.status, 1);
    for (const char* name : {"foreign.it3", "short.it3", "empty.it3"}) {
        r = test::RunMorvex({"-c", name}, dir.Path());
        EXPECT_EQ(r.output, "Error : This file is not it3 file.\n") << name;
        EXPECT_EQ(r.status, 1) << name;
    }
    // A folder is no file: its models are converted; here there are none.
    r = test::RunMorvex({"folder.it3"}, dir.Path());
    EXPECT_EQ(r.output, "Error : No .it3 file below folder.it3.\n");
    EXPECT_EQ(r.status, 1);
}

TEST(Executable, CheckModeIndexesAndWritesNothing) {
    test::TempDir dir;
    It3Writer file;
    file.Info("box").Block("MATE", testdata::MaterialPayload("MATE", {{"m", "t", "", 1}}));
    file.Block("KAN7", ByteVector(3, 0));
    file.Block("VPAC", testdata::VertexPayload("VPAC", {}));
    file.Header("TEXI", 1000);
    test::WriteBytes(dir / "model.it3", file.Bytes());
    fs::create_directory(dir / "out");
    test::RunResult r = test::RunMorvex({"-c", "model.it3", "out"}, dir.Path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output,
              "Warning : unknown block : KAN7(0x374E414B)\n"
              "Warning : broken block at offset " +
                  std::to_string(file.Bytes().size() - 8) + ".\n");
    EXPECT_EQ(test::ListTree(dir.Path()), std::vector<std::string>{"model.it3"});
    // An absolute input path is a path, not an option.
    r = test::RunMorvex({"-c", (dir / "model.it3").string()}, dir.Path());
    EXPECT_EQ(r.status, 0);
}

}  // namespace
}  // namespace morvex
