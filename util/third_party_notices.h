#pragma once
// The licence notice of the libraries the program is built on, as the about
// box shows it. The text is the file docs/THIRD-PARTY-NOTICES.md, compiled
// in, so that it cannot go missing from an installed copy.

#include <string_view>

namespace pimo {

/// The notice in Markdown, as in the file it was built from.
std::string_view ThirdPartyNotices();

}  // namespace pimo
