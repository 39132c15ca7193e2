// pimo-cli: the batch optimizer without a window.

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include "batch/batch_list.h"
#include "batch/batch_runner.h"
#include "batch/run_files.h"
#include "cli/cli_arguments.h"
#include "cli/cli_settings.h"
#include "cli/console_host.h"
#include "cli/file_list.h"
#include "cli/json_text.h"
#include "engine/engine.h"
#include "engine/imagelib/decode_budget.h"
#include "engine/imagelib/freeimage_ext.h"
#include "engine/open_filter.h"
#include "engine/quality_score.h"
#include "optimizers/optimizer_presets.h"
#include "optimizers/optimizer_runner.h"
#include "platform/known_folders.h"
#include "platform/process.h"

namespace {

using namespace pimo;

constexpr int kExitSuccess = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// A JSON member holding a path: `"name":"..."`, and, when the path is not
// UTF-8 (its string then shows U+FFFD for the bytes it cannot carry),
// `"name_hex":"..."` with its exact bytes.
std::string JsonPath(const std::string& name, const std::string& path) {
    std::string member = "\"" + name + "\":" + cli::JsonText(path);
    if (!cli::IsUtf8(path)) member += ",\"" + name + "_hex\":\"" + cli::HexBytes(path) + "\"";
    return member;
}

std::string Decimal(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// The score fields of a JSON record: null when the output has no score.
std::string ScoreJson(const batch::BatchEntryResult& result) {
    const std::optional<engine::QualityScore>& score = result.Score;
    std::string json = ",\"distance\":" + (score ? Decimal(score->maxDistance, 4) : "null");
    json += ",\"distance_3norm\":" + (score ? Decimal(score->norm3, 4) : "null");
    if (score)
        json +=
            ",\"quality\":" +
            cli::JsonText(std::string(engine::ReadingText(engine::ReadingOf(score->maxDistance))));
    return json;
}

std::string Percent(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

// The inputs, with the folder of each file relative to the input folder it
// was found in (empty for a file named on the command line).
struct Inputs {
    batch::BatchItems items;
    std::map<std::string, std::string> subfolderOf;
};

// Collects the inputs; a missing input is a usage error.
Inputs CollectInputs(const cli::CliArguments& arguments, const std::string& readableExtensions) {
    Inputs inputs;
    batch::BatchItems& items = inputs.items;
    for (const std::string& input : arguments.inputs) {
        std::error_code error;
        const std::filesystem::path path(input);
        if (std::filesystem::is_directory(path, error)) {
            const std::size_t first = items.size();
            batch::ScanFolder(items, input, arguments.recursive, readableExtensions);
            for (std::size_t index = first; index < items.size(); ++index) {
                const std::filesystem::path folder =
                    std::filesystem::path(items[index].FilePath).parent_path();
                const std::filesystem::path relative = folder.lexically_relative(path);
                if (!relative.empty() && relative != ".")
                    inputs.subfolderOf.emplace(items[index].FilePath, relative.string());
            }
        } else if (std::filesystem::exists(path, error)) {
            // Named files stay in the list so that an unreadable one shows "skipped".
            items.push_back({input, {}});
        } else {
            throw cli::UsageError("no such file or folder: " + input);
        }
    }
    return inputs;
}

int PrintInfo(const batch::BatchItems& items, bool json) {
    cli::ConsoleHost host;
    engine::Engine engine(host);
    engine.Interactive = false;
    int exitCode = kExitSuccess;
    for (const batch::TBatchItem& item : items) {
        // The library's reasons for a failed load (the size refused, the
        // decoder's crash), said beside the failure.
        std::string reason;
        imagelib::OutputMessageHandler previous =
            imagelib::FreeImage_SetOutputMessage([&reason](int, const std::string& message) {
                reason += (reason.empty() ? "" : "; ") + message;
            });
        // A pipe or a device is never opened: reading it could block forever.
        const bool loaded =
            batch::IsRegularFile(item.FilePath) && engine.LoadImageFile(item.FilePath);
        imagelib::FreeImage_SetOutputMessage(std::move(previous));
        std::vector<std::string> lines;
        if (loaded) lines = engine::ImageInfoReport(engine.imageInfo);
        if (!loaded) exitCode = kExitFailed;
        if (json) {
            std::cout << "{" << JsonPath("file", item.FilePath)
                      << ",\"loaded\":" << (loaded ? "true" : "false");
            if (!loaded && !reason.empty()) std::cout << ",\"error\":" << cli::JsonText(reason);
            std::cout << ",\"report\":[";
            for (std::size_t i = 0; i < lines.size(); ++i)
                std::cout << (i ? "," : "") << cli::JsonText(lines[i]);
            std::cout << "]}\n";
        } else {
            std::cout << item.FilePath << ":\n";
            if (!loaded) {
                std::cout << "  error: the image could not be loaded"
                          << (reason.empty() ? "" : ": " + reason) << '\n';
            }
            for (const std::string& line : lines) std::cout << "  " << line << '\n';
        }
        engine.UnloadImage();
    }
    return exitCode;
}

// Entries whose outputs could meet (the same name stem into the same
// folder) go to one worker in list order, so the result does not depend on
// how many workers run.
std::vector<std::vector<std::size_t>> GroupEntries(const batch::BatchItems& items,
                                                   const batch::BatchOptions& options) {
    std::map<std::string, std::size_t> groupOf;
    std::vector<std::vector<std::size_t>> groups;
    for (std::size_t index = 0; index < items.size(); ++index) {
        const std::filesystem::path path(items[index].FilePath);
        std::string key = path.stem().string();
        if (options.SaveInOriginalFolder) key = path.parent_path().string() + "/" + key;
        std::transform(key.begin(), key.end(), key.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        const auto [found, added] = groupOf.emplace(key, groups.size());
        if (added) groups.emplace_back();
        groups[found->second].push_back(index);
    }
    return groups;
}

// The job of one entry: files found in the subfolders of an input folder go
// to the same subfolders of the output folder, so that one name in two
// folders (the usual camera layout) gives two outputs. The subfolder is
// created here; a failure shows when the entry's output cannot be written.
batch::BatchJob JobFor(const batch::BatchJob& job,
                       const std::map<std::string, std::string>& subfolderOf,
                       const std::string& source) {
    const auto found = subfolderOf.find(source);
    if (job.options.SaveInOriginalFolder || found == subfolderOf.end()) return job;
    batch::BatchJob own = job;
    own.options.OutputPath =
        (std::filesystem::path(job.options.OutputPath) / found->second).string();
    std::error_code error;
    std::filesystem::create_directories(own.options.OutputPath, error);
    return own;
}

int Run(cli::CliArguments& arguments, const cli::StoredSettings& stored) {
    const std::string readable = engine::ReadableExtensions(arguments.settings.Mode);
    Inputs inputs = CollectInputs(arguments, readable);
    batch::BatchItems& items = inputs.items;
    batch::SortAndRemoveDuplicates(items);
    // One file named by several paths is processed once.
    batch::RemoveSameFiles(items);
    if (arguments.info) return PrintInfo(items, arguments.json);

    // The external optimizer: the presets of the list, the one asked for.
    std::optional<optimizers::OptimizerPresets> presets;
    if (arguments.settings.PNGApplyOptimizer) {
        engine::OptimizationSettings selected = arguments.settings;
        std::vector<std::string> warnings;
        presets = optimizers::SetUpOptimizerPresets(stored.externalTools, stored.store, selected,
                                                    {}, &warnings);
        for (const std::string& warning : warnings) std::cerr << "pimo-cli: " << warning << '\n';
        arguments.settings.PNGOptimizer =
            arguments.optimizer.empty() ? selected.PNGOptimizer
                                        : cli::FindOptimizerPreset(*presets, arguments.optimizer);
    }
    const platform::SystemKnownFolders folders;

    cli::ConsoleHost host;
    batch::BatchOptions options = arguments.batch;
    std::optional<batch::BatchJob> job =
        batch::PrepareBatchRun(options, arguments.settings, readable, host, ".");
    if (!job) return kExitUsage;
    job->FirstFrameOnly = arguments.firstFrame;
    batch::BatchRunFiles runFiles(items);
    job->TargetDistance = arguments.targetQuality;
    job->ScoreResults = arguments.score;

    const std::vector<std::vector<std::size_t>> groups = GroupEntries(items, job->options);
    unsigned workers =
        arguments.jobs ? arguments.jobs : std::max(1u, std::thread::hardware_concurrency());
    workers = static_cast<unsigned>(
        std::min<std::size_t>(workers, std::max<std::size_t>(groups.size(), 1)));

    std::vector<batch::BatchEntryResult> results(items.size());
    std::vector<bool> done(items.size(), false);
    std::vector<std::size_t> finishedOrder;  // entries in the order their workers finished
    std::mutex mutex;
    std::condition_variable finished;
    std::atomic<std::size_t> nextGroup{0};
    const std::filesystem::path temporaryRoot =
        presets ? platform::PrivateTemporaryFolder() : std::filesystem::path();
    std::vector<std::thread> threads;
    for (unsigned worker = 0; worker < workers; ++worker) {
        threads.emplace_back([&, worker] {
            cli::ConsoleHost workerHost;
            engine::Engine engine(workerHost);
            engine.Interactive = false;
            // Each worker's optimizer works in a folder of its own, as the
            // tool's file has a fixed name.
            std::optional<optimizers::OptimizerRunner> runner;
            if (presets) {
                runner.emplace(*presets, folders.executableFolder());
                if (!temporaryRoot.empty()) {
                    std::error_code error;
                    runner->temporaryFolder = temporaryRoot / ("worker-" + std::to_string(worker));
                    std::filesystem::create_directory(runner->temporaryFolder, error);
                }
                runner->Attach(engine);
            }
            for (std::size_t group; (group = nextGroup++) < groups.size();) {
                for (const std::size_t index : groups[group]) {
                    const std::string& source = items[index].FilePath;
                    batch::BatchEntryResult result = batch::ProcessBatchEntry(
                        engine, JobFor(*job, inputs.subfolderOf, source), source, &runFiles);
                    const std::lock_guard lock(mutex);
                    results[index] = std::move(result);
                    done[index] = true;
                    finishedOrder.push_back(index);
                    finished.notify_all();
                }
            }
            engine.UnloadImage();
        });
    }

    const bool progressBar = !arguments.json && !arguments.quiet && isatty(STDERR_FILENO);
    std::size_t processed = 0, failed = 0, skipped = 0;
    std::int64_t before = 0, after = 0;
    std::vector<std::string> errorLog;
    // JSON records stream out as each file is done, for whoever reads the
    // pipe; the text lines keep the list's order, the same for any --jobs.
    for (std::size_t position = 0; position < items.size(); ++position) {
        std::size_t index = position;
        {
            std::unique_lock lock(mutex);
            if (arguments.json) {
                finished.wait(lock, [&] { return finishedOrder.size() > position; });
                index = finishedOrder[position];
            } else {
                finished.wait(lock, [&] { return done[index]; });
            }
        }
        const batch::BatchEntryResult& result = results[index];
        if (result.Skipped) {
            ++skipped;
        } else {
            ++processed;
            if (result.Failed) {
                ++failed;
            } else {
                before += std::max<std::int64_t>(result.OriginalSize, 0);
                after += result.ResultSize;
            }
        }
        errorLog.insert(errorLog.end(), result.ErrorLog.begin(), result.ErrorLog.end());
        if (progressBar) std::cerr << "\r\033[K";
        if (arguments.json) {
            std::cout << "{" << JsonPath("file", items[index].FilePath)
                      << ",\"status\":" << cli::JsonText(result.Status) << ","
                      << JsonPath("destination", result.Destination)
                      << ",\"bytes_before\":" << result.OriginalSize
                      << ",\"bytes_after\":" << result.ResultSize
                      << ",\"failed\":" << (result.Failed ? "true" : "false")
                      << ",\"skipped\":" << (result.Skipped ? "true" : "false");
            if (arguments.score) std::cout << ScoreJson(result);
            if (arguments.targetQuality > 0) std::cout << ",\"setting\":" << result.ChosenSetting;
            std::cout << ",\"log\":[";
            for (std::size_t i = 0; i < result.ErrorLog.size(); ++i)
                std::cout << (i ? "," : "") << cli::JsonText(result.ErrorLog[i]);
            std::cout << "]}\n";
        } else if (!arguments.quiet || result.Failed) {
            std::ostream& out = arguments.quiet ? std::cerr : std::cout;
            out << items[index].FilePath << ": " << result.Status;
            if (arguments.score && result.Score)
                out << ", distance " << engine::QualityText(result.Score->maxDistance);
            out << '\n';
        }
        std::cout.flush();
        if (progressBar) {
            constexpr std::size_t kWidth = 30;
            const std::size_t filled = (position + 1) * kWidth / items.size();
            std::cerr << '[' << std::string(filled, '#') << std::string(kWidth - filled, '.')
                      << "] " << position + 1 << '/' << items.size() << std::flush;
        }
    }
    for (std::thread& thread : threads) thread.join();
    if (progressBar) std::cerr << "\r\033[K";

    const double saved = before > 0 ? (before - after) * 100.0 / static_cast<double>(before) : 0.0;
    if (arguments.json) {
        std::cout << "{\"summary\":{\"files\":" << processed << ",\"failed\":" << failed
                  << ",\"skipped\":" << skipped << ",\"bytes_before\":" << before
                  << ",\"bytes_after\":" << after << ",\"saved_percent\":" << Percent(saved)
                  << "}}\n";
    } else {
        for (const std::string& line : errorLog) std::cerr << line << '\n';
        if (!arguments.quiet)
            std::cout << processed << " file(s) processed, " << failed << " failed, " << skipped
                      << " skipped; " << before << " bytes before, " << after << " bytes after, "
                      << Percent(saved) << "% saved\n";
    }
    return failed ? kExitFailed : kExitSuccess;
}

// Before any worker starts: every decode of the run uses this budget.
void ApplyDecodeBudget(const cli::CliArguments& arguments) {
    imagelib::DecodeBudget budget = imagelib::DefaultDecodeBudget();
    if (arguments.decodeMemoryMiB)
        budget.memoryBytes = std::uint64_t{arguments.decodeMemoryMiB} << 20;
    if (arguments.decodeSeconds) budget.seconds = arguments.decodeSeconds;
    budget.isolated = !arguments.decodeInProcess;
    imagelib::SetDecodeBudget(budget);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const std::vector<std::string> commandLine(argv + 1, argv + argc);
        const std::unique_ptr<cli::StoredSettings> stored =
            cli::LoadStoredSettings(cli::SettingsFileArgument(commandLine));
        cli::CliArguments arguments = cli::ParseArguments(commandLine, stored->settings);
        if (arguments.help) {
            std::cout << cli::UsageText();
            return kExitSuccess;
        }
        if (!arguments.filesFrom.empty()) {
            const std::vector<std::string> listed =
                cli::ReadFileList(arguments.filesFrom, arguments.nulSeparated);
            arguments.inputs.insert(arguments.inputs.end(), listed.begin(), listed.end());
        }
        ApplyDecodeBudget(arguments);
        return Run(arguments, *stored);
    } catch (const cli::UsageError& error) {
        std::cerr << "pimo-cli: " << error.what() << "\n\n" << cli::UsageText();
        return kExitUsage;
    } catch (const std::exception& error) {
        std::cerr << "pimo-cli: " << error.what() << '\n';
        return kExitFailed;
    }
}
