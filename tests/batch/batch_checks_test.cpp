#include <gtest/gtest.h>

#include <filesystem>

#include "batch/batch_runner.h"
#include "tests/batch/batch_fixture.h"

namespace pimo::batch {
namespace {

namespace fs = std::filesystem;
using engine::MessageAnswer;
using engine::MessageKind;

// ---- checks ----

struct CheckCase {
    const char* name;
    void (*change)(BatchOptions&);
    const char* message;
};

void PrintTo(const CheckCase& c, std::ostream* os) {
    *os << c.name;
}

class BatchChecksTest : public BatchRunnerTest, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(BatchChecksTest, AFailingCheckShowsItsMessageAndStartsNothing) {
    GetParam().change(options);
    EXPECT_FALSE(PrepareBatchRun(options, engine.settings, ",jpg,", host, "."));
    ASSERT_FALSE(host.messages.empty());
    EXPECT_EQ(host.messages.back().kind, MessageKind::Error);
    EXPECT_EQ(host.messages.back().text, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Checks, BatchChecksTest,
    ::testing::Values(
        CheckCase{"NoOutputFolder", [](BatchOptions& o) { o.OutputPath.clear(); },
                  "Please specify the output folder !"},
        CheckCase{"NoResizeSize",
                  [](BatchOptions& o) {
                      o.TaskResize = true;
                      o.ResizeWidth = o.ResizeHeight = 0;
                  },
                  "Please enter output width or height !"},
        CheckCase{
            "UnevenPercent",
            [](BatchOptions& o) {
                o.TaskResize = true;
                o.ResizePercent = o.ResizeKeepAspect = true;
                o.ResizeWidth = 50;
                o.ResizeHeight = 70;
            },
            "Width and height must be scaled evenly when keep aspect ratio and percent are used !"},
        CheckCase{"ZeroThreshold",
                  [](BatchOptions& o) {
                      o.TaskCompressToSize = true;
                      o.SizeThreshold = "0";
                  },
                  "The desired compressed file size is invalid !"},
        CheckCase{"ThresholdNoNumber",
                  [](BatchOptions& o) {
                      o.TaskCompressToSize = true;
                      o.SizeThreshold = "twelve";
                  },
                  "The desired compressed file size is invalid !"},
        CheckCase{"OutputFolderIsAFile",
                  [](BatchOptions& o) {
                      test::WriteFileBytes(o.OutputPath, {0});
                      o.OutputPath += "/sub";
                  },
                  "The output folder is invalid !"}),
    [](const ::testing::TestParamInfo<CheckCase>& info) { return std::string(info.param.name); });

TEST_F(BatchRunnerTest, OverwritingOrDeletingMustBeConfirmed) {
    options.DeleteOriginalFiles = true;
    host.answers = {MessageAnswer::Abort};
    EXPECT_FALSE(PrepareBatchRun(options, engine.settings, ",jpg,", host, "."));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].kind, MessageKind::Confirmation);
    EXPECT_EQ(host.messages[0].buttons, engine::MessageButtons::YesAbort);
    EXPECT_EQ(host.messages[0].text,
              "The program is set to overwrite/delete existing files.\nIf you are sure you won't "
              "lose anything "
              "important press Yes to continue\nPress Abort to return and review the settings.");
    EXPECT_FALSE(fs::exists(out));  // no check after the question ran

    host.answers = {MessageAnswer::Yes};
    EXPECT_TRUE(PrepareBatchRun(options, engine.settings, ",jpg,", host, "."));
}

TEST_F(BatchRunnerTest, ThePassingChecksCreateTheOutputFolderAndSettleTheJob) {
    options.OutputPath = out + "/deep/er";
    engine.settings.JPEGQuality = 42;
    const std::optional<BatchJob> job =
        PrepareBatchRun(options, engine.settings, ",jpg,", host, ".");
    ASSERT_TRUE(job);
    EXPECT_TRUE(fs::is_directory(out + "/deep/er"));
    EXPECT_EQ(job->settings.JPEGQuality, 42);
    EXPECT_EQ(job->readableExtensions, ",jpg,");
    EXPECT_EQ(job->TargetBytes, 0);
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(BatchRunnerTest, ACommaTypedUnderAPointLocaleReadsAsTheDecimalSeparator) {
    options.TaskCompressToSize = true;
    options.SizeThreshold = "1,5";
    std::optional<BatchJob> job = PrepareBatchRun(options, engine.settings, ",jpg,", host, ".");
    ASSERT_TRUE(job);
    EXPECT_EQ(job->TargetBytes, 1536);
    EXPECT_EQ(options.SizeThreshold, "1.5");  // the edit shows the normalised text

    options.SizeThreshold = "1.5";
    job = PrepareBatchRun(options, engine.settings, ",jpg,", host, ",");
    ASSERT_TRUE(job);
    EXPECT_EQ(job->TargetBytes, 1536);
    EXPECT_EQ(options.SizeThreshold, "1,5");
}

// ---- texts ----

TEST(BatchTextsTest, SizeChangeStatus) {
    EXPECT_EQ(SizeChangeStatus(8765, 10000), "-12.35% decrease");
    EXPECT_EQ(SizeChangeStatus(10310, 10000), "+3.1% increase");
    EXPECT_EQ(SizeChangeStatus(10000, 10000), "no change");
    EXPECT_EQ(SizeChangeStatus(5000, 10000), "-50% decrease");
    EXPECT_EQ(SizeChangeStatus(2500000, 1000), "+249,900% increase");
}

TEST(BatchTextsTest, LibraryMessageLineNamesTheFormatWhenThereIsOne) {
    EXPECT_EQ(LibraryMessageLine(engine::kFormatJpeg, "Premature end of JPEG file"),
              "JPEG error: Premature end of JPEG file");
    EXPECT_EQ(LibraryMessageLine(-1, "out of memory"), " error: out of memory");
}

struct DestinationCase {
    const char* source;
    bool sameFormat, inOriginalFolder;
    const char* outputPath;
    const char* destination;
};

class DestinationTest : public ::testing::TestWithParam<DestinationCase> {};

TEST_P(DestinationTest, NamesTheOutput) {
    BatchOptions options;
    options.SaveInOriginalFolder = GetParam().inOriginalFolder;
    options.OutputPath = GetParam().outputPath;
    EXPECT_EQ(DestinationFor(GetParam().source, GetParam().sameFormat, engine::kFormatPng, options),
              GetParam().destination);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DestinationTest,
    ::testing::Values(DestinationCase{"/in/a.png", true, true, "/out", "/in/a.png"},
                      DestinationCase{"/in/a.jpg", false, true, "/out", "/in/a.png"},
                      DestinationCase{"/in/a.b.JPG", false, true, "/out", "/in/a.b.png"},
                      DestinationCase{"/in.d/mystery", false, true, "/out", "/in.d/mystery.png"},
                      DestinationCase{"/in/a.png", true, false, "/out", "/out/a.png"},
                      DestinationCase{"/in/a.jpg", false, false, "/out", "/out/a.png"},
                      DestinationCase{"/in/a.jpg", false, false, "/out/", "/out/a.png"}));

}  // namespace
}  // namespace pimo::batch
