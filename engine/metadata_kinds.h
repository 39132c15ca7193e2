#pragma once
// The kinds of metadata an image can carry, which of them a bitmap carries,
// which of them each output format keeps, and which the settings remove.

#include <array>
#include <cstddef>

#include "engine/imagelib/handles.h"
#include "engine/optimization_settings.h"

namespace pimo::engine {

/// In the order of the metadata page's check boxes.
enum class MetadataKind { Comments, Iptc, Xmp, Exif, Icc };
inline constexpr std::size_t kMetadataKindCount = 5;
inline constexpr std::array<MetadataKind, kMetadataKindCount> kMetadataKinds{
    MetadataKind::Comments, MetadataKind::Iptc, MetadataKind::Xmp, MetadataKind::Exif,
    MetadataKind::Icc};

/// A yes or no for each kind.
class MetadataKinds {
  public:
    constexpr MetadataKinds() = default;
    constexpr MetadataKinds(bool comments, bool iptc, bool xmp, bool exif, bool icc)
        : m_has{comments, iptc, xmp, exif, icc} {}
    constexpr bool has(MetadataKind kind) const { return m_has[static_cast<std::size_t>(kind)]; }
    constexpr bool any() const {
        for (const bool has : m_has)
            if (has) return true;
        return false;
    }
    constexpr bool operator==(const MetadataKinds&) const = default;

  private:
    std::array<bool, kMetadataKindCount> m_has{};
};

/// The kinds `bitmap` carries (none for no bitmap).
MetadataKinds MetadataCarried(FIBITMAP* bitmap);

/// The kinds an output format can hold: JPEG all; PNG comments, XMP and the
/// ICC profile; GIF comments only.
MetadataKinds MetadataKeptBy(int format);

/// The kinds the settings ask to remove.
MetadataKinds MetadataRemovalRequested(const OptimizationSettings& settings);

}  // namespace pimo::engine
