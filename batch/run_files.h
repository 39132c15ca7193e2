#pragma once
// What one batch run knows about its files as a whole: which files are its
// inputs (by identity, so another spelling or a link of one file is the same
// file) and which names its entries have written. With it no entry replaces
// another input of the run or an output an earlier entry wrote, and one file
// named by several paths is processed once.

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "batch/batch_list.h"

namespace pimo::batch {

/// A file's identity on its system: device and file number (on Windows the
/// volume serial and the file index).
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t file = 0;
    auto operator<=>(const FileIdentity&) const = default;
};

/// The identity of the file at `path` (links followed); none when nothing
/// can be found there.
std::optional<FileIdentity> IdentityOf(const std::string& path);

/// Whether `path` is a regular file (links followed). A FIFO, a device or a
/// folder is not, and is never opened: reading one could block forever.
bool IsRegularFile(const std::string& path);

/// Drops every entry that names the same file as an entry before it, so that
/// one file is processed once. Entries that name nothing that exists stay
/// (they fail on their own).
void RemoveSameFiles(BatchItems& items);

/// The inputs of a run and the names its entries have written. Safe to
/// share between parallel workers.
class BatchRunFiles {
  public:
    /// Records the identities of every input of the run.
    explicit BatchRunFiles(const BatchItems& inputs);

    /// Whether `destination` is an existing input of the run other than
    /// `source` itself.
    bool IsOtherInput(const std::string& destination, const std::string& source) const;

    /// Reserves `destination` for the entry of `source`. False when another
    /// entry of the run reserved or wrote the same name before (the
    /// reservation then stays theirs). Reserving it again for one source is
    /// allowed.
    bool Claim(const std::string& destination, const std::string& source);

    /// Records that `destination` was written, so that another spelling of
    /// it (letter case on a system that ignores it) cannot be claimed.
    void Written(const std::string& destination);

  private:
    // Each input's identity with its path: an input deleted during the run
    // (its original deleted) may leave its number to a new file.
    std::map<FileIdentity, std::string> m_inputs;
    std::set<FileIdentity> m_written;
    mutable std::mutex m_mutex;
    // The normalised absolute name of every reserved destination, with the
    // source it was reserved for.
    std::map<std::string, std::string> m_claimed;
};

}  // namespace pimo::batch
