#pragma once
// Writing the batch's files so that nothing is ever lost: every file is
// written to a temporary file of our own beside its target, flushed to the
// disk, read back and checked, and only then renamed over the target (or, for
// a file that must not replace anything, given the target's name only while
// that name is free). A crash or a kill at any moment leaves the target
// either as it was or replaced whole.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace pimo::batch {

/// Temporary files are named this prefix and a few random letters: short, so
/// that a target whose own name is as long as the system allows still gets
/// one, hidden from folder scans, and created exclusively, so that no file a
/// user owns is ever taken for one.
inline constexpr const char* kTemporaryPrefix = ".pimo-";

/// A check of the bytes read back from the temporary file: an empty text
/// when they are good, else why not.
using ContentCheck = std::function<std::string(const std::vector<std::uint8_t>& written)>;

/// Whether a write waits until the file is on the disk.
enum class Durability {
    FlushedToDisk,  // the file and its name survive a crash once the write returns
    Cached,         // left to the system's cache: for a new file whose loss costs nothing
};

/// What may stand at the target's name.
enum class Placement {
    ReplaceExisting,  // an existing file is replaced whole
    NewFileOnly,  // an existing file (even one that appeared meanwhile) is left alone: a failure
};

/// Writes `bytes` to a new temporary file in the folder of `path`, flushes
/// it to the disk, reads it back, compares it with `bytes` and runs `check`,
/// gives it the permissions of the file it replaces, moves it to `path` as
/// `placement` allows and flushes the folder. With `Durability::Cached` the
/// two flushes are left out. Returns an empty text on success. On failure
/// the temporary file is removed and `path` is untouched; the text says why.
std::string ReplaceFileVerified(const std::string& path, std::span<const std::uint8_t> bytes,
                                const ContentCheck& check = {},
                                Durability durability = Durability::FlushedToDisk,
                                Placement placement = Placement::ReplaceExisting);

/// Whether two paths name the same file: the same text, or two existing
/// paths that lead to one file (another spelling, a link).
bool SameFile(const std::string& a, const std::string& b);

}  // namespace pimo::batch
