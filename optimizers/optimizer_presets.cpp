#include "optimizers/optimizer_presets.h"

#include "settings/ini_store.h"
#include "settings/settings_keys.h"

namespace pimo::optimizers {

std::vector<TOptimizationTool> InternalPresets() {
    return {
        {"", "advpng.exe", "-z -4 {IMAGE_FILE}", ""},
        // Our copy of optipng lies on the product's site, when there is one.
        {"", "optipng.exe", "-o3 {IMAGE_FILE}",
         kProductWebSite.empty()
             ? std::string()
             : std::string(kProductWebSite) + std::string(kOptiPngDownloadPath)},
        {"", "pngout.exe", "{IMAGE_FILE} /k1", std::string(kPngOutDownloadURL)},
    };
}

OptimizerPresets::OptimizerPresets() {
    const std::vector<TOptimizationTool> internal = InternalPresets();
    for (std::size_t i = 0; i < internal.size(); ++i) {
        m_tools.Add(internal[i]);
        m_items.emplace_back(kInternalPresetItems[i]);
    }
    m_internalPresetCount = m_tools.Count();
}

void OptimizerPresets::Add(const TOptimizationTool& tool) {
    m_tools.Add(tool);
    m_items.push_back(tool.Name);
}

void OptimizerPresets::Remove(int index) {
    if (!isCustom(index)) return;
    m_tools.Remove(index);
    m_items.erase(m_items.begin() + index);
}

void OptimizerPresets::Replace(int index, const TOptimizationTool& tool) {
    if (!isCustom(index)) return;
    m_tools.Replace(index, tool);
    m_items[static_cast<std::size_t>(index)] = tool.Name;
}

OptimizerPresets SetUpOptimizerPresets(const settings::IniStore& externalTools,
                                       const settings::IniStore& settingsFile,
                                       engine::OptimizationSettings& settings,
                                       const std::function<void()>& customPresetSelected,
                                       std::vector<std::string>* warnings) {
    OptimizerPresets presets;
    // A store that failed to open yields no custom presets; the internal ones
    // are still offered.
    if (externalTools.isOpen()) {
        for (const std::string& name : externalTools.ReadSections()) {
            presets.Add({name, externalTools.ReadString(name, kFileNameKey, ""),
                         externalTools.ReadString(name, kParamsKey, kImageFilePlaceholder), ""});
        }
    }
    settings::SettingsWarnings found;
    const int selected = settings::ReadPNGOptimizer(settingsFile, presets.tools().Count(), found);
    if (warnings) warnings->insert(warnings->end(), found.begin(), found.end());
    settings.PNGOptimizer = selected;
    if (!presets.isInternal(selected) && customPresetSelected) customPresetSelected();
    return presets;
}

}  // namespace pimo::optimizers
