#include "batch/output_file.h"

#include <gtest/gtest.h>

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

TEST_F(OutputFileTest, ReplacesTheTargetWholeAndLeavesNoSibling) {
    EXPECT_EQ(ReplaceFileVerified(target, newBytes), "");
    EXPECT_EQ(test::ReadFileBytes(target), newBytes);
    EXPECT_EQ(SiblingPath(target), target + ".pimo");
    EXPECT_FALSE(fs::exists(SiblingPath(target)));
}

TEST_F(OutputFileTest, CreatesATargetThatDidNotExist) {
    EXPECT_EQ(ReplaceFileVerified(dir.file("new.png"), newBytes), "");
    EXPECT_EQ(test::ReadFileBytes(dir.file("new.png")), newBytes);
}

TEST_F(OutputFileTest, TheCheckSeesTheBytesOnDiskAndARefusalLeavesTheTarget) {
    Bytes seen;
    const std::string reason =
        ReplaceFileVerified(target, newBytes, [&](const std::vector<std::uint8_t>& written) {
            seen = written;
            EXPECT_TRUE(fs::exists(SiblingPath(target)));  // checked before the rename
            return std::string("does not decode");
        });
    EXPECT_EQ(reason, "does not decode");
    EXPECT_EQ(seen, newBytes);
    EXPECT_EQ(test::ReadFileBytes(target), oldBytes);
    EXPECT_FALSE(fs::exists(SiblingPath(target)));
}

TEST_F(OutputFileTest, AFolderWhereTheSiblingGoesFailsWithoutTouchingTheTarget) {
    fs::create_directory(SiblingPath(target));
    EXPECT_NE(ReplaceFileVerified(target, newBytes), "");
    EXPECT_EQ(test::ReadFileBytes(target), oldBytes);
    EXPECT_TRUE(fs::is_directory(SiblingPath(target)));
}

TEST_F(OutputFileTest, AStaleSiblingLinkIsReplacedNotWrittenThrough) {
    const std::string victim = dir.file("victim.bin");
    test::WriteFileBytes(victim, {5, 5, 5});
    fs::create_symlink(victim, SiblingPath(target));
    EXPECT_EQ(ReplaceFileVerified(target, newBytes), "");
    EXPECT_EQ(test::ReadFileBytes(victim), (Bytes{5, 5, 5}));
    EXPECT_EQ(test::ReadFileBytes(target), newBytes);
    EXPECT_FALSE(fs::is_symlink(target));
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
