// The batch runner's naming and backups: every case in which a run could
// lose a user's file ends with a clear status, and every file is its
// original bytes or a complete output of its own source, with a true backup
// where one was asked for.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <future>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "batch/batch_runner.h"
#include "tests/batch/batch_fixture.h"

namespace pimo::batch {
namespace {

namespace fs = std::filesystem;
using engine::Engine;

TEST_F(BatchRunnerTest, TheBackupIsOfTheFileBeingReplaced) {
    const Bytes original = PhotoJpeg(95);
    const std::string path = Source("a.jpg", original);
    options.OverwriteExistingFiles = true;
    options.BackupOnOverwrite = true;

    // A new output replaces nothing: no backup anywhere.
    EXPECT_EQ(Process(path).Status.front(), '-');
    EXPECT_FALSE(fs::exists(path + ".original"));
    EXPECT_FALSE(fs::exists(out + "/a.jpg.original"));

    // An existing output is what is replaced, so it is what is kept.
    const Bytes older = PhotoJpeg(60, 40, 30);
    test::WriteFileBytes(out + "/a.jpg", older);
    const BatchEntryResult result = Process(path);
    EXPECT_TRUE(result.Status.ends_with(",overwritten")) << result.Status;
    EXPECT_EQ(test::ReadFileBytes(out + "/a.jpg.original"), older);
    EXPECT_EQ(test::ReadFileBytes(out + "/a.jpg"), EncodedBy(original));
    EXPECT_EQ(test::ReadFileBytes(path), original);
    EXPECT_FALSE(fs::exists(path + ".original"));
}

// A second run over files the first one replaced (with backups) must not
// replace the backups, which hold the only true originals; nor is a user's
// own NAME.original ever replaced.
TEST_F(BatchRunnerTest, AnExistingBackupIsNeverReplaced) {
    const Bytes original = PhotoJpeg(95);
    const std::string path = Source("a.jpg", original);
    SaveInPlace();
    options.BackupOnOverwrite = true;
    const BatchEntryResult first = Process(path);
    ASSERT_EQ(first.Status.front(), '-') << first.Status;
    const Bytes optimized = test::ReadFileBytes(path);
    EXPECT_EQ(test::ReadFileBytes(path + ".original"), original);

    engine.settings.JPEGQuality = 40;  // so that the second run would replace the file again
    const BatchEntryResult second = Process(path);
    EXPECT_EQ(second.Status, "error");
    EXPECT_EQ(second.FailureDetail,
              "The backup " + path + ".original exists already and is never replaced.");
    EXPECT_EQ(test::ReadFileBytes(path + ".original"), original);
    EXPECT_EQ(test::ReadFileBytes(path), optimized);
}

TEST_F(BatchRunnerTest, OneFileNamedByManyPathsIsProcessedOnce) {
    const Bytes original = PhotoJpeg(95);
    const std::string path = Source("a.jpg", original);
    fs::create_symlink(path, in + "/link.jpg");
    SaveInPlace();
    options.BackupOnOverwrite = true;
    BatchItems items{{path, ""},
                     {in + "/./a.jpg", ""},
                     {fs::absolute(path).string(), ""},
                     {in + "/link.jpg", ""}};
    const BatchRunSummary summary = RunBatch(engine, items, Job());
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(summary.processed, 1u);
    EXPECT_EQ(summary.failed, 0u);
    EXPECT_EQ(test::ReadFileBytes(path + ".original"), original);
    EXPECT_EQ(test::ReadFileBytes(path), EncodedBy(original));
}

// Each case lost a user's file before: the later entry now fails, and every
// file is its original bytes or a complete output of its own source.
TEST_F(BatchRunnerTest, NoEntryWritesOverAnotherInputOrAnEarlierOutput) {
    const Bytes photo = PhotoJpeg(95);  // 96 x 64
    const auto sizeOf = [](const std::string& file) {
        const test::Bitmap image = test::DecodeWithLibrary(::FreeImage_GetFileType(file.c_str(), 0),
                                                           test::ReadFileBytes(file));
        return image ? std::pair{::FreeImage_GetWidth(image.get()),
                                 ::FreeImage_GetHeight(image.get())}
                     : std::pair{0u, 0u};
    };

    // a.jpg and a.png beside each other, both written as PNG in their folder.
    {
        auto plain = test::MakeRgb(64, 48, [](unsigned, unsigned) {
            return RGBQUAD{9, 99, 199, 0};
        });
        const Bytes flatJpeg = test::EncodeWithLibrary(FIF_JPEG, plain.get(), 95);
        auto picture = test::MakePhotoLike(96, 64);
        const Bytes photoPng =
            test::EncodeWithLibrary(FIF_PNG, picture.get(), PNG_Z_NO_COMPRESSION);
        const std::string jpeg = Source("a.jpg", flatJpeg);
        const std::string png = Source("a.png", photoPng);
        engine.settings.Format = engine::kFormatPng;
        SaveInPlace();
        options.BackupOnOverwrite = true;
        BatchItems items{{jpeg, ""}, {png, ""}};
        const BatchRunSummary summary = RunBatch(engine, items, Job());
        EXPECT_EQ(summary.failed, 1u);
        EXPECT_EQ(items[0].Status, "error");
        EXPECT_EQ(test::ReadFileBytes(jpeg), flatJpeg);
        EXPECT_EQ(sizeOf(png), (std::pair{96u, 64u}));  // the PNG's own picture, never the JPEG's
        EXPECT_EQ(test::ReadFileBytes(png + ".original"), photoPng);
        const auto line =
            std::find(summary.ErrorLog.begin(), summary.ErrorLog.end(),
                      "Error: The output would replace " + png + ", another file of this run.");
        EXPECT_NE(line, summary.ErrorLog.end());
        fs::remove_all(in);
        fs::create_directories(in);
    }

    // The same name in two folders into one output folder, with overwriting
    // and deleting on: the first is written, the second fails and is kept.
    engine.settings.Format = engine::kFormatJpeg;
    options = BatchOptions{};
    options.OutputPath = out;
    options.OverwriteExistingFiles = true;
    options.BackupOnOverwrite = false;
    options.DeleteOriginalFiles = true;
    fs::create_directories(in + "/100");
    fs::create_directories(in + "/101");
    const Bytes second = PhotoJpeg(95, 120, 80);
    const std::string first = Source("100/IMG.jpg", photo);
    const std::string later = Source("101/IMG.jpg", second);
    BatchItems items{{later, ""}, {first, ""}};
    const BatchRunSummary summary = RunBatch(engine, items, Job());
    EXPECT_EQ(summary.failed, 1u);
    EXPECT_TRUE(items[0].Status.ends_with(",original file deleted")) << items[0].Status;
    EXPECT_FALSE(fs::exists(first));
    EXPECT_EQ(items[1].Status, "error");
    EXPECT_EQ(test::ReadFileBytes(later), second);
    EXPECT_EQ(sizeOf(out + "/IMG.jpg"), (std::pair{96u, 64u}));
    const auto line =
        std::find(summary.ErrorLog.begin(), summary.ErrorLog.end(),
                  "Error: Another file of this run has the same output: " + out + "/IMG.jpg.");
    EXPECT_NE(line, summary.ErrorLog.end());
}

TEST_F(BatchRunnerTest, NamesAsLongAsTheSystemAllowsAreWrittenInPlaceAndElsewhere) {
    for (const std::size_t length : {251u, 255u}) {
        const std::string name = std::string(length - 4, 'n') + ".jpg";
        const Bytes original = PhotoJpeg(95);
        const std::string path = Source(name, original);
        options = BatchOptions{};
        options.OutputPath = out;
        EXPECT_EQ(Process(path).Status.front(), '-') << length;
        EXPECT_EQ(test::ReadFileBytes(out + "/" + name), EncodedBy(original));

        SaveInPlace();
        EXPECT_EQ(Process(path).Status.front(), '-') << length;
        EXPECT_EQ(test::ReadFileBytes(path), EncodedBy(original));

        // NAME.original cannot exist for such a name: the file is not risked.
        test::WriteFileBytes(path, original);
        options.BackupOnOverwrite = true;
        const BatchEntryResult backedUp = Process(path);
        EXPECT_EQ(backedUp.Status, "error") << length;
        EXPECT_TRUE(backedUp.FailureDetail.starts_with("Could not back up the original file"))
            << backedUp.FailureDetail;
        EXPECT_EQ(test::ReadFileBytes(path), original);
    }
}

#ifndef _WIN32
TEST_F(BatchRunnerTest, APipeIsRefusedAtOnceAndNeverOpened) {
    const std::string fifo = in + "/x.jpg";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    options.KeepOriginalDateTime = true;
    const BatchJob job = Job();
    auto result = std::async(std::launch::async, [&] {
        test::FakeHost quiet;
        Engine own(quiet);
        return ProcessBatchEntry(own, job, fifo);
    });
    if (result.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        // Let the blocked reader go (it reads an empty file), then fail.
        ::close(::open(fifo.c_str(), O_RDWR | O_NONBLOCK));
        FAIL() << "the entry opened the pipe";
    }
    const BatchEntryResult entry = result.get();
    EXPECT_EQ(entry.Status, "error");
    EXPECT_EQ(entry.FailureDetail,
              "Not a regular file (a pipe, a device or a folder): it is not opened.");
}
#endif

// ---- sources of several frames or pages ----

struct PagesCase {
    const char* name;
    FREE_IMAGE_FORMAT format;
    const char* file;
};

void PrintTo(const PagesCase& c, std::ostream* os) {
    *os << c.name;
}

// Pictures of different sizes as one file of `format`, so that a written
// first frame shows. Icons take two (they go up to 256 pixels), others three.
Bytes Pages(FREE_IMAGE_FORMAT format) {
    std::vector<test::Bitmap> pages;
    std::vector<FIBITMAP*> raw;
    for (unsigned i = 0; i < (format == FIF_ICO ? 2u : 3u); ++i) {
        test::Bitmap photo = test::MakePhotoLike(32 + 16 * i, 32 + 16 * i, i + 1);
        if (format != FIF_TIFF) photo.reset(::FreeImage_ColorQuantize(photo.get(), FIQ_WUQUANT));
        raw.push_back(photo.get());
        pages.push_back(std::move(photo));
    }
    return test::EncodePagesWithLibrary(format, raw);
}

class PagesTest : public BatchRunnerTest, public ::testing::WithParamInterface<PagesCase> {};

TEST_P(PagesTest, ASourceOfManyFramesIsSkippedUnlessTheFirstIsAskedForAndNeverDeleted) {
    const Bytes original = Pages(GetParam().format);
    const std::string path = Source(GetParam().file, original);
    const std::string frames = GetParam().format == FIF_ICO ? "2" : "3";
    engine.settings.Format = engine::kFormatPng;
    options.DeleteOriginalFiles = true;
    const std::string output = out + "/" + fs::path(path).stem().string() + ".png";

    const BatchEntryResult skipped = Process(path);
    EXPECT_TRUE(skipped.Skipped);
    EXPECT_EQ(skipped.Status, "skipped (" + frames + " frames)");
    EXPECT_EQ(skipped.ErrorLog,
              std::vector<std::string>{"Skipped " + path + ": it holds " + frames +
                                       " frames or pages, and only the first would be written."});
    EXPECT_FALSE(fs::exists(output));
    EXPECT_EQ(test::ReadFileBytes(path), original);

    BatchJob job = Job();
    job.FirstFrameOnly = true;
    const BatchEntryResult first = ProcessBatchEntry(engine, job, path);
    EXPECT_FALSE(first.Failed) << first.FailureDetail;
    EXPECT_TRUE(first.Status.ends_with(",original file NOT deleted (" + frames + " frames)"))
        << first.Status;
    EXPECT_TRUE(test::DecodeWithLibrary(FIF_PNG, test::ReadFileBytes(output)));
    EXPECT_EQ(test::ReadFileBytes(path), original);
}

INSTANTIATE_TEST_SUITE_P(Formats, PagesTest,
                         ::testing::Values(PagesCase{"AnimatedGif", FIF_GIF, "anim.gif"},
                                           PagesCase{"MultiPageTiff", FIF_TIFF, "scan.tif"},
                                           PagesCase{"IconOfTwoSizes", FIF_ICO, "app.ico"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(BatchRunnerTest, TheFirstFrameNeverReplacesItsSource) {
    const Bytes original = Pages(FIF_GIF);
    const std::string path = Source("anim.gif", original);
    engine.settings.Format = engine::kFormatGif;
    SaveInPlace();
    BatchJob job = Job();
    job.FirstFrameOnly = true;
    const BatchEntryResult result = ProcessBatchEntry(engine, job, path);
    EXPECT_EQ(result.Status, "error");
    EXPECT_EQ(result.FailureDetail,
              "The output would replace a file of 3 frames or pages with its first frame only.");
    EXPECT_EQ(test::ReadFileBytes(path), original);
}

}  // namespace
}  // namespace pimo::batch
