#include "batch/batch_list.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/open_filter.h"
#include "tests/support/fake_host.h"
#include "tests/support/test_images.h"

namespace pimo::batch {
namespace {

namespace fs = std::filesystem;
constexpr std::string_view kReadable = ",jpg,jpeg,gif,png,";

std::vector<std::string> PathsOf(const BatchItems& items) {
    std::vector<std::string> paths;
    for (const TBatchItem& item : items) paths.push_back(item.FilePath);
    return paths;
}

TEST(AddFileTest, AppendsOnlyReadableExtensionsWithAnEmptyStatus) {
    BatchItems items;
    EXPECT_TRUE(AddFile(items, "/p/a.PNG", kReadable));
    EXPECT_TRUE(AddFile(items, "/p/a.PNG", kReadable));  // duplicates are kept until a run starts
    EXPECT_FALSE(AddFile(items, "/p/b.txt", kReadable));
    EXPECT_FALSE(AddFile(items, "/p/no_extension", kReadable));
    EXPECT_FALSE(AddFile(items, "/p/ends.", kReadable));
    EXPECT_FALSE(AddFile(items, "/p/c.bmp", kReadable));
    EXPECT_EQ(items, (BatchItems{{"/p/a.PNG", ""}, {"/p/a.PNG", ""}}));
    // In the other modes the library's own formats are read.
    EXPECT_TRUE(
        AddFile(items, "/p/c.bmp", engine::ReadableExtensions(engine::OptimizationMode::FullAuto)));
}

TEST(JoinPathTest, JoinsWithOneSeparator) {
    EXPECT_EQ(JoinPath("/out", "a.jpg"), "/out/a.jpg");
    EXPECT_EQ(JoinPath("/out/", "a.jpg"), "/out/a.jpg");
    EXPECT_EQ(JoinPath("", "a.jpg"), "a.jpg");
}

class ScanFolderTest : public ::testing::Test {
  protected:
    test::TempDir dir;
    std::string root = dir.file("photos");

    void SetUp() override {
        for (const char* name :
             {"photos/b.png", "photos/a.jpg", "photos/notes.txt", "photos/.hidden.png",
              "photos/.trash/x.png", "photos/sub/c.gif", "photos/sub/.d.png",
              "photos/sub/deeper/e.jpeg", "photos/sub/deeper/f.PNG"}) {
            const fs::path path = dir.path() / name;
            fs::create_directories(path.parent_path());
            test::WriteFileBytes(path, {0});
        }
    }
};

TEST_F(ScanFolderTest, WithoutRecursionAddsTheFolderOwnReadableFilesInNameOrder) {
    BatchItems items;
    int folders = 0;
    ScanFolder(items, root, false, kReadable, [&] { ++folders; });
    EXPECT_EQ(PathsOf(items), (std::vector<std::string>{root + "/a.jpg", root + "/b.png"}));
    EXPECT_EQ(folders, 1);
}

TEST_F(ScanFolderTest, RecursionEntersSubfoldersButNoHiddenOnes) {
    BatchItems items;
    int folders = 0;
    ScanFolder(items, root, true, kReadable, [&] { ++folders; });
    EXPECT_EQ(PathsOf(items),
              (std::vector<std::string>{root + "/a.jpg", root + "/b.png", root + "/sub/c.gif",
                                        root + "/sub/deeper/e.jpeg", root + "/sub/deeper/f.PNG"}));
    EXPECT_EQ(folders, 3);  // photos, sub, deeper; never .trash
}

TEST_F(ScanFolderTest, ALinkBackToAnAncestorIsScannedOnce) {
    fs::create_directory_symlink(root, dir.path() / "photos/sub/loop");
    BatchItems items;
    ScanFolder(items, root, true, kReadable);
    EXPECT_EQ(items.size(), 5u);
}

TEST_F(ScanFolderTest, AddFolderAddsAgainAndReportsAFolderThatAddsNothing) {
    test::FakeHost host;
    BatchItems items;
    EXPECT_EQ(AddFolder(items, root, false, kReadable, host), AddFolderOutcome::Added);
    EXPECT_EQ(AddFolder(items, root, false, kReadable, host), AddFolderOutcome::Added);
    EXPECT_EQ(items.size(), 4u);  // the same folder twice appends its files twice
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(host.pendingEvents, 2);

    fs::create_directory(dir.path() / "empty");
    test::WriteFileBytes(dir.path() / "empty/readme.txt", {0});
    EXPECT_EQ(AddFolder(items, dir.file("empty"), true, kReadable, host),
              AddFolderOutcome::NothingAdded);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].kind, engine::MessageKind::Error);
    EXPECT_EQ(host.messages[0].text,
              "No additional files were added !\n\nPossible reasons:\n1. The specified folder does "
              "not contain any "
              "supported files\n2. All files from this folder were previously included");
    EXPECT_EQ(items.size(), 4u);
}

TEST_F(ScanFolderTest, AddFolderDoesNothingWithoutAFolder) {
    test::FakeHost host;
    BatchItems items;
    EXPECT_EQ(AddFolder(items, "", true, kReadable, host), AddFolderOutcome::NotAFolder);
    EXPECT_EQ(AddFolder(items, root + "/a.jpg", true, kReadable, host),
              AddFolderOutcome::NotAFolder);
    EXPECT_EQ(AddFolder(items, dir.file("missing"), true, kReadable, host),
              AddFolderOutcome::NotAFolder);
    EXPECT_TRUE(items.empty());
    EXPECT_EQ(host.callCount(), 0);
}

TEST(FileCountCaptionTest, CountsTheEntries) {
    EXPECT_EQ(FileCountCaption(0), "Filename [ 0 file(s) ]");
    EXPECT_EQ(FileCountCaption(12), "Filename [ 12 file(s) ]");
}

TEST(RemoveEntriesTest, RemovesTheSelectedEntriesWhateverTheirOrder) {
    BatchItems items{{"a", ""}, {"b", ""}, {"c", ""}, {"d", ""}};
    RemoveEntries(items, {3, 1, 1, 9});
    EXPECT_EQ(PathsOf(items), (std::vector<std::string>{"a", "c"}));
}

TEST(SortAndRemoveDuplicatesTest, SortsIgnoringCaseAndMergesOnlyExactDuplicates) {
    BatchItems items{{"/p/b.png", "old"}, {"/p/a.png", ""}, {"/p/A.png", ""},
                     {"/p/a.png", ""},    {"/p/C.png", ""}, {"/p/b.png", ""}};
    SortAndRemoveDuplicates(items);
    EXPECT_EQ(PathsOf(items),
              (std::vector<std::string>{"/p/A.png", "/p/a.png", "/p/b.png", "/p/C.png"}));
    // The first of equal paths stays.
    EXPECT_EQ(items[2].Status, "old");
}

TEST(StatusColorTest, FollowsTheStatusText) {
    EXPECT_EQ(StatusColorOf(""), StatusColor::Default);
    EXPECT_EQ(StatusColorOf("error"), StatusColor::Red);
    EXPECT_EQ(StatusColorOf("+3.1% increase,overwritten"), StatusColor::Maroon);
    EXPECT_EQ(StatusColorOf("-12.35% decrease"), StatusColor::Green);
    EXPECT_EQ(StatusColorOf("no change"), StatusColor::Blue);
    EXPECT_EQ(StatusColorOf("working"), StatusColor::Blue);
    EXPECT_EQ(StatusColorOf("skipped"), StatusColor::Blue);
    EXPECT_EQ(StatusColorOf("ok"), StatusColor::Default);
}

}  // namespace
}  // namespace pimo::batch
