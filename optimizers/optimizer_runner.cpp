#include "optimizers/optimizer_runner.h"

#include <fstream>
#include <optional>
#include <vector>

#include "engine/engine.h"
#include "engine/imagelib/freeimage_ext.h"
#include "optimizers/optimizer_presets.h"
#include "platform/http_download.h"
#include "platform/known_folders.h"
#include "platform/process.h"

namespace pimo::optimizers {

namespace {

namespace fs = std::filesystem;
using engine::MessageAnswer;
using engine::MessageButtons;
using engine::MessageKind;
using platform::PathFromUtf8;
using platform::PathToUtf8;

constexpr std::string_view kWindowsProgramExtension = ".exe";

// A tool's file name without the Windows program extension: its name here.
std::string WithoutWindowsExtension(std::string name) {
    if (name.ends_with(kWindowsProgramExtension))
        name.resize(name.size() - kWindowsProgramExtension.size());
    return name;
}

bool IsExecutableFile(const fs::path& path) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error || !fs::is_regular_file(status)) return false;
    constexpr fs::perms anyExec =
        fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
    return (status.permissions() & anyExec) != fs::perms::none;
}

/// Shows the busy state while a tool runs, and "Ready" afterwards however the
/// run ends.
class OptimizingState {
  public:
    OptimizingState(engine::Host& host, const std::function<void(bool)>& runningChanged)
        : m_host(host), m_runningChanged(runningChanged) {}
    ~OptimizingState() {
        if (!m_shown) return;
        if (m_runningChanged) m_runningChanged(false);
        m_host.setBusyCursor(false);
        m_host.setStatusText("Ready", 0);
    }
    OptimizingState(const OptimizingState&) = delete;
    OptimizingState& operator=(const OptimizingState&) = delete;

    void show() {
        m_shown = true;
        m_host.setBusyCursor(true);
        m_host.setStatusText("Optimizing...", 0);
        if (m_runningChanged) m_runningChanged(true);
    }

  private:
    engine::Host& m_host;
    const std::function<void(bool)>& m_runningChanged;
    bool m_shown = false;
};

/// The whole content of the file when it holds exactly `size` bytes; nothing
/// when it cannot be read or its length changed meanwhile.
std::vector<std::uint8_t> ReadExactly(const fs::path& file, std::uintmax_t size) {
    std::ifstream input(file, std::ios::binary);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    if (!input.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size)))
        return {};
    if (input.peek() != std::ifstream::traits_type::eof()) return {};
    return bytes;
}

}  // namespace

OptimizerRunner::OptimizerRunner(const TOptimizationTools& tools, int internalPresetCount,
                                 fs::path executableFolder)
    : m_tools(tools),
      m_internalPresetCount(internalPresetCount),
      m_executableFolder(std::move(executableFolder)) {}

OptimizerRunner::OptimizerRunner(const OptimizerPresets& presets, fs::path executableFolder)
    : OptimizerRunner(presets.tools(), presets.internalPresetCount(), std::move(executableFolder)) {
}

void OptimizerRunner::Attach(engine::Engine& engine) const {
    engine.externalOptimizer = [this](engine::Engine& target) {
        return RunExternalOptimizer(target);
    };
}

std::string OptimizerRunner::ToolPath(const TOptimizationTool& tool, bool internal) const {
    constexpr CommandStyle style = kNativeCommandStyle;
    if (NamesPath(tool.FileName, style)) return tool.FileName;
    const std::string folder = PathToUtf8(m_executableFolder);
    const std::string inPlugins = PluginsToolPath(folder, tool.FileName, style);
    if (style == CommandStyle::Windows || !internal) return inPlugins;

    // Here the internal tools are native programs without ".exe": one put into
    // the plugins folder comes first, then the one the system provides.
    const std::string bare = WithoutWindowsExtension(tool.FileName);
    for (const std::string& candidate : {inPlugins, PluginsToolPath(folder, bare, style)}) {
        if (IsExecutableFile(PathFromUtf8(candidate))) return candidate;
    }
    const std::string path = searchPath ? *searchPath : platform::ProcessSearchPath();
    if (const auto found = platform::FindProgramOnPath(bare, path)) return PathToUtf8(*found);
    return inPlugins;
}

fs::path OptimizerRunner::temporaryFile(std::string& error) const {
    if (!temporaryFolder.empty()) return temporaryFolder / kTemporaryFileName;
    // A folder of our own rather than the shared temporary folder itself: no
    // other user can plant a link at the file's name, and two running copies
    // of the program do not overwrite each other's file.
    const fs::path folder = platform::PrivateTemporaryFolder(&error);
    return folder.empty() ? fs::path() : folder / kTemporaryFileName;
}

std::string PackageAdvice(std::string_view toolName, const std::filesystem::path& pluginsFolder) {
    const std::string name = WithoutWindowsExtension(std::string(toolName));
    static constexpr std::pair<std::string_view, std::string_view> kPackages[] = {
        {"advpng", "advancecomp"}, {"optipng", "optipng"}};
    for (const auto& [tool, package] : kPackages) {
        if (name != tool) continue;
        return name + " was not found. It comes with the package " + std::string(package) +
               "; install it with:\n\n    sudo apt install " + std::string(package);
    }
    return name + " was not found, and no package of this system provides it. Put a " + name +
           " program for this system into the plugins folder:\n\n    " + PathToUtf8(pluginsFolder);
}

std::uint32_t OptimizerRunner::RunExternalOptimizer(engine::Engine& engine) const {
    const int selected = engine.settings.PNGOptimizer;
    if (selected < 0 || selected >= m_tools.Count()) return 0;
    // A copy: message boxes shown below let the window change the list.
    const TOptimizationTool tool = m_tools.At(selected);
    const bool internal = isInternal(selected);
    const bool interactive = engine.Interactive;
    engine::Host& host = engine.host();

    // Without automatic preview a stale result is still the one on display,
    // and the tool works on that; with it, the write below encodes afresh.
    if (!engine.options.AutomaticPreview && engine.ResultStale) engine.ResultStale = false;

    std::string error;
    const fs::path file = temporaryFile(error);
    if (file.empty()) {
        if (interactive) host.showMessage(MessageKind::Error, error, MessageButtons::Ok);
        return 0;
    }
    const std::string toolPath = ToolPath(tool, internal);
    const ToolCommand command =
        BuildToolCommand(toolPath, tool.Params, PathToUtf8(file), interactive, kNativeCommandStyle,
                         PathToUtf8(platform::SystemFolder()));

    // Inside the pipeline the stream is the PNG it just made; on demand, a
    // stale result is made again first.
    const bool written = engine.PipelineBusy ? engine.WriteResultStream(PathToUtf8(file), true)
                                             : engine.WriteResultToFile(PathToUtf8(file), true);
    if (!written) return 0;

    OptimizingState state(host, runningChanged);
    platform::ProcessRequest request{PathFromUtf8(command.program), command.commandLine,
                                     command.arguments, !interactive};
    const platform::ProcessResult run = runTool(engine, request, [&] {
        if (interactive) state.show();
    });
    if (run.end == platform::ProcessEnd::NotStarted) {
        reportStartFailure(engine, tool, internal, command.program, toolPath);
        return 0;
    }
    if (interactive) host.processPendingEvents();
    // Stopped by the user: the encoder's PNG stays, and nothing needs saying.
    if (run.end == platform::ProcessEnd::Stopped) return 0;
    // A tool ended at the time-out failed, like one that reported an error.
    const int exitCode = run.end == platform::ProcessEnd::Exited ? run.exitCode : 1;
    return takeOutput(engine, file, exitCode);
}

platform::ProcessResult OptimizerRunner::runTool(engine::Engine& engine,
                                                 const platform::ProcessRequest& request,
                                                 const std::function<void()>& started) const {
    if (!engine.Interactive) return platform::RunProcess(request, timeout, started);
    // The window stays quiet but answers its events, so that its Stop command
    // is heard; a run started from the optimizer group is a long call of its
    // own, one inside the pipeline already is one.
    std::optional<engine::BusyScope> busy;
    if (!engine.Busy()) busy.emplace(engine, "");
    engine::Host& host = engine.host();
    return platform::RunProcess(request, timeout, started, [&] {
        host.processPendingEvents();
        return !(stopRequested && stopRequested());
    });
}

std::uint32_t OptimizerRunner::takeOutput(engine::Engine& engine, const fs::path& file,
                                          int exitCode) const {
    std::error_code error;
    const std::uintmax_t outputSize = fs::file_size(file, error);
    if (error || outputSize == 0) return 0;  // nothing to take, and nothing to say

    const std::size_t handedSize = imagelib::StreamBytes(engine.ResultStream.get()).size();
    if (outputSize >= handedSize || exitCode != 0) {
        if (engine.Interactive)
            engine.host().showBalloon(std::string(kBiggerTitle), std::string(kBiggerText),
                                      kNoticeTimeoutMs);
        return 0;
    }
    // Smaller than the PNG we handed over, so the read is bounded by it.
    const std::vector<std::uint8_t> bytes = ReadExactly(file, outputSize);
    if (bytes.empty()) return 0;

    // The new stream replaces the old one only when it holds every byte, so a
    // failed store leaves the encoder's PNG in place.
    imagelib::MemoryStream stream = imagelib::OpenMemoryStream();
    const auto count = static_cast<unsigned>(bytes.size());
    if (!stream || ::FreeImage_WriteMemory(bytes.data(), 1, count, stream.get()) != count) {
        if (engine.Interactive)
            engine.host().showBalloon(std::string(kErrorTitle), std::string(kTransferFailedText),
                                      kNoticeTimeoutMs);
        engine.ResultUnsaved = false;
        return 0;
    }
    engine.ResultStream = std::move(stream);
    engine.ResultUnsaved = true;
    engine.ShowResultSize(count, 0);  // bit depth 0 shows as "?"
    return count;
}

void OptimizerRunner::reportStartFailure(engine::Engine& engine, const TOptimizationTool& tool,
                                         bool internal, const std::string& program,
                                         const std::string& toolPath) const {
    if (!engine.Interactive) return;
    engine::Host& host = engine.host();
    host.showBalloon(std::string(kErrorTitle), std::string(kStartFailedText) + program,
                     kNoticeTimeoutMs);
    if (!internal) return;
    if (!offerDownloads) {
        const std::string name(FileNamePart(toolPath, kNativeCommandStyle));
        host.showMessage(MessageKind::Information,
                         PackageAdvice(name, PathFromUtf8(toolPath).parent_path()),
                         MessageButtons::Ok);
        return;
    }
    if (host.showMessage(MessageKind::Confirmation, std::string(kDownloadQuestion),
                         MessageButtons::YesNo) == MessageAnswer::Yes)
        installTool(engine, tool, toolPath);
}

void OptimizerRunner::installTool(engine::Engine& engine, const TOptimizationTool& tool,
                                  const std::string& toolPath) const {
    engine::Host& host = engine.host();
    const std::string name(FileNamePart(toolPath, kNativeCommandStyle));
    if (tool.DownloadURL.empty()) {
        host.showMessage(MessageKind::Error,
                         "I don't know where to find " + name + std::string(kManualInstallAdvice),
                         MessageButtons::Ok);
        return;
    }
    const fs::path target = PathFromUtf8(toolPath);
    host.setBusyCursor(true);
    const std::string failure = platform::DownloadToFile(tool.DownloadURL, target);
    host.setBusyCursor(false);

    std::error_code error;
    if (failure.empty() && fs::is_regular_file(target, error)) {
        if constexpr (kNativeCommandStyle == CommandStyle::Posix) {
            // A downloaded program must be marked as one before it can start.
            fs::permissions(target, fs::perms::owner_exec, fs::perm_options::add, error);
        }
        host.showMessage(MessageKind::Information, name + " was succesfully installed.",
                         MessageButtons::Ok);
    } else {
        host.showMessage(MessageKind::Error,
                         "Failed to install " + name + std::string(kManualInstallAdvice),
                         MessageButtons::Ok);
    }
}

}  // namespace pimo::optimizers
