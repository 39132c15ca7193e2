#pragma once
// Writing the batch's files so that nothing is ever lost: every file is
// written beside its target, flushed to the disk, read back and checked, and
// only then renamed over the target. A crash or a kill at any moment leaves
// the target either as it was or replaced whole.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace pimo::batch {

/// The sibling a file is written to before it replaces `path`: `path` + ".pimo".
std::string SiblingPath(const std::string& path);

/// A check of the bytes read back from the sibling: an empty text when they
/// are good, else why not.
using ContentCheck = std::function<std::string(const std::vector<std::uint8_t>& written)>;

/// Whether a write waits until the file is on the disk.
enum class Durability {
    FlushedToDisk,  // the file and its name survive a crash once the write returns
    Cached,         // left to the system's cache: for a new file whose loss costs nothing
};

/// Writes `bytes` to the sibling of `path` (replacing a stale sibling file),
/// flushes it to the disk, reads it back, compares it with `bytes` and runs
/// `check`, gives it the permissions of the file it replaces, renames it over
/// `path` and flushes the folder. With `Durability::Cached` the two flushes
/// are left out. Returns an empty text on success. On failure the sibling is
/// removed and `path` is untouched; the text says why.
std::string ReplaceFileVerified(const std::string& path, std::span<const std::uint8_t> bytes,
                                const ContentCheck& check = {},
                                Durability durability = Durability::FlushedToDisk);

/// Whether two paths name the same file: the same text, or two existing
/// paths that lead to one file (another spelling, a link).
bool SameFile(const std::string& a, const std::string& b);

}  // namespace pimo::batch
