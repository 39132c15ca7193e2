#pragma once
// Runs the selected external optimizer on the PNG in the engine's result
// stream: the bytes go to a temporary file, the tool works on it in place,
// and the file comes back only when the tool ended without error and made it
// smaller.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "optimizers/command_line.h"
#include "optimizers/optimization_tools.h"
#include "platform/process.h"

namespace pimo::engine {
class Engine;
}

namespace pimo::optimizers {

class OptimizerPresets;

/// The file the tool optimizes in place, inside the temporary folder.
inline constexpr std::string_view kTemporaryFileName = "pimo-temp.png";
/// How long a tool may run before it is ended and its output rejected.
inline constexpr std::chrono::milliseconds kDefaultToolTimeout = std::chrono::minutes(5);

// Balloon notices and message texts of the runner.
inline constexpr std::string_view kBiggerTitle = "The file actually got bigger !";
inline constexpr std::string_view kBiggerText =
    "The selected PNG optimizer did not do a better job\n compressing the image data.";
inline constexpr std::string_view kErrorTitle = "External optimizer error";
inline constexpr std::string_view kTransferFailedText =
    "Could not transfer data from the PNG optimizer !";
inline constexpr std::string_view kStartFailedText =
    "Could not start the selected PNG Optimizer:\n";
inline constexpr std::string_view kDownloadQuestion =
    "Do you want me to try to download and install this tool automatically ?";
inline constexpr std::string_view kManualInstallAdvice =
    ".\nYou may try to download and copy this tool manually into the plugins folder.";
inline constexpr int kNoticeTimeoutMs = 5000;

/// Where a missing internal tool (named without ".exe") comes from on a
/// system whose tools are packages: the Debian package and how to install
/// it, or, for a tool no package provides, where to put it.
std::string PackageAdvice(std::string_view toolName, const std::filesystem::path& pluginsFolder);

class OptimizerRunner {
  public:
    /// Runs presets of `tools`, the first `internalPresetCount` of which are
    /// the internal ones; `tools` must outlive the runner. Bare tool names are
    /// looked up in the "plugins" folder of `executableFolder`.
    OptimizerRunner(const TOptimizationTools& tools, int internalPresetCount,
                    std::filesystem::path executableFolder);
    /// Runs the presets of the main window's list.
    OptimizerRunner(const OptimizerPresets& presets, std::filesystem::path executableFolder);

    /// Makes the engine's PNG output call `RunExternalOptimizer` through its
    /// `externalOptimizer` hook; the runner must outlive that use.
    void Attach(engine::Engine& engine) const;

    /// Passes the PNG in `engine.ResultStream` through the tool of the preset
    /// selected by `engine.settings.PNGOptimizer`. Returns the number of bytes
    /// now in the stream when the tool's output was taken (it ended with exit
    /// code 0 within the time-out and its file is smaller), else 0: no preset,
    /// temporary file not written, tool not started, output missing, empty,
    /// rejected or not stored. Only while `engine.Interactive` does it show
    /// anything (status, cursor, notices, the offer to download a missing
    /// internal tool); a failed write of the temporary file is reported by
    /// the engine's own write.
    std::uint32_t RunExternalOptimizer(engine::Engine& engine) const;

    /// The program file of a preset's tool. A `FileName` with a path is used
    /// unchanged; a bare one lies in the plugins folder. Elsewhere than on
    /// Windows an internal preset's tool that is not in the plugins folder,
    /// under its own name or without ".exe", is looked for on the search path
    /// without ".exe"; when it is nowhere, the plugins-folder path is given
    /// (where a download puts it).
    std::string ToolPath(const TOptimizationTool& tool, bool internal) const;

    /// How long a tool may run; after that it is ended and its output rejected.
    std::chrono::milliseconds timeout = kDefaultToolTimeout;
    /// Asked about every 20 ms while a tool runs for an interactive engine,
    /// after the window's pending events have been answered: true ends the
    /// tool, and the encoder's PNG stays the result.
    std::function<bool()> stopRequested;
    /// Told when a tool starts running for an interactive engine (true) and
    /// when it has ended (false), so that the window can offer to stop it.
    std::function<void(bool running)> runningChanged;
    /// Where the temporary file goes; empty (the default) for this process's
    /// private temporary folder.
    std::filesystem::path temporaryFolder;
    /// Whether a missing internal tool is offered as a download (where the
    /// tools are downloads, Windows); otherwise the user is told which
    /// package provides it.
    bool offerDownloads = kNativeCommandStyle == CommandStyle::Windows;
    /// The search path for internal tools (PATH form); none for the process's
    /// own PATH.
    std::optional<std::string> searchPath;

  private:
    /// Whether index names an internal preset (also -1, none).
    bool isInternal(int index) const { return index <= m_internalPresetCount - 1; }
    /// The temporary file's path, empty with `error` set when there is no folder.
    std::filesystem::path temporaryFile(std::string& error) const;
    /// A start failure: the notice and, for an internal preset, the download offer.
    void reportStartFailure(engine::Engine& engine, const TOptimizationTool& tool, bool internal,
                            const std::string& program, const std::string& toolPath) const;
    /// Downloads a missing internal tool into `toolPath` and says how it went.
    void installTool(engine::Engine& engine, const TOptimizationTool& tool,
                     const std::string& toolPath) const;
    /// Runs the tool; for an interactive engine the window's events are
    /// answered meanwhile and `stopRequested` is heard.
    platform::ProcessResult runTool(engine::Engine& engine, const platform::ProcessRequest& request,
                                    const std::function<void()>& started) const;
    /// Takes the tool's output file into the result stream; the stored size, or 0.
    std::uint32_t takeOutput(engine::Engine& engine, const std::filesystem::path& file,
                             int exitCode) const;

    const TOptimizationTools& m_tools;
    int m_internalPresetCount;
    std::filesystem::path m_executableFolder;
};

}  // namespace pimo::optimizers
