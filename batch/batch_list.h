#pragma once
// The batch window's list of files: plain value rows that the window's list
// model shows, how files and folders are added, the file-count caption and
// the colour of a status text.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace pimo::engine {
class Host;
}

namespace pimo::batch {

/// One entry of the list: the source file's full path as it was added, and
/// the status the last run gave it (empty until a run touches it).
struct TBatchItem {
    std::string FilePath;
    std::string Status;
    bool operator==(const TBatchItem&) const = default;
};

/// The ordered list. Entries are not checked for duplicates when added: a
/// run sorts the list and drops exact duplicates when it starts.
using BatchItems = std::vector<TBatchItem>;

/// Appends `path` with an empty status when its extension is one of
/// `readableExtensions` (",jpg,png,..."); otherwise does nothing. Returns
/// whether it was appended.
bool AddFile(BatchItems& items, const std::string& path, std::string_view readableExtensions);

/// `folder` and `name` joined with the platform's folder separator, without
/// doubling a separator `folder` already ends with.
std::string JoinPath(const std::string& folder, const std::string& name);

/// Adds every readable file of `folder`, in name order, and with `recursive`
/// the files of its subfolders, depth first. Entries whose name begins with
/// "." (hidden files and folders) are passed over, and a folder reached
/// twice through links is scanned once. `folderEntered`, when given, runs
/// once per folder as its scan starts (the window processes its pending
/// events there). Folders that cannot be read add nothing.
void ScanFolder(BatchItems& items, const std::string& folder, bool recursive,
                std::string_view readableExtensions,
                const std::function<void()>& folderEntered = {});

enum class AddFolderOutcome {
    NotAFolder,    // empty path or no existing directory: nothing happened
    NothingAdded,  // the message was shown
    Added,
};

/// The message when a folder scan added nothing.
inline constexpr std::string_view kNoFilesAddedMessage =
    "No additional files were added !\n\nPossible reasons:\n1. The specified folder does not "
    "contain any supported files\n2. All files from this folder were previously included";

/// The list part of adding a folder (the window asks for the folder and
/// disables itself around the call): scans `folder` and, when that added no
/// entry, shows the error message through `host`. The host's pending events
/// are processed once per folder scanned.
AddFolderOutcome AddFolder(BatchItems& items, const std::string& folder, bool recursive,
                           std::string_view readableExtensions, engine::Host& host);

/// Caption of the list's first column: "Filename [ 3 file(s) ]".
std::string FileCountCaption(std::size_t count);

/// Removes the entries whose indices are given (any order, repeats allowed).
void RemoveEntries(BatchItems& items, std::vector<std::size_t> indices);

/// Sorts by path without regard to letter case and drops every entry whose
/// path equals, letter case included, the one before it, so a.png and A.png
/// both stay while two identical paths become one. Equal paths compare
/// exactly as a tie-break, so the order repeats and duplicates always meet.
void SortAndRemoveDuplicates(BatchItems& items);

/// The colour a status is painted in.
enum class StatusColor { Default, Red, Maroon, Green, Blue };

/// "error" red, an increase ("+...") maroon, a decrease ("-...") green, any
/// other non-empty status but "ok" blue, an empty status (and "ok") the
/// list's default colour.
StatusColor StatusColorOf(std::string_view status);

}  // namespace pimo::batch
