#pragma once
// The start-up sequence the main window runs once its event loop is up: the
// image library check, the library's callbacks, the stored settings, the
// command line, the automatic update check. Each step is named here, in its
// order; the window carries out what a step asks for.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/program_options.h"

namespace pimo::app {

/// The warning shown when the image library's version text lacks our tag;
/// nothing when the library is the one the program was built for.
std::optional<std::string> LibraryVersionWarning(const std::string& versionText);

/// Where the command line sends its files: none or one missing file opens
/// nothing, one existing file is opened, two or more go to the batch window
/// (only the existing ones).
struct CommandLineRoute {
    enum class Kind { Nothing, OpenFile, Batch };
    Kind kind = Kind::Nothing;
    std::vector<std::string> files;
};
CommandLineRoute RouteCommandLine(const std::vector<std::string>& arguments,
                                  const std::function<bool(const std::string&)>& isFile);

/// What the steps ask of the window, in the order they ask it.
struct StartupActions {
    std::function<void(const std::string& text)> warn;
    std::function<void()> attachLibraryCallbacks;
    std::function<void()> loadSettings;
    std::function<void(const std::string& path)> openFile;
    std::function<void(const std::vector<std::string>& paths)> sendToBatch;
    std::function<void()> startUpdateCheck;
};

/// What the steps read: the library's version text, the command line, a file
/// test, the program options (read after the settings are loaded) and the
/// clock (days since 30 December 1899).
struct StartupFacts {
    std::string libraryVersion;
    std::vector<std::string> arguments;
    std::function<bool(const std::string&)> isFile;
    const engine::ProgramOptions* options = nullptr;
    std::function<double()> now;
    /// Without a web site there is nothing to check against.
    bool updateCheckAvailable = true;
};

/// Runs every step in its order.
void RunStartupSteps(const StartupFacts& facts, const StartupActions& actions);

}  // namespace pimo::app
