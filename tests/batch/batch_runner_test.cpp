#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "batch/batch_runner.h"
#include "engine/compress_to_size.h"
#include "engine/imagelib/freeimage_ext.h"
#include "platform/file_times.h"
#include "tests/batch/batch_fixture.h"

namespace pimo::batch {
namespace {

namespace fs = std::filesystem;
using engine::Engine;

// ---- entries ----

TEST_F(BatchRunnerTest, ASmallerInPlaceResultReplacesTheSourceWhole) {
    const Bytes original = PhotoJpeg(95);
    const std::string path = Source("a.jpg", original);
    SaveInPlace();
    const BatchEntryResult result = Process(path);
    EXPECT_FALSE(result.Failed);
    const Bytes expected = EncodedBy(original);
    ASSERT_LT(expected.size(), original.size());
    EXPECT_EQ(test::ReadFileBytes(path), expected);
    EXPECT_EQ(result.Destination, path);
    EXPECT_EQ(result.ResultSize, expected.size());
    EXPECT_EQ(result.OriginalSize, static_cast<std::int64_t>(original.size()));
    EXPECT_EQ(result.Status, SizeChangeStatus(expected.size(), original.size()) + ",overwritten");
    EXPECT_EQ(result.Status.front(), '-');
    EXPECT_FALSE(fs::exists(path + ".pimo"));
    EXPECT_TRUE(result.ErrorLog.empty());
}

// An engine that gives its source back while encoding has none left when the
// output is read back and decoded before it replaces the source.
TEST_F(BatchRunnerTest, AnEngineReleasingItsSourceStillChecksAndReplacesInPlace) {
    const Bytes original = PhotoJpeg(95);
    const std::string path = Source("a.jpg", original);
    SaveInPlace();
    engine.ReleaseSourceWhileEncoding = true;
    const BatchEntryResult result = Process(path);
    EXPECT_FALSE(result.Failed) << result.FailureDetail;
    EXPECT_FALSE(engine.SourceBitmap) << "the source was released";
    EXPECT_EQ(test::ReadFileBytes(path), EncodedBy(original));
    EXPECT_EQ(result.Status.front(), '-') << result.Status;
}

TEST_F(BatchRunnerTest, AnInPlaceResultLeavesTheUsersOwnSiblingsAlone) {
    // Names an older version wrote through, and a folder where one went.
    const Bytes original = PhotoJpeg(95);
    const std::string path = Source("a.jpg", original);
    test::WriteFileBytes(path + ".pimo", {1, 2, 3});
    fs::create_directory(path + ".pimo-write");
    SaveInPlace();
    const BatchEntryResult result = Process(path);
    EXPECT_EQ(result.Status.front(), '-') << result.Status;
    EXPECT_EQ(test::ReadFileBytes(path), EncodedBy(original));
    EXPECT_EQ(test::ReadFileBytes(path + ".pimo"), (Bytes{1, 2, 3}));
    EXPECT_TRUE(fs::is_directory(path + ".pimo-write"));
    EXPECT_EQ(std::distance(fs::directory_iterator(in), fs::directory_iterator()), 3);
}

TEST_F(BatchRunnerTest, AnInPlaceResultThatIsNotSmallerLeavesTheSourceUntouched) {
    const Bytes original = CompactJpeg();
    const std::string path = Source("a.jpg", original);
    const auto before = fs::last_write_time(path);
    SaveInPlace();
    const BatchEntryResult result = Process(path);
    EXPECT_EQ(result.Status, "no change,overwritten");
    EXPECT_EQ(test::ReadFileBytes(path), original);
    EXPECT_EQ(fs::last_write_time(path), before);
    EXPECT_EQ(result.ResultSize, original.size());
    EXPECT_FALSE(fs::exists(path + ".pimo"));
}

TEST_F(BatchRunnerTest, AnExistingDestinationNeedsOverwritePermission) {
    const Bytes original = PhotoJpeg(95);
    const std::string path = Source("a.jpg", original);
    options.SaveInOriginalFolder = true;
    const BatchEntryResult result = Process(path);
    EXPECT_EQ(result.Status, "error");
    EXPECT_EQ(test::ReadFileBytes(path), original);
    EXPECT_EQ(result.ErrorLog,
              (std::vector<std::string>{"Failed to save " + path, "Source image: " + path,
                                        "Error: File exists. Overwrite permission required.", ""}));
}

TEST_F(BatchRunnerTest, AResizeOnlyResultThatIsNotSmallerIsTheSourceBytes) {
    const Bytes original = CompactJpeg();
    const std::string path = Source("a.jpg", original);
    options.TaskResize = true;
    options.ResizePercent = true;
    options.ResizeWidth = options.ResizeHeight = 200;
    const BatchEntryResult result = Process(path);
    EXPECT_EQ(result.Status, "no change");
    EXPECT_EQ(result.Destination, out + "/a.jpg");
    EXPECT_EQ(test::ReadFileBytes(out + "/a.jpg"), original);  // the source's dimensions, too
}

TEST_F(BatchRunnerTest, ANotSmallerResultInAnotherFormatIsTheSourceBytesUnderItsOwnExtension) {
    const Bytes original = FlatPng();
    const std::string path = Source("flat.png", original);
    const BatchEntryResult result = Process(path);
    EXPECT_EQ(result.Status, "no change");
    EXPECT_EQ(result.Destination, out + "/flat.png");
    EXPECT_EQ(test::ReadFileBytes(out + "/flat.png"), original);
    EXPECT_FALSE(fs::exists(out + "/flat.jpg"));

    // Beside itself, the source is its own unchanged copy: nothing is written.
    options.SaveInOriginalFolder = true;
    options.DeleteOriginalFiles = true;
    const BatchEntryResult beside = Process(path);
    EXPECT_EQ(beside.Destination, path);
    EXPECT_EQ(beside.Status, "no change,original file NOT deleted (same as destination)");
    EXPECT_EQ(test::ReadFileBytes(path), original);
    EXPECT_FALSE(fs::exists(in + "/flat.jpg"));
}

TEST_F(BatchRunnerTest, RotationKeepsALargerResult) {
    const Bytes original = CompactJpeg();
    const std::string path = Source("a.jpg", original);
    options.TaskRotate = true;
    options.RotateAngle = 0;
    options.RotateDirection = 1;
    const BatchEntryResult result = Process(path);
    EXPECT_FALSE(result.Failed);
    ASSERT_GT(result.ResultSize, original.size());
    EXPECT_EQ(result.Status, SizeChangeStatus(result.ResultSize, original.size()));
    EXPECT_EQ(result.Status.front(), '+');
    const test::Bitmap written =
        test::DecodeWithLibrary(FIF_JPEG, test::ReadFileBytes(out + "/a.jpg"));
    ASSERT_TRUE(written);
    EXPECT_EQ(::FreeImage_GetWidth(written.get()), 64u);
    EXPECT_EQ(::FreeImage_GetHeight(written.get()), 96u);
    EXPECT_EQ(test::ReadFileBytes(path), original);
}

struct TurnCase {
    const char* name;
    bool rotate;
    int angle, direction;  // items of rotate_angle and rotate_direction
    bool flip;
    int flipType;
    std::vector<std::string> rows;  // the output, top row first
};

void PrintTo(const TurnCase& c, std::ostream* os) {
    *os << c.name;
}

class TurnTest : public BatchRunnerTest, public ::testing::WithParamInterface<TurnCase> {};

// Source, top row first:  A B C
//                         D E F
TEST_P(TurnTest, RotatesAndFlipsTheWayTheItemsSay) {
    const std::string letters = "ABCDEF";
    const auto colour = [](char letter) {
        const auto v = static_cast<BYTE>((letter - 'A' + 1) * 40);
        return RGBQUAD{v, static_cast<BYTE>(255 - v), 7, 0};
    };
    auto source =
        test::MakeRgb(3, 2, [&](unsigned x, unsigned y) { return colour(letters[y * 3 + x]); });
    const std::string path = Source("turn.png", test::EncodeWithLibrary(FIF_PNG, source.get(), 0));
    engine.settings.Format = engine::kFormatPng;
    options.TaskRotate = GetParam().rotate;
    options.RotateAngle = GetParam().angle;
    options.RotateDirection = GetParam().direction;
    options.TaskFlip = GetParam().flip;
    options.FlipType = GetParam().flipType;
    ASSERT_FALSE(Process(path).Failed);

    const test::Bitmap written =
        test::DecodeWithLibrary(FIF_PNG, test::ReadFileBytes(out + "/turn.png"));
    ASSERT_TRUE(written);
    const std::vector<std::string>& rows = GetParam().rows;
    ASSERT_EQ(::FreeImage_GetHeight(written.get()), rows.size());
    ASSERT_EQ(::FreeImage_GetWidth(written.get()), rows[0].size());
    for (unsigned y = 0; y < rows.size(); ++y) {
        for (unsigned x = 0; x < rows[y].size(); ++x) {
            const RGBQUAD expected = colour(rows[y][x]);
            const RGBQUAD actual = test::PixelAt(written.get(), x, y);
            EXPECT_EQ(actual.rgbRed, expected.rgbRed) << x << "," << y;
            EXPECT_EQ(actual.rgbGreen, expected.rgbGreen) << x << "," << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tasks, TurnTest,
    ::testing::Values(TurnCase{"Ccw90", true, 0, 0, false, 0, {"CF", "BE", "AD"}},
                      TurnCase{"Cw90", true, 0, 1, false, 0, {"DA", "EB", "FC"}},
                      TurnCase{"Ccw180", true, 1, 0, false, 0, {"FED", "CBA"}},
                      TurnCase{"Ccw270", true, 2, 0, false, 0, {"DA", "EB", "FC"}},
                      TurnCase{"Cw270", true, 2, 1, false, 0, {"CF", "BE", "AD"}},
                      TurnCase{"FlipVertical", false, 0, 0, true, 0, {"DEF", "ABC"}},
                      TurnCase{"FlipHorizontal", false, 0, 0, true, 1, {"CBA", "FED"}},
                      TurnCase{"RotateThenFlip", true, 0, 0, true, 0, {"AD", "BE", "CF"}}),
    [](const ::testing::TestParamInfo<TurnCase>& info) { return std::string(info.param.name); });

TEST_F(BatchRunnerTest, DeletingOriginalsSparesASourceThatIsItsOwnDestination) {
    const Bytes original = PhotoJpeg(95);
    const std::string path = Source("a.jpg", original);
    SaveInPlace();
    options.DeleteOriginalFiles = true;
    const BatchEntryResult result = Process(path);
    EXPECT_TRUE(
        result.Status.ends_with(",overwritten,original file NOT deleted (same as destination)"))
        << result.Status;
    EXPECT_TRUE(fs::exists(path));
}

TEST_F(BatchRunnerTest, DeletingOriginalsRemovesTheSourceOnceItsOutputIsWritten) {
    const std::string path = Source("a.jpg", PhotoJpeg(95));
    options.DeleteOriginalFiles = true;
    const BatchEntryResult result = Process(path);
    EXPECT_TRUE(result.Status.ends_with("% decrease,original file deleted")) << result.Status;
    EXPECT_FALSE(fs::exists(path));
    EXPECT_TRUE(fs::exists(out + "/a.jpg"));
}

TEST_F(BatchRunnerTest, ALoadFailureLogsThreeLinesAndAnEmptyOne) {
    const std::string path = Source("bad.png", {1, 2, 3, 4, 5, 6, 7, 8});
    const BatchEntryResult result = Process(path);
    EXPECT_EQ(result.Status, "error");
    EXPECT_EQ(result.Destination, "");
    ASSERT_GE(result.ErrorLog.size(), 4u);
    const std::vector<std::string> tail(result.ErrorLog.end() - 4, result.ErrorLog.end());
    EXPECT_EQ(tail,
              (std::vector<std::string>{"Failed to load the source image", "Source image: " + path,
                                        "Error: Loading failed.", ""}));
}

TEST_F(BatchRunnerTest, ATruncatedJpegNeverReplacesNorLosesItsOriginal) {
    Bytes cut = PhotoJpeg(95, 200, 150);
    cut.resize(cut.size() / 2);
    const std::string path = Source("cut.jpg", cut);
    SaveInPlace();
    options.DeleteOriginalFiles = true;
    for (bool inPlace : {true, false}) {
        options.SaveInOriginalFolder = inPlace;
        const BatchEntryResult result = Process(path);
        EXPECT_EQ(result.Status, "error");
        EXPECT_EQ(test::ReadFileBytes(path), cut);
        EXPECT_FALSE(fs::exists(path + ".pimo"));
        EXPECT_FALSE(fs::exists(out + "/cut.jpg"));
        ASSERT_GE(result.ErrorLog.size(), 5u);
        EXPECT_EQ(result.ErrorLog.front().rfind("JPEG error: ", 0), 0u) << result.ErrorLog.front();
        EXPECT_EQ(result.ErrorLog[result.ErrorLog.size() - 2].rfind(
                      "Error: The image library reported errors", 0),
                  0u);
    }
}

TEST_F(BatchRunnerTest, TheSourceDateAndTimeAreKept) {
    const std::string path = Source("a.jpg", PhotoJpeg(95));
    platform::FileTimes times;
    times.lastAccess = {1262304000, 250000000};  // 2010-01-01
    times.lastWrite = {1000000000, 0};           // 2001-09-09
    ASSERT_TRUE(platform::WriteFileTimes(path, times));
    options.KeepOriginalDateTime = true;
    const BatchEntryResult result = Process(path);
    ASSERT_FALSE(result.Failed);
    const std::optional<platform::FileTimes> written = platform::ReadFileTimes(out + "/a.jpg");
    ASSERT_TRUE(written);
    EXPECT_EQ(written->lastWrite, times.lastWrite);
    EXPECT_EQ(written->lastAccess, times.lastAccess);
}

TEST_F(BatchRunnerTest, CompressToSizeMeetsTheTargetWithTheEntrysFormat) {
    const Bytes original = PhotoJpeg(95, 200, 150);
    const std::string path = Source("a.jpg", original);
    options.TaskCompressToSize = true;
    options.SizeThreshold = "4";
    const BatchEntryResult result = Process(path);
    EXPECT_FALSE(result.Failed);
    EXPECT_LE(result.ResultSize, 4096u);
    EXPECT_EQ(fs::file_size(out + "/a.jpg"), result.ResultSize);
    EXPECT_EQ(engine.settings.JPEGQuality, 75);  // the setting is put back
}

TEST_F(BatchRunnerTest, ACompressTargetAboveTheUncompressedSizeFailsButIsWritten) {
    const std::string path = Source("a.jpg", PhotoJpeg(95));
    options.TaskCompressToSize = true;
    options.SizeThreshold = "100000";
    const BatchEntryResult result = Process(path);
    EXPECT_EQ(result.Status, "error");
    EXPECT_TRUE(fs::exists(out + "/a.jpg"));
    const test::Bitmap decoded =
        test::MakeRgb(96, 64, [](unsigned, unsigned) { return RGBQUAD{}; });
    const std::uint32_t uncompressed = ::FreeImage_GetDIBSize(decoded.get());
    ASSERT_GE(result.ErrorLog.size(), 4u);
    EXPECT_EQ(result.ErrorLog[result.ErrorLog.size() - 2],
              "Error: " + engine::UncompressedSizeMessage(uncompressed));
    EXPECT_EQ(result.ErrorLog[0], "Failed to save " + out + "/a.jpg");
}

TEST_F(BatchRunnerTest, TheEntryLeavesTheEnginesSettingsAndInteractiveAlone) {
    const std::string path = Source("a.jpg", PhotoJpeg(95));
    engine.settings.Mode =
        pimo::engine::OptimizationMode::AutoKeepFormat;  // automatic, keeping the source's format
    engine.settings.Format = engine::kFormatPng;
    const BatchJob job = Job();
    engine.settings.Mode = pimo::engine::OptimizationMode::Manual;
    engine.Interactive = true;
    const BatchEntryResult result = ProcessBatchEntry(engine, job, path);
    EXPECT_FALSE(result.Failed);
    EXPECT_EQ(result.Destination, out + "/a.jpg");  // the automatic choice of the job's mode
    EXPECT_TRUE(engine.Interactive);
    EXPECT_EQ(engine.settings.Mode, pimo::engine::OptimizationMode::Manual);
    EXPECT_EQ(engine.settings.Format, engine::kFormatPng);
    EXPECT_EQ(host.callCount(), 0);
}

TEST_F(BatchRunnerTest, EnginesOnParallelWorkersWriteIdenticalBytes) {
    const Bytes original = PhotoJpeg(95, 160, 120);
    const BatchJob job = Job();
    std::vector<std::string> destinations(2);
    std::vector<std::thread> workers;
    for (int worker = 0; worker < 2; ++worker) {
        const std::string path = Source("w" + std::to_string(worker) + ".jpg", original);
        workers.emplace_back([&job, &destinations, path, worker] {
            test::FakeHost quiet;
            Engine own(quiet);
            destinations[worker] = ProcessBatchEntry(own, job, path).Destination;
        });
    }
    for (std::thread& worker : workers) worker.join();
    ASSERT_EQ(destinations[0], out + "/w0.jpg");
    ASSERT_EQ(destinations[1], out + "/w1.jpg");
    EXPECT_EQ(test::ReadFileBytes(destinations[0]), test::ReadFileBytes(destinations[1]));
    EXPECT_EQ(test::ReadFileBytes(destinations[0]), EncodedBy(original));
}

#ifndef _WIN32
// A worker killed at any moment of an in-place replacement or of a deletion
// of originals leaves the source as it was or its output complete.
TEST_F(BatchRunnerTest, AKillAtAnyMomentLeavesEverySourceWholeOrReplacedWhole) {
    const Bytes original = PhotoJpeg(95, 320, 240);
    const Bytes expected = EncodedBy(original);
    ASSERT_LT(expected.size(), original.size());
    for (bool inPlace : {true, false}) {
        options = BatchOptions{};
        options.OutputPath = out;
        options.OverwriteExistingFiles = true;
        options.BackupOnOverwrite = false;
        options.SaveInOriginalFolder = inPlace;
        options.DeleteOriginalFiles = !inPlace;
        const BatchJob job = Job();
        const std::string path = in + "/a.jpg";
        const std::string output = inPlace ? path : out + "/a.jpg";

        const auto started = std::chrono::steady_clock::now();
        test::WriteFileBytes(path, original);
        ProcessBatchEntry(engine, job, path);
        const auto duration = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - started);
        ASSERT_EQ(test::ReadFileBytes(output), expected);

        constexpr int kKills = 40;
        for (int kill = 0; kill <= kKills; ++kill) {
            fs::remove(output);
            test::WriteFileBytes(path, original);
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                test::FakeHost quiet;
                Engine own(quiet);
                ProcessBatchEntry(own, job, path);
                ::_exit(0);
            }
            // Spread over the whole entry; the last one is never killed.
            if (kill < kKills) {
                ::usleep(static_cast<useconds_t>(duration.count() * 3 / 2 * kill / kKills));
                ::kill(child, SIGKILL);
            }
            int status = 0;
            ::waitpid(child, &status, 0);
            const bool sourceWhole = fs::exists(path) && test::ReadFileBytes(path) == original;
            const bool outputWhole = fs::exists(output) && test::ReadFileBytes(output) == expected;
            EXPECT_TRUE(sourceWhole || outputWhole) << "in place " << inPlace << ", kill " << kill;
            if (kill == kKills) {
                EXPECT_TRUE(outputWhole);
                EXPECT_EQ(fs::exists(path), inPlace);
            }
        }
    }
}
#endif

// ---- runs ----

TEST_F(BatchRunnerTest, ARunSortsMergesSkipsAndReports) {
    const std::string upper = Source("A.jpg", PhotoJpeg(95));
    const std::string lower = Source("a.jpg", PhotoJpeg(90));
    const std::string notes = Source("notes.txt", {1, 2, 3});
    const std::string mystery = Source("mystery", PhotoJpeg(95));  // no extension: passes the check
    BatchItems items{{notes, "old"}, {lower, ""}, {upper, ""}, {lower, ""}, {mystery, ""}};
    int reordered = 0;
    std::vector<std::size_t> progress;
    std::vector<std::string> statusTrail;
    BatchCallbacks callbacks;
    callbacks.listReordered = [&] {
        ++reordered;
        for (const TBatchItem& item : items) EXPECT_EQ(item.Status, "");
    };
    callbacks.progressed = [&](std::size_t done) { progress.push_back(done); };
    callbacks.statusChanged = [&](std::size_t, const TBatchItem& item) {
        statusTrail.push_back(item.Status);
    };
    const BatchRunSummary summary = RunBatch(engine, items, Job(), callbacks);

    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0].FilePath, upper);
    EXPECT_EQ(items[1].FilePath, lower);
    EXPECT_EQ(items[2].FilePath, mystery);
    EXPECT_EQ(items[3].FilePath, notes);
    EXPECT_EQ(items[0].Status.back(), 'e');  // "... decrease"
    EXPECT_EQ(items[0].Status.front(), '-');
    EXPECT_EQ(items[1].Status.front(), '-');
    EXPECT_EQ(items[2].Status.front(), '-');
    EXPECT_EQ(items[3].Status, "skipped");
    EXPECT_TRUE(fs::exists(out + "/A.jpg"));
    EXPECT_TRUE(fs::exists(out + "/a.jpg"));
    EXPECT_TRUE(fs::exists(out + "/mystery"));
    EXPECT_EQ(reordered, 1);
    EXPECT_EQ(progress, (std::vector<std::size_t>{1, 2, 3}));  // the skipped entry moves nothing
    EXPECT_EQ(statusTrail.size(), 8u);
    EXPECT_EQ(statusTrail[0], "working");
    EXPECT_EQ(summary.processed, 3u);
    EXPECT_EQ(summary.failed, 0u);
    EXPECT_FALSE(summary.stopped);
    EXPECT_TRUE(summary.ErrorLog.empty());
    EXPECT_FALSE(engine.SourceBitmap);  // everything is unloaded
}

TEST_F(BatchRunnerTest, StopEndsTheRunBeforeTheNextEntry) {
    BatchItems items;
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
        items.push_back({Source(name, PhotoJpeg(95)), ""});
    int asked = 0;
    BatchCallbacks callbacks;
    std::vector<std::size_t> started;
    callbacks.entryStarting = [&](std::size_t index) { started.push_back(index); };
    callbacks.stopRequested = [&] { return ++asked == 2; };
    const BatchRunSummary summary = RunBatch(engine, items, Job(), callbacks);
    EXPECT_TRUE(summary.stopped);
    EXPECT_EQ(summary.processed, 1u);
    EXPECT_EQ(started, (std::vector<std::size_t>{0, 1}));
    EXPECT_EQ(items[0].Status.front(), '-');
    EXPECT_EQ(items[1].Status, "");
    EXPECT_EQ(items[2].Status, "");
    EXPECT_FALSE(fs::exists(out + "/b.jpg"));
}

TEST_F(BatchRunnerTest, ARunLogsFailuresAndGivesBackTheMessageHandlerAndInteractive) {
    Bytes cut = PhotoJpeg(95, 200, 150);
    cut.resize(cut.size() / 2);
    BatchItems items{{Source("cut.jpg", cut), ""}, {Source("good.jpg", PhotoJpeg(95)), ""}};
    int outerMessages = 0;
    imagelib::FreeImage_SetOutputMessage(
        [&outerMessages](int, const std::string&) { ++outerMessages; });
    engine.Interactive = true;
    options.KeepOriginalDateTime = true;

    const BatchRunSummary summary = RunBatch(engine, items, Job());

    EXPECT_EQ(outerMessages, 0);  // the run's messages went to its log
    EXPECT_TRUE(engine.Interactive);
    EXPECT_EQ(host.callCount(), 0);
    EXPECT_EQ(summary.failed, 1u);
    EXPECT_EQ(items[0].Status, "error");
    EXPECT_EQ(items[1].Status.front(), '-');
    ASSERT_GE(summary.ErrorLog.size(), 5u);
    EXPECT_EQ(summary.ErrorLog.front().rfind("JPEG error: ", 0), 0u);
    EXPECT_EQ(summary.ErrorLog.back(), "");
    const imagelib::OutputMessageHandler restored = imagelib::FreeImage_SetOutputMessage(nullptr);
    ASSERT_TRUE(restored);
    restored(0, "after the run");
    EXPECT_EQ(outerMessages, 1);
}

}  // namespace
}  // namespace pimo::batch
