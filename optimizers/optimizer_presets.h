#pragma once
// The main window's list of optimizer presets: three internal presets that
// are part of the program, then the custom presets of the external-tools file,
// with the items of the `png_optimizer` list kept in step with them.

#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/optimization_settings.h"
#include "optimizers/optimization_tools.h"
#include "util/product.h"

namespace pimo::settings {
class IniStore;
}

namespace pimo::optimizers {

/// Where on the product's site (kProductWebSite) the copy of the optipng plugin is.
inline constexpr std::string_view kOptiPngDownloadPath = "/_download/plugins/optipng.exe";
/// The pngout maker's site.
inline constexpr std::string_view kPngOutDownloadURL = "http://advsys.net/ken/util/pngout.exe";

// Keys of a custom preset's section in the external-tools file.
inline constexpr std::string_view kFileNameKey = "FileName";
inline constexpr std::string_view kParamsKey = "Params";

/// Items of `png_optimizer` for the internal presets, in order. The window
/// may show them in the user's language; they are not stored.
inline constexpr std::array<std::string_view, 3> kInternalPresetItems{
    "AdvPNG insane (fast)", "OptiPNG o3", "PNGout Xtreme (very slow)"};

/// The internal presets, in order: advpng, optipng, pngout.
std::vector<TOptimizationTool> InternalPresets();

class OptimizerPresets {
  public:
    /// The internal presets and their items.
    OptimizerPresets();

    const TOptimizationTools& tools() const { return m_tools; }
    /// The items of `png_optimizer`, one per preset, in the same order.
    const std::vector<std::string>& items() const { return m_items; }
    /// The count right after the internal presets were appended (3).
    int internalPresetCount() const { return m_internalPresetCount; }
    /// True for an index at most `internalPresetCount()` - 1 (so for -1 too).
    bool isInternal(int index) const { return index <= m_internalPresetCount - 1; }

    /// Appends a custom preset; its item is its `Name`.
    void Add(const TOptimizationTool& tool);
    /// Removes the custom preset at `index` and its item; later ones move
    /// down. Internal presets and indexes outside the list change nothing.
    void Remove(int index);
    /// Replaces the custom preset at `index` and renames its item. Internal
    /// presets and indexes outside the list change nothing.
    void Replace(int index, const TOptimizationTool& tool);

  private:
    bool isCustom(int index) const { return !isInternal(index) && index < m_tools.Count(); }

    TOptimizationTools m_tools;
    std::vector<std::string> m_items;
    int m_internalPresetCount = 0;
};

/// Builds the presets at start-up: the internal ones, then one custom preset
/// per section of `externalTools` in file order when that store is open
/// (`FileName` defaulting to empty, `Params` to "{IMAGE_FILE}"). Then selects
/// the stored `PNGOptimizer` of `settingsFile` into `settings.PNGOptimizer`:
/// a value that names no preset selects the first one, and adds a warning
/// to `warnings` when given. When the selected preset is a custom one,
/// `customPresetSelected` runs (it enables the buttons that remove and
/// configure a preset).
OptimizerPresets SetUpOptimizerPresets(const settings::IniStore& externalTools,
                                       const settings::IniStore& settingsFile,
                                       engine::OptimizationSettings& settings,
                                       const std::function<void()>& customPresetSelected = {},
                                       std::vector<std::string>* warnings = nullptr);

}  // namespace pimo::optimizers
