#include "batch/run_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/support/test_images.h"

namespace pimo::batch {
namespace {

namespace fs = std::filesystem;

class RunFilesTest : public ::testing::Test {
  protected:
    test::TempDir dir;
    const std::string a = dir.file("a.jpg");
    const std::string b = dir.file("b.png");
    void SetUp() override {
        test::WriteFileBytes(a, {1});
        test::WriteFileBytes(b, {2});
    }
};

TEST_F(RunFilesTest, RemoveSameFilesKeepsTheFirstNameOfEachFile) {
    fs::create_symlink(a, dir.file("link.jpg"));
    fs::create_hard_link(b, dir.file("hard.png"));
    BatchItems items{{a, ""},
                     {dir.file("./a.jpg"), ""},
                     {b, ""},
                     {dir.file("link.jpg"), ""},
                     {dir.file("hard.png"), ""},
                     {dir.file("missing.jpg"), ""},
                     {dir.file("missing.jpg"), ""}};
    RemoveSameFiles(items);
    // Names of nothing stay: each fails on its own.
    EXPECT_EQ(items,
              (BatchItems{
                  {a, ""}, {b, ""}, {dir.file("missing.jpg"), ""}, {dir.file("missing.jpg"), ""}}));
}

TEST_F(RunFilesTest, AnotherInputIsFoundUnderAnySpellingButNotTheEntrysOwnSource) {
    BatchRunFiles files(BatchItems{{a, ""}, {b, ""}});
    EXPECT_TRUE(files.IsOtherInput(b, a));
    EXPECT_TRUE(files.IsOtherInput(dir.file("./b.png"), a));
    EXPECT_FALSE(files.IsOtherInput(a, a));
    EXPECT_FALSE(files.IsOtherInput(dir.file("new.png"), a));
    // An input deleted during the run (its original deleted) is no longer one.
    fs::remove(b);
    EXPECT_FALSE(files.IsOtherInput(b, a));
}

TEST_F(RunFilesTest, AnOutputNameBelongsToTheFirstEntryThatClaimsIt) {
    BatchRunFiles files(BatchItems{{a, ""}, {b, ""}});
    const std::string out = dir.file("out.jpg");
    EXPECT_TRUE(files.Claim(out, a));
    EXPECT_TRUE(files.Claim(dir.file("./out.jpg"), a));  // the same entry again
    EXPECT_FALSE(files.Claim(out, b));
    EXPECT_FALSE(files.Claim(dir.file("../" + dir.path().filename().string() + "/out.jpg"), b));

    // A written output is found by its identity under a name that differs.
    test::WriteFileBytes(out, {3});
    files.Written(out);
    fs::create_hard_link(out, dir.file("other-name.jpg"));
    EXPECT_FALSE(files.Claim(dir.file("other-name.jpg"), b));
    EXPECT_TRUE(files.Claim(dir.file("free.jpg"), b));
}

TEST_F(RunFilesTest, OnlyRegularFilesAreRegular) {
    ASSERT_EQ(::mkfifo(dir.file("pipe.jpg").c_str(), 0600), 0);
    fs::create_symlink(a, dir.file("link.jpg"));
    EXPECT_TRUE(IsRegularFile(a));
    EXPECT_TRUE(IsRegularFile(dir.file("link.jpg")));
    EXPECT_FALSE(IsRegularFile(dir.file("pipe.jpg")));
    EXPECT_FALSE(IsRegularFile(dir.path().string()));
    EXPECT_FALSE(IsRegularFile(dir.file("missing.jpg")));
}

}  // namespace
}  // namespace pimo::batch
