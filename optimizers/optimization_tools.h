#pragma once
// Presets of external command-line PNG optimizers: how to run one tool on a
// PNG file, and the ordered collection the main window keeps.

#include <string>
#include <string_view>
#include <vector>

namespace pimo::optimizers {

/// The placeholder a preset's parameters hold where the tool expects the path
/// of the PNG file to optimize in place.
inline constexpr std::string_view kImageFilePlaceholder = "{IMAGE_FILE}";

/// One preset; every text is UTF-8.
struct TOptimizationTool {
    /// Display name of a custom preset and its section in the external-tools
    /// file; empty for the internal presets.
    std::string Name;
    /// The program or script. With a path separator it is used as it is;
    /// without one it is a bare name looked up in the plugins folder.
    std::string FileName;
    /// Parameter template with `kImageFilePlaceholder`.
    std::string Params;
    /// Where the tool can be fetched when it is missing; internal presets only.
    std::string DownloadURL;

    bool operator==(const TOptimizationTool&) const = default;
};

/// An ordered, growable collection of presets, held by value.
class TOptimizationTools {
  public:
    TOptimizationTools() { m_tools.reserve(5); }

    int Count() const { return static_cast<int>(m_tools.size()); }
    /// The preset at `index`; needs 0 <= index < Count().
    const TOptimizationTool& At(int index) const;
    /// Appends a copy of `tool`.
    void Add(const TOptimizationTool& tool) { m_tools.push_back(tool); }
    /// Removes the preset at `index`, the later ones moving down by one;
    /// an index outside the collection changes nothing.
    void Remove(int index);
    /// Replaces all four fields of the preset at `index`; an index outside
    /// the collection changes nothing.
    void Replace(int index, const TOptimizationTool& tool);

  private:
    bool Holds(int index) const { return index >= 0 && index < Count(); }

    std::vector<TOptimizationTool> m_tools;
};

}  // namespace pimo::optimizers
