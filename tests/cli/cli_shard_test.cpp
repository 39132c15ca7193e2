// One folder optimized once by a single pimo-cli and once cut into two
// shards run by GNU parallel as two single-worker pimo-cli processes, with
// the shard and sum scripts of the documentation: the outputs are the same
// bytes and the summed records equal the single run's summary.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "tests/support/test_images.h"

namespace pimo::test {
namespace {

namespace fs = std::filesystem;

int Shell(const fs::path& folder, const std::string& command) {
    const std::string line = "cd '" + folder.string() + "' && export HOME=\"$PWD\" " +
                             "XDG_CONFIG_HOME=\"$PWD/xdg\" XDG_DATA_HOME=\"$PWD/xdg\" && " +
                             command;
    const int status = std::system(line.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string TextOf(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

/// Every file below `root` by its path relative to it, with its bytes.
std::map<std::string, std::string> Tree(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), root).string()] = TextOf(entry.path());
    return files;
}

/// Photographs, flat graphics and a GIF in two folders; two pairs of names
/// that give one output name; a file that fails.
void MakeCollection(const fs::path& root) {
    fs::create_directories(root / "a");
    fs::create_directories(root / "b");
    for (unsigned i = 0; i < 6; ++i) {
        Bitmap photo = MakePhotoLike(50 + 7 * i, 40 + 3 * i, 11 + i);
        const fs::path folder = root / (i % 2 ? "a" : "b");
        WriteFileBytes(folder / ("photo" + std::to_string(i) + ".jpg"),
                       EncodeWithLibrary(FIF_JPEG, photo.get(), 92));
        WriteFileBytes(folder / ("scan" + std::to_string(i) + ".png"),
                       EncodeWithLibrary(FIF_PNG, photo.get(), PNG_Z_NO_COMPRESSION));
    }
    Bitmap same = MakePhotoLike(30, 30, 99);
    WriteFileBytes(root / "a" / "photo0.png", EncodeWithLibrary(FIF_PNG, same.get(), 0));
    WriteFileBytes(root / "b" / "Scan1.bmp", EncodeWithLibrary(FIF_BMP, same.get(), 0));
    Bitmap gif(FreeImage_ColorQuantize(same.get(), FIQ_WUQUANT));
    WriteFileBytes(root / "a" / "icon.gif", EncodeWithLibrary(FIF_GIF, gif.get(), 0));
    std::ofstream(root / "b" / "broken.jpg") << "not a JPEG";
}

TEST(ShardedBatchTest, TwoShardsGiveTheBytesAndTheSummaryOfOneRun) {
    TempDir dir;
    MakeCollection(dir.path() / "photos");
    const std::string cli = "'" PIMO_CLI_PATH "'";
    const std::string examples = "'" PIMO_SOURCE_DIR "/docs/examples'";

    // Exit code 1: the broken file fails in both runs. Both runs take the
    // same list of files, so both write their outputs side by side in one
    // folder (a folder given as input would be mirrored below the output).
    ASSERT_EQ(Shell(dir.path(), "find photos -type f | sort | " + cli +
                                    " --json -f jpeg -o single --files-from - > single.jsonl"),
              1);

    ASSERT_EQ(Shell(dir.path(),
                    "find photos -type f | sort | sh " + examples + "/shard-files.sh 2 shard-"),
              0);
    // A real split: both shards hold files.
    ASSERT_FALSE(TextOf(dir.path() / "shard-0").empty());
    ASSERT_FALSE(TextOf(dir.path() / "shard-1").empty());
    // parallel's exit code is the number of shards that failed: the one
    // with the broken file.
    EXPECT_EQ(Shell(dir.path(), "parallel --will-cite -j2 " + cli +
                                    " --jobs 1 --json -f jpeg -o sharded --files-from {} '>' "
                                    "{}.jsonl ::: shard-0 shard-1"),
              1);

    const auto single = Tree(dir.path() / "single");
    EXPECT_GE(single.size(), 12u);
    EXPECT_EQ(Tree(dir.path() / "sharded"), single);

    ASSERT_EQ(Shell(dir.path(), "cat shard-*.jsonl | sh " + examples +
                                    "/sum-records.sh | jq -c -S .summary > summed.json && "
                                    "tail -n 1 single.jsonl | jq -c -S .summary > summary.json"),
              0);
    const std::string summary = TextOf(dir.path() / "summary.json");
    // The broken file at least (how names that meet are settled may fail
    // one of them too; either way in both runs alike).
    EXPECT_EQ(summary.find("\"failed\":0"), std::string::npos) << summary;
    EXPECT_NE(summary.find("\"files\":16"), std::string::npos) << summary;
    EXPECT_EQ(TextOf(dir.path() / "summed.json"), summary);
}

}  // namespace
}  // namespace pimo::test
