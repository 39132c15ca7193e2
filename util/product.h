#pragma once
// Facts about the product itself, shared by every layer.

#include <string_view>

namespace pimo {

inline constexpr std::string_view kProductName = "PIMO";

/// The program's own version, as the update check compares it; the build
/// takes it from the project's declaration.
inline constexpr std::string_view kProductVersion = PIMO_VERSION;

/// The product's web site: tool downloads and the latest published version.
/// A placeholder until the real address is chosen.
inline constexpr std::string_view kProductWebSite = "https://pimo.example.org";

}  // namespace pimo
