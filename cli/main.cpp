// pimo-cli: the batch optimizer without a window.

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
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
#include "cli/run_report.h"
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
            std::cout << "{" << cli::JsonPath("file", item.FilePath)
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

// The external optimizer of a run: the presets of the list and the one
// asked for; none when the run applies none.
std::optional<optimizers::OptimizerPresets> SelectOptimizer(cli::CliArguments& arguments,
                                                            const cli::StoredSettings& stored) {
    if (!arguments.settings.PNGApplyOptimizer) return std::nullopt;
    engine::OptimizationSettings selected = arguments.settings;
    std::vector<std::string> warnings;
    optimizers::OptimizerPresets presets = optimizers::SetUpOptimizerPresets(
        stored.externalTools, stored.store, selected, {}, &warnings);
    for (const std::string& warning : warnings) std::cerr << "pimo-cli: " << warning << '\n';
    arguments.settings.PNGOptimizer = arguments.optimizer.empty()
                                          ? selected.PNGOptimizer
                                          : cli::FindOptimizerPreset(presets, arguments.optimizer);
    return presets;
}

// The entries' results as the workers finish them, handed to the reporting
// thread in list order or in the order they finished.
class FinishedEntries {
  public:
    explicit FinishedEntries(std::size_t count) : m_results(count), m_done(count, false) {}

    void finish(std::size_t index, batch::BatchEntryResult result) {
        const std::lock_guard lock(m_mutex);
        m_results[index] = std::move(result);
        m_done[index] = true;
        m_order.push_back(index);
        m_finished.notify_all();
    }

    /// The index of the entry to report at `position`: that entry itself once
    /// done, or, `inFinishingOrder`, the position-th entry to finish.
    std::size_t waitFor(std::size_t position, bool inFinishingOrder) {
        std::unique_lock lock(m_mutex);
        if (!inFinishingOrder) {
            m_finished.wait(lock, [&] { return m_done[position]; });
            return position;
        }
        m_finished.wait(lock, [&] { return m_order.size() > position; });
        return m_order[position];
    }

    /// A finished entry's result; it no longer changes.
    const batch::BatchEntryResult& result(std::size_t index) const { return m_results[index]; }

  private:
    std::vector<batch::BatchEntryResult> m_results;
    std::vector<bool> m_done;
    std::vector<std::size_t> m_order;
    std::mutex m_mutex;
    std::condition_variable m_finished;
};

// What every worker of a run shares.
struct RunWork {
    const Inputs& inputs;
    const std::vector<std::vector<std::size_t>>& groups;
    const batch::BatchJob& job;
    batch::BatchRunFiles& runFiles;
    const optimizers::OptimizerPresets* presets;
    std::filesystem::path temporaryRoot;  // empty: the runner's own folder
    std::filesystem::path executableFolder;
    std::atomic<std::size_t> nextGroup{0};
};

// One worker: its own engine (and optimizer runner) over the groups it takes.
void RunWorker(unsigned worker, RunWork& work, FinishedEntries& finished) {
    cli::ConsoleHost host;
    engine::Engine engine(host);
    engine.Interactive = false;
    // A quality search hands the analysis on to the engines it encodes with;
    // otherwise a JPEG output reads nothing of it that the engine cannot
    // find out more cheaply.
    engine.SkipSourceAnalysis = work.job.TargetDistance <= 0;
    // An entry encoded once and not scored reads nothing of its source after
    // that encode, which may then give the source's memory back as it goes.
    engine.ReleaseSourceWhileEncoding = work.job.TargetDistance <= 0 && !work.job.ScoreResults &&
                                        !work.job.options.TaskCompressToSize;
    // Each worker's optimizer works in a folder of its own, as the tool's
    // file has a fixed name.
    std::optional<optimizers::OptimizerRunner> runner;
    if (work.presets) {
        runner.emplace(*work.presets, work.executableFolder);
        if (!work.temporaryRoot.empty()) {
            std::error_code error;
            runner->temporaryFolder = work.temporaryRoot / ("worker-" + std::to_string(worker));
            std::filesystem::create_directory(runner->temporaryFolder, error);
        }
        runner->Attach(engine);
    }
    for (std::size_t group; (group = work.nextGroup++) < work.groups.size();) {
        for (const std::size_t index : work.groups[group]) {
            const std::string& source = work.inputs.items[index].FilePath;
            finished.finish(index, batch::ProcessBatchEntry(
                                       engine, JobFor(work.job, work.inputs.subfolderOf, source),
                                       source, &work.runFiles));
        }
    }
    engine.UnloadImage();
}

int Run(cli::CliArguments& arguments, const cli::StoredSettings& stored) {
    const std::string readable = engine::ReadableExtensions(arguments.settings.Mode);
    Inputs inputs = CollectInputs(arguments, readable);
    batch::BatchItems& items = inputs.items;
    batch::SortAndRemoveDuplicates(items);
    // One file named by several paths is processed once.
    batch::RemoveSameFiles(items);
    if (arguments.info) return PrintInfo(items, arguments.json);

    const std::optional<optimizers::OptimizerPresets> presets = SelectOptimizer(arguments, stored);
    cli::ConsoleHost host;
    batch::BatchOptions options = arguments.batch;
    std::optional<batch::BatchJob> job =
        batch::PrepareBatchRun(options, arguments.settings, readable, host, ".");
    if (!job) return kExitUsage;
    job->FirstFrameOnly = arguments.firstFrame;
    job->TargetDistance = arguments.targetQuality;
    job->ScoreResults = arguments.score;

    const std::vector<std::vector<std::size_t>> groups = GroupEntries(items, job->options);
    unsigned workers =
        arguments.jobs ? arguments.jobs : std::max(1u, std::thread::hardware_concurrency());
    workers = static_cast<unsigned>(
        std::min<std::size_t>(workers, std::max<std::size_t>(groups.size(), 1)));

    batch::BatchRunFiles runFiles(items);
    RunWork work{inputs,
                 groups,
                 *job,
                 runFiles,
                 presets ? &*presets : nullptr,
                 presets ? platform::PrivateTemporaryFolder() : std::filesystem::path(),
                 platform::SystemKnownFolders().executableFolder()};
    FinishedEntries finished(items.size());
    std::vector<std::thread> threads;
    for (unsigned worker = 0; worker < workers; ++worker)
        threads.emplace_back([&, worker] { RunWorker(worker, work, finished); });

    // JSON records stream out as each file is done, for whoever reads the
    // pipe; the text lines keep the list's order, the same for any --jobs.
    cli::RunReport report(arguments, items.size());
    for (std::size_t position = 0; position < items.size(); ++position) {
        const std::size_t index = finished.waitFor(position, arguments.json);
        report.add(position, items[index].FilePath, finished.result(index));
    }
    for (std::thread& thread : threads) thread.join();
    report.finish();
    return report.anyFailed() ? kExitFailed : kExitSuccess;
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

// Ends the process once everything it wrote is out and its temporary folder
// is gone. The rest of the teardown that returning from main would run (the
// destructors and clean-up of some thirty shared libraries, the image
// library's among them) frees nothing the system does not take back, and
// costs a short run a noticeable part of its time.
[[noreturn]] void EndProcess(int exitCode) {
    platform::RemovePrivateTemporaryFolder();
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    std::_Exit(exitCode);
}

int RunCommandLine(int argc, char** argv) {
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

}  // namespace

int main(int argc, char** argv) {
    EndProcess(RunCommandLine(argc, argv));
}
