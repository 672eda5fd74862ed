// The promises of the platform layer, on whichever system the tests run: files created without
// opening or following anything already there, renames that replace, links seen and not
// followed, folder identity, paths beyond 260 characters and names in Japanese.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "test_support.h"

namespace morvex {
namespace {

using test::fs::path;
namespace fs = std::filesystem;

std::string Text(const path& p) {
    return platform::PathText(p);
}

std::string Contents(const path& file) {
    return test::ReadText(file);
}

void Put(const path& file, const std::string& text) {
    test::WriteBytes(file, std::vector<std::uint8_t>(text.begin(), text.end()));
}

TEST(PlatformFiles, CreatingANewFileNeverOpensOrFollowsWhatHasTheName) {
    struct Case {
        const char* there;  // what has the name before
        bool created;
    };
    const Case cases[] = {{"nothing", true},
                          {"file", false},
                          {"folder", false},
                          {"link to a file", false},
                          {"link to nothing", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.there);
        test::TempDir dir;
        const path name = dir / "out.obj";
        const path target = dir / "target";
        const std::string there = c.there;
        if (there == "file") Put(name, "old");
        if (there == "folder") fs::create_directory(name);
        if (there == "link to a file") Put(target, "target");
        if (there.starts_with("link") && !test::MakeLink(target, name)) {
            std::printf("[  SKIPPED ] %s: symbolic links cannot be made here\n", c.there);
            continue;
        }
        std::error_code error;
        platform::File file = platform::CreateNewFile(Text(name), error);
        EXPECT_EQ(file.IsOpen(), c.created);
        if (!c.created) {
            EXPECT_EQ(error, std::errc::file_exists);
            continue;
        }
        ASSERT_EQ(platform::Write(file.Handle(), "new", 3), 3);
        EXPECT_TRUE(file.Close());
        EXPECT_EQ(Contents(name), "new");
    }
    // Whatever the name was, the file behind a link is untouched and none was made for it.
    test::TempDir dir;
    Put(dir / "target", "target");
    if (test::MakeLink(dir / "target", dir / "link")) {
        std::error_code error;
        EXPECT_FALSE(platform::CreateNewFile(Text(dir / "link"), error).IsOpen());
        EXPECT_EQ(Contents(dir / "target"), "target");
    }
}

TEST(PlatformFiles, RenameReplacesAFileOrALinkAndNeverWritesThroughIt) {
    for (const char* there : {"nothing", "file", "link"}) {
        SCOPED_TRACE(there);
        test::TempDir dir;
        Put(dir / "temporary", "new");
        Put(dir / "target", "target");
        if (std::string(there) == "file") Put(dir / "final", "old");
        if (std::string(there) == "link" && !test::MakeLink(dir / "target", dir / "final")) {
            std::printf("[  SKIPPED ] symbolic links cannot be made here\n");
            continue;
        }
        EXPECT_FALSE(platform::Rename(Text(dir / "temporary"), Text(dir / "final")));
        EXPECT_EQ(Contents(dir / "final"), "new");
        EXPECT_FALSE(fs::is_symlink(dir / "final"));
        EXPECT_FALSE(fs::exists(dir / "temporary"));
        EXPECT_EQ(Contents(dir / "target"), "target");
    }
}

TEST(PlatformFiles, LinksAreSeenAndRefusedWhereAsked) {
    test::TempDir dir;
    Put(dir / "file", "data");
    fs::create_directory(dir / "folder");
    if (!test::MakeLink(dir / "file", dir / "link") ||
        !test::MakeLink(dir / "folder", dir / "folder-link", true)) {
        GTEST_SKIP() << "symbolic links cannot be made here";
    }
    platform::FileStatus status;
    ASSERT_FALSE(platform::StatusOf(Text(dir / "link"), status, platform::Links::Keep));
    EXPECT_EQ(status.kind, platform::FileKind::Link);
    ASSERT_FALSE(platform::StatusOf(Text(dir / "link"), status));
    EXPECT_EQ(status.kind, platform::FileKind::Regular);
    EXPECT_EQ(status.size, 4u);

    std::error_code error;
    EXPECT_FALSE(
        platform::OpenForReading(Text(dir / "link"), error, platform::ReadOpen::NoFollow).IsOpen());
    EXPECT_TRUE(error);
    EXPECT_TRUE(
        platform::OpenForReading(Text(dir / "file"), error, platform::ReadOpen::NoFollow).IsOpen());
    EXPECT_FALSE(
        platform::Folder::Open(Text(dir / "folder-link"), error, platform::Links::Keep).IsOpen());
    EXPECT_TRUE(platform::Folder::Open(Text(dir / "folder-link"), error).IsOpen());
    // Removing a link removes the link only.
    EXPECT_FALSE(platform::RemoveFile(Text(dir / "link")));
    EXPECT_EQ(Contents(dir / "file"), "data");
}

TEST(PlatformFiles, FoldersAreKnownByTheirIdentityWhateverThePath) {
    test::TempDir dir;
    fs::create_directories(dir / "a" / "b");
    fs::create_directory(dir / "c");
    platform::FileStatus a, again, b, c;
    ASSERT_FALSE(platform::StatusOf(Text(dir / "a"), a));
    ASSERT_FALSE(platform::StatusOf(Text(dir / "a" / "b" / ".."), again));
    ASSERT_FALSE(platform::StatusOf(Text(dir / "a" / "b"), b));
    ASSERT_FALSE(platform::StatusOf(Text(dir / "c"), c));
    EXPECT_EQ(a.kind, platform::FileKind::Folder);
    EXPECT_EQ(a.id, again.id);
    EXPECT_NE(a.id, b.id);
    EXPECT_NE(a.id, c.id);
    EXPECT_NE(b.id, c.id);
    if (test::MakeLink(dir / "a", dir / "link", true)) {
        platform::FileStatus link;
        ASSERT_FALSE(platform::StatusOf(Text(dir / "link"), link));
        EXPECT_EQ(link.id, a.id);
    }
}

// Folders and files whose paths pass 260 characters, with names in Japanese: created, listed,
// written, read, renamed and removed through the layer.
TEST(PlatformFiles, LongPathsAndJapaneseNamesWork) {
    test::TempDir dir;
    std::string folder = Text(dir.Path());
    // Appended piece by piece: g++ 12 reports a false -Wrestrict for "literal" + string.
    std::string step = "\xE3\x83\x95\xE3\x82\xA9\xE3\x83\xAB\xE3\x83\x80-";  // フォルダ
    step.append(40, 'x');
    for (int k = 0; k < 6; ++k) {
        folder += '/';
        folder += step;
        folder += std::to_string(k);
        ASSERT_FALSE(platform::CreateFolder(folder)) << folder.size();
    }
    ASSERT_GT(folder.size(), 300u);
    const std::string name = "\xE8\xA1\xA8\xE3\x82\xBD.obj";  // 表ソ.obj
    const std::string file = folder + "/" + name;
    std::error_code error;
    platform::File out = platform::CreateNewFile(file, error);
    ASSERT_TRUE(out.IsOpen()) << error.message();
    ASSERT_EQ(platform::Write(out.Handle(), "0123456789", 10), 10);
    ASSERT_TRUE(out.Close());

    {
        // An open folder cannot be removed or renamed on Windows: it is closed at the brace.
        std::vector<std::string> names;
        const platform::Folder listed = platform::Folder::Open(folder, error);
        ASSERT_FALSE(error);
        ASSERT_FALSE(listed.ReadNames(names));
        EXPECT_EQ(names, std::vector<std::string>{name});
    }

    const std::string renamed = folder + "/" + "\xE8\x83\xBD.mtl";  // 能.mtl
    ASSERT_FALSE(platform::Rename(file, renamed));
    platform::File in = platform::OpenForReading(renamed, error);
    ASSERT_TRUE(in.IsOpen()) << error.message();
    platform::FileStatus status;
    ASSERT_FALSE(in.Status(status));
    EXPECT_EQ(status.kind, platform::FileKind::Regular);
    EXPECT_EQ(status.size, 10u);
    std::uint8_t middle[4];
    ASSERT_TRUE(in.ReadAt(middle, 3));
    EXPECT_EQ(std::memcmp(middle, "3456", 4), 0);
    EXPECT_FALSE(in.ReadAt(middle, 8));  // beyond the end
    EXPECT_TRUE(in.Close());             // Windows removes an open file only once it is closed
    EXPECT_FALSE(platform::RemoveFile(renamed));
    EXPECT_EQ(platform::StatusOf(renamed, status), std::errc::no_such_file_or_directory);
    EXPECT_FALSE(platform::RemoveFolder(folder));
}

TEST(PlatformFiles, MissingAndExistingNamesGiveThePortableErrors) {
    test::TempDir dir;
    const std::string missing = Text(dir / "missing" / "file");
    platform::FileStatus status;
    std::error_code error;
    EXPECT_EQ(platform::StatusOf(missing, status), std::errc::no_such_file_or_directory);
    EXPECT_FALSE(platform::OpenForReading(missing, error).IsOpen());
    EXPECT_EQ(error, std::errc::no_such_file_or_directory);
    EXPECT_EQ(platform::CreateFolder(Text(dir.Path())), std::errc::file_exists);
    EXPECT_EQ(platform::CreateFolder(missing), std::errc::no_such_file_or_directory);
}

TEST(PlatformPaths, BothSeparatorsAndDriveLettersOnWindows) {
    if (!platform::kWindows) GTEST_SKIP() << "Windows paths: tested on Windows (under Wine)";
    test::TempDir dir;
    Put(dir / "file", "data");
    std::string backslashed = Text(fs::absolute(dir.Path()));
    std::replace(backslashed.begin(), backslashed.end(), '/', '\\');
    ASSERT_EQ(backslashed[1], ':');  // a drive letter
    platform::FileStatus status;
    EXPECT_FALSE(platform::StatusOf(backslashed + "\\file", status));
    EXPECT_FALSE(platform::StatusOf(backslashed + "/file", status));
    std::string prefixed = "\\\\?\\";
    prefixed += backslashed;
    prefixed += "\\file";
    EXPECT_FALSE(platform::StatusOf(prefixed, status));
}

TEST(PlatformMemory, MappingsReadAsZerosAndTakeWrites) {
    for (const bool huge : {false, true}) {
        const std::size_t size = platform::kHugePage + 4096;
        std::uint8_t* data = platform::MapMemory(size, huge);
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(data[0], 0);
        EXPECT_EQ(data[size - 1], 0);
        std::memset(data, 0xAB, size);
        EXPECT_EQ(data[size / 2], 0xAB);
        platform::UnmapMemory(data, size);
    }
}

}  // namespace
}  // namespace morvex
