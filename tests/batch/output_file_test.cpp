#include "batch/output_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/support/test_images.h"

namespace pimo::batch {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

class OutputFileTest : public ::testing::Test {
  protected:
    test::TempDir dir;
    const std::string target = dir.file("photo.jpg");
    const Bytes oldBytes{1, 2, 3, 4};
    const Bytes newBytes{9, 8, 7};
    void SetUp() override { test::WriteFileBytes(target, oldBytes); }
};

// Every name in the test's folder.
std::vector<std::string> NamesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(OutputFileTest, ReplacesTheTargetWholeAndLeavesNoTemporaryFile) {
    EXPECT_EQ(ReplaceFileVerified(target, newBytes), "");
    EXPECT_EQ(test::ReadFileBytes(target), newBytes);
    EXPECT_EQ(NamesIn(dir.path()), std::vector<std::string>{"photo.jpg"});
}

TEST_F(OutputFileTest, CreatesATargetThatDidNotExist) {
    for (const Placement placement : {Placement::ReplaceExisting, Placement::NewFileOnly}) {
        const std::string fresh = dir.file("new" + std::to_string(int(placement)) + ".png");
        EXPECT_EQ(ReplaceFileVerified(fresh, newBytes, {}, Durability::Cached, placement), "");
        EXPECT_EQ(test::ReadFileBytes(fresh), newBytes);
    }
}

TEST_F(OutputFileTest, ANewFileNeverReplacesOneThatHasTheName) {
    const std::string failure = ReplaceFileVerified(target, newBytes, {}, Durability::FlushedToDisk,
                                                    Placement::NewFileOnly);
    EXPECT_NE(failure.find("another file has taken the name"), std::string::npos) << failure;
    EXPECT_EQ(test::ReadFileBytes(target), oldBytes);
    EXPECT_EQ(NamesIn(dir.path()), std::vector<std::string>{"photo.jpg"});
}

TEST_F(OutputFileTest, TheCheckSeesTheTemporaryFileBesideTheTargetAndARefusalLeavesTheTarget) {
    Bytes seen;
    std::vector<std::string> namesDuringCheck;
    const std::string reason =
        ReplaceFileVerified(target, newBytes, [&](const std::vector<std::uint8_t>& written) {
            seen = written;
            namesDuringCheck = NamesIn(dir.path());
            return std::string("does not decode");
        });
    EXPECT_EQ(reason, "does not decode");
    EXPECT_EQ(seen, newBytes);
    // A short name of our own, in the target's folder (one file system, so
    // the final rename is atomic).
    ASSERT_EQ(namesDuringCheck.size(), 2u);
    const std::string& temporary = namesDuringCheck[0];
    EXPECT_TRUE(temporary.starts_with(kTemporaryPrefix)) << temporary;
    EXPECT_LE(temporary.size(), 16u);
    EXPECT_EQ(test::ReadFileBytes(target), oldBytes);
    EXPECT_EQ(NamesIn(dir.path()), std::vector<std::string>{"photo.jpg"});
}

TEST_F(OutputFileTest, TheUsersOwnFilesBesideTheTargetAreNeverTouched) {
    // Names an older version used for its temporary files, a folder, a link.
    const std::string victim = dir.file("victim.bin");
    test::WriteFileBytes(victim, {5, 5, 5});
    test::WriteFileBytes(target + ".pimo", {6, 6});
    fs::create_directory(target + ".pimo-write");
    fs::create_symlink(victim, dir.file(".pimo-link"));
    EXPECT_EQ(ReplaceFileVerified(target, newBytes), "");
    EXPECT_EQ(test::ReadFileBytes(target), newBytes);
    EXPECT_EQ(test::ReadFileBytes(target + ".pimo"), (Bytes{6, 6}));
    EXPECT_TRUE(fs::is_directory(target + ".pimo-write"));
    EXPECT_EQ(test::ReadFileBytes(victim), (Bytes{5, 5, 5}));
    EXPECT_FALSE(fs::is_symlink(target));
}

TEST_F(OutputFileTest, NamesAsLongAsTheSystemAllowsAreWritten) {
    for (const std::size_t length : {251u, 255u}) {
        const std::string name = std::string(length - 4, 'n') + ".jpg";
        ASSERT_EQ(name.size(), length);
        EXPECT_EQ(ReplaceFileVerified(dir.file(name), newBytes), "") << length;
        EXPECT_EQ(ReplaceFileVerified(dir.file(name), oldBytes), "") << length;
        EXPECT_EQ(test::ReadFileBytes(dir.file(name)), oldBytes);
    }
}

TEST_F(OutputFileTest, TheReplacementKeepsTheAccessRightsOfTheReplacedFile) {
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_EQ(ReplaceFileVerified(target, newBytes), "");
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(OutputFileTest, AMissingFolderIsAFailure) {
    EXPECT_NE(ReplaceFileVerified(dir.file("no/such/folder/a.jpg"), newBytes), "");
}

TEST_F(OutputFileTest, SameFileFollowsSpellingsAndLinks) {
    fs::create_directory(dir.path() / "sub");
    fs::create_symlink(target, dir.path() / "link.jpg");
    test::WriteFileBytes(dir.file("other.jpg"), oldBytes);
    EXPECT_TRUE(SameFile(target, target));
    EXPECT_TRUE(SameFile(target, dir.file("sub/../photo.jpg")));
    EXPECT_TRUE(SameFile(target, dir.file("link.jpg")));
    EXPECT_FALSE(SameFile(target, dir.file("other.jpg")));
    EXPECT_FALSE(SameFile(target, dir.file("missing.jpg")));
    EXPECT_TRUE(SameFile(dir.file("missing.jpg"), dir.file("missing.jpg")));
}

}  // namespace
}  // namespace pimo::batch
