#include "update/version_number.h"

#include <array>
#include <cctype>
#include <charconv>
#include <tuple>

namespace pimo::update {

namespace {

// One "%d": blanks, an optional sign, at least one digit. Advances `at` past
// the number when one stands there.
struct ScannedNumber {
    bool found = false;
    bool fits = true;
    std::int64_t value = 0;
};

ScannedNumber ScanNumber(std::string_view text, std::size_t& at) {
    std::size_t next = at;
    while (next < text.size() && std::isspace(static_cast<unsigned char>(text[next]))) ++next;
    bool negative = false;
    if (next < text.size() && (text[next] == '+' || text[next] == '-')) {
        negative = text[next] == '-';
        ++next;
    }
    const std::size_t digits = next;
    while (next < text.size() && std::isdigit(static_cast<unsigned char>(text[next]))) ++next;
    ScannedNumber scanned;
    if (next == digits) return scanned;
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data() + digits, text.data() + next, value);
    scanned.found = true;
    scanned.fits = error == std::errc{} && end == text.data() + next;
    scanned.value = negative ? -std::int64_t{value} : value;
    at = next;
    return scanned;
}

}  // namespace

std::optional<VersionNumber> ParseVersionNumber(std::string_view text) {
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
    text = text.substr(0, kVersionTextLength);

    std::array<std::int64_t, 4> fields{};
    std::size_t at = 0;
    for (std::size_t field = 0; field < fields.size(); ++field) {
        if (field > 0) {
            if (at >= text.size() || text[at] != '.') break;
            ++at;
        }
        const ScannedNumber scanned = ScanNumber(text, at);
        if (!scanned.found) break;
        if (!scanned.fits) return std::nullopt;
        fields[field] = scanned.value;
    }
    bool allZero = true;
    for (const std::int64_t value : fields) {
        if (value < 0) return std::nullopt;
        allZero = allZero && value == 0;
    }
    if (allZero) return std::nullopt;
    return VersionNumber{static_cast<std::int32_t>(fields[0]), static_cast<std::int32_t>(fields[1]),
                         static_cast<std::int32_t>(fields[2]),
                         static_cast<std::int32_t>(fields[3])};
}

bool IsNewerVersion(const VersionNumber& candidate, const VersionNumber& current) {
    return std::tie(candidate.Major, candidate.Minor, candidate.Release, candidate.Build) >
           std::tie(current.Major, current.Minor, current.Release, current.Build);
}

}  // namespace pimo::update
