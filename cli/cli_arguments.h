#pragma once
// The command line of pimo-cli: what it asks for, parsed with the standard
// library only. A bad argument is a UsageError; the program prints its text
// and the usage and ends with exit code 2.

#include <stdexcept>
#include <string>
#include <vector>

#include "batch/batch_settings.h"
#include "engine/optimization_settings.h"

namespace pimo::cli {

class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct CliArguments {
    std::vector<std::string> inputs;  // files and folders, in the order given
    bool recursive = false;
    bool help = false;
    bool info = false;
    bool json = false;
    bool quiet = false;         // nothing on standard output, failures on standard error
    std::string filesFrom;      // --files-from: a file listing inputs, "-" for standard input
    bool nulSeparated = false;  // -0: that list is separated by NUL characters, not lines
    bool firstFrame = false;   // --first-frame: an animation's first frame, a document's first page
    unsigned jobs = 0;         // 0: one per core
    std::string settingsFile;  // --settings; read before parsing (see cli_settings.h)
    std::string optimizer;     // --optimizer: a preset's position or a custom preset's name
    bool score = false;        // --score: each output's distance from its source
    double targetQuality = 0;  // --target-quality: the largest distance allowed; 0 off

    // The decode budget of every image (0: the default).
    unsigned decodeMemoryMiB = 0;  // --decode-memory
    unsigned decodeSeconds = 0;    // --decode-seconds
    bool decodeInProcess = false;  // --decode-in-process

    batch::BatchOptions batch;
    engine::OptimizationSettings settings;
};

/// Parses the arguments after the program name. Options take their value
/// as the next argument or after "=" ("--quality=80"); "--" ends the
/// options. Throws UsageError for an unknown option, a missing or invalid
/// value, or no input (an input list from --files-from may be empty). The settings start from
/// `stored` (the settings file's values); its `Mode` is the mode when none is asked for.
CliArguments ParseArguments(const std::vector<std::string>& arguments,
                            const engine::OptimizationSettings& stored = {});

/// The text of --help.
std::string UsageText();

}  // namespace pimo::cli
