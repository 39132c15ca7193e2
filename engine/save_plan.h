#pragma once
// What Save and Save As do, decided without a window: the output format's
// dialog filter and extension, the name proposed from the source, whether
// Save may offer to replace the file beside the source, the question about a
// low PNG compression, and the folder Save As remembers. The window asks
// the user what the plan leaves open and then carries it out.

#include <functional>
#include <string>
#include <string_view>

#include "engine/optimization_settings.h"

namespace pimo::engine {

/// The save dialog's filter ("Description (*.ext)") and the extension a
/// name without one receives.
struct SaveFormat {
    std::string filter;
    std::string defaultExtension;
};
SaveFormat SaveFormatFor(int format);

inline constexpr std::string_view kLowPngCompressionQuestion =
    "It seems you have chosen a low compression setting\nIf you choose a higher level the "
    "program will compress the image more efficiently.\n\nDo you want to switch to a higher "
    "compression level right now ? (Recommended) ?";
/// The level a confirmed low-compression question switches to.
inline constexpr int kRecommendedPngCompression = 2;

/// Whether saving asks `kLowPngCompressionQuestion` first: a PNG output at
/// one of the two fastest compression levels.
bool AsksForHigherPngCompression(const OptimizationSettings& settings);

struct SaveRequest {
    bool saveAs = false;
    int format = 0;        // the output format
    int sourceFormat = 0;  // the loaded file's format
    std::string sourcePath;
    std::string saveAsFolder;  // where Save As starts
    bool showDialogOnSave = false;
};

struct SavePlan {
    SaveFormat format;
    /// The proposed name: the source's own path when the format stays,
    /// else its name without the extension, completed with the format's.
    std::string name;
    /// Save only: `name` in the source's folder, offered for replacing when
    /// it exists and the dialog is not always shown.
    std::string besideSource;
    bool offerReplace = false;
    /// "Replace <name> ?"
    std::string replaceQuestion;
    /// The path the save dialog starts from.
    std::string dialogStart;
    /// The dialog's caption.
    std::string caption;
};

/// The plan for a save; `exists` tells whether a file exists at a path.
SavePlan PlanSave(const SaveRequest& request,
                  const std::function<bool(const std::string&)>& exists);

/// The path the user chose, with the format's extension when it has none.
std::string CompletedSaveTarget(const std::string& chosen, const SaveFormat& format);

/// The folder Save As starts from after writing `target`: its absolute
/// folder with a trailing separator.
std::string SaveAsFolderAfter(const std::string& target);

}  // namespace pimo::engine
