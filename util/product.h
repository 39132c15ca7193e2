#pragma once
// Facts about the product itself, shared by every layer.

#include <string_view>

namespace pimo {

inline constexpr std::string_view kProductName = "PIMO";

/// The program's own version, as the update check compares it; the build
/// takes it from the project's declaration.
inline constexpr std::string_view kProductVersion = PIMO_VERSION;

/// The product's web site: tool downloads, news, online help and the latest
/// published version. A build setting; empty when there is none, and then
/// the program offers none of these.
inline constexpr std::string_view kProductWebSite = PIMO_WEB_SITE;

/// The documentation installed with the program, then the copy in the source
/// tree (a program run from its build folder).
inline constexpr std::string_view kInstalledReadme = PIMO_INSTALLED_README;
inline constexpr std::string_view kSourceReadme = PIMO_SOURCE_README;

}  // namespace pimo
