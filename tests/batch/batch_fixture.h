#pragma once
// The fixture of the batch runner's tests: a source folder, an output folder,
// an engine in manual mode writing JPEG at quality 75, and helpers that make
// sources and predict the engine's bytes.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "batch/batch_runner.h"
#include "engine/engine.h"
#include "engine/open_filter.h"
#include "tests/support/fake_host.h"
#include "tests/support/test_images.h"

namespace pimo::batch {

using test::Bytes;

inline Bytes PhotoJpeg(int quality, unsigned width = 96, unsigned height = 64) {
    auto photo = test::MakePhotoLike(width, height);
    return test::EncodeWithLibrary(FIF_JPEG, photo.get(), quality);
}

// One flat colour: its PNG is far smaller than any JPEG of it.
inline Bytes FlatPng() {
    auto flat = test::MakeRgb(8, 8, [](unsigned, unsigned) { return RGBQUAD{40, 80, 120, 0}; });
    return test::EncodeWithLibrary(FIF_PNG, flat.get(), 0);
}

class BatchRunnerTest : public ::testing::Test {
  protected:
    test::TempDir dir;
    test::FakeHost host;
    engine::Engine engine{host};
    const std::string in = dir.file("in");
    const std::string out = dir.file("out");
    BatchOptions options;

    void SetUp() override {
        std::filesystem::create_directories(dir.path() / "in");
        engine.settings.Mode = engine::OptimizationMode::Manual;
        engine.settings.Format = engine::kFormatJpeg;
        engine.settings.JPEGQuality = 75;
        options.OutputPath = out;
    }
    std::string Source(const std::string& name, const Bytes& bytes) {
        const std::string path = in + "/" + name;
        test::WriteFileBytes(path, bytes);
        return path;
    }
    BatchJob Job() {
        std::optional<BatchJob> job = PrepareBatchRun(
            options, engine.settings, engine::ReadableExtensions(engine::OptimizationMode::Manual),
            host, ".");
        EXPECT_TRUE(job);
        return job.value_or(BatchJob{});
    }
    BatchEntryResult Process(const std::string& path) {
        return ProcessBatchEntry(engine, Job(), path);
    }
    // What the engine makes of `bytes` with the current settings, in memory.
    Bytes EncodedBy(const Bytes& bytes, const std::string& name = "reference.jpg") {
        test::TempDir other;
        test::WriteFileBytes(other.file(name), bytes);
        test::FakeHost quiet;
        engine::Engine reference(quiet);
        reference.Interactive = false;
        reference.settings = engine.settings;
        EXPECT_TRUE(reference.LoadImageFile(other.file(name)));
        EXPECT_GT(reference.OptimizeImage(""), 0u);
        return imagelib::StreamBytes(reference.ResultStream.get());
    }
    // A JPEG the engine itself made at quality 20: re-encoding it at the
    // default quality 75 makes it larger.
    Bytes CompactJpeg() {
        const int quality = engine.settings.JPEGQuality;
        engine.settings.JPEGQuality = 20;
        Bytes compact = EncodedBy(PhotoJpeg(95));
        engine.settings.JPEGQuality = quality;
        EXPECT_GT(EncodedBy(compact).size(), compact.size());
        return compact;
    }
    void SaveInPlace() {
        options.SaveInOriginalFolder = true;
        options.OverwriteExistingFiles = true;
        options.BackupOnOverwrite = false;
    }
};

}  // namespace pimo::batch
